// The installed program on a virtual display that a window manager (openbox) manages, as on a
// user's desktop, driven with real XTest clicks and keys; stacking, focus, modality and
// minimising are read back from the X server and the manager's EWMH properties.
#include <QCoreApplication> // before Xlib, as in the harness
#include <QDir>

#include <X11/Xlib.h>
#include <X11/Xutil.h> // the window manager's hints and states; the harness then undefines Bool

#include "e2e/E2eHarness.h"

#include <gtest/gtest.h>

using namespace quindel::e2e;

namespace {

// Centres of controls, in window pixels: the main window's editor and About buttons and its
// title (a drag handle), the editor's new-action and OK buttons, the key capture's Confirm.
constexpr int kEditorX = 8 + 64, kEditorY = 80 + 12, kAboutX = 200 + 8, kAboutY = 40 + 8;
constexpr int kTitleX = 60, kTitleY = 16;
constexpr int kNewActionX = 8 + 68, kNewActionY = 264 + 8, kEditorOkX = 264 + 36,
              kEditorOkY = 296 + 12, kConfirmX = 104 + 56, kConfirmY = 168 + 16;

class WindowManager : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(display.ok()) << "no X display with XTest";
        ASSERT_FALSE(qEnvironmentVariable("QUINDEL_TEST_WM").isEmpty())
            << "run under tests/support/with-services.sh --wm";
        ASSERT_FALSE(rootProperty("_NET_SUPPORTING_WM_CHECK").empty()) << "no window manager";
        ASSERT_TRUE(program.install());
        program.write("quindel.ini",
                      "[generale]\r\nlingua= 1\r\n[midi config]\r\nmidi input= 99\r\n"
                      "[file tasti]\r\nnomefile=gruppo-show.ini\r\n");
        program.write("gruppo-show.ini", "[main]\r\nnome=show\r\n");
        before = QDir(program.path("")).entryList(QDir::AllEntries | QDir::Hidden);
        ASSERT_TRUE(program.start(display));
        main = display.findClient("Quindel 0.5 Beta");
        at = *display.where(main);
        QThread::msleep(300); // its first paint
    }
    // Ends the program with its X button; it leaves nothing new in its folder.
    void TearDown() override {
        if (HasFatalFailure())
            return;
        press(kCloseX, kCloseY);
        EXPECT_TRUE(program.waitForExit(15000)) << "the program did not end cleanly after X";
        EXPECT_EQ(QDir(program.path("")).entryList(QDir::AllEntries | QDir::Hidden), before);
    }

    Atom atom(const char* name) { return XInternAtom(display.display(), name, False); }
    std::vector<long> property(Window w, const char* name) {
        Atom type = 0;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        std::vector<long> values;
        if (XGetWindowProperty(display.display(), w, atom(name), 0, 64, False, AnyPropertyType,
                               &type, &format, &n, &after, &data) == Success &&
            format == 32)
            values.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + n);
        XFree(data);
        return values;
    }
    std::vector<long> rootProperty(const char* name) {
        return property(DefaultRootWindow(display.display()), name);
    }
    bool hasState(Window w, const char* state) {
        const std::vector<long> states = property(w, "_NET_WM_STATE");
        return std::find(states.begin(), states.end(), long(atom(state))) != states.end();
    }
    Window active() {
        const std::vector<long> a = rootProperty("_NET_ACTIVE_WINDOW");
        return a.empty() ? 0 : Window(a[0]);
    }
    // Place in the X server's stacking order (higher is above) of the top-level window that
    // holds w: the manager's frame around it.
    int stackingOf(Window w) {
        ::Display* d = display.display();
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int n = 0;
        for (; XQueryTree(d, w, &root, &parent, &children, &n) && parent != root; w = parent)
            XFree(children);
        XFree(children);
        XQueryTree(d, root, &root, &parent, &children, &n);
        int place = -1;
        for (unsigned int i = 0; i < n; ++i)
            place = children[i] == w ? int(i) : place;
        XFree(children);
        return place;
    }
    bool above(Window upper, Window lower) { return stackingOf(upper) > stackingOf(lower); }
    // Waits for a shown active window other than those given (the manager may still name a
    // window just closed), and checks it is a modal dialog above the main window.
    Window expectModalDialog(const char* what, std::initializer_list<Window> old) {
        Window w = 0;
        const auto shown = [&] {
            XWindowAttributes a;
            w = active();
            return w && std::find(old.begin(), old.end(), w) == old.end() &&
                   XGetWindowAttributes(display.display(), w, &a) && a.map_state == IsViewable;
        };
        EXPECT_TRUE(waitFor(shown, 10000)) << what << " not shown";
        EXPECT_FALSE(property(w, "WM_TRANSIENT_FOR").empty()) << what;
        EXPECT_TRUE(hasState(w, "_NET_WM_STATE_MODAL")) << what;
        EXPECT_TRUE(above(w, main)) << what << " is under the main window";
        QThread::msleep(200); // the dialog takes the focus and paints
        return w;
    }
    void press(int x, int y) { display.click(at.x + x, at.y + y); }
    void type(std::initializer_list<KeySym> keys) {
        for (KeySym k : keys)
            display.key(k);
    }

    Desktop display;
    InstalledProgram program;
    QStringList before;
    Window main = 0;
    XRectangle at{};
};

