// The installed program in headless Wayland sessions (see CMakeLists.txt): real MIDI notes over
// JACK make it click through the compositor's own input protocol, and a probe client sees where
// each press lands. Under weston, which offers no way to click, the backend says so. On sway a
// second start brings the first to the front with the desktop's activation token, and the
// bindings that `quindel --print-bindings sway` prints make keys of the seat click.
#include "e2e/WaylandSession.h"
#include "platform/wayland/KdeGlobalShortcuts.h"
#include "platform/xkb/XkbKeymapCodes.h"
#include "support/SeatKeyboards.h"

#include "xdg-activation-v1-client-protocol.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <wayland-client.h>

#include <linux/input-event-codes.h>

#include <csignal>
#include <cstring>

using namespace quindel::e2e;

namespace {

// Kills the compositor: the program must end by itself, normally, as with a lost X display.
void compositorGoesAway(InstalledProgram& program) {
    // Mutter 43 does not end on SIGTERM while a remote desktop session is open (its shutdown
    // spins): it is killed, as in a crash.
    const bool mutter = qEnvironmentVariable("QUINDEL_TEST_COMPOSITOR") == "mutter";
    ASSERT_EQ(::kill(qEnvironmentVariable("QUINDEL_TEST_COMPOSITOR_PID").toInt(),
                     mutter ? SIGKILL : SIGTERM),
              0);
    QProcess& p = program.process();
    EXPECT_TRUE(p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit)
        << "the program did not end after the compositor went away";
}

// KWin offers its fake input only to programs that its applications menu lists (with-services.sh
// sets KWin up as a Plasma session does, menu file and prefix): without an entry for this test
// the backend has no way to click and says what is missing, the menu file where the session
// names none, else the entry; with the entry it clicks. (In a KWin session of its own.)
TEST(KWinAccess, WithoutTheDesktopEntryTheBackendSaysWhatIsMissing) {
    const std::string self =
        QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath().toStdString();
    const QByteArray prefix = qgetenv("XDG_MENU_PREFIX");
    for (const bool plasma : {false, true}) {
        SCOPED_TRACE(plasma ? "Plasma's menu" : "no menu");
        qputenv("XDG_MENU_PREFIX", plasma ? prefix : QByteArray("not-plasma-"));
        quindel::WaylandPlatform refused;
        EXPECT_FALSE(refused.canClick());
        const std::string missing =
            plasma ? "no desktop entry in " +
                         qEnvironmentVariable("QUINDEL_TEST_APPLICATIONS").toStdString() + ", "
                   : "no menu file menus/not-plasma-applications.menu";
        EXPECT_NE(refused.errorText().find(missing), std::string::npos) << refused.errorText();
        if (plasma) {
            EXPECT_NE(refused.errorText().find(" names " + self + " with"), std::string::npos)
                << refused.errorText();
        }
    }
    qputenv("XDG_MENU_PREFIX", prefix);
    allowFakeInput();
    QThread::msleep(2000); // KWin looks at its applications folders at most every 1.5 s
    quindel::WaylandPlatform allowed;
    EXPECT_TRUE(allowed.canClick()) << allowed.errorText();
}

// 100 MIDI taps alternating between a point on the first output and one on the second where
// the session has two (sway, Mutter); else both on the one output. Each clicks its exact pixel
// once. Halfway, sway's second output changes its mode, so the layout's extent grows under the
// running program: the clicks that follow must still land on their pixels.
TEST(WaylandClicks, MidiNotesClickTheExactPixelOnEveryOutputAsTheLayoutChanges) {
    const bool sway = qEnvironmentVariable("QUINDEL_TEST_COMPOSITOR") == "sway";
    const bool twoOutputs = sway || qEnvironmentVariable("QUINDEL_TEST_COMPOSITOR") == "mutter";
    InstalledProgram program;
    ASSERT_TRUE(program.install());
    allowFakeInput(program.path("quindel.desktop"));
    quindel::WaylandPlatform pointer;
    ASSERT_TRUE(pointer.canClick()) << "this test cannot click: " << pointer.errorText();
    JackController midi;
    const int device = midi.deviceNumber();
    ASSERT_GT(device, 0) << "the test's JACK port is not among the program's devices";

    const int points[2][2] = {{300, 200}, {twoOutputs ? 1280 + 300 : 1000, twoOutputs ? 400 : 900}};
    program.write("quindel.ini", QByteArray("[generale]\r\nlingua= 1\r\n[midi config]\r\n"
                                            "midi input= ") +
                                     QByteArray::number(device) +
                                     "\r\n[file tasti]\r\nnomefile=gruppo.ini\r\n");
    program.write("gruppo.ini",
                  "[main]\r\nnome=show\r\n" +
                      actionSection(1, "3C90", 2, points[0][0], points[0][1], 0, "first") +
                      actionSection(2, "3E90", 2, points[1][0], points[1][1], 0, "second"));
    ASSERT_TRUE(program.launch());
    const auto probe = startRunning(pointer, midi, 60);
    ASSERT_TRUE(probe) << "Start did not start the program, or its clicks reach nobody";

    for (int i = 0; i < 100; ++i) {
        if (i == 50 && sway) {
            ASSERT_EQ(QProcess::execute("swaymsg", {"output HEADLESS-2 mode 1024x768"}), 0);
            QThread::msleep(500);
        }
        const int which = i % 2;
        const auto note = static_cast<unsigned char>(which == 0 ? 60 : 62);
        midi.send({0x90, note, 100}), midi.send({0x80, note, 0});
        // The left button at the point, and no second press.
        EXPECT_EQ(probe->next("press", 3000), "press " + std::to_string(points[which][0]) + " " +
                                                  std::to_string(points[which][1]) + " 272")
            << "trigger " << i;
        EXPECT_EQ(probe->next("press", 120), "") << "trigger " << i << " clicked twice";
    }
    compositorGoesAway(program);
}

// weston offers neither the virtual pointer, fake input nor a remote desktop: the backend
// reaches the compositor and its outputs but has no way to click, so Start refuses (the main
// window tests show its message); the program still runs until the compositor goes away.
TEST(NoClickWay, TheBackendReportsNoWayToClickAndTheProgramEndsWithTheCompositor) {
    quindel::WaylandPlatform platform;
    EXPECT_TRUE(platform.available()) << platform.errorText();
    EXPECT_FALSE(platform.canClick());
    EXPECT_FALSE(platform.canWatchKeys());
    EXPECT_EQ(platform.screenSize().width, 1024);
    EXPECT_EQ(platform.screenSize().height, 768);

    InstalledProgram program;
    ASSERT_TRUE(program.install());
    ASSERT_TRUE(program.launch());
    // It wrote its settings once its window was made.
    ASSERT_TRUE(waitFor(
        [&] { return program.read("quindel.ini").find("font=1") != std::string::npos; }, 20000));
    compositorGoesAway(program);
}

// A token from the compositor, as a desktop's launcher gets one for the program it starts.
std::string activationToken() {
    struct Ask {
        xdg_activation_v1* activation = nullptr;
        std::string token;
    } ask;
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr)
        return {};
    static const wl_registry_listener globals = {
        .global =
            [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
                if (std::strcmp(interface, xdg_activation_v1_interface.name) == 0)
                    static_cast<Ask*>(data)->activation = static_cast<xdg_activation_v1*>(
                        wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
            },
        .global_remove = [](void*, wl_registry*, uint32_t) {}};
    static const xdg_activation_token_v1_listener done = {
        .done = [](void* data, xdg_activation_token_v1*, const char* token) {
            static_cast<Ask*>(data)->token = token;
        }};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &globals, &ask);
    wl_display_roundtrip(display);
    if (ask.activation != nullptr) {
        xdg_activation_token_v1* token = xdg_activation_v1_get_activation_token(ask.activation);
        xdg_activation_token_v1_add_listener(token, &done, &ask);
        xdg_activation_token_v1_set_app_id(token, "quindel");
        xdg_activation_token_v1_commit(token);
        wl_display_roundtrip(display);
        xdg_activation_token_v1_destroy(token);
        xdg_activation_v1_destroy(ask.activation);
    }
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return ask.token;
}

