#include "core/midi/MidiIntake.h"

#include "core/engine/RuntimeState.h"
#include "core/midi/MidiInputControl.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace quindel {

namespace {

// Status bytes from 0xF0 up are system messages; below 0x80 a byte is data, not a status.
constexpr int16_t kFirstSystemStatus = 0xF0;
constexpr int16_t kFirstChannelStatus = 0x80;
constexpr int16_t kNoteOff = 0x80;
constexpr int16_t kNoteOn = 0x90;
constexpr int16_t kPolyPressure = 0xA0;
constexpr int16_t kControlChange = 0xB0;
constexpr int16_t kChannelPressure = 0xD0;
constexpr int16_t kPitchBend = 0xE0;

// The controls whose drain is running. The handler pumps window events between its steps, so
// the same control can raise messagesArrived again before the first drain has finished; the
// nested call then returns at once and the running drain goes on emptying the queue. Two
// different controls (the main window's and the capture dialog's) may be drained at the same
// time through nested pumping, each with its own entry. Everything runs on the UI thread.
std::vector<const MidiInputControl*>& controlsBeingDrained() {
    static std::vector<const MidiInputControl*> controls;
    return controls;
}

class DrainGuard {
  public:
    explicit DrainGuard(const MidiInputControl& control) : control_(&control) {
        auto& controls = controlsBeingDrained();
        alreadyRunning_ = std::find(controls.begin(), controls.end(), control_) != controls.end();
        if (!alreadyRunning_)
            controls.push_back(control_);
    }
    ~DrainGuard() {
        if (alreadyRunning_)
            return;
        auto& controls = controlsBeingDrained();
        controls.erase(std::find(controls.begin(), controls.end(), control_));
    }
    DrainGuard(const DrainGuard&) = delete;
    DrainGuard& operator=(const DrainGuard&) = delete;

    bool alreadyRunning() const { return alreadyRunning_; }

  private:
    const MidiInputControl* control_;
    bool alreadyRunning_ = false;
};

void appendHexByte(std::string& text, int16_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto byte = static_cast<unsigned>(value) & 0xFFu;
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xFu];
}

// A note-on with velocity 0 ends the note: it makes the code of a note-off on its channel.
int16_t meaningStatus(const MidiMessage& message) {
    if ((message.status & 0xF0) == kNoteOn && message.data2 == 0)
        return static_cast<int16_t>(kNoteOff | (message.status & 0x0F));
    return message.status;
}

// What follows a press by its status: a note-off, poly pressure, channel pressure, pitch bend.
bool followsPress(int16_t status) {
    switch (status & 0xF0) {
    case kNoteOff:
    case kPolyPressure:
    case kChannelPressure:
    case kPitchBend:
        return true;
    default:
        return false;
    }
}

// The same for a code: data byte then status byte, so the status nibble is the third character.
bool codeFollowsPress(const std::string& code) {
    return code.size() == 4 &&
           (code[2] == '8' || code[2] == 'A' || code[2] == 'D' || code[2] == 'E');
}

// A channel message drained from the queue: its code and what it means for the slot.
struct DrainedCommand {
    std::string code;
    bool followsPress = false;
    // A control change with value 0: a button or footswitch let go. Its code is that of the
    // press, so it must never stand in the slot where its code would fire.
    bool controlRelease = false;
};

DrainedCommand drainedCommand(const MidiMessage& message) {
    const int16_t status = meaningStatus(message);
    const bool controlRelease = (status & 0xF0) == kControlChange && message.data2 == 0;
    return {midiCommandCode(status, message.data1), followsPress(status) || controlRelease,
            controlRelease};
}

// Whether a tick that takes code fires something: a click of an action that carries it, or a
// step of the sequence.
bool firesSomething(const RuntimeState& state, const std::string& code) {
    if (code == state.nextTriggerCode || code == state.prevTriggerCode)
        return true;
    return std::any_of(state.actionTable.begin(), state.actionTable.end(),
                       [&code](const ActionRecord& record) { return record.triggerCode == code; });
}

// Whether incoming takes the slot from the command waiting there (see MidiIntakeFor).
bool takesSlot(const RuntimeState& state, const std::string& waiting,
               const DrainedCommand& incoming, MidiIntakeFor purpose) {
    const bool dispatch = purpose == MidiIntakeFor::Dispatch;
    const bool incomingFires = dispatch && firesSomething(state, incoming.code);
    if (incoming.controlRelease && incomingFires)
        return false;
    if (waiting.empty())
        return true;
    const bool overPress = incoming.followsPress && !codeFollowsPress(waiting);
    if (!dispatch)
        return !overPress;
    if (incomingFires)
        return true;
    return !overPress && !firesSomething(state, waiting);
}

} // namespace

std::string midiCommandCode(int16_t status, int16_t data1) {
    std::string code;
    code.reserve(4);
    appendHexByte(code, data1);
    appendHexByte(code, status);
    return code;
}

void drainMidiInput(RuntimeState& state, MidiInputControl& control,
                    const std::function<void()>& pumpEvents, MidiIntakeFor purpose) {
    DrainGuard guard(control);
    if (guard.alreadyRunning())
        return;
    const auto pump = [&pumpEvents] {
        if (pumpEvents)
            pumpEvents();
    };

    // The queue can be emptied by others while events run (a capture dialog closing its port
    // clears it), so it is checked again after every pause that precedes a read or a removal:
    // a message is read only while one is there and removed only after it was read.
    while (control.pendingCount() >= 1) {
        pump();
        if (control.pendingCount() < 1)
            return;
        const MidiMessage message = control.headMessage();
        pump();
        if (control.pendingCount() < 1)
            return;
        if (message.status >= kFirstSystemStatus) {
            control.systemData();
            control.portCommand(kPortDropHead);
            pump();
            continue;
        }
        control.portCommand(kPortDropHead);
        pump();
        pump();
        // A byte below 0x80 is no status byte: such a message is removed but makes no code.
        if (message.status >= kFirstChannelStatus) {
            DrainedCommand command = drainedCommand(message);
            if (takesSlot(state, state.lastMidiCommand, command, purpose))
                state.lastMidiCommand = std::move(command.code);
        }
        pump();
        pump();
    }
}

} // namespace quindel
