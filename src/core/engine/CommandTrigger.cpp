#include "core/engine/CommandTrigger.h"

#include "core/engine/RuntimeState.h"
#include "core/engine/TriggerDispatch.h"
#include "core/midi/MidiIntake.h"

#include <cctype>

namespace quindel {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

bool sameWord(const std::string& text, const char* word) {
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == word;
}

} // namespace

std::string commandTriggerCode(const std::string& text) {
    if (sameWord(text, "next"))
        return "next";
    if (sameWord(text, "prev"))
        return "prev";
    if (keyCodeFromTrigger(text) != 0)
        return text;
    if (text.size() != 4)
        return {};
    int digits[4];
    for (int i = 0; i < 4; ++i)
        if ((digits[i] = hexDigit(text[static_cast<std::size_t>(i)])) < 0)
            return {};
    // A channel message's data byte is below 0x80; its status byte lies in 0x80..0xEF.
    if (digits[0] > 7 || digits[2] < 8 || digits[2] > 0xE)
        return {};
    return midiCommandCode(static_cast<int16_t>(digits[2] * 16 + digits[3]),
                           static_cast<int16_t>(digits[0] * 16 + digits[1]));
}

CommandTriggerOutcome takeCommandTrigger(RuntimeState& state, const std::string& text) {
    std::string code = commandTriggerCode(text);
    if (code.empty())
        return CommandTriggerOutcome::Malformed;
    if (code == "next" || code == "prev") {
        code = code == "next" ? state.nextTriggerCode : state.prevTriggerCode;
        if (code.empty() || code == "0")
            return CommandTriggerOutcome::NoStep;
    }
    if (!state.isRunning)
        return CommandTriggerOutcome::Stopped;
    if (state.commandQueue.size() >= kMaxCommandTriggers)
        return CommandTriggerOutcome::Full;
    state.commandQueue.push_back(std::move(code));
    return CommandTriggerOutcome::Taken;
}

void withdrawCommandTrigger(RuntimeState& state) {
    if (!state.commandQueue.empty())
        state.commandQueue.pop_back();
}

} // namespace quindel
