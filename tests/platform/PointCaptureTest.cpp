// Taking a click point where no program may read the pointer, under headless compositors: the
// backend's layer-shell overlay on sway and KWin, the windows of ScreenPointPicker as the
// backend's screen cover on Mutter. A second connection clicks at known points through the
// compositor's input protocol, and the probe client, whose windows lie below, reports where
// presses land and any press that gets past the capture.
//
//   platform_point_capture [--points "X,Y X,Y ..."] [--scale S] [--logical-per-click F]
//                          [--tolerance T]
// The points, on the outputs, of the click space (whose top left corner is 0,0) for the round
// trip. S: the first output's scale, which the compositor must have given it. F: the probe's
// logical pixels per pixel of the click space on a single output at the origin (1/2 on Mutter at
// scale 2 in its physical layout mode), which ties the round trip to the pixel the user pointed at;
// without it only the round trip itself is checked. T: how many pixels a point may be off at a
// fractional scale, where a logical pixel is no whole number of the output's pixels.
#include <gtest/gtest.h>

#include "core/engine/PointerOutput.h"
#include "platform/wayland/WaylandPlatform.h"
#include "support/WaylandProbe.h"
#include "ui/ScreenPointPicker.h"

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>
#include <optional>
#include <set>
#include <string>

namespace quindel {
namespace {

std::vector<ScreenPoint> roundTripPoints;
double outputScale = 0;     // 0: not checked
double logicalPerClick = 0; // 0: not known for this setup
double tolerance = 0;

using Outcome = std::optional<std::optional<ScreenPoint>>;

// Handles the events of both connections until the capture decided, for at most 30 s.
bool waitForOutcome(Platform& capturer, const Outcome& outcome) {
    using namespace std::chrono;
    const auto end = steady_clock::now() + seconds(30);
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

// The cover's windows that Qt has reported exposed. Qt also takes a window's exposure back for
// as long as the compositor is late with a frame (100 ms), which on a loaded machine says
// nothing about whether the window is shown: that a press reaches it, and nothing below, is
// what tells.
class ExposedCover : public QObject {
  public:
    ExposedCover() { QCoreApplication::instance()->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose)
            if (auto* window = qobject_cast<QWindow*>(watched);
                window != nullptr && window->objectName() == "pointPicker" && window->isExposed())
                windows.insert(window);
        return false;
    }
    std::set<const QWindow*> windows;
};

// The backend's one way of taking a point, once what it shows is on every screen.
class Capture {
  public:
    explicit Capture(Platform& backend) : backend_(backend) { backend_.setScreenCover(&cover_); }
    ~Capture() { backend_.cancelPointCapture(); }
    ::testing::AssertionResult begin() {
        outcome_.reset();
        exposed_.windows.clear();
        if (!backend_.beginPointCapture([this](std::optional<ScreenPoint> p) { outcome_ = p; }))
            return ::testing::AssertionFailure() << "no capture: " << backend_.errorText();
        // The cover's windows (Mutter) take a moment to be shown; the overlay is up already.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!coverShown() && std::chrono::steady_clock::now() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (coverShown())
            return ::testing::AssertionSuccess();
        auto failure = ::testing::AssertionFailure() << "the cover is not on every screen:";
        for (const QWindow* w : coverWindows())
            failure << " [" << w->screen()->name().toStdString() << " "
                    << (exposed_.windows.count(w) ? "exposed" : "never exposed") << "]";
        for (const QScreen* s : QGuiApplication::screens())
            failure << " screen " << s->name().toStdString();
        return failure;
    }
    const Outcome& outcome() const { return outcome_; }

  private:
    static std::vector<const QWindow*> coverWindows() {
        std::vector<const QWindow*> windows;
        for (const QWindow* w : QGuiApplication::topLevelWindows())
            if (w->objectName() == "pointPicker" && w->isVisible())
                windows.push_back(w);
        return windows;
    }
    bool coverShown() const {
        if (qEnvironmentVariable("QUINDEL_TEST_COMPOSITOR") != "mutter")
            return true;
        const auto settled = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        while (std::chrono::steady_clock::now() < settled)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        const auto windows = coverWindows();
        return static_cast<qsizetype>(windows.size()) == QGuiApplication::screens().size() &&
               std::all_of(windows.begin(), windows.end(),
                           [this](const QWindow* w) { return exposed_.windows.count(w) > 0; });
    }
    ExposedCover exposed_;
    Platform& backend_;
    ScreenPointPicker cover_;
    Outcome outcome_;
};

// A click through the clicker's input protocol, and where the probe saw its press.
std::optional<std::pair<int, int>> clickSeenAt(Platform& clicker, WaylandProbe& probe,
                                               ScreenPoint p) {
    movePointerTo(clicker, p.x, p.y);
    clickPointer(clicker, 0);
    int x = 0, y = 0, button = 0;
    if (std::sscanf(probe.next("press").c_str(), "press %d %d %d", &x, &y, &button) != 3)
        return std::nullopt;
    return std::pair{x, y};
}

// The probe's windows on every output, then the two connections, whose pointer device the probe
// has seen. The capturing one is the program's: the backend of the kind Qt's platform name
// gives, whatever the name of Qt's Wayland plugin ("wayland-egl" in one setup).
class PointCapture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), qEnvironmentVariable("QT_QPA_PLATFORM"));
        allowFakeInput();
        ASSERT_FALSE(probe.next("ready").empty());
        connections.emplace();
        WaylandPlatform& clicker = connections->clicker;
        ASSERT_TRUE(clicker.canClick()) << clicker.errorText();
        // Mutter's seat has a pointer only once the first motion of a session was taken.
        movePointerTo(clicker, 20, 20);
        ASSERT_FALSE(probe.next("pointer").empty());
    }
    WaylandProbe probe{QUINDEL_WAYLAND_PROBE};
    struct Connections {
        std::unique_ptr<Platform> program =
            createPlatform(platformKindFor(QGuiApplication::platformName().toStdString()));
        Platform& capturer = *program;
        WaylandPlatform clicker;
        Capture capture{capturer};
    };
    std::optional<Connections> connections;
};

