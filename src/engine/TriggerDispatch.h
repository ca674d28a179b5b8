#pragma once

#include <string>

namespace quindel {

struct RuntimeState;
class Platform;

// The main window's members that belong to the dispatch tick, and the two display texts it
// writes. The window shows lblSequenza / lblDescrizione after each tick.
struct DispatchView {
    std::string currentTrigger = "0";
    std::string currentDescription;
    std::string lblSequenza;
    std::string lblDescrizione;
};

// One tick of the dispatch timer: takes at most one trigger (polled keys or the MIDI slot),
// applies the next/prev rules, shows the code, and clicks the first matching action's point.
// Enabling and disabling the timer around it is the caller's.
void dispatchTick(RuntimeState& state, Platform& platform, DispatchView& view);

} // namespace quindel
