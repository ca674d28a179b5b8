#include "app/KdeShortcutChannel.h"

#include "core/engine/RuntimeState.h"
#include "core/engine/TriggerDispatch.h"
#include "platform/wayland/CompositorKeymap.h"
#include "ui/MainWindow.h"

#include <QLabel>
#include <QSocketNotifier>

#include <cstdio>
#include <vector>

namespace quindel {

KdeShortcutChannel::KdeShortcutChannel(RuntimeState& state, MainWindow& window)
    : state_(state), window_(window) {
    // The service first: without it (any desktop but KDE's) nothing more is asked.
    if (!shortcuts_.open())
        return;
    std::string error;
    const std::string keymap = compositorKeymapText(error);
    if (keymap.empty() || !keymap_.setKeymapText(keymap))
        return;
    notifier_ = new QSocketNotifier(shortcuts_.eventSource(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &KdeShortcutChannel::pressesArrived);
    window_.keysArriveAsShortcuts();
    groupChanged();
}

KdeShortcutChannel::~KdeShortcutChannel() = default;

void KdeShortcutChannel::groupChanged() {
    if (!active())
        return;
    std::vector<int> keys;
    for (const ActionRecord& record : state_.actionTable)
        if (record.triggerKind == 1 && keyCodeFromTrigger(record.triggerCode) != 0)
            keys.push_back(keyCodeFromTrigger(record.triggerCode));
    for (const std::string* code : {&state_.nextTriggerCode, &state_.prevTriggerCode})
        if (keyCodeFromTrigger(*code) != 0)
            keys.push_back(keyCodeFromTrigger(*code));
    const std::vector<KdeGlobalShortcuts::Taken> taken = shortcuts_.setKeys(keys, keymap_);
    if (taken.empty())
        return;
    std::string names;
    for (const KdeGlobalShortcuts::Taken& key : taken)
        names += (names.empty() ? "" : ", ") + keymap_.keyName(key.virtualKey) +
                 (key.owner.empty() ? "" : " (" + key.owner + ")");
    const std::string notice = state_.texts.keysTakenMessage + names;
    std::fprintf(stderr, "Quindel: %s\n", notice.c_str());
    if (!state_.isRunning)
        window_.descriptionDisplay->setText(QString::fromStdString(notice));
}

void KdeShortcutChannel::pressesArrived() {
    for (const int key : shortcuts_.takePresses())
        window_.commandTriggerArrived(std::to_string(key));
    // The notifier stays readable until the bus is read; takePresses read it.
}

} // namespace quindel
