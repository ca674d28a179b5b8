#include "app/TriggerChannel.h"

#include "ui/MainWindow.h"
#include "command/TriggerCommand.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace quindel {

TriggerChannel::TriggerChannel(std::unique_ptr<TriggerListener> listener, MainWindow& window)
    : listener_(std::move(listener)), window_(window) {
    if (!listener_ || listener_->listenFd() < 0) // holds the lock only
        return;
    auto* listening = new QSocketNotifier(listener_->listenFd(), QSocketNotifier::Read, this);
    connect(listening, &QSocketNotifier::activated, this, &TriggerChannel::service);
    deadline_ = new QTimer(this);
    deadline_->setSingleShot(true);
    connect(deadline_, &QTimer::timeout, this, &TriggerChannel::service);
    // Requests sent while the program was starting wait in the socket's backlog.
    service();
}

TriggerChannel::~TriggerChannel() = default;

void TriggerChannel::service() {
    listener_->service(
        [this](const std::string& request) {
            return answerChannelRequest(
                request,
                [this](const std::string& text) { return window_.commandTriggerArrived(text); },
                [this](const std::string& token) { window_.bringToFront(token); });
        },
        [this](const std::string& answer) {
            // The sender reports a failure: the trigger must not fire behind its back.
            if (answerTookTrigger(answer))
                window_.withdrawCommandTrigger();
        });
    // The listener has closed the sockets of finished clients: their notifiers stop before the
    // event loop could poll a closed descriptor, and go once they have returned.
    for (QSocketNotifier* notifier : clients_) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    clients_.clear();
    for (int fd : listener_->clientFds()) {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &TriggerChannel::service);
        clients_.push_back(notifier);
    }
    if (const auto due = listener_->nextDeadline()) {
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(*due - TriggerListener::Clock::now());
        deadline_->start(static_cast<int>(std::max<long long>(0, wait.count())) + 1);
    } else {
        deadline_->stop();
    }
}

} // namespace quindel
