#pragma once

#include <string>
#include <vector>

struct sd_bus;
struct sd_bus_slot;

namespace quindel {

class XkbKeymapCodes;

// Keys as global shortcuts of Quindel through KDE's global shortcut service
// (org.kde.kglobalaccel on the session bus, which KWin runs on Wayland): each key trigger is an
// action of the component "quindel" whose shortcut is its key, so the user sees and can change
// it in System Settings, and a press arrives as a signal, with no process started. Only that
// component is ever registered or changed.
class KdeGlobalShortcuts {
  public:
    KdeGlobalShortcuts() = default;
    ~KdeGlobalShortcuts();
    KdeGlobalShortcuts(const KdeGlobalShortcuts&) = delete;
    KdeGlobalShortcuts& operator=(const KdeGlobalShortcuts&) = delete;

    // Connects to the session bus; false, with errorText(), when the service is not there.
    bool open();
    const std::string& errorText() const { return error_; }
    // The bus connection's descriptor, readable when a press (or anything else) arrived.
    int eventSource() const;

    // A key that the user gave to something else: its trigger code and the owner's name.
    struct Taken {
        int virtualKey = 0;
        std::string owner;
    };
    // Makes the shortcuts exactly the keys of these trigger codes, named by keymap; the
    // shortcuts of codes no longer given are removed. A key that the user moved to another key
    // in System Settings keeps the user's key. Keys the keymap cannot name are left out.
    // Answers the keys that belong to something else.
    std::vector<Taken> setKeys(const std::vector<int>& virtualKeys, const XkbKeymapCodes& keymap);
    // Handles what has arrived, without waiting, and gives the trigger codes of the presses, in
    // their order.
    std::vector<int> takePresses();
    // The shortcuts become inactive, as when a program that has them ends: their keys reach
    // the focused program again, and they stay listed (their keys kept for Quindel).
    void release();

    // The key code of KDE's shortcuts (Qt's key numbers) of the key that has this trigger code
    // in keymap: 0 when it has none (no key has it, or a modifier alone).
    static int shortcutKey(int virtualKey, const XkbKeymapCodes& keymap);

  private:
    friend struct KdeShortcutSignals;

    sd_bus* bus_ = nullptr;
    sd_bus_slot* pressedSlot_ = nullptr;
    std::vector<int> registered_; // trigger codes with an action of ours
    std::vector<int> presses_;
    std::string error_;
};

} // namespace quindel
