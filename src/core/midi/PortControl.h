#pragma once

#include <cstdint>

namespace quindel {

struct RuntimeState;
class MidiInputControl;

// Opens control's input port on state.midiInputDevice (closing an open one first).
// 1 = done, 0 = a device was chosen but the port is not open afterwards.
int16_t openMidiInput(RuntimeState& state, MidiInputControl& control);
void openMidiInputDevice(RuntimeState& state, MidiInputControl& control);
// Stops and closes the port if it is open; writes nothing otherwise.
void closeMidiInput(MidiInputControl& control);

} // namespace quindel
