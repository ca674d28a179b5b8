#pragma once

#include <cstddef>
#include <string>

namespace quindel {

struct RuntimeState;

// What the running program did with a code that `quindel --trigger CODE` handed it.
enum class CommandTriggerOutcome {
    Taken,     // it waits in the queue and a tick will dispatch it
    Stopped,   // dropped: the window is stopped, as a key pressed while stopped is
    Malformed, // not a trigger code
    NoStep,    // "next" or "prev", but the group assigns no code to it
    Full,      // dropped: kMaxCommandTriggers wait already
};

// How many command triggers may wait for their ticks. Each tick dispatches one, so a full
// queue is several seconds of clicks behind: a sender that keeps going is told, not queued.
inline constexpr std::size_t kMaxCommandTriggers = 64;

// The code that a command's text names, as group files store it: "next" or "prev" (any case),
// a key's decimal code 1..255 ("116"), or a MIDI command, a data byte 00..7F then a channel
// status byte 80..EF ("3C90"; hex digits in either case, given back in upper case). Empty for
// any other text.
std::string commandTriggerCode(const std::string& text);

// Queues the code of text for the ticks, in arrival order: each tick dispatches the oldest
// one before it looks at the keys or the MIDI slot, which keep what they hold for the next
// tick. So every command that is taken fires, one per tick, whatever the input mode. "next"
// and "prev" stand for the group's codes of those triggers.
CommandTriggerOutcome takeCommandTrigger(RuntimeState& state, const std::string& text);

// Takes back the command trigger queued last, whose sender never learnt that it was taken.
void withdrawCommandTrigger(RuntimeState& state);

} // namespace quindel
