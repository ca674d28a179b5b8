#pragma once

#include "command/TriggerSocket.h"

#include <QObject>

#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace quindel {

class MainWindow;

// Serves the running instance's channel on the UI thread: `quindel --trigger CODE` reaches
// window as a trigger that has just arrived, a second start brings window to the front. The
// event loop watches the listening socket and each client still sending, and a timer drops
// clients past their deadline, so a slow or silent client never holds the window up.
class TriggerChannel : public QObject {
  public:
    // Does nothing without a listener, or with one that holds only the lock (no socket).
    TriggerChannel(std::unique_ptr<TriggerListener> listener, MainWindow& window);
    ~TriggerChannel() override;

  private:
    void service();

    std::unique_ptr<TriggerListener> listener_;
    MainWindow& window_;
    std::vector<QSocketNotifier*> clients_;
    QTimer* deadline_ = nullptr;
};

} // namespace quindel
