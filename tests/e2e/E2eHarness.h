#pragma once

// Drives the installed program on the X display with XTest, as a user would, and records the
// clicks it makes.

#include <QCoreApplication> // before Xlib, whose macros would break its event names
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "core/ProgramVersion.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef None // these Xlib macros clash with GoogleTest and Qt; nothing here needs them
#undef Bool
#undef Status

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quindel::e2e {

using Clock = std::chrono::steady_clock;

// The main window's title, which names the version.
inline const std::string kMainTitle = std::string("Quindel ") + kProgramVersion + " Beta";

inline double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Polls cond every 10 ms until it holds or waitMs pass; true when it held.
inline bool waitFor(const std::function<bool()>& cond, int waitMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(waitMs);
    while (!cond() && Clock::now() < end)
        QThread::msleep(10);
    return cond();
}

// One connection to the display, for XTest input and for finding windows by title.
class Desktop {
  public:
    Desktop() : dpy_(XOpenDisplay(nullptr)) {
        XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; }); // windows vanish mid-walk
    }
    ~Desktop() {
        if (dpy_)
            XCloseDisplay(dpy_);
    }

    bool ok() const {
        int ev = 0, err = 0, major = 0, minor = 0;
        return dpy_ && XTestQueryExtension(dpy_, &ev, &err, &major, &minor);
    }
    void moveTo(int x, int y) {
        XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), x, y, CurrentTime);
        XFlush(dpy_);
    }
    // Clicks the left button at x, y, holding it for holdMs.
    void click(int x, int y, int holdMs = 0) {
        moveTo(x, y);
        QThread::msleep(30);
        XTestFakeButtonEvent(dpy_, 1, True, CurrentTime);
        XFlush(dpy_), QThread::msleep(holdMs);
        XTestFakeButtonEvent(dpy_, 1, False, CurrentTime);
        XFlush(dpy_);
    }
    // Holds a key down for holdMs; 0 presses and releases it in one request (a tap: the key is
    // never down when anyone polls the keyboard).
    void key(KeySym sym, int holdMs = 0) {
        const KeyCode code = XKeysymToKeycode(dpy_, sym);
        XTestFakeKeyEvent(dpy_, code, True, CurrentTime);
        if (holdMs)
            XFlush(dpy_), QThread::msleep(holdMs);
        XTestFakeKeyEvent(dpy_, code, False, CurrentTime);
        XFlush(dpy_);
    }

    // The mapped top-level window titled title. Without a window manager these are the root's
    // children; with one, the children of its frames.
    Window findClient(const std::string& title, Window parent = 0, int depth = 0) {
        Window root = 0, up = 0, *children = nullptr, found = 0;
        unsigned int n = 0;
        XQueryTree(dpy_, parent ? parent : DefaultRootWindow(dpy_), &root, &up, &children, &n);
        for (unsigned int i = 0; i < n && !found; ++i) {
            XWindowAttributes a;
            char* name = nullptr;
            if (!XGetWindowAttributes(dpy_, children[i], &a) || a.map_state != IsViewable)
                continue;
            if (XFetchName(dpy_, children[i], &name) && name && title == name)
                found = children[i];
            else if (depth < 2)
                found = findClient(title, children[i], depth + 1);
            XFree(name); // null-safe
        }
        XFree(children);
        return found;
    }
    std::optional<XRectangle> where(Window w) {
        XWindowAttributes a;
        Window child = 0;
        int x = 0, y = 0;
        if (!w || !XGetWindowAttributes(dpy_, w, &a) ||
            !XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), 0, 0, &x, &y, &child))
            return std::nullopt;
        return XRectangle{short(x), short(y), ushort(a.width), ushort(a.height)};
    }
    ::Display* display() const { return dpy_; }

  private:
    ::Display* dpy_;
};

// A plain X window of its own connection (so a separate X client) that records every button
// press landing in it, at root pixels, with the time it was seen.
class ClickRecorder {
  public:
    struct Click {
        int x = 0, y = 0, button = 0;
        Clock::time_point at;
        Time serverMs = 0; // the X server's time of the press, unaffected by our polling
    };

    ClickRecorder(int x, int y, int width, int height) : dpy_(XOpenDisplay(nullptr)) {
        XSetWindowAttributes a{};
        a.override_redirect = True; // placed exactly where asked, with or without a WM
        a.background_pixel = WhitePixel(dpy_, DefaultScreen(dpy_));
        a.event_mask = ButtonPressMask;
        win_ = XCreateWindow(dpy_, DefaultRootWindow(dpy_), x, y, width, height, 0, CopyFromParent,
                             InputOutput, CopyFromParent,
                             CWOverrideRedirect | CWBackPixel | CWEventMask, &a);
        XMapRaised(dpy_, win_);
        XSync(dpy_, False);
    }
    ~ClickRecorder() { XCloseDisplay(dpy_); }

