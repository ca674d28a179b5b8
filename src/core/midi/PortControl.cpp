#include "core/midi/PortControl.h"

#include "core/engine/RuntimeState.h"
#include "core/midi/MidiInputControl.h"

#include <cctype>
#include <optional>
#include <utility>
#include <string>
#include <string_view>

namespace quindel {

namespace {

// Status byte of Active Sensing, which a controller may send several times a second.
constexpr int16_t kActiveSensing = 254;

} // namespace

namespace {

// An ALSA port's name ends in its sequencer address ("Pads:Pads MIDI 1 24:0"), which a device
// plugged in again may get anew; the name without it still names the device. Empty address
// when the name has none.
std::pair<std::string_view, std::string_view> splitSequencerAddress(std::string_view name) {
    const size_t space = name.rfind(' ');
    if (space == std::string_view::npos)
        return {name, {}};
    const std::string_view address = name.substr(space + 1);
    const size_t colon = address.find(':');
    const auto digits = [](std::string_view text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (colon == std::string_view::npos || !digits(address.substr(0, colon)) ||
        !digits(address.substr(colon + 1)))
        return {name, {}};
    return {name.substr(0, space), address};
}

// PipeWire keeps only letters, digits and " /_:()[]" in a bridged port's name, writing '-'
// for every other byte.
std::string asPipeWireWritesIt(std::string_view name) {
    std::string text(name);
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool kept = (byte < 0x80 && std::isalnum(byte)) ||
                          std::string_view(" /_:()[]").find(c) != std::string_view::npos;
        if (!kept)
            c = '-';
    }
    return text;
}

constexpr std::string_view kMidiBridge = "Midi-Bridge:";
constexpr std::string_view kBridgeCapture = ":(capture_";

// A port of PipeWire's MIDI bridge as JACK lists it: "Midi-Bridge:<client>:(capture_<port
// number>) <port name>", where the client is the ALSA client's name, or for a card's client the
// card's long name ("Virtual MIDI Card 1"), which no ALSA port name carries.
struct BridgePort {
    std::string_view portNumber;
    std::string_view portName;
};
std::optional<BridgePort> bridgePort(std::string_view name) {
    if (!name.starts_with(kMidiBridge))
        return std::nullopt;
    const size_t capture = name.find(kBridgeCapture, kMidiBridge.size());
    if (capture == std::string_view::npos)
        return std::nullopt;
    const size_t number = capture + kBridgeCapture.size();
    const size_t close = name.find(") ", number);
    if (close == std::string_view::npos)
        return std::nullopt;
    return BridgePort{name.substr(number, close - number), name.substr(close + 2)};
}

} // namespace

bool isMidiBridgePort(std::string_view name) {
    return bridgePort(name).has_value();
}

bool sameDevice(std::string_view first, std::string_view second) {
    const std::optional<BridgePort> firstBridge = bridgePort(first);
    const std::optional<BridgePort> secondBridge = bridgePort(second);
    if (firstBridge && secondBridge)
        return first == second;
    if (!firstBridge && !secondBridge)
        return splitSequencerAddress(first).first == splitSequencerAddress(second).first;
    // A bridge port and an ALSA port: the same port number and port name.
    const BridgePort& bridge = firstBridge ? *firstBridge : *secondBridge;
    const auto [alsaName, address] = splitSequencerAddress(firstBridge ? second : first);
    return !address.empty() && address.substr(address.find(':') + 1) == bridge.portNumber &&
           asPipeWireWritesIt(alsaName).ends_with(":" + std::string(bridge.portName));
}

int16_t storedDeviceNumber(const RuntimeState& state, MidiInputControl& control) {
    if (state.midiInputName.empty())
        return state.midiInputDevice;
    // The exact name first; only when no device has it, the same device by another name (an
    // ALSA port under a new address, or through PipeWire's bridge).
    for (const bool exact : {true, false}) {
        int16_t found = 0;
        const int16_t count = control.deviceCount();
        for (int16_t i = 0; i < count; ++i) {
            control.deviceIndex(i);
            const std::string name = control.deviceName();
            if (exact ? name != state.midiInputName : !sameDevice(name, state.midiInputName))
                continue;
            if (found == 0 || i + 1 == state.midiInputDevice)
                found = static_cast<int16_t>(i + 1);
        }
        if (found != 0)
            return found;
    }
    return 0;
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
