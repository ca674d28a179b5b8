#include "platform/x11/KeyTable.h"

#include <array>
#include <unordered_map>
#include <utility>

namespace quindel {

namespace {

// Keysym values as defined by the X protocol (keysymdef.h, XF86keysym.h); written out so
// that the table carries no X header.
constexpr std::array kPrimary = std::to_array<KeyTableEntry>({
    // Letters (the upper-case keysym; lower case is an alias) and digits.
    {0x41, 65},
    {0x42, 66},
    {0x43, 67},
    {0x44, 68},
    {0x45, 69},
    {0x46, 70},
    {0x47, 71},
    {0x48, 72},
    {0x49, 73},
    {0x4a, 74},
    {0x4b, 75},
    {0x4c, 76},
    {0x4d, 77},
    {0x4e, 78},
    {0x4f, 79},
    {0x50, 80},
    {0x51, 81},
    {0x52, 82},
    {0x53, 83},
    {0x54, 84},
    {0x55, 85},
    {0x56, 86},
    {0x57, 87},
    {0x58, 88},
    {0x59, 89},
    {0x5a, 90},
    {0x30, 48},
    {0x31, 49},
    {0x32, 50},
    {0x33, 51},
    {0x34, 52},
    {0x35, 53},
    {0x36, 54},
    {0x37, 55},
    {0x38, 56},
    {0x39, 57},
    // F1 to F24.
    {0xffbe, 112},
    {0xffbf, 113},
    {0xffc0, 114},
    {0xffc1, 115},
    {0xffc2, 116},
    {0xffc3, 117},
    {0xffc4, 118},
    {0xffc5, 119},
    {0xffc6, 120},
    {0xffc7, 121},
    {0xffc8, 122},
    {0xffc9, 123},
    {0xffca, 124},
    {0xffcb, 125},
    {0xffcc, 126},
    {0xffcd, 127},
    {0xffce, 128},
    {0xffcf, 129},
    {0xffd0, 130},
    {0xffd1, 131},
    {0xffd2, 132},
    {0xffd3, 133},
    {0xffd4, 134},
    {0xffd5, 135},
    // Keypad digits and operators.
    {0xffb0, 96},
    {0xffb1, 97},
    {0xffb2, 98},
    {0xffb3, 99},
    {0xffb4, 100},
    {0xffb5, 101},
    {0xffb6, 102},
    {0xffb7, 103},
    {0xffb8, 104},
    {0xffb9, 105},
    {0xffaa, 106},
    {0xffab, 107},
    {0xffac, 108},
    {0xffad, 109},
    {0xffae, 110},
    {0xffaf, 111},
    // Editing and navigation.
    {0xff08, 8},   // BackSpace
    {0xff09, 9},   // Tab
    {0xff0b, 12},  // Clear
    {0xff0d, 13},  // Return
    {0xff13, 19},  // Pause
    {0xffe5, 20},  // Caps_Lock
    {0xff1b, 27},  // Escape
    {0x20, 32},    // space
    {0xff55, 33},  // Prior (Page Up)
    {0xff56, 34},  // Next (Page Down)
    {0xff57, 35},  // End
    {0xff50, 36},  // Home
    {0xff51, 37},  // Left
    {0xff52, 38},  // Up
    {0xff53, 39},  // Right
    {0xff54, 40},  // Down
    {0xff60, 41},  // Select
    {0xff62, 43},  // Execute
    {0xff61, 44},  // Print (Print Screen)
    {0xff63, 45},  // Insert
    {0xffff, 46},  // Delete
    {0xff6a, 47},  // Help
    {0xffeb, 91},  // Super_L (left Windows key)
    {0xffec, 92},  // Super_R (right Windows key)
    {0xff67, 93},  // Menu (Apps)
    {0xff7f, 144}, // Num_Lock
    {0xff14, 145}, // Scroll_Lock
    // Left- and right-hand modifiers.
    {0xffe1, 160},
    {0xffe2, 161}, // Shift_L, Shift_R
    {0xffe3, 162},
    {0xffe4, 163}, // Control_L, Control_R
    {0xffe9, 164},
    {0xffea, 165}, // Alt_L, Alt_R
    // Browser and media keys.
    {0x1008ff26, 166},
    {0x1008ff27, 167},
    {0x1008ff73, 168},
    {0x1008ff28, 169},
    {0x1008ff1b, 170},
    {0x1008ff30, 171},
    {0x1008ff18, 172},
    {0x1008ff12, 173},
    {0x1008ff11, 174},
    {0x1008ff13, 175},
    {0x1008ff17, 176},
    {0x1008ff16, 177},
    {0x1008ff15, 178},
    {0x1008ff14, 179},
    {0x1008ff19, 180},
    // Punctuation keys of a US layout.
    {0x3b, 186}, // semicolon
    {0x3d, 187}, // equal
    {0x2c, 188}, // comma
    {0x2d, 189}, // minus
    {0x2e, 190}, // period
    {0x2f, 191}, // slash
    {0x60, 192}, // grave
    {0x5b, 219}, // bracketleft
    {0x5c, 220}, // backslash
    {0x5d, 221}, // bracketright
    {0x27, 222}, // apostrophe
});

constexpr std::array kAliases = std::to_array<KeyTableEntry>({
    {0x61, 65},
    {0x62, 66},
    {0x63, 67},
    {0x64, 68},
    {0x65, 69},
    {0x66, 70},
    {0x67, 71},
    {0x68, 72},
    {0x69, 73},
    {0x6a, 74},
    {0x6b, 75},
    {0x6c, 76},
    {0x6d, 77},
    {0x6e, 78},
    {0x6f, 79},
    {0x70, 80},
    {0x71, 81},
    {0x72, 82},
    {0x73, 83},
    {0x74, 84},
    {0x75, 85},
    {0x76, 86},
    {0x77, 87},
    {0x78, 88},
    {0x79, 89},
    {0x7a, 90},
    // Shifted digits: ) ! @ # $ % ^ & * (
    {0x29, 48},
    {0x21, 49},
    {0x40, 50},
    {0x23, 51},
    {0x24, 52},
    {0x25, 53},
    {0x5e, 54},
    {0x26, 55},
    {0x2a, 56},
    {0x28, 57},
    // Shifted punctuation: : + < _ > ? ~ { | } "
    {0x3a, 186},
    {0x2b, 187},
    {0x3c, 188},
    {0x5f, 189},
    {0x3e, 190},
    {0x3f, 191},
    {0x7e, 192},
    {0x7b, 219},
    {0x7c, 220},
    {0x7d, 221},
    {0x22, 222},
    // Keypad with Num Lock off: the key keeps its keypad code.
    {0xff9e, 96},  // KP_Insert
    {0xff9c, 97},  // KP_End
    {0xff99, 98},  // KP_Down
    {0xff9b, 99},  // KP_Next
    {0xff96, 100}, // KP_Left
    {0xff9d, 101}, // KP_Begin
    {0xff98, 102}, // KP_Right
    {0xff95, 103}, // KP_Home
    {0xff97, 104}, // KP_Up
    {0xff9a, 105}, // KP_Prior
    {0xff9f, 110}, // KP_Delete
    {0xff8d, 13},  // KP_Enter
    // Other names of the same keys.
    {0xfe20, 9},       // ISO_Left_Tab (Shift+Tab)
    {0xff6b, 19},      // Break (Ctrl+Pause)
    {0xff15, 44},      // Sys_Req (Alt+Print)
    {0xffe7, 164},     // Meta_L
    {0xffe8, 165},     // Meta_R
    {0xfe03, 165},     // ISO_Level3_Shift (AltGr)
    {0x1008ff31, 179}, // XF86AudioPause
});

// The keys of the typing block: XKB name, keycode in the evdev numbering (also that of the
// older XFree86 one for these keys) and the code Windows gives the key on a US layout.
struct KeyPosition {
    std::string_view name;
    int keycode;
    int usVirtualKey;
};

constexpr std::array kPositions = std::to_array<KeyPosition>({
    {"TLDE", 49, 192}, {"AE01", 10, '1'}, {"AE02", 11, '2'}, {"AE03", 12, '3'}, {"AE04", 13, '4'},
    {"AE05", 14, '5'}, {"AE06", 15, '6'}, {"AE07", 16, '7'}, {"AE08", 17, '8'}, {"AE09", 18, '9'},
    {"AE10", 19, '0'}, {"AE11", 20, 189}, {"AE12", 21, 187}, {"AD01", 24, 'Q'}, {"AD02", 25, 'W'},
    {"AD03", 26, 'E'}, {"AD04", 27, 'R'}, {"AD05", 28, 'T'}, {"AD06", 29, 'Y'}, {"AD07", 30, 'U'},
    {"AD08", 31, 'I'}, {"AD09", 32, 'O'}, {"AD10", 33, 'P'}, {"AD11", 34, 219}, {"AD12", 35, 221},
    {"AC01", 38, 'A'}, {"AC02", 39, 'S'}, {"AC03", 40, 'D'}, {"AC04", 41, 'F'}, {"AC05", 42, 'G'},
    {"AC06", 43, 'H'}, {"AC07", 44, 'J'}, {"AC08", 45, 'K'}, {"AC09", 46, 'L'}, {"AC10", 47, 186},
    {"AC11", 48, 222}, {"BKSL", 51, 220}, {"LSGT", 94, 226}, {"AB01", 52, 'Z'}, {"AB02", 53, 'X'},
    {"AB03", 54, 'C'}, {"AB04", 55, 'V'}, {"AB05", 56, 'B'}, {"AB06", 57, 'N'}, {"AB07", 58, 'M'},
    {"AB08", 59, 188}, {"AB09", 60, 190}, {"AB10", 61, 191},
});

// Punctuation and accented keys of each known layout, each only once where layouts agree:
// position, unshifted and shifted symbol (Latin-1 keysyms, which equal their characters;
// shifted 0 takes any), and the Windows code.
struct SymbolKey {
    std::string_view position;
    uint32_t unshifted;
    uint32_t shifted;
    int virtualKey;
};

constexpr std::array kSymbolKeys = std::to_array<SymbolKey>({
    // US
    {"TLDE", '`', '~', 192},
    {"AE11", '-', '_', 189},
    {"AE12", '=', '+', 187},
    {"AD11", '[', '{', 219},
    {"AD12", ']', '}', 221},
    {"BKSL", '\\', '|', 220},
    {"AC10", ';', ':', 186},
    {"AC11", '\'', '"', 222},
    {"AB08", ',', '<', 188},
    {"AB09", '.', '>', 190},
    {"AB10", '/', '?', 191},
    // UK: the other keys as on US, \ | (on the key left of Z) too.
    {"TLDE", '`', 0xac, 223}, // ` ¬
    {"AC11", '\'', '@', 192},
    {"BKSL", '#', '~', 222},
    // German
    {"TLDE", '^', 0xb0, 220},  // ^ °
    {"AE11", 0xdf, '?', 219},  // ß ?
    {"AE12", 0xb4, '`', 221},  // ´ `
    {"AD11", 0xfc, 0xdc, 186}, // ü Ü
    {"AD12", '+', '*', 187},
    {"AC10", 0xf6, 0xd6, 192}, // ö Ö
    {"AC11", 0xe4, 0xc4, 222}, // ä Ä
    {"BKSL", '#', '\'', 191},
    {"LSGT", '<', '>', 226},
    {"AB08", ',', ';', 188},
    {"AB09", '.', ':', 190},
    {"AB10", '-', '_', 189},
    // French: the others (= +, < >) as above.
    {"TLDE", 0xb2, 0, 222},   // ²
    {"AE11", ')', 0xb0, 219}, // ) °
    {"AD11", '^', 0xa8, 221}, // ^ ¨
    {"AD12", '$', 0xa3, 186}, // $ £
    {"AC11", 0xf9, '%', 192}, // ù %
    {"BKSL", '*', 0xb5, 220}, // * µ
    {"AB07", ',', '?', 188},
    {"AB08", ';', '.', 190},
    {"AB09", ':', '/', 191},
    {"AB10", '!', 0xa7, 223}, // ! §
    // Spanish: the others (+ *, < >, , ;, . :, - _) as on German.
    {"TLDE", 0xba, 0xaa, 220}, // º ª
    {"AE11", '\'', '?', 219},
    {"AE12", 0xa1, 0xbf, 221}, // ¡ ¿
    {"AD11", '`', '^', 186},
    {"AC10", 0xf1, 0xd1, 192}, // ñ Ñ
    {"AC11", 0xb4, 0xa8, 222}, // ´ ¨
    {"BKSL", 0xe7, 0xc7, 191}, // ç Ç
    // Italian: the others (\ | 220, ' ? 219, + * 187, < > 226, , ; 188, . : 190, - _ 189) as
    // above.
    {"AE12", 0xec, '^', 221},  // ì ^
    {"AD11", 0xe8, 0xe9, 186}, // è é
    {"AC10", 0xf2, 0xe7, 192}, // ò ç
    {"AC11", 0xe0, 0xb0, 222}, // à °
    {"BKSL", 0xf9, 0xa7, 191}, // ù §
});

// A dead key stands for the accent it puts on the next letter; layouts differ only in whether
// their accent keys are dead.
uint32_t spacingKeysym(uint32_t keysym) {
    constexpr std::pair<uint32_t, uint32_t> dead[] = {
        {0xfe50, '`'},  {0xfe51, 0xb4}, {0xfe52, '^'},  {0xfe53, '~'},
        {0xfe57, 0xa8}, {0xfe58, 0xb0}, {0xfe5b, 0xb8},
    };
    for (const auto& [deadKey, spacing] : dead)
        if (keysym == deadKey)
            return spacing;
    return keysym;
}

// Codes that follow the layout: digits, letters and the punctuation (OEM) codes.
bool isTypingCode(int virtualKey) {
    return (virtualKey >= '0' && virtualKey <= '9') || (virtualKey >= 'A' && virtualKey <= 'Z') ||
           (virtualKey >= 186 && virtualKey <= 192) || (virtualKey >= 219 && virtualKey <= 226);
}

struct Maps {
    std::unordered_map<uint32_t, int> toVirtualKey;
    std::array<uint32_t, 256> toKeysym{};

