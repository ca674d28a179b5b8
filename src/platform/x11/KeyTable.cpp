#include "platform/x11/KeyTable.h"

#include <array>
#include <unordered_map>

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

} // namespace quindel
