// The installed program on a virtual display, driven like a user with real XTest clicks and keys
// and real MIDI messages through JACK; its clicks land in a recorder window at the group's
// points. The WindowManager tests run on a display that openbox manages (see CMakeLists.txt).
#include <QCoreApplication> // before Xlib, as in the harness
#include <QDir>

#include <X11/Xlib.h>
#include <X11/Xutil.h> // the window manager's hints and states; the harness then undefines Bool

#include "e2e/E2eHarness.h"
#include "e2e/MidiController.h"
#include "core/engine/CommandTrigger.h"
#include "core/storage/UserFilesFolder.h"
#include "command/TriggerSocket.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

using namespace quindel::e2e;
using namespace std::chrono_literals;

namespace {

// Points of the actions, inside the recorder window (800, 500, 450 x 450).
constexpr int kIntroX = 900, kIntroY = 600, kVerseX = 1100, kVerseY = 600, kSoloX = 1000,
              kSoloY = 850;
// Centres of controls, in window pixels: the main window's editor and About buttons and its
// title (a drag handle), the editor's new-group, new-action and OK buttons, the key capture's
// Confirm.
constexpr int kEditorX = 8 + 64, kEditorY = 80 + 12, kAboutX = 200 + 8, kAboutY = 40 + 8;
constexpr int kTitleX = 60, kTitleY = 16, kNewGroupX = 272 + 36, kNewGroupY = 32 + 12;
constexpr int kNewActionX = 8 + 68, kNewActionY = 264 + 8, kEditorOkX = 504 + 36,
              kEditorOkY = 296 + 12, kConfirmX = 104 + 56, kConfirmY = 168 + 16;
// The editor's first action row; the edit dialog's button that captures the point again.
constexpr int kFirstRowX = 8 + 40, kFirstRowY = 80 + 10, kCapturePointX = 296 + 58,
              kCapturePointY = 80 + 12;
constexpr const char* kGroupFile = "gruppo-Zeta.ini"; // the running group
constexpr const char* kEditorTitle = "Assegna azioni";
constexpr int kKeyboard = 99; // the device number of the PC keyboard

class Program : public ::testing::Test {
  protected:
    static std::string settings(int language, const std::string& extra, int input) {
        return "[generale]\r\nlingua= " + std::to_string(language) + "\r\n" + extra +
               "[midi config]\r\nmidi input= " + std::to_string(input) +
               "\r\n[file tasti]\r\nnomefile=" + kGroupFile + "\r\n";
    }
    // Starts the program on Italian texts with that input and group.
    void launch(int input, const QByteArray& group) {
        ASSERT_TRUE(display.ok()) << "no X display with XTest";
        ASSERT_TRUE(installed || (installed = program.install()));
        program.write("quindel.ini", QByteArray::fromStdString(settings(1, "", input)));
        program.write(kGroupFile, group);
        ASSERT_TRUE(bool(at = program.start(display))) << "the program did not show its window";
        files = QDir(program.path("")).entryList(QDir::AllEntries | QDir::Hidden);
        QThread::msleep(300); // its first paint
    }
    void press(int x, int y) { display.click(at->x + x, at->y + y); }
    // Ends it with its X button: it exits cleanly and leaves no new file in its folder.
    void close() {
        press(kCloseX, kCloseY);
        EXPECT_TRUE(program.waitForExit(15000)) << "the program did not end cleanly after X";
        EXPECT_EQ(QDir(program.path("")).entryList(QDir::AllEntries | QDir::Hidden), files);
    }

