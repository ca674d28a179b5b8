#include "engine/moduloIntercettaMouse.h"

#include "platform/Platform.h"

namespace quindel {

bool isLeftButtonDown(Platform& platform) {
    // Only "down now" counts here; the pressed-since-last-query bit would report a click that
    // has already ended.
    return (static_cast<uint16_t>(platform.asyncKeyState(kVirtualKeyLeftButton)) & 0x8000u) != 0;
}

} // namespace quindel
