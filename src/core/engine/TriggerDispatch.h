#pragma once

#include <string>

namespace quindel {

struct RuntimeState;
class Platform;

// The main window's members that belong to the dispatch tick, and the two display texts it
// writes. The window shows shownTrigger / shownDescription after each tick.
struct DispatchView {
    std::string currentTrigger = "0";
    std::string currentDescription;
    std::string shownTrigger;
    std::string shownDescription;
    bool keyHeld = false;      // a key that the last tick polled was down
    bool commandTaken = false; // the last tick dispatched a command trigger, not the input's
};

// The virtual-key code that a keyboard trigger code names: a plain decimal number 1..255
// without sign, blanks or leading zeros. 0 for any other text (it names no key).
int keyCodeFromTrigger(const std::string& code);

// True when a keyboard tick polls this virtual key: the key of an action triggered by a key, or
// the "next" or "prev" key.
bool tickPollsKey(const RuntimeState& state, int virtualKey);

// One tick of the dispatch timer: takes at most one trigger (the oldest command trigger, else
// the polled keys or the MIDI slot),
// applies the next/prev rules, shows the code, and clicks the first matching action's point.
// Enabling and disabling the timer around it is the caller's.
void dispatchTick(RuntimeState& state, Platform& platform, DispatchView& view);

} // namespace quindel
