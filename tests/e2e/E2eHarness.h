#pragma once

// Drives the installed program on the X display of the test as a user would: installs it
// into a fresh program folder, starts it, finds its window, clicks its buttons and presses
// keys with XTest, and records the clicks that land in a window of its own.

#include <QByteArray>
#include <QCoreApplication> // before Xlib, whose macros would break its event names
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// Xlib's macros of these names clash with GoogleTest and Qt; nothing here needs them.
#undef None
#undef Bool
#undef Status

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quindel::e2e {

using Clock = std::chrono::steady_clock;

// A click the recorder window received, at root (screen) pixels, and when.
struct RecordedClick {
    int x = 0;
    int y = 0;
    int button = 0;
    Clock::time_point at;
};

// Polls cond every 10 ms until it holds or waitMs pass; true when it held.
inline bool waitFor(const std::function<bool()>& cond, int waitMs) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > waitMs)
            return false;
        QThread::msleep(10);
    }
    return true;
}

// One connection to the test's display, with helpers for XTest input.
class Desktop {
  public:
    Desktop() : dpy_(XOpenDisplay(nullptr)) {
        // Windows of the program come and go while the tree is walked; a window that is gone
        // by the time it is asked about is simply not the one looked for.
        XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });
    }
    ~Desktop() {
        if (dpy_)
            XCloseDisplay(dpy_);
    }
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    ::Display* get() const { return dpy_; }
    bool ok() const {
        int ev = 0, err = 0, major = 0, minor = 0;
        return dpy_ && XTestQueryExtension(dpy_, &ev, &err, &major, &minor);
    }

    void moveTo(int x, int y) {
        XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), x, y, CurrentTime);
        XFlush(dpy_);
    }
    void click(int x, int y) {
        moveTo(x, y);
        QThread::msleep(30);
        XTestFakeButtonEvent(dpy_, 1, True, CurrentTime);
        XTestFakeButtonEvent(dpy_, 1, False, CurrentTime);
        XFlush(dpy_);
    }
    KeyCode keycode(KeySym sym) const { return XKeysymToKeycode(dpy_, sym); }
    void keyDown(KeySym sym) {
        XTestFakeKeyEvent(dpy_, keycode(sym), True, CurrentTime);
        XFlush(dpy_);
    }
    void keyUp(KeySym sym) {
        XTestFakeKeyEvent(dpy_, keycode(sym), False, CurrentTime);
        XFlush(dpy_);
    }
    // Press and release in one go: the key is never down when anyone polls the keyboard.
    void tap(KeySym sym) {
        XTestFakeKeyEvent(dpy_, keycode(sym), True, CurrentTime);
        XTestFakeKeyEvent(dpy_, keycode(sym), False, CurrentTime);
        XFlush(dpy_);
    }

    // The top-level window whose title is title and that is mapped, with its screen position.
    std::optional<XRectangle> findWindow(const std::string& title) {
        Window root = DefaultRootWindow(dpy_), parent = 0, *children = nullptr;
        unsigned int n = 0;
        std::optional<XRectangle> found;
        if (!XQueryTree(dpy_, root, &root, &parent, &children, &n))
            return found;
        for (unsigned int i = 0; i < n && !found; ++i)
            found = matchTitle(children[i], title, root);
        if (children)
            XFree(children);
        return found;
    }

  private:
    std::optional<XRectangle> matchTitle(Window w, const std::string& title, Window root) {
        XWindowAttributes attrs;
        if (!XGetWindowAttributes(dpy_, w, &attrs) || attrs.map_state != IsViewable)
            return std::nullopt;
        char* name = nullptr;
        bool same = false;
        if (XFetchName(dpy_, w, &name) && name) {
            same = title == name;
            XFree(name);
        }
        if (!same)
            return std::nullopt;
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(dpy_, w, root, 0, 0, &x, &y, &child);
        return XRectangle{static_cast<short>(x), static_cast<short>(y),
                          static_cast<unsigned short>(attrs.width),
                          static_cast<unsigned short>(attrs.height)};
    }

    ::Display* dpy_;
};

// A plain X window of the test (its own connection, so a separate X client) that records
// every button press landing in it.
class ClickRecorder {
  public:
    ClickRecorder(int x, int y, int width, int height) : dpy_(XOpenDisplay(nullptr)) {
        if (!dpy_)
            return;
        XSetWindowAttributes a{};
        a.override_redirect = True; // placed exactly where asked, with or without a WM
        a.background_pixel = WhitePixel(dpy_, DefaultScreen(dpy_));
        a.event_mask = ButtonPressMask | ExposureMask;
        win_ = XCreateWindow(dpy_, DefaultRootWindow(dpy_), x, y, width, height, 0, CopyFromParent,
                             InputOutput, CopyFromParent,
                             CWOverrideRedirect | CWBackPixel | CWEventMask, &a);
        XStoreName(dpy_, win_, "quindel click recorder");
        XMapRaised(dpy_, win_);
        XSync(dpy_, False);
    }
    ~ClickRecorder() {
        if (dpy_) {
            XDestroyWindow(dpy_, win_);
            XCloseDisplay(dpy_);
        }
    }
    ClickRecorder(const ClickRecorder&) = delete;
    ClickRecorder& operator=(const ClickRecorder&) = delete;