    Maps() {
        for (const KeyTableEntry& e : kAliases)
            toVirtualKey[e.keysym] = e.virtualKey;
        for (const KeyTableEntry& e : kPrimary) {
            toVirtualKey[e.keysym] = e.virtualKey;
            toKeysym[static_cast<std::size_t>(e.virtualKey)] = e.keysym;
        }
        toKeysym[16] = 0xffe1; // Shift_L
        toKeysym[17] = 0xffe3; // Control_L
        toKeysym[18] = 0xffe9; // Alt_L
    }
};

const Maps& maps() {
    static const Maps instance;
    return instance;
}

} // namespace

std::span<const KeyTableEntry> keyTable() {
    return kPrimary;
}

std::span<const KeyTableEntry> keyTableAliases() {
    return kAliases;
}

int virtualKeyFromKeysym(uint32_t keysym) {
    const auto& table = maps().toVirtualKey;
    auto it = table.find(keysym);
    return it == table.end() ? 0 : it->second;
}

uint32_t keysymFromVirtualKey(int virtualKey) {
    if (virtualKey < 0 || virtualKey > 255)
        return 0;
    return maps().toKeysym[static_cast<std::size_t>(virtualKey)];
}

int genericVirtualKey(int sidedVirtualKey) {
    if (sidedVirtualKey < 160 || sidedVirtualKey > 165)
        return 0;
    return 16 + (sidedVirtualKey - 160) / 2;
}

std::string keyNameOf(int virtualKey, uint32_t unshiftedKeysym) {
    constexpr std::pair<int, const char*> kFixedNames[] = {
        {8, "Backspace"},
        {9, "Tab"},
        {12, "Clear"},
        {13, "Enter"},
        {16, "Shift"},
        {17, "Ctrl"},
        {18, "Alt"},
        {19, "Pause"},
        {20, "Caps Lock"},
        {27, "Esc"},
        {32, "Space"},
        {33, "Page Up"},
        {34, "Page Down"},
        {35, "End"},
        {36, "Home"},
        {37, "Left"},
        {38, "Up"},
        {39, "Right"},
        {40, "Down"},
        {41, "Select"},
        {43, "Execute"},
        {44, "Print Screen"},
        {45, "Insert"},
        {46, "Delete"},
        {47, "Help"},
        {91, "Left Super"},
        {92, "Right Super"},
        {93, "Menu"},
        {106, "Num *"},
        {107, "Num +"},
        {108, "Num Separator"},
        {109, "Num -"},
        {110, "Num ."},
        {111, "Num /"},
        {144, "Num Lock"},
        {145, "Scroll Lock"},
        {160, "Left Shift"},
        {161, "Right Shift"},
        {162, "Left Ctrl"},
        {163, "Right Ctrl"},
        {164, "Left Alt"},
        {165, "Right Alt"},
        {166, "Back"},
        {167, "Forward"},
        {168, "Refresh"},
        {169, "Stop"},
        {170, "Search"},
        {171, "Favorites"},
        {172, "Web Home"},
        {173, "Mute"},
        {174, "Volume Down"},
        {175, "Volume Up"},
        {176, "Next Track"},
        {177, "Previous Track"},
        {178, "Stop Media"},
        {179, "Play/Pause"},
        {180, "Mail"},
    };
    for (const auto& [code, name] : kFixedNames)
        if (code == virtualKey)
            return name;
    if (virtualKey >= 112 && virtualKey <= 135)
        return "F" + std::to_string(virtualKey - 111);
    if (virtualKey >= 96 && virtualKey <= 105)
        return "Num " + std::to_string(virtualKey - 96);
    if ((virtualKey >= '0' && virtualKey <= '9') || (virtualKey >= 'A' && virtualKey <= 'Z'))
        return std::string(1, static_cast<char>(virtualKey));
    if (!isTypingCode(virtualKey))
        return {};
    // Latin-1 keysyms are their characters; others carry theirs above 0x1000000. Blanks and
    // control characters would read as nothing or as a box.
    const uint32_t keysym = spacingKeysym(unshiftedKeysym);
    const uint32_t c = keysym >= 0x1000000 ? keysym - 0x1000000 : keysym;
    const bool printable = (c > 0x20 && c < 0x7f) || (c > 0xa0 && c <= 0xff && keysym < 0x100) ||
                           (keysym >= 0x10000a0 && c <= 0x10ffff && (c < 0xd800 || c > 0xdfff));
    if (!printable)
        return {};
    std::string utf8;
    if (c < 0x80) {
        utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
        utf8 += static_cast<char>(0xc0 | (c >> 6));
        utf8 += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        utf8 += static_cast<char>(0xe0 | (c >> 12));
        utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        utf8 += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        utf8 += static_cast<char>(0xf0 | (c >> 18));
        utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        utf8 += static_cast<char>(0x80 | (c & 0x3f));
    }
    return utf8;
}

std::string_view positionOfKeycode(int keycode) {
    for (const KeyPosition& p : kPositions)
        if (p.keycode == keycode)
            return p.name;
    return {};
}

KeymapCodes keymapVirtualKeys(std::span<const KeymapKey> keys) {
    // How a key's code was found. Keys known by their symbols choose first, then keys known by
    // their position alone; a key whose unshifted symbol alone matched a layout comes last and
    // takes its position's code if its guess is taken.
    enum class Basis { Fixed, Symbols, Position, Guess };
    struct Found {
        int virtualKey = 0;
        Basis basis = Basis::Fixed;
        int usVirtualKey = 0;
    };
    std::vector<Found> found(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const KeymapKey& key = keys[i];
        Found& f = found[i];
        for (const KeyPosition& p : kPositions)
            if (p.name == key.position)
                f.usVirtualKey = p.usVirtualKey;
        const int fixed = virtualKeyFromKeysym(key.unshifted != 0 ? key.unshifted : key.shifted);
        if (fixed != 0 && !isTypingCode(fixed)) {
            f.virtualKey = fixed;
            continue;
        }
        if (key.unshifted == 0 && key.shifted == 0)
            continue;
        const uint32_t unshifted = spacingKeysym(key.unshifted);
        const uint32_t shifted = spacingKeysym(key.shifted);
        f.basis = Basis::Symbols;
        if (unshifted >= '0' && unshifted <= '9')
            f.virtualKey = static_cast<int>(unshifted);
        else if (shifted >= '0' && shifted <= '9') // the French number row
            f.virtualKey = static_cast<int>(shifted);
        else if (unshifted >= 'a' && unshifted <= 'z')
            f.virtualKey = static_cast<int>(unshifted - 'a' + 'A');
        else if (unshifted >= 'A' && unshifted <= 'Z')
            f.virtualKey = static_cast<int>(unshifted);
        if (f.virtualKey != 0)
            continue;
        // The layouts' keys with both symbols, else with the unshifted one (only for a key of
        // the typing block: the keypad's parentheses are no punctuation keys); of several
        // that disagree, the one at this key's position, else the first.
        for (bool both : {true, false}) {
            if (!both && f.usVirtualKey == 0)
                break;
            const SymbolKey* chosen = nullptr;
            for (const SymbolKey& k : kSymbolKeys) {
                if (k.unshifted != unshifted || (both && k.shifted != 0 && k.shifted != shifted))
                    continue;
                if (chosen == nullptr ||
                    (chosen->position != key.position && k.position == key.position))
                    chosen = &k;
            }
            if (chosen != nullptr) {
                f.virtualKey = chosen->virtualKey;
                f.basis = both ? Basis::Symbols : Basis::Guess;
                break;
            }
        }
        if (f.virtualKey == 0) {
            f.virtualKey = f.usVirtualKey;
            f.basis = Basis::Position;
        }
    }

    KeymapCodes result;
    result.virtualKeys.assign(keys.size(), 0);
    std::array<std::size_t, 256> owner{}; // key index + 1 of each code given out
    for (Basis basis : {Basis::Fixed, Basis::Symbols, Basis::Position, Basis::Guess}) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const Found& f = found[i];
            if (f.basis != basis || f.virtualKey <= 0 || f.virtualKey > 255)
                continue;
            int code = f.virtualKey;
            if (basis == Basis::Fixed) { // shared where Windows shares them
                result.virtualKeys[i] = code;
                continue;
            }
            if (owner[static_cast<std::size_t>(code)] != 0 && basis == Basis::Guess &&
                f.usVirtualKey != 0 && owner[static_cast<std::size_t>(f.usVirtualKey)] == 0)
                code = f.usVirtualKey;
            std::size_t& taken = owner[static_cast<std::size_t>(code)];
            if (taken != 0) {
                result.collisions.push_back({i, taken - 1, code});
                continue;
            }
            taken = i + 1;
            result.virtualKeys[i] = code;
        }
    }
    return result;
}

} // namespace quindel
