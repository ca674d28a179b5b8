#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quindel {

struct RuntimeState;
class MidiInputControl;

// The trigger code of a MIDI message: data byte then status byte, two upper-case hex digits
// each ("3C90" for note 60 on, channel 1).
std::string midiCommandCode(int16_t status, int16_t data1);

// Drains control's queue, leaving the code of the latest channel message in
// state.lastMidiCommand. pumpEvents lets pending window events run at each pause. A call that
// arrives while a drain of the same control is running returns at once.
void drainMidiInput(RuntimeState& state, MidiInputControl& control,
                    const std::function<void()>& pumpEvents);

} // namespace quindel
