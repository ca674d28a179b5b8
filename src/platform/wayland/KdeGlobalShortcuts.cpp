#include "platform/wayland/KdeGlobalShortcuts.h"

#include "platform/xkb/XkbKeymapCodes.h"

#include <systemd/sd-bus.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <string>
#include <utility>

namespace quindel {

namespace {

constexpr const char* kService = "org.kde.kglobalaccel";
constexpr const char* kPath = "/kglobalaccel";
constexpr const char* kInterface = "org.kde.KGlobalAccel";
constexpr const char* kComponent = "quindel";
constexpr const char* kComponentName = "Quindel";
constexpr const char* kActionPrefix = "trigger-";

// Flags of setShortcut: the keys are the defaults; the action is there (its keys are grabbed);
// the keys are set as given even when the service stored others for the action.
constexpr uint32_t kIsDefault = 8;
constexpr uint32_t kSetPresent = 2;
constexpr uint32_t kNoAutoloading = 4;

// Qt's numbers for keys that are no characters, which the service's shortcuts are made of.
constexpr int kKeypad = 0x20000000;
struct NamedKey {
    uint32_t keysym;
    int key;
};
constexpr NamedKey kNamedKeys[] = {
    {XKB_KEY_Escape, 0x01000000},
    {XKB_KEY_Tab, 0x01000001},
    {XKB_KEY_BackSpace, 0x01000003},
    {XKB_KEY_Return, 0x01000004},
    {XKB_KEY_KP_Enter, 0x01000005},
    {XKB_KEY_Insert, 0x01000006},
    {XKB_KEY_Delete, 0x01000007},
    {XKB_KEY_Pause, 0x01000008},
    {XKB_KEY_Print, 0x01000009},
    {XKB_KEY_Home, 0x01000010},
    {XKB_KEY_End, 0x01000011},
    {XKB_KEY_Left, 0x01000012},
    {XKB_KEY_Up, 0x01000013},
    {XKB_KEY_Right, 0x01000014},
    {XKB_KEY_Down, 0x01000015},
    {XKB_KEY_Prior, 0x01000016},
    {XKB_KEY_Next, 0x01000017},
    {XKB_KEY_Caps_Lock, 0x01000024},
    {XKB_KEY_Num_Lock, 0x01000025},
    {XKB_KEY_Scroll_Lock, 0x01000026},
    {XKB_KEY_Menu, 0x01000055},
    {XKB_KEY_KP_Multiply, kKeypad | '*'},
    {XKB_KEY_KP_Add, kKeypad | '+'},
    {XKB_KEY_KP_Subtract, kKeypad | '-'},
    {XKB_KEY_KP_Decimal, kKeypad | '.'},
    {XKB_KEY_KP_Divide, kKeypad | '/'},
};

std::string actionName(int virtualKey) {
    return kActionPrefix + std::to_string(virtualKey);
}

// Appends the service's four names of an action: component, action, and what a person reads.
int appendActionId(sd_bus_message* m, const std::string& action, const std::string& shownName) {
    return sd_bus_message_append(m, "as", 4, kComponent, action.c_str(), kComponentName,
                                 shownName.c_str());
}

} // namespace

struct KdeShortcutSignals {
    static int pressed(sd_bus_message* m, void* data, sd_bus_error*) {
        const char* component = nullptr;
        const char* action = nullptr;
        int64_t timestamp = 0;
        if (sd_bus_message_read(m, "ssx", &component, &action, &timestamp) < 0 ||
            std::string(component) != kComponent)
            return 0;
        const std::string name = action;
        if (name.rfind(kActionPrefix, 0) == 0)
            static_cast<KdeGlobalShortcuts*>(data)->presses_.push_back(
                std::atoi(name.c_str() + std::char_traits<char>::length(kActionPrefix)));
        return 0;
    }
};

KdeGlobalShortcuts::~KdeGlobalShortcuts() {
    if (bus_ != nullptr) {
        release();
        sd_bus_flush(bus_);
        sd_bus_slot_unref(pressedSlot_);
        sd_bus_flush_close_unref(bus_);
    }
}

bool KdeGlobalShortcuts::open() {
    if (sd_bus_open_user(&bus_) < 0) {
        bus_ = nullptr;
        error_ = "no session bus";
        return false;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int has = 0;
    if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s",
                           kService) < 0 ||
        sd_bus_message_read(reply, "b", &has) < 0 || !has) {
        error_ = "no KDE global shortcut service on the session bus";
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        sd_bus_flush_close_unref(bus_), bus_ = nullptr;
        return false;
    }
    sd_bus_message_unref(reply);
    const std::string component = std::string("/component/") + kComponent;
    if (sd_bus_match_signal(bus_, &pressedSlot_, nullptr, component.c_str(),
                            "org.kde.kglobalaccel.Component", "globalShortcutPressed",
                            &KdeShortcutSignals::pressed, this) < 0) {
        error_ = "the global shortcut service's presses cannot be received";
        sd_bus_flush_close_unref(bus_), bus_ = nullptr;
        return false;
    }
    return true;
}

int KdeGlobalShortcuts::eventSource() const {
    return bus_ != nullptr ? sd_bus_get_fd(bus_) : -1;
}

