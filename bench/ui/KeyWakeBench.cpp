// Time from a platform call that reads a key press off the X connection (screenSize, cursorPos,
// virtualKeyFromNative, mouseEvent) to the click of the main window's tick, started in keyboard
// mode with immediate response. The press never makes the connection readable for the window,
// so only the platform's own notice of presses read can wake the tick. Run on an X display, e.g.
//   tests/support/with-services.sh --xvfb 1280x1024 -- build/bench/ui/bench_key_wake [count]
#include "core/engine/RuntimeState.h"
#include "platform/x11/X11Platform.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

namespace {

// The real platform, noting how long after a read the next click went out.
struct TimedX11 : quindel::X11Platform {
    void mouseEvent(uint32_t flags, int32_t dx, int32_t dy, uint32_t data,
                    uintptr_t info) override {
        X11Platform::mouseEvent(flags, dx, dy, data, info);
        if ((flags & quindel::kMouseLeftDown) && clickedAfter < 0)
            clickedAfter = static_cast<double>(sinceRead.nsecsElapsed()) / 1e3, clicked.quit();
    }
    QElapsedTimer sinceRead;
    double clickedAfter = -1; // microseconds
    QEventLoop clicked;
};

double percentile(const std::vector<double>& sorted, double p) {
    const auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen"); // the window need not be seen; the platform is X
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100;
    Display* display = XOpenDisplay(nullptr);
    QTemporaryDir folder;
    if (display == nullptr || !folder.isValid()) {
        std::fprintf(stderr, "no X display, or no temporary folder\n");
        return 1;
    }
    TimedX11 platform;
    if (!platform.available() || platform.keyEventSource() < 0) {
        std::fprintf(stderr, "the platform cannot report key presses: %s\n",
                     platform.errorText().c_str());
        return 1;
    }
    quindel::RuntimeState state;
    state.programFolder = folder.path().toStdString();
    quindel::MainWindow window(state, platform, {});
    state.setInputDevice(quindel::kKeyboardDevice);
    state.actionTable = {{"", "A", 1, "65", 1, 30, 40, 0}};
    window.startButton->click();

    const KeyCode a = XKeysymToKeycode(display, XK_a);
    const std::pair<const char*, std::function<void()>> reads[] = {
        {"screenSize", [&] { platform.screenSize(); }},
        {"cursorPos", [&] { platform.cursorPos(); }},
        {"virtualKeyFromNative", [&] { platform.virtualKeyFromNative(a); }},
        {"mouseEvent (move)", [&] { platform.mouseEvent(quindel::kMouseMove, 0, 0, 0, 0); }}};
    QTimer limit; // ends the wait for a click that never comes
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &platform.clicked, &QEventLoop::quit);
    std::printf("key press read by a platform call -> click, %d presses each\n", count);
    std::printf("  %-22s %9s %9s %9s %6s\n", "read by", "median", "p99", "max", "lost");
    for (const auto& [call, read] : reads) {
        std::vector<double> after;
        int lost = 0;
        for (int i = 0; i < count; ++i) {
            // A tick over 100 ms ago: the woken tick may run at once.
            QEventLoop pause;
            QTimer::singleShot(120, &pause, &QEventLoop::quit);
            pause.exec();
            XTestFakeKeyEvent(display, a, True, CurrentTime);
            XTestFakeKeyEvent(display, a, False, CurrentTime);
            XSync(display, False);
            pollfd arrived{platform.keyEventSource(), POLLIN, 0};
            if (::poll(&arrived, 1, 2000) != 1) {
                ++lost;
                continue;
            }
            read();
            platform.sinceRead.start();
            platform.clickedAfter = -1;
            limit.start(2000);
            platform.clicked.exec();
            if (platform.clickedAfter < 0)
                ++lost;
            else
                after.push_back(platform.clickedAfter);
        }
        std::sort(after.begin(), after.end());
        if (after.empty())
            after.push_back(-1);
        std::printf("  %-22s %7.0f us %6.0f us %6.0f us %6d\n", call, percentile(after, 0.5),
                    percentile(after, 0.99), after.back(), lost);
    }
    XCloseDisplay(display);
    return 0;
}
