#pragma once

#include "platform/wayland/KdeGlobalShortcuts.h"
#include "platform/xkb/XkbKeymapCodes.h"

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace quindel {

class MainWindow;
struct RuntimeState;

// On KDE Plasma under Wayland, where no program may watch the keyboard: the keys of the loaded
// group are Quindel's global shortcuts (KdeGlobalShortcuts), and a press reaches the window as
// `quindel --trigger CODE` would, without a process. Keys that belong to something else are
// named in the main window's lower display while it is stopped, and on stderr. When Quindel
// ends the shortcuts become inactive: the keys reach other programs again.
class KdeShortcutChannel : public QObject {
  public:
    // Does nothing where KDE's global shortcut service is not on the session bus.
    KdeShortcutChannel(RuntimeState& state, MainWindow& window);
    ~KdeShortcutChannel() override;
    bool active() const { return notifier_ != nullptr; }

    // The loaded group's keys (its actions' keys and the next and prev keys) become the
    // shortcuts; call it whenever the group may have changed.
    void groupChanged();

  private:
    void pressesArrived();

    RuntimeState& state_;
    MainWindow& window_;
    XkbKeymapCodes keymap_;
    KdeGlobalShortcuts shortcuts_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace quindel
