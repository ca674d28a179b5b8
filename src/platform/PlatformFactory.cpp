#include "platform/Platform.h"

#if defined(__linux__)
#include "platform/x11/X11Platform.h"
#endif

namespace quindel {

std::unique_ptr<Platform> createPlatform() {
#if defined(__linux__)
    return std::make_unique<X11Platform>();
#else
#error "No platform backend for this system"
#endif
}

} // namespace quindel
