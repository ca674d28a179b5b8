#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// The code of a keysym; 0 when the keysym names no key of the table. Letters, digits and
// punctuation give the codes of a US layout; keymapVirtualKeys gives those of the keymap.
int virtualKeyFromKeysym(uint32_t keysym);

// The keysym of a code; 0 (NoSymbol) when the code names no key of the table. The generic
// Shift, Ctrl and Alt codes give the left-hand key.
uint32_t keysymFromVirtualKey(int virtualKey);

// The generic code (16 Shift, 17 Ctrl, 18 Alt) of a left- or right-hand modifier code
// (160 to 165); 0 for every other code.
int genericVirtualKey(int sidedVirtualKey);

// A key of the keymap: where it sits (its XKB key name, "AE01" for the key of digit 1 on most
// layouts, empty when unknown) and the keysyms of its first two levels, unshifted and shifted
// (0 for none).
struct KeymapKey {
    std::string_view position;
    uint32_t unshifted = 0;
    uint32_t shifted = 0;
};

// A key that gets no code because an earlier key of the keymap has it: indexes into the keys.
struct KeyCollision {
    std::size_t key;
    std::size_t earlier;
    int virtualKey;
};

struct KeymapCodes {
    std::vector<int> virtualKeys; // one per key, 0 for none
    std::vector<KeyCollision> collisions;
};

// The code of every key of a keymap, as Windows gives it on that layout. Function, editing,
// keypad and modifier keys keep their fixed codes (Return and keypad Enter share 13, as there).
// The number row gives 48-57 by the digit on either level, letters 65-90 by the letter typed;
// punctuation and accented keys take the code that the known layouts (US, UK, German, French,
// Spanish, Italian) give their two symbols, the key's position deciding between layouts that
// disagree. A key of the typing block that no layout knows with both symbols takes the code of
// its unshifted symbol if one is known, else that of its position on a US keyboard. No two of
// these keys share a code: keys known by both symbols choose first, then keys known by position
// alone, then the rest (which fall back to their position's code); within each, in keymap
// order. A key whose code is already taken gets none and is listed as a collision.
KeymapCodes keymapVirtualKeys(std::span<const KeymapKey> keys);

// The name of a key as its keycap reads, from its code and the unshifted keysym of the key
// that has the code on the keymap: a fixed name for function, editing, keypad, modifier and
// media keys ("F5", "Esc", "Right", "Num 7"), the digit or letter of 48-57 and 65-90, and for
// the punctuation and accented keys the character of that keysym ("è"; a dead accent is its
// accent). Empty when none of these is known.
std::string keyNameOf(int virtualKey, uint32_t unshiftedKeysym);

// The XKB key name of the typing-block key at this keycode in the usual (evdev) numbering;
// empty for other keycodes.
std::string_view positionOfKeycode(int keycode);

} // namespace quindel
