#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quindel {

struct RuntimeState;
class MidiInputControl;

// What the commands of a drain are for; it decides which command waits in lastMidiCommand when
// several arrive before the next tick takes one. A gesture on a controller is a press (a note-on,
// a control change with a value above 0, a program change) and what follows it: its release (a
// note-off, or a control change with value 0, which buttons and footswitches send when let go),
// pressure and pitch bend.
enum class MidiIntakeFor {
    // Triggers for the dispatch tick: the latest command that fires something (an action
    // carries its code, or it is the next or prev code) wins, and a command that fires nothing
    // never replaces one that does. A control change with value 0 never fires, although its
    // code is that of the press: it is not left in the slot when its code fires something. So a
    // quick tap, whose release follows its press before the tick, fires the press once, and a
    // button fires once per press; an assigned note-off fires on release. Among commands that
    // fire nothing what follows a press does not replace it either, so the code shown for an
    // unassigned tap is that of its press, and a capture running meanwhile (which shares the
    // slot) still gets the press.
    Dispatch,
    // A trigger to capture: the latest command wins, but what follows a press never replaces
    // it, so a tap on a pad that sends pressure or pitch bend after its note gives the note.
    Capture,
};

// The trigger code of a MIDI message: data byte then status byte, two upper-case hex digits
// each ("3C90" for note 60 on, channel 1). Only the last two hex digits of each value count.
std::string midiCommandCode(int16_t status, int16_t data1);

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
