#pragma once

#include <cstdint>
#include <span>

namespace quindel {

// Trigger codes of keyboard keys are Windows virtual-key codes, so group files work the same
// on every system. This table translates between X keysyms and those codes.
struct KeyTableEntry {
    uint32_t keysym;
    int virtualKey;
};

// The one-to-one part of the table: every entry maps its keysym to its code and back.
std::span<const KeyTableEntry> keyTable();

// Keysyms that only map towards a code: lower-case letters, the shifted symbols of a US
// layout, keypad keys with Num Lock off, and other names of the same key.
std::span<const KeyTableEntry> keyTableAliases();

// The code of a keysym; 0 when the keysym names no key of the table.
int virtualKeyFromKeysym(uint32_t keysym);

// The keysym of a code; 0 (NoSymbol) when the code names no key of the table. The generic
// Shift, Ctrl and Alt codes give the left-hand key.
uint32_t keysymFromVirtualKey(int virtualKey);

// The generic code (16 Shift, 17 Ctrl, 18 Alt) of a left- or right-hand modifier code
// (160 to 165); 0 for every other code.
int genericVirtualKey(int sidedVirtualKey);

} // namespace quindel