// Any outputs at any scales: a point pressed is stored, the press reaches no window below, the
// point's click lands on the pixel where the press was (within a pixel at a fractional scale),
// and taking that click again gives the same point, round after round. A right click cancels.
TEST_F(PointCapture, APointTakenIsClickedWhereItWasPressedRoundAfterRound) {
    auto& [program, capturer, clicker, capture] = *connections;
    ASSERT_FALSE(roundTripPoints.empty()) << "no --points";
    // Qt draws at the next whole scale of a fractional one.
    if (outputScale > 0) {
        ASSERT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), std::ceil(outputScale));
    }
    for (const ScreenPoint pressed : roundTripPoints) {
        SCOPED_TRACE(std::to_string(pressed.x) + "," + std::to_string(pressed.y));
        // Where a press at that point lands, as the window there sees it.
        const auto landed = clickSeenAt(clicker, probe, pressed);
        ASSERT_TRUE(landed);
        if (logicalPerClick > 0 && QGuiApplication::screens().size() == 1) {
            EXPECT_NEAR(landed->first, pressed.x * logicalPerClick, 1);
            EXPECT_NEAR(landed->second, pressed.y * logicalPerClick, 1);
        }
        ScreenPoint at = pressed;
        std::optional<ScreenPoint> first;
        for (int round = 0; round < 3; ++round) {
            ASSERT_TRUE(capture.begin());
            movePointerTo(clicker, at.x, at.y);
            clickPointer(clicker, 0);
            ASSERT_TRUE(waitForOutcome(capturer, capture.outcome()));
            ASSERT_TRUE(*capture.outcome());
            const ScreenPoint stored = **capture.outcome();
            EXPECT_NEAR(stored.x, pressed.x, tolerance) << "round " << round;
            EXPECT_NEAR(stored.y, pressed.y, tolerance) << "round " << round;
            if (!first)
                first = stored;
            EXPECT_EQ((std::pair{stored.x, stored.y}), (std::pair{first->x, first->y}))
                << "the point drifted in round " << round;
            EXPECT_EQ(probe.next("press", 300), "") << "the press reached the window below";
            // What took the press goes away (Qt sends the cover's windows' end when its event
            // loop is about to wait).
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QTest::qWait(300);
            capturer.handleDesktopEvents();
            // The pointer leaves the spot first: a compositor may give the window that the
            // capture uncovered the pointer only on the next motion, as a user's hand does.
            movePointerTo(clicker, stored.x > 0 ? stored.x - 1 : stored.x + 1, stored.y);
            const auto replayed = clickSeenAt(clicker, probe, stored);
            ASSERT_TRUE(replayed) << "round " << round;
            EXPECT_NEAR(replayed->first, landed->first, tolerance) << "round " << round;
            EXPECT_NEAR(replayed->second, landed->second, tolerance) << "round " << round;
            at = stored;
        }
    }
    ASSERT_TRUE(capture.begin());
    movePointerTo(clicker, roundTripPoints[0].x, roundTripPoints[0].y);
    clickPointer(clicker, 1);
    ASSERT_TRUE(waitForOutcome(capturer, capture.outcome()));
    EXPECT_FALSE(*capture.outcome());
    EXPECT_EQ(probe.next("press", 300), "");
}

} // namespace
} // namespace quindel

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--points") {
            std::istringstream points(argv[i + 1]);
            quindel::ScreenPoint p;
            char comma = 0;
            while (points >> p.x >> comma >> p.y)
                quindel::roundTripPoints.push_back(p);
        } else if (std::string(argv[i]) == "--scale")
            quindel::outputScale = std::stod(argv[i + 1]);
        else if (std::string(argv[i]) == "--logical-per-click")
            quindel::logicalPerClick = std::stod(argv[i + 1]);
        else if (std::string(argv[i]) == "--tolerance")
            quindel::tolerance = std::stod(argv[i + 1]);
    return RUN_ALL_TESTS();
}
