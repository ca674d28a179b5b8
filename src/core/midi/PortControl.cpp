#include "core/midi/PortControl.h"

#include "core/engine/RuntimeState.h"
#include "core/midi/MidiInputControl.h"

namespace quindel {

namespace {

// Status byte of Active Sensing, which a controller may send several times a second.
constexpr int16_t kActiveSensing = 254;

} // namespace

int16_t storedDeviceNumber(const RuntimeState& state, MidiInputControl& control) {
    if (state.midiInputName.empty())
        return state.midiInputDevice;
    int16_t found = 0;
    const int16_t count = control.deviceCount();
    for (int16_t i = 0; i < count; ++i) {
        control.deviceIndex(i);
        if (control.deviceName() != state.midiInputName)
            continue;
        if (found == 0 || i + 1 == state.midiInputDevice)
            found = static_cast<int16_t>(i + 1);
    }
    return found;
}

int16_t openMidiInput(RuntimeState& state, MidiInputControl& control) {
    if (control.openState() != 0) {
        control.portCommand(kPortStop);
        control.portCommand(kPortClose);
    }
    if (state.midiInputDevice != kNoInputDevice) {
        openMidiInputDevice(state, control);
        if (control.openState() == 0 && state.midiInputDevice > 0)
            return 0;
    }
    if (control.openState() != 0)
        control.notifyEnabled(true);
    return 1;
}

void openMidiInputDevice(RuntimeState& state, MidiInputControl& control) {
    // A port that still reports open after the stop and close is closed once more.
    if (control.openState() >= 1)
        control.portCommand(kPortClose);
    // A device listed under another name now is another device: it is never opened instead.
    const int16_t device = storedDeviceNumber(state, control);
    if (device == kNoInputDevice)
        return;
    control.deviceIndex(static_cast<int16_t>(device - 1));
    control.portCommand(kPortOpen);
    control.portCommand(kPortStart);
    control.statusFilter(kActiveSensing, true);
}

void closeMidiInput(MidiInputControl& control) {
    if (control.openState() != 0) {
        control.portCommand(kPortStop);
        control.portCommand(kPortClose);
    }
}

} // namespace quindel
