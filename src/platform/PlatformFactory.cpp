#include "platform/Platform.h"

#include <cstdlib>

#if defined(__linux__)
#include "platform/wayland/WaylandPlatform.h"
#include "platform/x11/X11Platform.h"
#endif

namespace quindel {

std::unique_ptr<Platform> createPlatform(PlatformKind kind) {
#if defined(__linux__)
    if (kind == PlatformKind::Wayland)
        return std::make_unique<WaylandPlatform>();
    return std::make_unique<X11Platform>();
#else
#error "No platform backend for this system"
#endif
}

std::string unreachableDesktopReason() {
#if defined(__linux__)
    // Qt looks for a compositor only where WAYLAND_DISPLAY names one.
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY");
        wayland != nullptr && *wayland != '\0' && waylandCompositorAnswers())
        return {};
    const X11Platform x11;
    return x11.available() ? std::string() : x11.errorText();
#else
#error "No platform backend for this system"
#endif
}

} // namespace quindel
