#pragma once

#include <string>

namespace quindel {

// The keymap, in xkb text form, that the Wayland compositor of $WAYLAND_DISPLAY hands its
// clients for the first seat's keyboard. Empty, with error saying why, when there is no
// compositor, no keyboard, or it sends none within a second.
std::string compositorKeymapText(std::string& error);

} // namespace quindel