    Desktop display;
    InstalledProgram program;
    bool installed = false;
    std::optional<XRectangle> at;
    QStringList files;
};

// Keys and MIDI messages. How fast they click, with immediate response and with polling, is
// measured by bench/e2e/AppBench.cpp; MainWindowTest checks which of the two ticks at once.
class Clicks : public Program {
  protected:
    // A trigger and the clicks it must give: between least and most, all at x, y.
    struct Step {
        const char* what;
        std::function<void()> trigger;
        size_t least, most;
        int x = 0, y = 0;
    };
    void run(const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            recorder.pump();
            recorder.clicks.clear();
            step.trigger();
            recorder.collect(step.least);
            const size_t n = recorder.clicks.size();
            EXPECT_TRUE(n >= step.least && n <= step.most) << step.what << ": " << n << " clicks";
            for (const auto& c : recorder.clicks)
                EXPECT_TRUE(c.x == step.x && c.y == step.y && c.button == 1)
                    << step.what << ": clicked " << c.x << "," << c.y << " button " << c.button;
        }
    }
    // Sends trigger n times at pauses of 150 to 400 ms (so at any moment of a tick); each must
    // click once at the intro point.
    void eachOnce(const char* what, int n, const std::function<void()>& trigger) {
        for (int i = 0; i < n; ++i) {
            QThread::msleep(static_cast<unsigned long>(150 + 97 * i % 250));
            SCOPED_TRACE(testing::Message() << "trigger " << i);
            run({{what, trigger, 1, 1, kIntroX, kIntroY}});
        }
    }
    // One run on input: a trigger while stopped does nothing, nor after Start (clicked after
    // the flag for English); then body, and X. The group is never written; the settings only
    // gain the language, the font and, with a MIDI device chosen by place, its name.
    void session(int input, bool english, const std::function<void()>& whileStopped,
                 const std::function<void()>& body) {
        launch(input, group);
        if (HasFatalFailure())
            return;
        run({{"stopped", whileStopped, 0, 0}});
        if (english)
            press(kFlagX, kFlagY), QThread::msleep(300);
        press(kStartX, kStartY);
        QThread::msleep(800); // running, with the port open and connected
        run({{"started: nothing stale fires", [] {}, 0, 0}});
        body();
        close();
        std::string stored = settings(english ? 2 : 1, "font=1\r\n", input);
        if (input != kKeyboard) // Start stored the name of the device it opened
            stored.insert(stored.find("[file tasti]"),
                          std::string("midi input nome=") + JackController::kDeviceName + "\r\n");
        EXPECT_EQ(program.read("quindel.ini"), stored);
        EXPECT_EQ(program.read(kGroupFile), group.toStdString());
    }

    const QByteArray group = "[main]\r\nnome=show\r\n" + nextPrevSections("78", "80") +
                             actionSection(1, "65", 1, kIntroX, kIntroY, 1, "Intro") +
                             actionSection(2, "66", 1, kVerseX, kVerseY, 2, "Verse") +
                             actionSection(3, "67", 1, kSoloX, kSoloY, 0, "Solo") +
                             actionSection(4, "3C90", 2, kIntroX, kIntroY, 0, "Note 60") +
                             actionSection(5, "3E90", 2, kVerseX, kVerseY, 0, "Note 62");
    ClickRecorder recorder{800, 500, 450, 450};
};

TEST_F(Clicks, KeysClickOnceATapAndRepeatWhileHeld) {
    const auto key = [this](KeySym k, int holdMs = 0) {
        return [=, this] { display.key(k, holdMs); };
    };
    const auto taps110MsApart = [&] {
        for (int i = 0; i < 8; ++i)
            display.key(XK_a), QThread::msleep(110);
    };
    session(kKeyboard, true, key(XK_a), [&] {
        run({{"held for 1 s: a click on every tick", key(XK_a, 1000), 6, 12, kIntroX, kIntroY},
             {"taps 110 ms apart", taps110MsApart, 8, 8, kIntroX, kIntroY}});
        eachOnce("key tap", 20, key(XK_a));
    });
}

