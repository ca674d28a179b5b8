#pragma once

// Drives the installed program on the X display as a user would, with XTest, and records the
// clicks it makes.

#include <QCoreApplication> // before Xlib, whose macros would break its event names
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <X11/Xlib.h>
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
    int x = 0, y = 0, button = 0;
    Clock::time_point at;
};

// Polls cond every 10 ms until it holds or waitMs pass; true when it held.
inline bool waitFor(const std::function<bool()>& cond, int waitMs) {
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() <= waitMs)
        QThread::msleep(10);
    return cond();
}

// One connection to the display, for XTest input and for finding windows by title.
class Desktop {
  public:
    Desktop() : dpy_(XOpenDisplay(nullptr)) {
        // Windows come and go while the tree is walked; one that is gone is not the one sought.
        XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });
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
    void click(int x, int y) {
        moveTo(x, y);
        QThread::msleep(30);
        XTestFakeButtonEvent(dpy_, 1, True, CurrentTime);
        XTestFakeButtonEvent(dpy_, 1, False, CurrentTime);
        XFlush(dpy_);
    }
    // Holds a key down for holdMs; 0 presses and releases it in one go (a tap: the key is never
    // down when anyone polls the keyboard).
    void key(KeySym sym, int holdMs) {
        XTestFakeKeyEvent(dpy_, XKeysymToKeycode(dpy_, sym), True, CurrentTime);
        if (holdMs)
            XFlush(dpy_), QThread::msleep(holdMs);
        XTestFakeKeyEvent(dpy_, XKeysymToKeycode(dpy_, sym), False, CurrentTime);
        XFlush(dpy_);
    }
    void tap(KeySym sym) { key(sym, 0); }

    // The mapped top-level window titled title, with its screen position.
    std::optional<XRectangle> findWindow(const std::string& title) {
        Window root = DefaultRootWindow(dpy_), parent = 0, *children = nullptr, child = 0;
        unsigned int n = 0;
        std::optional<XRectangle> found;
        if (!XQueryTree(dpy_, root, &root, &parent, &children, &n))
            return found;
        for (unsigned int i = 0; i < n && !found; ++i) {
            XWindowAttributes a;
            char* name = nullptr;
            if (!XGetWindowAttributes(dpy_, children[i], &a) || a.map_state != IsViewable ||
                !XFetchName(dpy_, children[i], &name) || !name)
                continue;
            int x = 0, y = 0;
            if (title == name &&
                XTranslateCoordinates(dpy_, children[i], root, 0, 0, &x, &y, &child))
                found = XRectangle{short(x), short(y), ushort(a.width), ushort(a.height)};
            XFree(name);
        }
        XFree(children); // null-safe
        return found;
    }

  private:
    ::Display* dpy_;
};

// A plain X window of its own connection (so a separate X client) that records every button
// press landing in it.
class ClickRecorder {
  public:
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
    ~ClickRecorder() {
        XDestroyWindow(dpy_, win_);
        XCloseDisplay(dpy_);
    }

    void pump() {
        while (XPending(dpy_)) {
            XEvent e;
            XNextEvent(dpy_, &e);
            if (e.type == ButtonPress)
                clicks.push_back({e.xbutton.x_root, e.xbutton.y_root,
                                  static_cast<int>(e.xbutton.button), Clock::now()});
        }
    }
    // Keeps recording until count clicks in all arrived (0: for all of waitMs).
    bool collect(size_t count, int waitMs) {
        return waitFor(
            [&] {
                pump();
                return count && clicks.size() >= count;
            },
            waitMs);
    }

    std::vector<RecordedClick> clicks;

  private:
    ::Display* dpy_;
    Window win_ = 0;
};

// The installed program in a fresh program folder.
class InstalledProgram {
  public:
    // Installs the build tree's program (with its data files) into the folder.
    bool install(std::string* log) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start("cmake", {"--install", QUINDEL_BINARY_DIR, "--prefix", dir_.path()});
        p.waitForFinished(120000);
        *log = p.readAll().toStdString();
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 &&
               QFile::exists(path("quindel"));
    }

    QString path(const QString& name) const { return dir_.path() + '/' + name; }
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
        proc_.setWorkingDirectory(QDir::tempPath());
        proc_.setProcessChannelMode(QProcess::ForwardedChannels);
        proc_.start(path("quindel"), {});
        return proc_.waitForStarted(10000);
    }
    // Waits until the main window is on the screen and tells where.
    std::optional<XRectangle> waitForWindow(Desktop& display, int waitMs = 20000) {
        std::optional<XRectangle> where;
        waitFor(
            [&] {
                where = display.findWindow("Quindel 0.5 Beta");
                return where || proc_.state() == QProcess::NotRunning;
            },
            waitMs);
        return where;
    }
    // Waits for the program to end; true when it did, normally and with code 0.
    bool waitForExit(int waitMs) {
        return proc_.waitForFinished(waitMs) && proc_.exitStatus() == QProcess::NormalExit &&
               proc_.exitCode() == 0;
    }
    qint64 pid() const { return proc_.processId(); }
    ~InstalledProgram() {
        proc_.kill();
        proc_.waitForFinished(5000);
    }

  private:
    QTemporaryDir dir_;
    QProcess proc_;
};

// Centres of the main window's controls, in window pixels.
inline constexpr int kStartX = 8 + 60, kStartY = 208 + 16; // cmdStart
inline constexpr int kCloseX = 192 + 12, kCloseY = 8 + 12; // Command2
inline constexpr int kFlagX = 192 + 12, kFlagY = 64 + 8;   // imgBandierina

// One action section of a group file, as the program writes them.
inline QByteArray actionSection(int number, const char* code, int kind, int x, int y, int sequence,
                                const char* description) {
    return QString::asprintf(
               "[tasto-%03d]\r\nnome chiave=tasto-%03d\r\nordine= %d\r\ntasto=%s\r\ntipo= "
               "%d\r\nxx= %d\r\nyy= %d\r\nsequenza= %d\r\ndescrizione=%s\r\n",
               number, number, number, code, kind, x, y, sequence, description)
        .toUtf8();
}

inline QByteArray nextPrevSections(const char* next, const char* prev) {
    return QByteArray("[tasto-next]\r\nordine=1\r\ntasto=") + next +
           "\r\ntipo=1\r\n[tasto-prev]\r\nordine=1\r\ntasto=" + prev + "\r\ntipo=1\r\n";
}

} // namespace quindel::e2e