// sway's view of the program's window: whether it has the focus or asks for attention (what
// sway does with an activation by default).
bool swayActivatedQuindel() {
    QProcess tree;
    tree.start("swaymsg", {"-t", "get_tree", "--raw"});
    tree.waitForFinished(5000);
    QList<QJsonObject> nodes{QJsonDocument::fromJson(tree.readAllStandardOutput()).object()};
    while (!nodes.isEmpty()) {
        const QJsonObject node = nodes.takeLast();
        if (node["app_id"].toString() == "quindel")
            return node["focused"].toBool() || node["urgent"].toBool();
        for (const char* children : {"nodes", "floating_nodes"})
            for (const QJsonValue child : node[children].toArray())
                nodes.append(child.toObject());
    }
    return false;
}

// A second start that the desktop gave an activation token, while another program has the
// focus, hands the token on: the running program's window is activated with it, and the
// second start ends with its message, the files untouched.
TEST(WaylandFront, ASecondStartActivatesTheRunningWindowWithItsToken) {
    InstalledProgram program;
    ASSERT_TRUE(program.install());
    ASSERT_TRUE(program.launch());
    ASSERT_TRUE(waitFor(
        [&] { return program.read("quindel.ini").find("font=1") != std::string::npos; }, 20000));
    quindel::WaylandProbe probe(QUINDEL_WAYLAND_PROBE); // takes the focus
    ASSERT_FALSE(probe.next("ready").empty());
    QThread::msleep(300);
    ASSERT_FALSE(swayActivatedQuindel());
    const std::string settings = program.read("quindel.ini");

    const std::string token = activationToken();
    ASSERT_FALSE(token.empty());
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_ACTIVATION_TOKEN", QString::fromStdString(token));
    second.setProcessEnvironment(env);
    second.start(program.path("quindel"), {});
    EXPECT_TRUE(second.waitForFinished(10000) && second.exitCode() == 0);
    EXPECT_EQ(second.readAllStandardError().trimmed(),
              "Quindel is already running: its window was brought to the front");
    EXPECT_TRUE(waitFor(swayActivatedQuindel, 5000));
    EXPECT_EQ(program.read("quindel.ini"), settings);
}

