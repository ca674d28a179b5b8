#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quindel {

struct RuntimeState;
class MidiInputControl;

// What the commands of a drain are for; it decides which command waits in lastMidiCommand when
// several arrive before the next tick takes one.
enum class MidiIntakeFor {
    // Triggers for the dispatch tick: the latest command that fires something (an action
    // carries its code, or it is the next or prev code) wins, and a command that fires nothing
    // never replaces one that does. So a quick tap, whose note-off follows its note-on before
    // the tick, still fires the note-on; an assigned note-off fires on release. Among commands
    // that fire nothing a note-off does not replace another command either, so the code shown
    // for an unassigned tap is that of its press, and a capture running meanwhile (which shares
    // the slot) still gets the press.
    Dispatch,
    // A trigger to capture: the latest command wins, but a note-off never replaces another
    // command, so a quick tap gives the code of its press.
    Capture,
};

// The trigger code of a MIDI message: data byte then status byte, two upper-case hex digits
// each ("3C90" for note 60 on, channel 1). Only the last two hex digits of each value count.
std::string midiCommandCode(int16_t status, int16_t data1);

// Puts code into state.lastMidiCommand as a command just drained for purpose would go there.
void offerMidiCommand(RuntimeState& state, std::string code,
                      MidiIntakeFor purpose = MidiIntakeFor::Dispatch);

// Drains control's queue into state.lastMidiCommand: each channel message makes a code, and a
// note-on with velocity 0 makes the code of a note-off, which is what it means. Whether a new
// code replaces the one waiting follows purpose (above). pumpEvents lets pending window events
// run at each pause; it must process no user input, or a click could open a modal window in
// the middle of the drain and hold it there. A call that arrives while a drain of the same
// control is running returns at once.
void drainMidiInput(RuntimeState& state, MidiInputControl& control,
                    const std::function<void()>& pumpEvents,
                    MidiIntakeFor purpose = MidiIntakeFor::Dispatch);

} // namespace quindel
