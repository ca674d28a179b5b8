// Taking a click point where no program may read the pointer, under headless compositors with
// two outputs side by side (the first 1280 pixels wide): the backend's layer-shell overlay on
// sway and KWin, the windows of ScreenPointPicker on Mutter. A second connection clicks at
// known points through the compositor's input protocol, and the probe client, whose windows lie
// below, reports any press that gets past the capture.
#include <gtest/gtest.h>

#include "core/engine/PointerOutput.h"
#include "platform/wayland/WaylandPlatform.h"
#include "support/WaylandProbe.h"
#include "ui/ScreenPointPicker.h"

#include <QApplication>
#include <QFile>
#include <QWidget>
#include <QWindow>
#include <QScreen>

#include <poll.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace quindel {
namespace {

using Outcome = std::optional<std::optional<ScreenPoint>>;

// Handles the events of both connections until the capture decided, for at most 5 s.
bool waitForOutcome(Platform& capturer, const Outcome& outcome) {
    using namespace std::chrono;
    const auto end = steady_clock::now() + seconds(5);
    while (!outcome && steady_clock::now() < end) {
        pollfd events{capturer.desktopEventSource(), POLLIN, 0};
        ::poll(&events, 1, 5);
        capturer.handleDesktopEvents();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return outcome.has_value();
}

// KWin lets only programs whose desktop entry names its fake input send input.
void allowFakeInput() {
    QFile entry(qEnvironmentVariable("QUINDEL_TEST_APPLICATIONS") + "/quindel-test.desktop");
    if (!qEnvironmentVariableIsEmpty("QUINDEL_TEST_APPLICATIONS") &&
        entry.open(QIODevice::WriteOnly))
        entry.write("[Desktop Entry]\nType=Application\nName=Quindel test\nExec=" +
                    QCoreApplication::applicationFilePath().toUtf8() +
                    "\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n");
}

// The capture the session offers: the backend's overlay where there is one, else the picker's
// windows, shown once each is on the screen.
class Capture {
  public:
    explicit Capture(WaylandPlatform& backend) : backend_(backend) {}
    ~Capture() { backend_.cancelPointCapture(); }
    bool begin() {
        outcome_.reset();
        if (backend_.beginPointCapture([this](std::optional<ScreenPoint> p) { outcome_ = p; }))
            return true;
        if (qEnvironmentVariable("QUINDEL_TEST_COMPOSITOR") != "mutter")
            return false; // sway and KWin must have the overlay
        picker_ = std::make_unique<ScreenPointPicker>();
        QObject::connect(picker_.get(), &ScreenPointPicker::finished,
                         [this](std::optional<QPoint> p) {
                             outcome_.emplace();
                             if (p)
                                 outcome_->emplace(ScreenPoint{p->x(), p->y()});
                         });
        picker_->start();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!allExposed() && std::chrono::steady_clock::now() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return allExposed();
    }
    const Outcome& outcome() const { return outcome_; }

  private:
    static bool allExposed() {
        int exposed = 0;
        {
            const auto e2 = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
            while (std::chrono::steady_clock::now() < e2)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        }
        for (QWidget* w : QApplication::topLevelWidgets())
            exposed += w->objectName() == "pointPicker" && w->windowHandle()->isExposed();
        return exposed == 2;
    }
    WaylandPlatform& backend_;
    std::unique_ptr<ScreenPointPicker> picker_;
    Outcome outcome_;
};

TEST(PointCapture, ClicksOnEitherOutputGiveTheirExactPointAndNeverReachTheWindowBelow) {
    allowFakeInput();
    WaylandProbe probe(QUINDEL_WAYLAND_PROBE);
    ASSERT_EQ(probe.next("ready"), "ready 2");
    WaylandPlatform capturer, clicker;
    ASSERT_TRUE(clicker.canClick()) << clicker.errorText();
    // Mutter's seat has a pointer only once the first motion of a session was taken.
    movePointerTo(clicker, 640, 512);
    ASSERT_FALSE(probe.next("pointer").empty());
    Capture capture(capturer);

    const ScreenPoint points[] = {{123, 457}, {1280 + 300, 400}, {0, 0}, {1280 + 799, 599}};
    for (int round = 0; round < 2; ++round) {
        for (const ScreenPoint& p : points) {
            SCOPED_TRACE(std::to_string(p.x) + "," + std::to_string(p.y));
            ASSERT_TRUE(capture.begin());
            movePointerTo(clicker, p.x, p.y);
            clickPointer(clicker, 0);
            ASSERT_TRUE(waitForOutcome(capturer, capture.outcome()));
            ASSERT_TRUE(*capture.outcome()) << "a left click cancelled the capture";
            EXPECT_EQ((std::pair{capture.outcome()->value().x, capture.outcome()->value().y}),
                      (std::pair{p.x, p.y}));
            EXPECT_EQ(probe.next("press", 300), "") << "the click reached the window below";
        }
    }

    // A right click cancels, and reaches nobody either.
    ASSERT_TRUE(capture.begin());
    movePointerTo(clicker, 700, 300);
    clickPointer(clicker, 1);
    ASSERT_TRUE(waitForOutcome(capturer, capture.outcome()));
    EXPECT_FALSE(*capture.outcome());
    EXPECT_EQ(probe.next("press", 300), "");

    // Once the capture is over nothing of it is left in the way.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    capturer.handleDesktopEvents();
    movePointerTo(clicker, 900, 100);
    clickPointer(clicker, 0);
    EXPECT_EQ(probe.next("press"), "press 900 100 272");
}

} // namespace
} // namespace quindel