// `quindel --print-bindings sway` prints a binding for each key of the groups, named by the
// compositor's keymap; sway takes every line, and a key pressed on the seat then runs the
// command, whose trigger clicks the action's point, once.
TEST(WaylandFront, PrintedBindingsMakeTheKeysOfTheGroupsClick) {
    InstalledProgram program;
    ASSERT_TRUE(program.install());
    program.write("quindel.ini", "[generale]\r\nlingua= 2\r\n[midi config]\r\nmidi input= 99\r\n"
                                 "[file tasti]\r\nnomefile=gruppo-live.ini\r\n");
    program.write("gruppo-live.ini", "[main]\r\nnome=live\r\n" +
                                         actionSection(1, "116", 1, 300, 200, 0, "F5") +
                                         actionSection(2, "65", 1, 500, 300, 0, "A"));
    program.write("gruppo-other.ini",
                  "[main]\r\nnome=other\r\n" + actionSection(1, "186", 1, 10, 10, 0, "semicolon"));
    QProcess print;
    print.start(program.path("quindel"), {"--print-bindings", "sway"});
    ASSERT_TRUE(print.waitForFinished(10000) && print.exitCode() == 0);
    const QString command = program.path("quindel");
    const QStringList lines =
        QString(print.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    const QStringList expected = {"bindsym --no-repeat a exec " + command + " --trigger 65",
                                  "bindsym --no-repeat F5 exec " + command + " --trigger 116",
                                  "bindsym --no-repeat semicolon exec " + command +
                                      " --trigger 186"};
    ASSERT_EQ(lines.mid(1).join('\n').toStdString(), expected.join('\n').toStdString());
    for (const QString& line : expected)
        EXPECT_EQ(QProcess::execute("swaymsg", {"--quiet", line}), 0) << line.toStdString();

    quindel::test::VirtualKeyboard keyboard;
    ASSERT_TRUE(keyboard.ready()) << "sway offers no virtual keyboard";
    quindel::WaylandPlatform pointer;
    ASSERT_TRUE(program.launch());
    // The first Start of a run without watched keys says how keys come: Return closes that.
    const auto probe = startRunning(
        pointer, [&] { keyboard.tap(KEY_F5); }, [&] { keyboard.tap(KEY_ENTER); });
    ASSERT_TRUE(probe) << "the program never clicked on F5";
    for (int i = 0; i < 5; ++i) {
        keyboard.tap(KEY_A);
        EXPECT_EQ(probe->next("press", 3000), "press 500 300 272") << "A " << i;
        keyboard.tap(KEY_F5);
        EXPECT_EQ(probe->next("press", 3000), "press 300 200 272") << "F5 " << i;
    }
    EXPECT_EQ(probe->next("press", 300), "");
}

// A call to KDE's global shortcut service, by busctl: its answer, or a null text when it failed.
QString globalShortcuts(const QStringList& call) {
    QProcess busctl;
    busctl.start("busctl", QStringList{"--user", "call", "org.kde.kglobalaccel", "/kglobalaccel",
                                       "org.kde.KGlobalAccel"} +
                               call);
    busctl.waitForFinished(5000);
    const QString answer = QString(busctl.readAllStandardOutput()).trimmed();
    return busctl.exitCode() != 0 ? QString() : answer.isNull() ? QString("") : answer;
}

// On KWin with its global shortcut service, the keys of the group are Quindel's shortcuts, with
// no binding written: a key pressed through KWin clicks its action's point, once. A key that
// another program has stays that program's, and its press clicks nothing.
TEST(WaylandShortcuts, TheGroupsKeysAreGlobalShortcutsThatClick) {
    ASSERT_TRUE(waitFor([] { return !globalShortcuts({"allComponents"}).isNull(); }, 20000))
        << "KWin runs no global shortcut service";
    const QStringList other = {"4", "othertool", "f7", "Other tool", "Its F7"};
    ASSERT_FALSE(globalShortcuts(QStringList{"doRegister", "as"} + other).isNull());
    ASSERT_EQ(globalShortcuts(QStringList{"setShortcut", "asaiu"} + other +
                              QStringList{"1", "16777270", "4"}),
              "ai 1 16777270");
    InstalledProgram program;
    ASSERT_TRUE(program.install());
    allowFakeInput(program.path("quindel.desktop"));
    program.write("quindel.ini", "[generale]\r\nlingua= 2\r\n[midi config]\r\nmidi input= 99\r\n"
                                 "[file tasti]\r\nnomefile=gruppo-live.ini\r\n");
    program.write("gruppo-live.ini", "[main]\r\nnome=live\r\n" +
                                         actionSection(1, "116", 1, 300, 200, 0, "F5") +
                                         actionSection(2, "65", 1, 500, 300, 0, "A") +
                                         actionSection(3, "118", 1, 700, 400, 0, "F7"));
    ASSERT_TRUE(program.launch());
    const auto shortcutOf = [](const char* action) {
        return globalShortcuts({"shortcut", "as", "4", "quindel", action, "Quindel", ""});
    };
    ASSERT_TRUE(waitFor([&] { return shortcutOf("trigger-116") == "ai 1 16777268"; }, 20000))
        << shortcutOf("trigger-116").toStdString();
    EXPECT_EQ(shortcutOf("trigger-65"), "ai 1 65");
    EXPECT_EQ(shortcutOf("trigger-118"), "ai 1 0"); // listed, without its key

    quindel::WaylandPlatform pointer;
    quindel::test::FakeKeyboard keyboard;
    ASSERT_TRUE(keyboard.available());
    const auto probe = startRunning(pointer, [&] { keyboard.tap(KEY_F5); });
    ASSERT_TRUE(probe) << "the program never clicked on F5";
    for (int i = 0; i < 5; ++i) {
        keyboard.tap(KEY_A);
        EXPECT_EQ(probe->next("press", 3000), "press 500 300 272") << "A " << i;
        keyboard.tap(KEY_F7);
        keyboard.tap(KEY_F5);
        EXPECT_EQ(probe->next("press", 3000), "press 300 200 272") << "F5 " << i;
    }
    EXPECT_EQ(probe->next("press", 300), "");
}

// A group change: the shortcuts of keys the new group no longer uses are removed, and those it
// keeps stay, also once they are released at the end.
TEST(WaylandShortcuts, ShortcutsFollowTheGroup) {
    ASSERT_TRUE(waitFor([] { return !globalShortcuts({"allComponents"}).isNull(); }, 20000));
    quindel::XkbKeymapCodes keymap;
    ASSERT_TRUE(keymap.setKeymapNames("us"));
    const auto shortcutOf = [](const char* action) {
        return globalShortcuts({"shortcut", "as", "4", "quindel", action, "Quindel", ""});
    };
    const auto actions = [] {
        return globalShortcuts({"allActionsForComponent", "as", "1", "quindel"});
    };
    quindel::KdeGlobalShortcuts shortcuts;
    ASSERT_TRUE(shortcuts.open()) << shortcuts.errorText();
    EXPECT_TRUE(shortcuts.setKeys({116, 65, 34}, keymap).empty());
    EXPECT_EQ(shortcutOf("trigger-34"), "ai 1 16777239"); // Page Down
    EXPECT_TRUE(shortcuts.setKeys({65}, keymap).empty());
    EXPECT_EQ(shortcutOf("trigger-65"), "ai 1 65");
    EXPECT_FALSE(actions().contains("trigger-116"));
    EXPECT_FALSE(actions().contains("trigger-34"));
    shortcuts.release();
    EXPECT_TRUE(actions().contains("trigger-65")); // still listed
}

} // namespace
