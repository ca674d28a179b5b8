#include "platform/Platform.h"

#include <algorithm>
#include <cmath>

namespace quindel {

int32_t pixelFromAbsolute(int32_t absolute, int32_t extent) {
    if (extent <= 0)
        return 0;
    const double pixel = std::round(static_cast<double>(absolute) * extent / 65535.0);
    // Points beyond the screen go to its nearest edge, as the pointer cannot leave it anyway;
    // XTest carries coordinates as 16-bit values, which far-away points would wrap around.
    return static_cast<int32_t>(std::clamp(pixel, 0.0, static_cast<double>(extent - 1)));
}

PlatformKind platformKindFor(std::string_view toolkitPlatformName) {
    // Qt names its Wayland plugins "wayland", "wayland-egl" and so on.
    return toolkitPlatformName.starts_with("wayland") ? PlatformKind::Wayland : PlatformKind::X11;
}

} // namespace quindel
