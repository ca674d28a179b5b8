#pragma once

#include <string>

namespace quindel {

struct RuntimeState;

// What the running program did with a code that `quindel --trigger CODE` handed it.
enum class CommandTriggerOutcome {
    Taken,     // it waits for the next tick like a trigger that has just arrived
    Stopped,   // dropped: the window is stopped, as a key pressed while stopped is
    Malformed, // not a trigger code
    NoStep,    // "next" or "prev", but the group assigns no code to it
};

// The code that a command's text names, as group files store it: "next" or "prev" (any case),
// a key's decimal code 1..255 ("116"), or a MIDI command, a data byte 00..7F then a channel
// status byte 80..EF ("3C90"; hex digits in either case, given back in upper case). Empty for
// any other text.
std::string commandTriggerCode(const std::string& text);

// Hands the code of text to the next tick as a trigger of its kind arriving now. With the
// keyboard as input a key code counts as that key pressed since the last poll, and a MIDI code
// as the code the tick takes when no key is pressed; with MIDI as input either code is a
// drained MIDI command. "next" and "prev" stand for the group's codes of those triggers.
CommandTriggerOutcome takeCommandTrigger(RuntimeState& state, const std::string& text);

} // namespace quindel