TEST_F(Clicks, MidiTapsClickOnceAndGoOnWhileTheEditorIsOpenedDuringAStream) {
    JackController midi; // throws, failing the test, without JACK
    const int device = midi.deviceNumber();
    ASSERT_GT(device, 0) << "the test's JACK port is not among the program's devices";
    const auto send = [&](std::vector<unsigned char> m) { return [&midi, m] { midi.send(m); }; };
    // The note-off right behind the note-on, as pads send a quick tap.
    const auto tap = [&] { midi.send({0x90, 60, 100}), midi.send({0x80, 60, 0}); };
    session(device, false, send({0x90, 60, 100}), [&] {
        run({{"note 62 on", send({0x90, 62, 90}), 1, 1, kVerseX, kVerseY}});
        {
            // Clock and a controller every half millisecond while the editor is opened with
            // a real click during the drain: the stream fires nothing, taps go on.
            std::jthread stream([&](std::stop_token stop) {
                for (unsigned char v = 0; !stop.stop_requested(); ++v) {
                    midi.send({0xF8}), midi.send({0xB0, 1, static_cast<unsigned char>(v % 128)});
                    std::this_thread::sleep_for(std::chrono::microseconds(500));
                }
            });
            QThread::msleep(300);
            press(kEditorX, kEditorY);
            std::optional<XRectangle> editor;
            ASSERT_TRUE(waitFor(
                [&] { return bool(editor = display.where(display.findClient(kEditorTitle))); },
                10000))
                << "the editor did not open";
            run({{"the stream", [] {}, 0, 0}});
            eachOnce("MIDI tap, editor open during a stream", 5, tap);
            display.click(editor->x + kEditorOkX, editor->y + kEditorOkY);
            ASSERT_TRUE(waitFor([&] { return !display.findClient(kEditorTitle); }, 10000))
                << "the editor did not close";
            run({{"after the editor closed", [] {}, 0, 0}});
            eachOnce("MIDI tap, editor closed, during a stream", 3, tap);
        }
        eachOnce("MIDI tap", 20, tap);
    });
}

