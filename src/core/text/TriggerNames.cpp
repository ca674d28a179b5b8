#include "core/text/TriggerNames.h"

#include "core/text/LanguageTexts.h"
#include "platform/Platform.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace quindel {

namespace {

constexpr std::size_t kMidiCodeLength = 4;
constexpr std::size_t kMaxKeyCodeDigits = 3; // key codes stop at 255

int hexValue(const std::string& text) {
    int value = 0;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isxdigit(u))
            return -1;
        value = value * 16 + (std::isdigit(u) ? c - '0' : std::toupper(u) - 'A' + 10);
    }
    return value;
}

// Middle C, note 60, is C4.
std::string noteName(int note) {
    constexpr std::array<const char*, 12> kNames = {"C",  "C#", "D",  "D#", "E",  "F",
                                                    "F#", "G",  "G#", "A",  "A#", "B"};
    return std::string(kNames[static_cast<std::size_t>(note % 12)]) + std::to_string(note / 12 - 1);
}

} // namespace

std::string midiCommandName(const std::string& code) {
    if (code.size() != kMidiCodeLength)
        return {};
    const int data = hexValue(code.substr(0, 2));
    const int status = hexValue(code.substr(2, 2));
    if (data < 0 || data > 0x7F || status < 0x80 || status > 0xEF)
        return {};
    const std::string channel = ", ch " + std::to_string((status & 0x0F) + 1);
    const std::string value = std::to_string(data);
    switch (status & 0xF0) {
    case 0x80:
        return "Note " + noteName(data) + " off" + channel;
    case 0x90:
        return "Note " + noteName(data) + " on" + channel;
    case 0xA0: // the code keeps the key, not how hard it is pressed
        return "Key pressure " + noteName(data) + channel;
    case 0xB0:
        return "CC " + value + channel;
    case 0xC0: // programs are counted from 1 on instruments
        return "Program " + std::to_string(data + 1) + channel;
    case 0xD0:
        return "Channel pressure " + value + channel;
    default: // 0xE0: the code keeps only the first data byte, the fine (low) part of the bend
        return "Pitch bend LSB " + value + channel;
    }
}

std::string triggerName(const std::string& code, Platform& platform, const LanguageTexts& texts) {
    if (code == "0")
        return texts.noTriggerName;
    if (code.size() == kMidiCodeLength)
        return midiCommandName(code);
    if (code.empty() || code.size() > kMaxKeyCodeDigits ||
        !std::all_of(code.begin(), code.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return {};
    return platform.keyName(std::stoi(code));
}

std::string triggerWithName(const std::string& code, Platform& platform,
                            const LanguageTexts& texts) {
    const std::string name = triggerName(code, platform, texts);
    if (name.empty())
        return code;
    return code == "0" ? name : code + " " + name;
}

} // namespace quindel
