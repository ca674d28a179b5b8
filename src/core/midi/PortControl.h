#pragma once

#include <cstdint>
#include <string_view>

namespace quindel {

struct RuntimeState;
class MidiInputControl;

// Whether two port names stand for the same device: ALSA ports whose names differ only in their
// sequencer address ("Pads:Pads MIDI 1 24:0", "Pads:Pads MIDI 1 28:0"), and an ALSA port and the
// port of PipeWire's MIDI bridge that JACK lists for it ("Midi-Bridge:Pads:(capture_0) Pads
// MIDI 1"). Other names only when equal.
bool sameDevice(std::string_view first, std::string_view second);
// True for a port of PipeWire's MIDI bridge as JACK lists it.
bool isMidiBridgePort(std::string_view name);

// The number (device index + 1) of the stored input device in control's list, 0 when it is not
// there. With a stored name only a device of that name counts (or, when none has it, one that
// stands for the same device), the stored number choosing among devices of the same name;
// without one the stored number is taken as it is.
int16_t storedDeviceNumber(const RuntimeState& state, MidiInputControl& control);

// Opens control's input port on the stored device (closing an open one first); opens nothing
// when the stored device is not present.
// 1 = done, 0 = a device was chosen but the port is not open afterwards.
int16_t openMidiInput(RuntimeState& state, MidiInputControl& control);
void openMidiInputDevice(RuntimeState& state, MidiInputControl& control);
// Stops and closes the port if it is open; writes nothing otherwise.
void closeMidiInput(MidiInputControl& control);

} // namespace quindel
