#pragma once

#include <cstdint>
#include <string>

namespace quindel {

struct RuntimeState;

// Sections and keys of the settings file.
inline constexpr const char* kGeneralSection = "generale";
inline constexpr const char* kLanguageKey = "lingua";
inline constexpr const char* kFontKey = "font";
inline constexpr const char* kImmediateResponseKey = "risposta immediata";
inline constexpr const char* kMidiSection = "midi config";
inline constexpr const char* kMidiInputKey = "midi input";
inline constexpr const char* kMidiInputNameKey = "midi input nome";
inline constexpr const char* kGroupSection = "file tasti";
inline constexpr const char* kGroupFileKey = "nomefile";

// The input source: "midi input" (the device's place in the list, or 99 for the keyboard) into
// midiInputDevice and inputMode, and "midi input nome" (the device's name) into midiInputName.
void readInputSource(RuntimeState& state);
// Stores both as they are in state. The name is quoted where the reader would otherwise take
// quotes or trailing blanks off it, so it reads back as it was (leading blanks are lost, as in
// every value).
void writeInputSource(RuntimeState& state);

// The stored "risposta immediata" value: " 0" (blanks aside) turns immediate response off, so
// the dispatch tick polls every 100 ms; a missing key or any other value leaves it on.
bool immediateResponse(const std::string& stored);

// Number form of stored numbers: one blank then the digits for zero and above, "-" then the
// digits below zero.
std::string numberForm(long long value);

// The leading-number rule: blanks anywhere ignored, the number at the start of the text
// (sign, digits, fraction, exponent with E or D, or &H / &O forms), 0 when there is none.
// Returns the value rounded to a whole number, halves to even, clamped to [lo, hi].
long long readLeadingNumber(const std::string& text, long long lo, long long hi);

// The whole text, blanks around it allowed, read as one number of the same forms, rounded
// halves to even and clamped to [lo, hi]; 0 when the text is empty or is not just a number.
long long readWholeNumber(const std::string& text, long long lo, long long hi);

} // namespace quindel
