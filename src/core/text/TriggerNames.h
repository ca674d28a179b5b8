#pragma once

#include <string>

namespace quindel {

class Platform;
struct LanguageTexts;

// The readable name of a MIDI command code ("3C90" gives "Note C4 on, ch 1", "40B0" "CC 64,
// ch 1", "05C0" "Program 6, ch 1"): what the status byte is, its data byte as a note, a
// controller, a program or a value, and the channel counted from 1. Empty when the code is not
// four hexadecimal digits of a channel message (status 80 to EF, data byte below 80).
std::string midiCommandName(const std::string& code);

// The readable name of a trigger code: texts.noTriggerName for "0", the key's name on the
// platform's current keymap for a key code (one to three digits), the command's name for a
// MIDI code (four characters); empty when no name is known.
std::string triggerName(const std::string& code, Platform& platform, const LanguageTexts& texts);

// A trigger as the windows show it: the code and its name ("116 F5"), the code alone when it
// has no name, and the name alone for "0", which is no trigger.
std::string triggerWithName(const std::string& code, Platform& platform,
                            const LanguageTexts& texts);

} // namespace quindel
