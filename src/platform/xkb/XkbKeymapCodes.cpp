#include "platform/xkb/XkbKeymapCodes.h"

#include "platform/x11/KeyTable.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <string>

namespace quindel {

namespace {

// Trigger codes of keys are below this, as on X11.
constexpr int kCodes = 256;

// The first keysym of one level of the first layout (a second layout would let one key stand
// for two letters), 0 for none.
uint32_t keysymAt(xkb_keymap* keymap, xkb_keycode_t keycode, xkb_level_index_t level) {
    const xkb_keysym_t* syms = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, level, &syms);
    return count > 0 ? syms[0] : 0;
}

} // namespace

XkbKeymapCodes::XkbKeymapCodes() : context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {}

XkbKeymapCodes::~XkbKeymapCodes() {
    if (context_ != nullptr)
        xkb_context_unref(context_);
}

bool XkbKeymapCodes::setKeymapText(std::string_view text) {
    if (context_ == nullptr)
        return false;
    // The compositor's text ends in a NUL byte that is no part of the keymap.
    while (!text.empty() && text.back() == '\0')
        text.remove_suffix(1);
    xkb_keymap* keymap = xkb_keymap_new_from_buffer(
        context_, text.data(), text.size(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap == nullptr)
        return false;
    takeKeymap(keymap);
    return true;
}

bool XkbKeymapCodes::setKeymapNames(const char* layout, const char* variant) {
    if (context_ == nullptr)
        return false;
    const xkb_rule_names names{"evdev", "pc105", layout, variant, ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap == nullptr)
        return false;
    takeKeymap(keymap);
    return true;
}

void XkbKeymapCodes::takeKeymap(xkb_keymap* keymap) {
    const xkb_keycode_t first = xkb_keymap_min_keycode(keymap);
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap);
    std::vector<KeymapKey> keys;
    for (xkb_keycode_t keycode = first; keycode <= last; ++keycode) {
        KeymapKey key;
        const char* name = xkb_keymap_key_get_name(keymap, keycode);
        key.position = name != nullptr ? std::string_view(name) : positionOfKeycode(int(keycode));
        key.unshifted = keysymAt(keymap, keycode, 0);
        key.shifted = keysymAt(keymap, keycode, 1);
        if (key.shifted == 0 && key.unshifted != 0) {
            // A lone letter stands for its lower and upper case.
            const uint32_t upper = xkb_keysym_to_upper(key.unshifted);
            key.shifted = upper != key.unshifted ? upper : 0;
        }
        keys.push_back(key);
    }
    const KeymapCodes found = keymapVirtualKeys(keys);
    for (const KeyCollision& c : found.collisions)
        std::fprintf(stderr,
                     "quindel: warning: the key of keycode %u gets no trigger code: its code %d "
                     "is that of keycode %u\n",
                     first + unsigned(c.key), c.virtualKey, first + unsigned(c.earlier));
    codes_.assign(last + 1, 0);
    codeKeysyms_.assign(kCodes, 0);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const int code = found.virtualKeys[i];
        if (code > 0 && code < kCodes && codeKeysyms_[code] == 0)
            codeKeysyms_[code] = keys[i].unshifted;
        const int generic = genericVirtualKey(code);
        codes_[first + i] = generic != 0 ? generic : code;
    }
    xkb_keymap_unref(keymap);
}

int XkbKeymapCodes::virtualKey(unsigned keycode) const {
    return keycode < codes_.size() ? codes_[keycode] : 0;
}

std::string XkbKeymapCodes::keyName(int virtualKey) const {
    if (virtualKey <= 0 || virtualKey >= kCodes || codeKeysyms_.empty())
        return {};
    return keyNameOf(virtualKey, codeKeysyms_[virtualKey]);
}

uint32_t XkbKeymapCodes::keysym(int virtualKey) const {
    if (virtualKey <= 0 || virtualKey >= kCodes || codeKeysyms_.empty())
        return 0;
    return codeKeysyms_[virtualKey];
}

std::string XkbKeymapCodes::keysymName(int virtualKey) const {
    char name[64];
    const uint32_t sym = keysym(virtualKey);
    return sym != 0 && xkb_keysym_get_name(sym, name, sizeof name) > 0 ? name : "";
}

} // namespace quindel