    void pump() {
        XEvent e; // only button presses are selected
        while (XCheckTypedEvent(dpy_, ButtonPress, &e))
            clicks.push_back({e.xbutton.x_root, e.xbutton.y_root, int(e.xbutton.button),
                              Clock::now(), e.xbutton.time});
    }
    // Records, polling every 0.5 ms, until least clicks arrived (waitMs at most), then for
    // settleMs more.
    void collect(size_t least, int waitMs = 3000, int settleMs = 400) {
        const auto end = Clock::now() + std::chrono::milliseconds(waitMs);
        while ((pump(), clicks.size() < least) && Clock::now() < end)
            QThread::usleep(500);
        QThread::msleep(static_cast<unsigned long>(settleMs));
        pump();
    }

    std::vector<Click> clicks;
    Window window() const { return win_; }

  private:
    ::Display* dpy_;
    Window win_ = 0;
};

// The installed program in a fresh program folder.
class InstalledProgram {
  public:
    // From the build folder of this tree, or another one (a benchmark's baseline build).
    bool install(const QString& buildFolder = QUINDEL_BINARY_DIR) {
        return QProcess::execute("cmake", {"--install", buildFolder, "--prefix", dir_.path()}) ==
                   0 &&
               QFile::exists(path("quindel"));
    }

    // The program folder: a fresh temporary folder, or the one given (an unpacked package's).
    void useFolder(const QString& folder) { folder_ = folder; }
    QString path(const QString& name) const {
        return (folder_.isEmpty() ? dir_.path() : folder_) + '/' + name;
    }
    void write(const QString& name, const QByteArray& text) const {
        QFile f(path(name));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text);
    }
    std::string read(const QString& name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }

    // Starts the program from another working directory, as a launcher would, and waits until
    // its main window is on the screen; gives where. A launcher command (setpriv ...) may run
    // it, in the environment given.
    std::optional<XRectangle>
    start(Desktop& display, QStringList launcher = {},
          const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        std::optional<XRectangle> where;
        if (launch(std::move(launcher), environment))
            waitFor([&] { return bool(where = display.where(display.findClient(kMainTitle))); },
                    20000);
        return where;
    }
    // Starts the program from another working directory, as a launcher would.
    bool launch(QStringList launcher = {},
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        launcher << path("quindel");
        proc_.setWorkingDirectory("/");
        proc_.setProcessChannelMode(QProcess::ForwardedChannels);
        proc_.setProcessEnvironment(environment);
        proc_.start(launcher.takeFirst(), launcher);
        return proc_.waitForStarted(10000);
    }
    // Waits for the program to end; true when it did, normally and with code 0.
    bool waitForExit(int waitMs) {
        return proc_.waitForFinished(waitMs) && proc_.exitStatus() == QProcess::NormalExit &&
               proc_.exitCode() == 0;
    }
    qint64 pid() const { return proc_.processId(); }
    QProcess& process() { return proc_; }
    ~InstalledProgram() {
        proc_.kill();
        proc_.waitForFinished(5000);
    }

  private:
    QTemporaryDir dir_;
    QString folder_;
    QProcess proc_;
};

// Centres of the main window's controls, in window pixels.
inline constexpr int kStartX = 8 + 60, kStartY = 208 + 16; // startButton
inline constexpr int kWindowWidth = 223, kWindowHeight = 253;
inline constexpr int kCloseX = 192 + 12, kCloseY = 8 + 12; // closeButton
inline constexpr int kFlagX = 192 + 12, kFlagY = 64 + 8;   // flagImage

// One action section of a group file, as the program writes them.
inline QByteArray actionSection(int number, const char* code, int kind, int x, int y, int sequence,
                                const char* description) {
    return QString::asprintf("[tasto-%03d]\r\nnome chiave=tasto-%03d\r\nordine= %d\r\ntasto=%s\r\n"
                             "tipo= %d\r\nxx= %d\r\nyy= %d\r\nsequenza= %d\r\ndescrizione=%s\r\n",
                             number, number, number, code, kind, x, y, sequence, description)
        .toUtf8();
}

inline QByteArray nextPrevSections(const char* next, const char* prev) {
    return QByteArray("[tasto-next]\r\nordine=1\r\ntasto=") + next +
           "\r\ntipo=1\r\n[tasto-prev]\r\nordine=1\r\ntasto=" + prev + "\r\ntipo=1\r\n";
}

} // namespace quindel::e2e