// `quindel --trigger CODE` as a key binding runs it: status and message, clicks 100 ms apart
// however fast codes come, and a second start that raises the first (the session checks files).
TEST_F(Clicks, TriggerCommandClicksStepsRefusesWhatItMustAndASecondStartRaisesTheFirst) {
    ASSERT_TRUE(installed = program.install());
    chmod(program.path("").toLocal8Bit(), 0755); // for the other user
    const QString runtime =
        qEnvironmentVariable("XDG_RUNTIME_DIR", QString("/tmp/quindel-%1").arg(geteuid()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LANG", "C"), env.insert("XDG_RUNTIME_DIR", runtime);
    const QStringList nobody = {"--reuid=65534", "--regid=65534", "--clear-groups"};
    // Runs the command (by nobody when asOther) and expects its exit status and message.
    const auto expect = [&](const QString& code, std::string result, bool asOther = false) {
        return [=, this, &env] {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start("setpriv", (asOther ? nobody : QStringList()) +
                                   QStringList{program.path("quindel"), "--trigger", code});
            p.waitForFinished(10000);
            const QByteArray message = p.readAllStandardError().trimmed();
            EXPECT_EQ(std::to_string(p.exitCode()) + " " + message.toStdString(), result);
        };
    };
    expect("65", "1 Quindel is not running: the trigger was not sent")();
    session(
        kKeyboard, false,
        expect("65", "1 Quindel is stopped (press Start): the trigger was dropped"), [&] {
            run({{"--trigger 65", expect("65", "0 "), 1, 1, kIntroX, kIntroY},
                 {"--trigger next", expect("next", "0 "), 1, 1, kIntroX, kIntroY},
                 {"malformed",
                  expect("6x5", "1 Not a trigger code, give a key's code (116), a MIDI "
                                "command (3C90), next or prev: 6x5"),
                  0, 0},
                 {"another user",
                  expect("65",
                         "1 Cannot reach Quindel: " + runtime.toStdString() + ": Permission denied",
                         true),
                  0, 0}});

            // 1000 codes from four senders at once, straight into the channel: each is taken or
            // refused as too many, and each one taken clicks.
            const auto openFiles = [&] {
                return QDir(QStringLiteral("/proc/%1/fd").arg(program.pid())).count();
            };
            const auto filesBefore = openFiles();
            const std::string socket =
                quindel::channelLocation(quindel::userFilesFolderFor(std::filesystem::canonical(
                                             program.path("").toStdString())))
                    .socketPath;
            std::atomic<int> taken = 0, full = 0, running = 4;
            std::vector<std::jthread> senders;
            for (int i = 0; i < 4; ++i)
                senders.emplace_back([&] {
                    for (int n = 0; n < 250; ++n) {
                        const std::string reply =
                            quindel::askRunningProgram(socket, "trigger 65", 2000ms).reply;
                        taken += reply == "taken";
                        full += reply == "full";
                    }
                    --running;
                });
            recorder.clicks.clear();
            while (running > 0)
                recorder.pump(), QThread::usleep(500);
            recorder.collect(size_t(taken), 15000, 300);
            EXPECT_EQ(taken + full, 1000);
            EXPECT_GE(taken, int(quindel::kMaxCommandTriggers));
            EXPECT_EQ(recorder.clicks.size(), size_t(taken));
            // However fast they come, the ticks that click stay 100 ms apart: by the server's
            // clock, which sees each click a little later or sooner while the senders crowd the
            // program, they span at least 100 ms for each, give or take that at both ends.
            ASSERT_GE(recorder.clicks.size(), 2u);
            const Time span = recorder.clicks.back().serverMs - recorder.clicks.front().serverMs;
            EXPECT_GE(span + 30, 100 * (recorder.clicks.size() - 1))
                << "of " << recorder.clicks.size() << " clicks";
            EXPECT_EQ(openFiles(), filesBefore);

            // A second start, with another window over the running one: that one is raised.
            ClickRecorder cover{at->x, at->y, 300, 300};
            const Window main = display.findClient(kMainTitle);
            const auto mainOnTop = [&] {
                Window root = 0, parent = 0, *children = nullptr;
                unsigned int n = 0;
                XQueryTree(display.display(), DefaultRootWindow(display.display()), &root, &parent,
                           &children, &n);
                const auto place = [&](Window w) { return std::find(children, children + n, w); };
                const bool onTop =
                    place(cover.window()) < place(main) && place(main) != children + n;
                XFree(children);
                return onTop;
            };
            ASSERT_FALSE(mainOnTop());
            QProcess second;
            second.setProcessEnvironment(env);
            second.start(program.path("quindel"), {});
            EXPECT_TRUE(second.waitForFinished(10000) && second.exitCode() == 0);
            EXPECT_EQ(second.readAllStandardError().trimmed(),
                      "Quindel is already running: its window was brought to the front");
            EXPECT_TRUE(waitFor(mainOnTop, 5000));
        });
}

// On a display that a window manager manages; stacking, focus, modality and minimising are
// read back from the X server and the manager's EWMH properties.
class WindowManager : public Program {
  protected:
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
    // Whether upper is above lower in the manager's stacking order.
    bool above(Window upper, Window lower) {
        const std::vector<long> order = rootProperty("_NET_CLIENT_LIST_STACKING");
        const auto place = [&](Window w) { return std::find(order.begin(), order.end(), long(w)); };
        return place(lower) < place(upper) && place(upper) != order.end();
    }
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
    // In the open editor: adds the action "coda", key B, clicking 1000, 800, and leaves with OK.
    // The click point capture minimises the editor until the point is clicked.
    void addActionAndSave(Window editor) {
        const XRectangle e = *display.where(editor);
        display.click(e.x + kNewActionX, e.y + kNewActionY);
        const Window description = expectModalDialog("description box", {main, editor});
        for (KeySym k : {XK_c, XK_o, XK_d, XK_a, XK_Return})
            display.key(k);
        const Window capture = expectModalDialog("key capture", {main, editor, description});
        display.key(XK_b);
        QThread::msleep(200);
        const XRectangle c = *display.where(capture);
        display.click(c.x + kConfirmX, c.y + kConfirmY);
        expectModalDialog("click point message", {main, editor, description, capture});
        display.key(XK_Return);
        const auto minimised = [&] {
            const std::vector<long> state = property(editor, "WM_STATE");
            return !state.empty() && state[0] == IconicState && !display.findClient(kEditorTitle);
        };
        ASSERT_TRUE(waitFor(minimised, 5000)) << "the editor was not minimised";
        EXPECT_TRUE(hasState(editor, "_NET_WM_STATE_HIDDEN"));
        display.click(1000, 800, 300);
        ASSERT_TRUE(waitFor([&] { return display.findClient(kEditorTitle) == editor; }, 5000))
            << "the editor did not come back";
        EXPECT_EQ(property(editor, "WM_STATE").at(0), NormalState);
        EXPECT_TRUE(above(editor, main));
        QThread::msleep(300);
        const XRectangle back = *display.where(editor);
        display.click(back.x + kEditorOkX, back.y + kEditorOkY);
        EXPECT_TRUE(waitFor([&] { return !display.findClient(kEditorTitle); }, 5000));
    }
    static constexpr const char* kSavedAction =
        "tasto=66\r\ntipo= 1\r\nxx= 1000\r\nyy= 800\r\nsequenza= 0\r\ndescrizione=coda\r\n";
    Window main = 0;
};

TEST_F(WindowManager, MainWindowIsAboveOthersOnlyWhileStartedAndItsDialogsAreModalAboveIt) {
    ASSERT_FALSE(qEnvironmentVariable("QUINDEL_TEST_WM").isEmpty())
        << "run under tests/support/with-services.sh --wm";
    program.write("gruppo-Alpha.ini", "[main]\r\nnome=Alpha\r\n"); // listed first
    launch(kKeyboard, "[main]\r\nnome=Zeta\r\n" + actionSection(1, "65", 1, 1050, 100, 0, "A"));
    ASSERT_FALSE(rootProperty("_NET_SUPPORTING_WM_CHECK").empty()) << "no window manager";
    main = display.findClient(kMainTitle);
    ::Display* d = display.display();

    // Undecorated, and dragged by its title.
    EXPECT_EQ(property(main, "_NET_FRAME_EXTENTS"), (std::vector<long>{0, 0, 0, 0}));
    display.moveTo(at->x + kTitleX, at->y + kTitleY);
    XTestFakeButtonEvent(d, 1, True, CurrentTime);
    for (int step = 1; step <= 10; ++step)
        QThread::msleep(20),
            display.moveTo(at->x + kTitleX + 12 * step, at->y + kTitleY + 9 * step);
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    XFlush(d);
    const auto moved = [&] {
        return display.where(main)->x - at->x == 120 && display.where(main)->y - at->y == 90;
    };
    EXPECT_TRUE(waitFor(moved, 5000))
        << "dragged to " << display.where(main)->x << "," << display.where(main)->y;
    at = display.where(main);

    // Another program's window over its right part, raised and focused by a click where it
    // does not overlap: the main window stays above it only while started, and stays the same
    // X window at the same place.
    const Window other = XCreateSimpleWindow(d, DefaultRootWindow(d), at->x + 150, at->y + 40, 300,
                                             300, 0, 0, WhitePixel(d, DefaultScreen(d)));
    XSizeHints hints{};
    hints.flags = USPosition, hints.x = at->x + 150, hints.y = at->y + 40;
    XSetWMNormalHints(d, other, &hints);
    XMapRaised(d, other);
    XSync(d, False);
    for (const bool started : {false, true, false}) {
        if (started != hasState(main, "_NET_WM_STATE_ABOVE")) {
            press(kStartX, kStartY); // Start, then Stop
            waitFor([&] { return hasState(main, "_NET_WM_STATE_ABOVE") == started; }, 5000);
        }
        const char* what = started ? "started" : "stopped";
        EXPECT_EQ(hasState(main, "_NET_WM_STATE_ABOVE"), started) << what;
        display.click(at->x + 350, at->y + 200);
        EXPECT_TRUE(waitFor([&] { return active() == other; }, 5000))
            << what << ": the other window did not get the focus";
        QThread::msleep(200);
        EXPECT_EQ(above(main, other), started) << what;
        EXPECT_EQ(display.findClient(kMainTitle), main) << what;
        const auto now = display.where(main);
        EXPECT_TRUE(now && now->x == at->x && now->y == at->y) << what;
    }
    XDestroyWindow(d, other);
    ClickRecorder recorder{1000, 40, 260, 260}; // clear of the main window and the dialogs

    // Started, its dialogs are modal above it; the click point capture minimises the editor.
    press(kStartX, kStartY);
    ASSERT_TRUE(waitFor([&] { return hasState(main, "_NET_WM_STATE_ABOVE"); }, 5000));
    press(kAboutX, kAboutY);
    const Window about = expectModalDialog("About", {main});
    display.key(XK_Return); // OK has the focus
    EXPECT_TRUE(waitFor([&] { return !display.findClient("Informazioni su Quindel"); }, 5000));
    QThread::msleep(300);

    // Escape leaves the editor with Zeta still running. An edited point acts at once, and
    // Discard on leaving brings back the point of the file.
    const auto keyA = [&](int x, int y, const char* what) {
        recorder.pump(), recorder.clicks.clear(), display.key(XK_a), recorder.collect(1);
        const auto& c = recorder.clicks;
        EXPECT_TRUE(c.size() == 1 && c[0].x == x && c[0].y == y) << what;
    };
    const auto editorGone = [&] { return !display.findClient(kEditorTitle); };
    const std::string zeta = program.read(kGroupFile);
    press(kEditorX, kEditorY);
    const Window first = expectModalDialog("editor left with Escape", {main, about});
    display.key(XK_Escape);
    EXPECT_TRUE(waitFor(editorGone, 5000));
    keyA(1050, 100, "after Escape");
    press(kEditorX, kEditorY);
    const Window editing = expectModalDialog("editor to edit in", {main, about, first});
    display.click(display.where(editing)->x + kFirstRowX, display.where(editing)->y + kFirstRowY);
    QThread::msleep(200), display.key(XK_Return);
    const Window edit = expectModalDialog("edit dialog", {main, editing});
    display.click(display.where(edit)->x + kCapturePointX, display.where(edit)->y + kCapturePointY);
    const Window message = expectModalDialog("click point message", {main, editing, edit});
    display.key(XK_Return), QThread::msleep(500), display.click(1200, 250, 300);
    EXPECT_EQ(expectModalDialog("edit dialog again", {main, editing, message}),
              display.findClient("Modifica azione"));
    display.key(XK_Return); // OK
    EXPECT_TRUE(waitFor([&] { return active() == editing; }, 5000));
    keyA(1200, 250, "edited");
    display.key(XK_Escape);
    expectModalDialog("save question", {main, editing, edit});
    display.key(XK_Tab), display.key(XK_space); // Discard, after Save
    EXPECT_TRUE(waitFor(editorGone, 5000));
    keyA(1050, 100, "after Discard");
    EXPECT_EQ(program.read(kGroupFile), zeta);

    press(kEditorX, kEditorY);
    const Window editor = expectModalDialog("editor", {main, about, first, editing});
    ASSERT_EQ(display.findClient(kEditorTitle), editor);
    addActionAndSave(editor);
    EXPECT_NE(program.read(kGroupFile).find(kSavedAction), std::string::npos)
        << program.read(kGroupFile);
    press(kStartX, kStartY); // Stop
    close();
}

// The Debian package that package-test.sh made (QUINDEL_TEST_PACKAGE), unpacked and run by an
// unprivileged user, as after installing it.
class Package : public WindowManager {};

TEST_F(Package, UnpackedReadOnlyProgramKeepsTheUsersFilesInAPrivatePerUserFolder) {
    const QString deb = qEnvironmentVariable("QUINDEL_TEST_PACKAGE");
    ASSERT_TRUE(QFile::exists(deb)) << "run by package-test.sh, which makes the package";
    const auto listing = [](const QString& folder) {
        QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden);
        return names.sort(), names;
    };
    // Root (as in CI) runs the program as the unprivileged quindeltest, made when missing.
    QStringList asUser;
    if (::geteuid() == 0) {
        if (!::getpwnam("quindeltest"))
            QProcess::execute("useradd", {"--create-home", "--user-group", "--shell",
                                          "/usr/sbin/nologin", "quindeltest"});
        asUser = {"setpriv", "--reuid=quindeltest", "--regid=quindeltest", "--init-groups"};
    }
    const auto own = [&](const QString& path) {
        if (!asUser.isEmpty())
            QProcess::execute("chown", {"-R", "quindeltest:", path});
    };
    struct Case {
        const char* what;
        bool programWritable, userWritable;
    };
    for (const Case& c : {Case{"read-only program folder", false, true},
                          Case{"writable program folder", true, true},
                          Case{"read-only program folder and per-user folder", false, false}}) {
        SCOPED_TRACE(c.what);
        QTemporaryDir tmp;
        const std::shared_ptr<void> removable(nullptr, [&](void*) { // made writable to go
            QProcess::execute("chmod", {"-R", "u+w", tmp.path()});
        });
        const QString folder = tmp.path() + "/opt/quindel", home = tmp.path() + "/home",
                      config = home + "/config",
                      files = c.programWritable ? folder : config + "/quindel";
        QProcess::execute("dpkg-deb", {"-x", deb, tmp.path()});
        QDir().mkpath(c.userWritable ? home : config);
        own(home);
        QProcess::execute("chmod", {"-R", c.userWritable ? "u+w" : "a-w", home});
        QProcess::execute("chmod", {"-R", c.programWritable ? "u+w" : "a-w", folder});
        if (c.programWritable)
            own(folder);
        ::chmod(tmp.path().toUtf8(), 0755);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home), env.insert("XDG_CONFIG_HOME", config);
        env.remove("XDG_RUNTIME_DIR");
        const QStringList packaged = listing(folder);
        program.useFolder(folder);

        // Each run starts the program, does its part and ends it with X; the program folder
        // gains the user's files only when the user may write to it.
        const auto session = [&](const std::function<void()>& body, QStringList made) {
            ASSERT_TRUE(bool(at = program.start(display, asUser, env))) << "no window";
            main = display.findClient(kMainTitle);
            body();
            press(kCloseX, kCloseY);
            EXPECT_TRUE(program.waitForExit(15000));
            if (c.programWritable)
                made << packaged, made.sort();
            EXPECT_EQ(listing(folder), c.programWritable ? made : packaged);
        };
        session([] {}, {"quindel.ini"});
        struct stat st {};
        const bool perUser = ::stat(QString(config + "/quindel").toUtf8(), &st) == 0;
        EXPECT_EQ(perUser, !c.programWritable && c.userWritable);
        EXPECT_TRUE(!perUser || (st.st_mode & 07777) == 0700) << std::oct << st.st_mode;
        if (!c.userWritable)
            continue;
        // The user chooses the PC keyboard, makes a group in the editor; the next run reads it
        // back and its key clicks its point.
        QFile settings(files + "/quindel.ini");
        ASSERT_TRUE(settings.open(QIODevice::Append));
        settings.write("[midi config]\r\nmidi input= 99\r\n"), settings.close();
        session(
            [&] {
                press(kEditorX, kEditorY);
                const Window editor = expectModalDialog("editor", {main});
                display.click(display.where(editor)->x + kNewGroupX,
                              display.where(editor)->y + kNewGroupY);
                expectModalDialog("name box", {main, editor});
                for (KeySym k : {XK_s, XK_h, XK_o, XK_w, XK_Return})
                    display.key(k);
                QThread::msleep(300);
                addActionAndSave(editor);
            },
            {"quindel.ini", "gruppo-show.ini"});
        QFile group(files + "/gruppo-show.ini");
        EXPECT_TRUE(group.open(QIODevice::ReadOnly) && group.readAll().contains(kSavedAction));
        ClickRecorder recorder{800, 500, 450, 450};
        session(
            [&] {
                press(kStartX, kStartY);
                QThread::msleep(500);
                display.key(XK_b);
                recorder.collect(1);
            },
            {"quindel.ini", "gruppo-show.ini"});
        ASSERT_EQ(recorder.clicks.size(), 1u);
        EXPECT_TRUE(recorder.clicks[0].x == 1000 && recorder.clicks[0].y == 800);
    }
}

} // namespace