// A normal managed window of another X client, laid over the right part of the main window.
class OtherWindow {
  public:
    OtherWindow(int x, int y) : dpy_(XOpenDisplay(nullptr)) {
        win_ = XCreateSimpleWindow(dpy_, DefaultRootWindow(dpy_), x, y, 300, 300, 0, 0,
                                   WhitePixel(dpy_, DefaultScreen(dpy_)));
        XSizeHints hints{};
        hints.flags = USPosition;
        hints.x = x, hints.y = y;
        XSetWMNormalHints(dpy_, win_, &hints);
        XStoreName(dpy_, win_, "other program");
        XMapRaised(dpy_, win_);
        XSync(dpy_, False);
    }
    ~OtherWindow() {
        XDestroyWindow(dpy_, win_);
        XCloseDisplay(dpy_);
    }
    Window id() const { return win_; }

  private:
    ::Display* dpy_;
    Window win_ = 0;
};

TEST_F(WindowManager, TheMainWindowIsUndecoratedDraggedAndAboveOthersOnlyWhileStarted) {
    EXPECT_EQ(property(main, "_NET_FRAME_EXTENTS"), (std::vector<long>{0, 0, 0, 0}));
    display.moveTo(at.x + kTitleX, at.y + kTitleY);
    XTestFakeButtonEvent(display.display(), 1, True, CurrentTime);
    for (int step = 1; step <= 10; ++step)
        QThread::msleep(20), display.moveTo(at.x + kTitleX + 12 * step, at.y + kTitleY + 9 * step);
    XTestFakeButtonEvent(display.display(), 1, False, CurrentTime);
    XFlush(display.display());
    const auto moved = [&] {
        return display.where(main)->x - at.x == 120 && display.where(main)->y - at.y == 90;
    };
    EXPECT_TRUE(waitFor(moved, 5000))
        << "dragged to " << display.where(main)->x << "," << display.where(main)->y;
    at = *display.where(main);

    // A user's click raises and focuses the other program's window where it does not overlap.
    OtherWindow other(at.x + 150, at.y + 40);
    const auto clickOther = [&] {
        display.click(at.x + 350, at.y + 200);
        return waitFor([&] { return active() == other.id(); }, 5000);
    };
    struct Phase {
        const char* what;
        bool mainAbove;
    };
    for (const Phase& phase :
         {Phase{"stopped", false}, Phase{"started", true}, Phase{"stopped again", false}}) {
        if (phase.mainAbove != hasState(main, "_NET_WM_STATE_ABOVE")) {
            press(kStartX, kStartY); // Start, then Stop
            waitFor([&] { return hasState(main, "_NET_WM_STATE_ABOVE") == phase.mainAbove; }, 5000);
        }
        EXPECT_EQ(hasState(main, "_NET_WM_STATE_ABOVE"), phase.mainAbove) << phase.what;
        EXPECT_TRUE(clickOther()) << phase.what << ": the other window did not get the focus";
        QThread::msleep(200);
        EXPECT_EQ(above(main, other.id()), phase.mainAbove) << phase.what;
        // The same X window at the same place all along.
        EXPECT_EQ(display.findClient("Quindel 0.5 Beta"), main) << phase.what;
        const auto now = display.where(main);
        EXPECT_TRUE(now && now->x == at.x && now->y == at.y) << phase.what;
    }
}

