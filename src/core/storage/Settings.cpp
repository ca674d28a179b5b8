#include "core/storage/Settings.h"

#include "core/engine/RuntimeState.h"
#include "core/storage/SettingsAccess.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string_view>

namespace quindel {

namespace {

bool isDigitOf(char c, int base) {
    if (base == 16)
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    return c >= '0' && c < static_cast<char>('0' + base);
}

// The number at the start of s: sign, digits, fraction and E/D exponent, or &H / &O forms.
// end is set just past what was read; nothing when s does not begin with a number.
std::optional<double> parseNumber(std::string_view s, size_t& end) {
    size_t i = 0;
    const size_t n = s.size();
    if (n >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
        const int base = s[1] == 'H' || s[1] == 'h' ? 16 : 8;
        double value = 0;
        for (i = 2; i < n && isDigitOf(s[i], base); ++i) {
            const char c = s[i];
            const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
            value = value * base + digit;
        }
        if (i == 2)
            return std::nullopt;
        end = i;
        return value;
    }
    std::string clean;
    if (i < n && (s[i] == '+' || s[i] == '-'))
        clean += s[i++];
    size_t digits = 0;
    for (; i < n && isDigitOf(s[i], 10); ++i, ++digits)
        clean += s[i];
    if (i < n && s[i] == '.') {
        clean += s[i++];
        for (; i < n && isDigitOf(s[i], 10); ++i, ++digits)
            clean += s[i];
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < n && (s[j] == '+' || s[j] == '-'))
            exponent += s[j++];
        const size_t first = j;
        for (; j < n && isDigitOf(s[j], 10); ++j)
            exponent += s[j];
        if (j > first) {
            clean += exponent;
            i = j;
        }
    }
    end = i;
    return std::strtod(clean.c_str(), nullptr); // overflow gives infinity, clamped below
}

long long roundAndClamp(double value, long long lo, long long hi) {
    const double r = std::nearbyint(value); // the default rounding mode takes halves to even
    if (r <= static_cast<double>(lo))
        return lo;
    if (r >= static_cast<double>(hi))
        return hi;
    return static_cast<long long>(r);
}

} // namespace

void readInputSource(RuntimeState& state) {
    state.setInputDevice(static_cast<int16_t>(readLeadingNumber(
        readSetting(state, kMidiSection, kMidiInputKey), std::numeric_limits<int16_t>::min(),
        std::numeric_limits<int16_t>::max())));
    state.midiInputName = readSetting(state, kMidiSection, kMidiInputNameKey);
}

void writeInputSource(RuntimeState& state) {
    writeSetting(state, kMidiSection, kMidiInputKey, numberForm(state.midiInputDevice));
    const std::string& name = state.midiInputName;
    const auto kept = [](char c) { return c != ' ' && c != '\t' && c != '"' && c != '\''; };
    const bool quoted = !name.empty() && (!kept(name.front()) || !kept(name.back()));
    writeSetting(state, kMidiSection, kMidiInputNameKey, quoted ? '"' + name + '"' : name);
}

bool immediateResponse(const std::string& stored) {
    std::string packed;
    for (char c : stored)
        if (c != ' ' && c != '\t')
            packed += c;
    return packed != "0";
}

std::string numberForm(long long value) {
    return value < 0 ? std::to_string(value) : " " + std::to_string(value);
}

long long readLeadingNumber(const std::string& text, long long lo, long long hi) {
    std::string packed;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n')
            packed += c;
    size_t end = 0;
    std::optional<double> value = parseNumber(packed, end);
    return roundAndClamp(value ? *value : 0.0, lo, hi);
}

long long readWholeNumber(const std::string& text, long long lo, long long hi) {
    std::string_view s = text;
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    size_t end = 0;
    std::optional<double> value = parseNumber(s, end);
    return roundAndClamp(value && end == s.size() ? *value : 0.0, lo, hi);
}

} // namespace quindel