    // Reads the events that arrived so far.
    void pump() {
        while (dpy_ && XPending(dpy_)) {
            XEvent e;
            XNextEvent(dpy_, &e);
            if (e.type == ButtonPress)
                clicks.push_back({e.xbutton.x_root, e.xbutton.y_root,
                                  static_cast<int>(e.xbutton.button), Clock::now()});
        }
    }
    // Waits until count clicks in all were recorded (or waitMs passed).
    bool waitForClicks(size_t count, int waitMs) {
        return waitFor(
            [&] {
                pump();
                return clicks.size() >= count;
            },
            waitMs);
    }
    // Keeps recording for ms, to see that nothing more arrives.
    void settle(int ms) {
        waitFor(
            [&] {
                pump();
                return false;
            },
            ms);
    }

    std::vector<RecordedClick> clicks;

  private:
    ::Display* dpy_;
    Window win_ = 0;
};

// The installed program in a fresh program folder.
class InstalledProgram {
  public:
    static constexpr const char* kTitle = "Quindel 0.5 Beta";

    // Installs the build tree's program (with its data files) into a fresh folder.
    bool install(std::string* log) {
        if (!dir_.isValid())
            return false;
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("cmake"),
                {QStringLiteral("--install"), QStringLiteral(QUINDEL_BINARY_DIR),
                 QStringLiteral("--prefix"), dir_.path()});
        p.waitForFinished(120000);
        if (log)
            *log = p.readAll().toStdString();
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 &&
               QFile::exists(path("quindel"));
    }

    QString path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }
    void write(const QString& name, const QByteArray& text) const {
        QFile f(path(name));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text);
    }
    QByteArray read(const QString& name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Starts the program from another working directory, as a launcher would.
    bool start() {
        proc_.setProgram(path("quindel"));
        proc_.setWorkingDirectory(QDir::tempPath());
        proc_.setProcessChannelMode(QProcess::ForwardedChannels);
        proc_.start();
        return proc_.waitForStarted(10000);
    }
    // Waits until the main window is on the screen and tells where.
    std::optional<XRectangle> waitForWindow(Desktop& display, int waitMs = 20000) {
        std::optional<XRectangle> where;
        waitFor(
            [&] {
                where = display.findWindow(kTitle);
                return where.has_value() || proc_.state() == QProcess::NotRunning;
            },
            waitMs);
        return where;
    }
    bool waitForExit(int waitMs) { return proc_.waitForFinished(waitMs); }
    int exitCode() const { return proc_.exitCode(); }
    bool crashed() const { return proc_.exitStatus() == QProcess::CrashExit; }
    bool running() const { return proc_.state() != QProcess::NotRunning; }
    qint64 pid() const { return proc_.processId(); }
    void kill() {
        if (running()) {
            proc_.kill();
            proc_.waitForFinished(5000);
        }
    }
    ~InstalledProgram() { kill(); }

  private:
    QTemporaryDir dir_;
    QProcess proc_;
};

// Centres of the main window's controls, in window pixels.
inline constexpr int kStartX = 8 + 60, kStartY = 208 + 16;      // cmdStart
inline constexpr int kCloseX = 192 + 12, kCloseY = 8 + 12;      // Command2
inline constexpr int kFlagX = 192 + 12, kFlagY = 64 + 8;        // imgBandierina
inline constexpr int kMidiConfX = 8 + 64, kMidiConfY = 48 + 12; // cmdMidiConf
inline constexpr int kAssegnaX = 8 + 64, kAssegnaY = 80 + 12;   // cmdAssegna

// Clicks a button of the main window and checks that it opens a window titled title, which
// Escape closes again.
inline bool opensAndEscapeCloses(Desktop& display, QPoint button, const std::string& title) {
    display.click(button.x(), button.y());
    if (!waitFor([&] { return display.findWindow(title).has_value(); }, 10000))
        return false;
    QThread::msleep(200);
    display.keyDown(XK_Escape);
    display.keyUp(XK_Escape);
    return waitFor([&] { return !display.findWindow(title).has_value(); }, 10000);
}

// One action section of a group file, as the program writes them.
inline QByteArray actionSection(int number, const char* code, int kind, int x, int y, int sequence,
                                const char* description) {
    const QByteArray n = QByteArray::number(number).rightJustified(3, '0');
    return "[tasto-" + n + "]\r\nnome chiave=tasto-" + n +
           "\r\nordine= " + QByteArray::number(number) + "\r\ntasto=" + code +
           "\r\ntipo= " + QByteArray::number(kind) + "\r\nxx= " + QByteArray::number(x) +
           "\r\nyy= " + QByteArray::number(y) + "\r\nsequenza= " + QByteArray::number(sequence) +
           "\r\ndescrizione=" + description + "\r\n";
}

inline QByteArray nextPrevSections(const char* next, const char* prev) {
    return QByteArray("[tasto-next]\r\nordine=1\r\ntasto=") + next +
           "\r\ntipo=1\r\n[tasto-prev]\r\nordine=1\r\ntasto=" + prev + "\r\ntipo=1\r\n";
}

} // namespace quindel::e2e
