#include "core/engine/TriggerDispatch.h"

#include "core/engine/RuntimeState.h"
#include "core/engine/PointerOutput.h"
#include "platform/Platform.h"

#include <cstddef>
#include <cstdint>

namespace quindel {

int keyCodeFromTrigger(const std::string& code) {
    // Keyboard trigger codes are written as plain decimal numbers without sign, blanks or
    // leading zeros. Anything else (a MIDI code such as "3C90" or "0190", an empty text, "0")
    // names no key, so a MIDI code never polls a key by accident.
    if (code.empty() || code.size() > 3 || code[0] == '0')
        return 0;
    int value = 0;
    for (char c : code) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value <= 255 ? value : 0;
}

namespace {

// Whether the key of a trigger code was pressed since the last poll or is down; notes in the
// view when it is down.
bool keyPressed(Platform& platform, const std::string& code, DispatchView& view) {
    const int virtualKey = keyCodeFromTrigger(code);
    if (virtualKey == 0)
        return false;
    const int16_t state = platform.asyncKeyState(virtualKey);
    if (state & 0x8000)
        view.keyHeld = true;
    return state != 0;
}

// Moves the sequence position for a "prev" / "next" trigger and returns the code of the step
// reached. The position is always a step number of the table afterwards.
const std::string& stepBack(RuntimeState& state, int16_t steps) {
    state.currentStep = state.currentStep > 1 ? static_cast<int16_t>(state.currentStep - 1) : steps;
    return state.sequenceTable[static_cast<std::size_t>(state.currentStep - 1)].triggerCode;
}

const std::string& stepForward(RuntimeState& state, int16_t steps) {
    state.currentStep = state.currentStep < steps ? static_cast<int16_t>(state.currentStep + 1) : 1;
    return state.sequenceTable[static_cast<std::size_t>(state.currentStep - 1)].triggerCode;
}

} // namespace

bool tickPollsKey(const RuntimeState& state, int virtualKey) {
    if (virtualKey == 0)
        return false;
    for (const ActionRecord& record : state.actionTable)
        if (record.triggerKind == 1 && keyCodeFromTrigger(record.triggerCode) == virtualKey)
            return true;
    return keyCodeFromTrigger(state.prevTriggerCode) == virtualKey ||
           keyCodeFromTrigger(state.nextTriggerCode) == virtualKey;
}

void dispatchTick(RuntimeState& state, Platform& platform, DispatchView& view) {
    view.currentTrigger.assign(1, '0'); // "0": no trigger yet
    view.keyHeld = false;
    view.commandTaken = false;
    if (!state.isRunning)
        state.commandQueue.clear();

    if (!state.commandQueue.empty()) {
        // A command trigger takes the tick before the keys and the MIDI slot, which are not
        // looked at: a key pressed since the last poll stays pressed for the platform, and the
        // slot keeps its command, so the next tick dispatches either.
        view.currentTrigger = std::move(state.commandQueue.front());
        state.commandQueue.pop_front();
        view.commandTaken = true;
    } else if (state.inputMode == kKeyboardMode) {
        platform.beginKeyPoll();
        // No early exit: with several keys down the highest-numbered record wins.
        for (const ActionRecord& record : state.actionTable) {
            if (record.triggerKind == 1 && keyPressed(platform, record.triggerCode, view)) {
                view.currentTrigger = record.triggerCode;
                view.currentDescription = record.description;
            }
        }
        if (keyPressed(platform, state.prevTriggerCode, view))
            view.currentTrigger = state.prevTriggerCode;
        if (keyPressed(platform, state.nextTriggerCode, view))
            view.currentTrigger = state.nextTriggerCode;
    } else if (state.inputMode == kMidiMode) {
        // The slot is taken and emptied even when the window is stopped, so an old command
        // never fires after the next Start.
        const std::string& slot = state.lastMidiCommand;
        view.currentTrigger = slot.size() > 4 ? slot.substr(slot.size() - 4) : slot;
        state.lastMidiCommand.clear();
    }

    if (!state.isRunning || view.currentTrigger == "0" || view.currentTrigger.empty())
        return;

    // The table may have been edited since the last tick: its own size counts, not
    // sequenceCount. The editor can shorten it while currentStep points past the new end; the
    // position then starts over so that no step outside the table is ever addressed.
    const std::size_t size = state.sequenceTable.size();
    if (size > 0) {
        const auto steps = static_cast<int16_t>(size > INT16_MAX ? INT16_MAX : size);
        if (state.currentStep < 0 || state.currentStep > steps)
            state.currentStep = 0;
        if (view.currentTrigger == state.prevTriggerCode)
            view.currentTrigger = stepBack(state, steps);
        // Checked with the code as it now stands: the step reached by "prev" may carry the
        // "next" code itself.
        if (view.currentTrigger == state.nextTriggerCode)
            view.currentTrigger = stepForward(state, steps);
    }

    view.shownTrigger = view.currentTrigger;

    for (const ActionRecord& record : state.actionTable) {
        if (record.triggerCode == view.currentTrigger) {
            view.currentDescription = record.description;
            movePointerTo(platform, record.clickX, record.clickY);
            clickPointer(platform, 0);
            break;
        }
    }

    view.shownDescription = view.currentDescription;
}

} // namespace quindel