TEST_F(WindowManager, WhileStartedDialogsAreModalAboveItAndTheClickPointCaptureHidesTheEditor) {
    press(kStartX, kStartY);
    ASSERT_TRUE(waitFor([&] { return hasState(main, "_NET_WM_STATE_ABOVE"); }, 5000));

    press(kAboutX, kAboutY);
    const Window about = expectModalDialog("About", {main});
    EXPECT_EQ(display.findClient("About"), about);
    const std::vector<long> frame = property(about, "_NET_FRAME_EXTENTS");
    EXPECT_TRUE(frame.size() == 4 && frame[2] > 0) << "the About window has no title bar";
    type({XK_Return}); // OK has the focus
    EXPECT_TRUE(waitFor([&] { return !display.findClient("About"); }, 5000));

    press(kEditorX, kEditorY);
    const Window editor = expectModalDialog("editor", {main, about});
    ASSERT_EQ(display.findClient("Assegna azioni"), editor);
    const XRectangle e = *display.where(editor);
    display.click(e.x + kNewActionX, e.y + kNewActionY);
    const Window description = expectModalDialog("description box", {main, editor});
    type({XK_c, XK_o, XK_d, XK_a, XK_Return});
    const Window capture = expectModalDialog("key capture", {main, editor, description});
    EXPECT_EQ(display.findClient("Tasto tastiera"), capture);
    type({XK_b});
    QThread::msleep(200);
    const XRectangle c = *display.where(capture);
    display.click(c.x + kConfirmX, c.y + kConfirmY);
    expectModalDialog("click point message", {main, editor, description, capture});
    type({XK_Return});

    // The editor goes out of the way (minimised, not just covered), takes the press and returns.
    const auto minimised = [&] {
        const std::vector<long> state = property(editor, "WM_STATE");
        return !state.empty() && state[0] == IconicState && !display.findClient("Assegna azioni");
    };
    ASSERT_TRUE(waitFor(minimised, 5000)) << "the editor was not minimised";
    EXPECT_TRUE(hasState(editor, "_NET_WM_STATE_HIDDEN"));
    display.click(1000, 800, 300);
    ASSERT_TRUE(waitFor([&] { return display.findClient("Assegna azioni") == editor; }, 5000))
        << "the editor did not come back";
    EXPECT_EQ(property(editor, "WM_STATE").at(0), NormalState);
    EXPECT_TRUE(above(editor, main));
    QThread::msleep(300);
    const XRectangle back = *display.where(editor);
    display.click(back.x + kEditorOkX, back.y + kEditorOkY);
    EXPECT_TRUE(waitFor([&] { return !display.findClient("Assegna azioni"); }, 5000));
    EXPECT_NE(program.read("gruppo-show.ini")
                  .find("tasto=66\r\ntipo= 1\r\nxx= 1000\r\nyy= 800\r\nsequenza= 0\r\n"
                        "descrizione=coda\r\n"),
              std::string::npos)
        << program.read("gruppo-show.ini");
    press(kStartX, kStartY); // Stop
}

TEST(DesktopEntry, InstallWritesTheMenuEntryWithTheProgramsAbsolutePathAndItsIcon) {
    // Installed from a folder of its own to a relative prefix with characters the entry must
    // escape: the entry still names the program by its absolute path.
    QTemporaryDir dir;
    const QString prefix = "my $HOME \"apps\"";
    QProcess install;
    install.setWorkingDirectory(dir.path());
    install.start("cmake", {"--install", QUINDEL_BINARY_DIR, "--prefix", prefix});
    ASSERT_TRUE(install.waitForFinished(60000) && install.exitCode() == 0);
    const QString folder = dir.path() + '/' + prefix;
    QFile entry(folder + "/quindel.desktop");
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    QString quoted = folder + "/quindel";
    quoted.replace('$', "\\\\$").replace('"', "\\\\\"");
    for (const QString& line : {QString("[Desktop Entry]\n"), QString("\nType=Application\n"),
                                QString("\nName=Quindel\n"), "\nExec=\"" + quoted + "\"\n",
                                "\nIcon=" + folder + "/quindel.png\n"})
        EXPECT_TRUE(text.contains(line)) << line.toStdString() << " not in\n" << text.toStdString();
    EXPECT_TRUE(text.contains("\nComment=") && text.contains("\nComment[it]="));
    for (const char* icon : {"/quindel.png", "/quindel.svg"})
        EXPECT_GT(QFile(folder + icon).size(), 0) << icon;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
