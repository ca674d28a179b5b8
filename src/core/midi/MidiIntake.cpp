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

// Codes are data byte then status byte: a note-off's third character is its status nibble 8.
bool isNoteOffCode(const std::string& code) {
    return code.size() == 4 && code[2] == '8';
}

// Whether a tick that takes code fires something: a click of an action that carries it, or a
// step of the sequence.
bool firesSomething(const RuntimeState& state, const std::string& code) {
    if (code == state.nextTriggerCode || code == state.prevTriggerCode)
        return true;
    return std::any_of(state.actionTable.begin(), state.actionTable.end(),
                       [&code](const ActionRecord& record) { return record.triggerCode == code; });
}

// Whether the command waiting in the slot stays there when incoming arrives.
bool keepsWaiting(const RuntimeState& state, const std::string& waiting,
                  const std::string& incoming, MidiIntakeFor purpose) {
    if (waiting.empty())
        return false;
    const bool releaseOverPress = isNoteOffCode(incoming) && !isNoteOffCode(waiting);
    if (purpose == MidiIntakeFor::Capture)
        return releaseOverPress;
    if (firesSomething(state, incoming))
        return false;
    return releaseOverPress || firesSomething(state, waiting);
}

} // namespace

std::string midiCommandCode(int16_t status, int16_t data1) {
    std::string code;
    code.reserve(4);
    appendHexByte(code, data1);
    appendHexByte(code, status);
    return code;
}

void offerMidiCommand(RuntimeState& state, std::string code, MidiIntakeFor purpose) {
    if (!keepsWaiting(state, state.lastMidiCommand, code, purpose))
        state.lastMidiCommand = std::move(code);
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
        if (message.status >= kFirstChannelStatus)
            offerMidiCommand(state, midiCommandCode(meaningStatus(message), message.data1),
                             purpose);
        pump();
        pump();
    }
}

} // namespace quindel
