#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct xkb_context;
struct xkb_keymap;

namespace quindel {

// Trigger codes of the keys of an xkbcommon keymap, by the same rules as the X11 key table: a
// Wayland compositor hands its clients the keymap as text, and a key captured there must get
// the code the same layout gives on X11.
class XkbKeymapCodes {
  public:
    XkbKeymapCodes();
    ~XkbKeymapCodes();
    XkbKeymapCodes(const XkbKeymapCodes&) = delete;
    XkbKeymapCodes& operator=(const XkbKeymapCodes&) = delete;

    // Takes a keymap in xkb text form (as wl_keyboard's keymap event delivers it); false, with
    // the codes left as they were, when the text is no keymap.
    bool setKeymapText(std::string_view text);
    // Takes the keymap that xkb's rules make of these names (as setxkbmap would on X11).
    bool setKeymapNames(const char* layout, const char* variant = "");
    // True once a keymap was taken.
    bool hasKeymap() const { return !codes_.empty(); }

    // The code of an xkb keycode (the evdev code + 8, Qt's native scan code on Wayland); a
    // modifier gives its generic code (16, 17, 18); 0 when the key has none.
    int virtualKey(unsigned keycode) const;
    // The name of the key that has this code, as X11Platform names it for the same keymap
    // ("F5", "Y", "è"); empty when it cannot be told.
    std::string keyName(int virtualKey) const;
    // The unshifted keysym of the key that has this code; 0 when no key has it.
    uint32_t keysym(int virtualKey) const;
    // The xkb name of the unshifted keysym of the key that has this code, as a compositor's
    // key bindings name keys ("F5", "y", "egrave"); empty when no key has it.
    std::string keysymName(int virtualKey) const;

  private:
    void takeKeymap(xkb_keymap* keymap);

    xkb_context* context_ = nullptr;
    std::vector<int> codes_; // by keycode
    // The unshifted keysym of the first key of each code (0 for none), which names the code.
    std::vector<uint32_t> codeKeysyms_;
};

} // namespace quindel