int KdeGlobalShortcuts::shortcutKey(int virtualKey, const XkbKeymapCodes& keymap) {
    const uint32_t sym = keymap.keysym(virtualKey);
    if (sym == 0)
        return 0;
    for (const NamedKey& named : kNamedKeys)
        if (named.keysym == sym)
            return named.key;
    if (sym >= XKB_KEY_F1 && sym <= XKB_KEY_F35)
        return 0x01000030 + int(sym - XKB_KEY_F1);
    if (sym >= XKB_KEY_KP_0 && sym <= XKB_KEY_KP_9)
        return kKeypad | int('0' + (sym - XKB_KEY_KP_0));
    if (sym >= 0xff00 && sym <= 0xffff)
        return 0; // modifiers and other keys that stand for no character
    // A character key is the upper case of its character, as Qt numbers letters.
    const uint32_t character = xkb_keysym_to_utf32(xkb_keysym_to_upper(sym));
    return character > ' ' ? int(character) : sym == XKB_KEY_space ? ' ' : 0;
}

std::vector<KdeGlobalShortcuts::Taken>
KdeGlobalShortcuts::setKeys(const std::vector<int>& virtualKeys, const XkbKeymapCodes& keymap) {
    std::vector<Taken> taken;
    if (bus_ == nullptr)
        return taken;
    const auto callAction = [this](const char* member, const std::string& action,
                                   const std::string& shown, const int* key, uint32_t flags,
                                   sd_bus_message** reply) {
        sd_bus_message* m = nullptr;
        sd_bus_error error = SD_BUS_ERROR_NULL;
        int r = sd_bus_message_new_method_call(bus_, &m, kService, kPath, kInterface, member);
        if (r >= 0)
            r = appendActionId(m, action, shown);
        if (r >= 0 && key != nullptr)
            r = sd_bus_message_append_array(m, 'i', key, sizeof *key);
        if (r >= 0 && key != nullptr)
            r = sd_bus_message_append(m, "u", flags);
        if (r >= 0)
            r = sd_bus_call(bus_, m, 0, &error, reply);
        sd_bus_error_free(&error);
        sd_bus_message_unref(m);
        return r >= 0;
    };
    std::vector<int> registered;
    for (const int virtualKey : virtualKeys) {
        const int key = shortcutKey(virtualKey, keymap);
        if (key == 0 ||
            std::find(registered.begin(), registered.end(), virtualKey) != registered.end())
            continue;
        const std::string action = actionName(virtualKey);
        const std::string shown =
            keymap.keyName(virtualKey) + " (" + std::to_string(virtualKey) + ")";
        sd_bus_message* reply = nullptr;
        if (!callAction("doRegister", action, shown, nullptr, 0, nullptr) ||
            !callAction("setShortcut", action, shown, &key, kIsDefault | kNoAutoloading, nullptr) ||
            !callAction("setShortcut", action, shown, &key, kSetPresent, &reply))
            continue;
        registered.push_back(virtualKey);
        // The keys the action has now: none when its key belongs to another.
        const void* keys = nullptr;
        size_t size = 0;
        const bool hasKey = sd_bus_message_read_array(reply, 'i', &keys, &size) >= 0 &&
                            std::any_of(static_cast<const int*>(keys),
                                        static_cast<const int*>(keys) + size / sizeof(int),
                                        [](int k) { return k != 0; });
        sd_bus_message_unref(reply);
        if (hasKey)
            continue;
        Taken owner{virtualKey, {}};
        sd_bus_error error = SD_BUS_ERROR_NULL;
        if (sd_bus_call_method(bus_, kService, kPath, kInterface, "getGlobalShortcutsByKey", &error,
                               &reply, "i", key) >= 0 &&
            sd_bus_message_enter_container(reply, 'a', "(ssssssaiai)") >= 0) {
            const char *action = nullptr, *actionShown = nullptr, *component = nullptr,
                       *componentShown = nullptr, *context = nullptr, *contextShown = nullptr;
            while (sd_bus_message_enter_container(reply, 'r', "ssssssaiai") > 0) {
                sd_bus_message_read(reply, "ssssss", &action, &actionShown, &component,
                                    &componentShown, &context, &contextShown);
                sd_bus_message_skip(reply, "aiai");
                sd_bus_message_exit_container(reply);
                if (owner.owner.empty() && std::string(component) != kComponent)
                    owner.owner = std::string(componentShown) + ": " + actionShown;
            }
        }
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        taken.push_back(std::move(owner));
    }
    for (const int old : registered_)
        if (std::find(registered.begin(), registered.end(), old) == registered.end())
            sd_bus_call_method(bus_, kService, kPath, kInterface, "unregister", nullptr, nullptr,
                               "ss", kComponent, actionName(old).c_str());
    registered_ = std::move(registered);
    return taken;
}

std::vector<int> KdeGlobalShortcuts::takePresses() {
    if (bus_ != nullptr)
        while (sd_bus_process(bus_, nullptr) > 0) {
        }
    return std::exchange(presses_, {});
}

void KdeGlobalShortcuts::release() {
    for (const int virtualKey : registered_) {
        sd_bus_message* m = nullptr;
        if (sd_bus_message_new_method_call(bus_, &m, kService, kPath, kInterface, "setInactive") >=
                0 &&
            appendActionId(m, actionName(virtualKey), "") >= 0)
            sd_bus_send(bus_, m, nullptr);
        sd_bus_message_unref(m);
    }
    registered_.clear();
}

} // namespace quindel
