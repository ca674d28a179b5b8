#pragma once

namespace quindel {

class Platform;

// True while the left mouse button is down at the moment of the call.
bool isLeftButtonDown(Platform& platform);

} // namespace quindel
