#include "support/FakeMidiInput.h"
#include "support/FakePlatform.h"

#include "core/engine/RuntimeState.h"
#include "core/engine/TriggerDispatch.h"
#include "core/midi/MidiIntake.h"
#include "core/midi/PortControl.h"
#include "core/storage/GroupFiles.h"
#include "core/storage/SettingsAccess.h"
#include "ui/AssignmentEditor.h"
#include "ui/DeviceDialog.h"
#include "ui/KeyCaptureDialog.h"
#include "ui/MidiCaptureDialog.h"
#include "ui/RtMidiInput.h"

#include <QApplication>
#include <QComboBox>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <RtMidi.h>
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef KeyPress // an X11 macro that would hide QEvent::KeyPress

#include <array>
#include <deque>
#include <filesystem>
#include <fstream>
#include <set>

namespace quindel::test {
namespace {

using Rows = std::vector<std::string>;

template <typename Window> struct Recording : Window {
    using Window::Window;
    Rows messages;
    void showMessage(const QString& text) override { messages.push_back(text.toStdString()); }
};

// A fresh runtime state, in Italian, whose program folder is a temporary folder.
class EditorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        state.programFolder = dir.path().toStdString();
        bindSettingsIni(state);
        loadLanguageTexts(state.texts, kItalian);
    }
    std::string path(const std::string& name) const { return state.programFolder + "/" + name; }
    std::string readFile(const std::string& name) const {
        std::ifstream file(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }
    // Writes a group: action n has key keys[n - 1] (default 64 + n), point (10n, 20n), sequence
    // position seq[n - 1].
    void writeGroup(const std::string& name, const Rows& actions, std::vector<int> seq,
                    std::vector<std::size_t> keys = {}) const {
        QString text = "[main]\r\nnome=" + QString::fromStdString(name) +
                       "\r\n[tasto-next]\r\ntasto=78\r\n[tasto-prev]\r\ntasto=80\r\n";
        for (std::size_t i = 1; i <= actions.size(); ++i)
            text += QString::asprintf("[tasto-00%zu]\r\nordine=%zu\r\ntasto=%zu\r\ntipo=1\r\n"
                                      "xx=%zu\r\nyy=%zu\r\nsequenza=%d\r\ndescrizione=%s\r\n",
                                      i, i, keys.empty() ? 64 + i : keys[i - 1], 10 * i, 20 * i,
                                      seq[i - 1], actions[i - 1].c_str());
        std::ofstream(path("gruppo-" + name + ".ini"), std::ios::binary) << text.toStdString();
    }

    QTemporaryDir dir;
    RuntimeState state;
    FakePlatform platform;
};

TEST_F(EditorTest, MidiSelectListsDevicesThenKeyboardSelectsByStoredDeviceAndStoresOnOk) {
    FakeMidiInput control;
    // {stored device, devices present, selected row, device after loading}
    const int cases[][4] = {{-3, 2, 0, 0},      {2, 2, 1, 2}, {3, 2, 2, 3}, {7, 2, 2, 7},
                            {99, 120, 120, 99}, {5, 0, 0, 5}, {0, 2, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        control.devices.assign(c[1], "Device");
        state.setInputDevice(static_cast<int16_t>(c[0]));
        Recording<DeviceDialog> dialog(state, control);
        dialog.show();
        EXPECT_EQ(dialog.messages.size(), c[1] == 0 ? 1u : 0u); // "no device" once shown
        ASSERT_EQ(dialog.deviceList->count(), c[1] + 1);        // the devices, then the keyboard
        EXPECT_EQ(dialog.deviceList->currentRow(), c[2]);
        EXPECT_EQ(state.midiInputDevice, c[3]);
    }
    // OK stores the choice; Cancel or no selection stores nothing.
    Recording<DeviceDialog> dialog(state, control);
    dialog.show();
    dialog.deviceList->clearSelection();
    dialog.okClicked();
    EXPECT_EQ(dialog.messages, Rows{state.texts.selectDeviceMessage});
    dialog.deviceList->setCurrentRow(1);
    QTest::mouseClick(dialog.cancelButton, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(state.midiInputDevice, kNoInputDevice);
    EXPECT_FALSE(std::filesystem::exists(path("quindel.ini")));

    for (const auto& [row, device, stored] :
         {std::tuple{0, 1, "midi input= 1\r\n"}, std::tuple{2, 99, "midi input= 99\r\n"}}) {
        Recording<DeviceDialog> chooser(state, control);
        chooser.deviceList->setCurrentRow(row);
        QTest::mouseClick(chooser.okButton, Qt::LeftButton);
        EXPECT_EQ(chooser.result(), QDialog::Accepted);
        EXPECT_EQ(state.midiInputDevice, device);
        EXPECT_EQ(state.inputMode, device == 99 ? kKeyboardMode : kMidiMode);
        EXPECT_NE(readFile("quindel.ini").find(stored), std::string::npos);
    }
}

TEST_F(EditorTest, KeyCaptureTakesOneKeyAndHandsItOverOnlyOnConfirm) {
    platform.nativeKeys = {{67, 112}, {62, 161}}; // keycodes of F1, right Shift (sided)
    state.capturedTriggerCode = "old";
    KeyCaptureDialog dialog(state, platform);
    dialog.show();
    QKeyEvent codeless(QEvent::KeyPress, Qt::Key_Egrave, Qt::NoModifier, 34, 0xe8, 0, "è");
    QCoreApplication::sendEvent(&dialog, &codeless); // a key of no code is no trigger
    EXPECT_TRUE(dialog.waitingForKey && !dialog.confirmButton->isVisible());
    QTest::keyClick(&dialog, Qt::Key_Shift);
    EXPECT_TRUE(dialog.confirmButton->isVisible());
    QTest::keyClick(&dialog, Qt::Key_A); // a further key while one is shown changes nothing
    EXPECT_EQ(dialog.capturedKeyText, "16");

    // The key's scan code wins over the Qt key; Escape and Tab are triggers too.
    const std::tuple<QKeyCombination, quint32, const char*> keys[] = {
        {Qt::Key_F2, 67, "112"},
        {Qt::Key_Shift, 62, "16"},
        {Qt::Key_Escape, 0, "27"},
        {Qt::Key_Tab, 0, "9"},
        {Qt::KeypadModifier | Qt::Key_5, 0, "101"}};
    for (const auto& [key, native, code] : keys) {
        QTest::mouseClick(dialog.repeatButton, Qt::LeftButton);
        QKeyEvent event(QEvent::KeyPress, key.key(), key.keyboardModifiers(), native, 0, 0);
        QCoreApplication::sendEvent(&dialog, &event);
        EXPECT_EQ(dialog.capturedKeyText, code);
    }
    EXPECT_TRUE(dialog.isVisible() && state.capturedTriggerCode == "old");
    QTest::mouseClick(dialog.confirmButton, Qt::LeftButton);
    EXPECT_TRUE(!dialog.isVisible() && state.capturedTriggerCode == "101");
}

TEST_F(EditorTest, MidiCaptureTakesTheLatestCommandAndClosesItsPortOnEveryWayOut) {
    FakeMidiInput* fake = nullptr;
    const MidiInputFactory factory = [&] {
        return std::unique_ptr<MidiInputControl>(fake = new FakeMidiInput);
    };
    state.setInputDevice(1);
    state.lastMidiCommand = "0000";
    state.capturedTriggerCode = "old";
    Recording<MidiCaptureDialog> dialog(state, factory);
    EXPECT_TRUE(state.lastMidiCommand.empty()); // an old command is never taken
    EXPECT_EQ(fake->openState(), 1);
    fake->receive(0x90, 60, 100); // a quick tap: the press is taken, not the release
    fake->receive(0x80, 60, 0);
    dialog.pollTimerFired();
    EXPECT_EQ(dialog.promptLabel->text().toStdString(), "3C90");
    EXPECT_TRUE(!dialog.pollTimer->isActive() && fake->openState() == 0);
    QTest::mouseClick(dialog.repeatButton, Qt::LeftButton); // opens the port anew
    EXPECT_EQ(fake->openState(), 1);
    fake->receive(0x91, 62, 0); // a release alone is taken, as the note-off it is
    dialog.pollTimerFired();
    EXPECT_EQ(dialog.promptLabel->text().toStdString(), "3E81");

    // Closing, after a capture or while waiting, closes the port and hands nothing over; only
    // real errors are told.
    dialog.show();
    fake->errorReported(8, "quiet");
    fake->errorReported(3, "port lost");
    EXPECT_EQ(dialog.messages, Rows{"port lost"});
    dialog.close();
    EXPECT_TRUE(fake->openState() == 0 && state.capturedTriggerCode == "old");
    Recording<MidiCaptureDialog> waiting(state, factory);
    waiting.show();
    waiting.close();
    EXPECT_TRUE(fake->openState() == 0 && state.capturedTriggerCode == "old");

    state.setInputDevice(kNoInputDevice);
    Recording<MidiCaptureDialog> idle(state, factory);
    EXPECT_EQ(fake->writes, Rows{}); // no device chosen: no port
}

// The editor with input boxes and captures answered in turn from the lists (an empty code: the
// capture closed without confirming); the click point, left of the primary screen on a tall
// desktop, is taken at once.
struct ScriptedEditor : Recording<AssignmentEditor> {
    ScriptedEditor(RuntimeState& s, Platform& p) : Recording(s, p, nullptr), state_(s) {}
    bool captureClickPoint() override { return capturedX = -40, capturedY = 40000, true; }
    QString askText(const QString&) override { return QString::fromStdString(answers.at(asked++)); }
    bool runKeyCapture() override {
        const std::string& code = codes.at(captures++);
        if (!code.empty())
            state_.capturedTriggerCode = code;
        return !code.empty();
    }
    bool runMidiCapture() override { return ++midiCaptures, runKeyCapture(); }

    RuntimeState& state_;
    Rows answers, codes;
    std::size_t asked = 0, captures = 0, midiCaptures = 0;
};

std::string rows(const QAbstractItemModel* model) {
    QStringList texts;
    for (int i = 0; i < model->rowCount(); ++i)
        texts << model->index(i, 0).data().toString();
    return texts.join(';').toStdString();
}

TEST_F(EditorTest, GroupsAreListedSortedChosenAndCreatedUnderSafeNames) {
    writeGroup("Studio", {"Intro", "Verse"}, {2, 1});
    writeGroup("live", {}, {});
    for (const char* name : {"gruppo-Zed.txt", "Gruppo-Caps.ini", "gruppo-a.i", "Solo.ini"})
        std::ofstream{path(name)};
    std::filesystem::create_directory(path("gruppo-Dir.ini"));
    loadLanguageTexts(state.texts, kEnglish);

    ScriptedEditor editor(state, platform);
    EXPECT_EQ(rows(editor.groupCombo->model()), "live;Studio;Zed");
    EXPECT_EQ(readSetting(state, "file tasti", "nomefile"), "gruppo-live.ini");
    // The wheel over the group list chooses a group only while the list has the focus.
    editor.show();
    editor.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&editor));
    const auto wheel = [&] {
        QWheelEvent down({4, 4}, editor.groupCombo->mapToGlobal(QPointF(4, 4)), {}, {0, -120},
                         Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(editor.groupCombo, &down);
        return state.groupFile;
    };
    editor.actionList->setFocus();
    EXPECT_EQ(wheel(), "gruppo-live.ini");
    editor.groupCombo->setFocus();
    EXPECT_EQ(wheel(), "gruppo-Studio.ini");
    editor.selectGroup(1);
    EXPECT_EQ(state.groupFile, "gruppo-Studio.ini");
    EXPECT_EQ(rows(editor.actionList->model()), "1 | Intro;2 | Verse");
    EXPECT_EQ(rows(editor.sequenceList->model()), "1 - Verse;2 - Intro");
    EXPECT_EQ(editor.nextTriggerLabel->text() + editor.prevTriggerLabel->text(), "7880");
    state.actionTable.pop_back();
    editor.selectGroup(1); // choosing it again drops unsaved edits
    EXPECT_EQ(state.actionTable.size(), 2u);
    editor.selectGroup(2); // a .txt file names the .ini file of its group
    EXPECT_EQ(state.groupFile, "gruppo-Zed.ini");

    editor.answers = {"LIVE", "../evil", "a\\b", "tab\there", std::string(300, 'x'), ""};
    for (int i = 0; i < 5; ++i)
        editor.newGroupClicked();
    const std::string invalid = state.texts.invalidNameMessage;
    EXPECT_EQ(editor.messages, (Rows{"Configuration's name already exist!", invalid, invalid,
                                     invalid, state.texts.saveFailedMessage}));
    editor.newGroupClicked(); // Cancel: the empty name, listed first
    EXPECT_EQ(readFile("gruppo-.ini"), "[main]\r\nnome=\r\n");
    EXPECT_EQ(rows(editor.groupCombo->model()), ";live;Studio;Zed");
    EXPECT_EQ(state.groupFile, "gruppo-.ini");
}

TEST_F(EditorTest, AddingActionsUsesTheMidiCaptureAndACancelledCaptureChangesNothing) {
    writeGroup("Live", {"A", "B", "C", "D"}, {0, 0, 0, 0});
    ScriptedEditor editor(state, platform);
    editor.answers = {"Dropped", "Coda"};
    editor.codes = {"", "3C90", "", "", "1FB0"};
    state.setInputDevice(2);
    editor.newActionClicked(); // cancelled: no point asked for, no action
    QTest::mouseClick(editor.newActionButton, Qt::LeftButton);
    editor.nextTriggerClicked(); // cancelled: next and prev keep their triggers, not the last code
    editor.prevTriggerClicked();
    EXPECT_EQ(state.nextTriggerCode + state.prevTriggerCode, "7880");
    EXPECT_EQ(editor.nextTriggerLabel->text() + editor.prevTriggerLabel->text(), "7880");
    editor.prevTriggerClicked();
    EXPECT_EQ(editor.midiCaptures, 5u);
    EXPECT_EQ(state.prevTriggerCode + editor.prevTriggerLabel->text().toStdString(), "1FB01FB0");
    EXPECT_EQ(editor.messages, Rows{state.texts.clickPointMessage});
    ASSERT_EQ(rows(editor.actionList->model()), "1 | A;2 | B;3 | C;4 | D;5 | Coda");
    EXPECT_EQ(state.actionTable[4],
              (ActionRecord{"tasto-005", "Coda", 5, "3C90", 2, -40, 40000, 0}));

    state.actionTable.resize(100);
    editor.newActionClicked(); // refused before asking anything
    EXPECT_EQ(editor.messages.back(), state.texts.tooManyActionsMessage);
    EXPECT_EQ(state.actionTable.size(), 100u);
}

TEST_F(EditorTest, SequenceAndDeleteButtonsWithAndWithoutSelection) {
    writeGroup("Live", {"A", "B", "C", "D"}, {0, 1, 0, 0});
    ScriptedEditor editor(state, platform);
    QPushButton *in = editor.addToSequenceButton, *out = editor.removeFromSequenceButton,
                *all = editor.addAllToSequenceButton, *none = editor.removeAllFromSequenceButton,
                *up = editor.moveUpButton, *down = editor.moveDownButton,
                *del = editor.deleteButton;
    // {button, row selected first (-1: none), sequence after, row selected after (9: any)}; rows
    // are chosen in the action list for > and Delete. Rebuilds keep earlier removals and moves.
    const std::tuple<QPushButton*, int, const char*, int> steps[] = {
        {in, -1, "B", 9},    {in, 1, "B", 9},      {all, -1, "BACD", 9},  {up, 2, "BCAD", 1},
        {up, 0, "BCAD", 0},  {down, 3, "BCAD", 3}, {down, -1, "BCAD", 0}, {down, 0, "CBAD", 1},
        {out, 1, "CAD", 9},  {out, -1, "CAD", 9},  {in, 1, "CADB", 9},    {out, 0, "ADB", 9},
        {del, -1, "ADB", 9}, {del, 0, "DB", 9},    {none, -1, "", 9},     {up, -1, "", -1}};
    for (const auto& [button, row, shown, selected] : steps) {
        QListWidget* list = button == in || button == del ? editor.actionList : editor.sequenceList;
        row < 0 ? list->clearSelection() : list->setCurrentRow(row);
        button->click();
        QStringList expected;
        for (QChar description : QString(shown))
            expected << QString::number(expected.size() + 1) + " - " + description;
        EXPECT_EQ(rows(editor.sequenceList->model()), expected.join(';').toStdString());
        EXPECT_EQ(selected == 9 ? 9 : editor.sequenceList->currentRow(), selected);
    }
    EXPECT_EQ(rows(editor.actionList->model()), "1 | B;2 | C;3 | D");
}

TEST_F(EditorTest, OkWritesTheGroupFileOrTellsItFailedAndTheCloseBoxWritesNothing) {
    writeGroup("Live", {"Solo", "Solo"}, {0, 1});
    const std::string original = readFile("gruppo-Live.ini");
    ScriptedEditor editor(state, platform);
    editor.show();
    editor.actionList->setCurrentRow(1);
    editor.deleteClicked();
    editor.close();
    EXPECT_EQ(readFile("gruppo-Live.ini"), original);

    editor.selectGroup(0); // back to the stored group
    editor.show();
    QTest::mouseClick(editor.okButton, Qt::LeftButton);
    EXPECT_FALSE(editor.isVisible());
    // Both actions described "Solo" take the position of the entry with that description.
    const std::string saved = readFile("gruppo-Live.ini");
    EXPECT_TRUE(saved.find("[tasto-002]") != saved.npos && saved.find("sequenza= 0") == saved.npos)
        << saved;

    // A group file made read-only is left as it is, and the editor says so and stays open.
    std::filesystem::permissions(path("gruppo-Live.ini"), std::filesystem::perms(0444));
    editor.show();
    editor.actionList->setCurrentRow(0);
    editor.deleteClicked();
    editor.okClicked();
    EXPECT_EQ(readFile("gruppo-Live.ini"), saved);
    EXPECT_TRUE(editor.messages == Rows{state.texts.saveFailedMessage} && editor.isVisible());
}

TEST_F(EditorTest, WithoutGroupsOkClosesAndAClickPointCaptureEndsOnClose) {
    ScriptedEditor editor(state, platform);
    QTimer::singleShot(0, [&] { editor.reject(); });
    QTimer guard; // should closing not end the wait, this press would, and the check fail
    guard.callOnTimeout([&] { platform.setLeftButton(true), editor.clickPointTimerFired(); });
    guard.start(3000);
    EXPECT_FALSE(editor.AssignmentEditor::captureClickPoint());
    editor.okClicked(); // no group: nothing to write
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    EXPECT_TRUE(std::filesystem::is_empty(state.programFolder));
}

using Steps = std::deque<std::pair<std::function<bool()>, std::function<void()>>>;

// Queues an action on the modal window of type T, run once that window is up.
template <typename T> void onModal(Steps& steps, std::function<void(T*)> act) {
    const auto modal = [] { return qobject_cast<T*>(QApplication::activeModalWidget()); };
    steps.push_back({modal, [=] { act(modal()); }});
}

// The real windows driven by real input: X key presses and clicks, or MIDI through JACK. The
// queued steps run in order from the loops of the modal windows, each once ready; then the
// saved group drives the clicks.
class RealSession : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        ASSERT_TRUE(display && x11->available()) << x11->errorText();
        driver.callOnTimeout([this] {
            if (!steps.empty() && steps.front().first()) {
                const auto act = steps.front().second;
                steps.pop_front(), idle = 0;
                act();
            } else if (!steps.empty() && ++idle % 250 == 0)
                QApplication::closeAllWindows(); // a step never ready fails, not hangs
        });
        driver.start(20);
    }
    void key(KeySym keysym, bool down) {
        XTestFakeKeyEvent(d, XKeysymToKeycode(d, keysym), down, 0), XSync(d, False);
    }
    void answer(const char* text) {
        onModal<QInputDialog>(
            steps, [text](QInputDialog* box) { box->setTextValue(text), box->accept(); });
    }
    // Builds the group "Live": two actions with their points, both in the sequence, then the
    // next and prev triggers; capture(i) queues the trigger capture of the i-th of these four.
    void editGroup(AssignmentEditor& editor, const std::function<void(int)>& capture) {
        editor.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
        answer("Live");
        QTest::mouseClick(editor.newGroupButton, Qt::LeftButton);
        for (int i = 0; i < 2; ++i) {
            answer(i == 0 ? "Intro" : "Verse");
            capture(i);
            onModal<QMessageBox>(steps, [](QMessageBox* box) { box->accept(); });
            steps.push_back({[&] { return !editor.pointCaptured; },
                             [&, i] {
                                 const QPoint at = points[i];
                                 XTestFakeMotionEvent(d, -1, at.x(), at.y(), 0), XSync(d, False);
                                 QTest::qWait(150); // a few polls: no point without the button
                                 EXPECT_FALSE(editor.pointCaptured);
                                 XTestFakeButtonEvent(d, 1, True, 0), XSync(d, False);
                             }});
            QTest::mouseClick(editor.newActionButton, Qt::LeftButton);
            XTestFakeButtonEvent(d, 1, False, 0), XSync(d, False);
        }
        QTest::mouseClick(editor.addAllToSequenceButton, Qt::LeftButton);
        capture(2);
        QTest::mouseClick(editor.nextTriggerButton, Qt::LeftButton);
        capture(3);
        QTest::mouseClick(editor.prevTriggerButton, Qt::LeftButton);
        QTest::mouseClick(editor.okButton, Qt::LeftButton);
        EXPECT_TRUE(steps.empty());
        loadGroupFile(state); // what a fresh load of the saved file gives
        loadNextPrevTriggers(state);
        buildSequenceTable(state);
        state.currentStep = 0;
    }
    QPoint pointer() const {
        const auto at = x11->cursorPos().value_or(ScreenPoint{-1, -1});
        return {at.x, at.y};
    }
    // Started, the saved group walks: next to step 1, next to step 2, prev to step 1, then the
    // second action's own trigger; tickWith(i) ticks with the i-th of these triggers.
    void expectWalk(const std::function<void(int)>& tickWith) {
        state.isRunning = true;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ((tickWith(i), pointer()), points[i % 2]) << "trigger " << i;
    }

    const std::unique_ptr<Display, int (*)(Display*)> display{XOpenDisplay(nullptr), XCloseDisplay};
    Display* d = display.get();
    const std::unique_ptr<Platform> x11 = createPlatform();
    const std::vector<QPoint> points{{550, 350}, {800, 620}};
    Steps steps;
    int idle = 0;
    QTimer driver;
    DispatchView view;
};

TEST_F(RealSession, KeyboardEditedGroupDrivesTheClicks) {
    state.setInputDevice(kKeyboardDevice);
    const KeySym keys[] = {XK_a, XK_F1, XK_Shift_L, XK_p};
    AssignmentEditor editor(state, *x11, nullptr);
    editGroup(editor, [&](int i) {
        onModal<KeyCaptureDialog>(steps, [this, k = keys[i]](KeyCaptureDialog* w) {
            EXPECT_TRUE(QTest::qWaitForWindowActive(w));
            // On a loaded machine the server may deliver the first press before the focus
            // has settled on the new dialog; pressing the same key again changes nothing else.
            for (int attempt = 0; attempt < 5 && w->waitingForKey; ++attempt) {
                key(k, true), key(k, false);
                if (QTest::qWaitFor([&] { return !w->waitingForKey; }, 2000))
                    break;
            }
            EXPECT_FALSE(w->waitingForKey);
            QTest::mouseClick(w->confirmButton, Qt::LeftButton);
        });
    });
    dispatchTick(state, *x11, view); // stopped: the poll only settles the key state
    expectWalk([&, walk = std::array{XK_Shift_L, XK_Shift_R, XK_p, XK_F1}](int i) {
        key(walk[i], true), dispatchTick(state, *x11, view), key(walk[i], false); // either Shift
    });
}

// The typing block of the keyboard, as the layouts below list it: keycodes of TLDE, AE01-AE12,
// AD01-AD12, AC01-AC11, BKSL, LSGT, AB01-AB10.
const std::vector<KeyCode> kTypingKeycodes{
    49, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34,
    35, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 51, 94, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61};

// A layout's keys, unshifted and shifted symbol: two characters, or two keysym names (or
// characters) joined by a comma; and the codes Windows gives its keys other than digits and
// letters, in the same order.
struct Layout {
    const char* name;
    const char* keys;
    std::vector<int> punctuation;
};

const Layout kLayouts[] = {
    {"US",
     "`~ 1! 2@ 3# 4$ 5% 6^ 7& 8* 9( 0) -_ =+ qQ wW eE rR tT yY uU iI oO pP [{ ]} aA sS dD fF gG "
     "hH jJ kK lL ;: '\" \\| <> zZ xX cC vV bB nN mM ,< .> /?",
     {192, 189, 187, 219, 221, 186, 222, 220, 226, 188, 190, 191}},
    {"UK",
     "`¬ 1! 2\" 3£ 4$ 5% 6^ 7& 8* 9( 0) -_ =+ qQ wW eE rR tT yY uU iI oO pP [{ ]} aA sS dD fF gG "
     "hH jJ kK lL ;: '@ #~ \\| zZ xX cC vV bB nN mM ,< .> /?",
     {223, 189, 187, 219, 221, 186, 192, 222, 220, 188, 190, 191}},
    {"German",
     "dead_circumflex,° 1! 2\" 3§ 4$ 5% 6& 7/ 8( 9) 0= ß? dead_acute,dead_grave qQ wW eE rR tT "
     "zZ uU iI oO pP üÜ +* aA sS dD fF gG hH jJ kK lL öÖ äÄ #' <> yY xX cC vV bB nN mM ,; .: -_",
     {220, 219, 221, 186, 187, 192, 222, 191, 226, 188, 190, 189}},
    {"French",
     "²~ &1 é2 \"3 '4 (5 -6 è7 _8 ç9 à0 )° =+ aA zZ eE rR tT yY uU iI oO pP "
     "dead_circumflex,dead_diaeresis $£ qQ sS dD fF gG hH jJ kK lL mM ù% *µ <> wW xX cC vV bB "
     "nN ,? ;. :/ !§",
     {222, 219, 187, 221, 186, 192, 220, 226, 188, 190, 191, 223}},
    {"Spanish",
     "ºª 1! 2\" 3· 4$ 5% 6& 7/ 8( 9) 0= '? ¡¿ qQ wW eE rR tT yY uU iI oO pP "
     "dead_grave,dead_circumflex +* aA sS dD fF gG hH jJ kK lL ñÑ dead_acute,dead_diaeresis çÇ "
     "<> zZ xX cC vV bB nN mM ,; .: -_",
     {220, 219, 221, 186, 187, 192, 222, 191, 226, 188, 190, 189}},
    {"Italian", // the last: the group below is played on it
     "\\| 1! 2\" 3£ 4$ 5% 6& 7/ 8( 9) 0= '? ì^ qQ wW eE rR tT yY uU iI oO pP èé +* aA sS dD fF "
     "gG hH jJ kK lL òç à° ù§ <> zZ xX cC vV bB nN mM ,; .: -_",
     {220, 219, 221, 186, 187, 192, 222, 191, 226, 188, 190, 189}},
};

// Loads each layout into the display's core keymap and captures every key of it as a user
// would: the code taken is the one the poll fires on, each key's own and Windows' one. Then a
// group made for the Italian layout clicks on the right keys.
TEST_F(RealSession, KeysOfEveryLayoutAreCapturedAsPolledAndFireTheirActions) {
    const std::vector<KeyCode>& keycodes = kTypingKeycodes;
    const int first = 10, count = 94 - first + 1;
    int perKeycode = 0;
    const auto change = [&](KeySym* syms) {
        XChangeKeyboardMapping(d, first, perKeycode, syms, count), XSync(d, False);
    };
    // The keymap as it was comes back at the end, whatever happens.
    const std::shared_ptr<KeySym> saved(XGetKeyboardMapping(d, first, count, &perKeycode),
                                        [&](KeySym* syms) {
                                            if (syms)
                                                change(syms), XFree(syms);
                                        });
    ASSERT_TRUE(saved && perKeycode >= 2);
    KeyCaptureDialog dialog(state, *x11);
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        std::vector<KeySym> syms(saved.get(), saved.get() + count * perKeycode);
        const QStringList keys = QString::fromUtf8(layout.keys).split(' ');
        ASSERT_EQ(keys.size(), static_cast<qsizetype>(keycodes.size()));
        for (std::size_t i = 0; i < keycodes.size(); ++i) {
            QStringList names = keys[i].size() == 2 ? QStringList{keys[i].left(1), keys[i].right(1)}
                                                    : keys[i].split(',');
            KeySym* own = syms.data() + (keycodes[i] - first) * perKeycode;
            std::fill(own, own + perKeycode, NoSymbol);
            for (int level = 0; level < 2; ++level)
                own[level] = names[level].size() == 1
                                 ? names[level].front().unicode()
                                 : XStringToKeysym(names[level].toLatin1().constData());
        }
        change(syms.data());
        std::set<int> codes;
        auto punctuation = layout.punctuation.begin();
        for (std::size_t i = 0; i < keycodes.size(); ++i) {
            const KeySym* own = syms.data() + (keycodes[i] - first) * perKeycode;
            const auto digit = [](KeySym s) { return s >= XK_0 && s <= XK_9; };
            const int expected = digit(own[0])                      ? int(own[0])
                                 : digit(own[1])                    ? int(own[1])
                                 : own[0] >= XK_a && own[0] <= XK_z ? int(own[0] - XK_a + 'A')
                                 : punctuation != layout.punctuation.end() ? *punctuation++
                                                                           : -1;
            dialog.repeatClicked();
            dialog.repeatButton->setText({});
            XTestFakeKeyEvent(d, keycodes[i], True, 0), XSync(d, False);
            EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.waitingForKey; }))
                << keys[i].toStdString();
            const int code = std::atoi(dialog.capturedKeyText.c_str());
            x11->beginKeyPoll();
            EXPECT_NE(x11->asyncKeyState(code) & 0x8000, 0) << keys[i].toStdString();
            XTestFakeKeyEvent(d, keycodes[i], False, 0), XSync(d, False);
            EXPECT_EQ(code, expected) << keys[i].toStdString();
            EXPECT_TRUE(codes.insert(code).second) << "code twice: " << code;
            EXPECT_EQ(dialog.repeatButton->text(), "Ripeti");
        }
        EXPECT_EQ(punctuation, layout.punctuation.end());
    }
    dialog.close();

    // Keys 6, ì, è, ò, à, ù and < of the Italian layout, each with its action.
    const std::vector<std::size_t> codes{54, 221, 186, 192, 222, 191, 226};
    const KeyCode keys[] = {15, 21, 34, 47, 48, 51, 94};
    writeGroup("Tasti", Rows(codes.size(), "x"), std::vector<int>(codes.size(), 0), codes);
    state.groupFile = "gruppo-Tasti.ini";
    loadGroupFile(state);
    state.setInputDevice(kKeyboardDevice);
    dispatchTick(state, *x11, view); // stopped: the poll only settles the key state
    state.isRunning = true;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        XTestFakeKeyEvent(d, keys[i], True, 0), XSync(d, False);
        dispatchTick(state, *x11, view);
        XTestFakeKeyEvent(d, keys[i], False, 0), XSync(d, False);
        EXPECT_EQ(pointer(), QPoint(10 * int(i + 1), 20 * int(i + 1))) << codes[i];
    }
}

TEST_F(RealSession, MidiEditedGroupDrivesTheClicks) {
    RtMidiOut out(RtMidi::UNIX_JACK, "editor-test"); // throws, failing the test, without JACK
    out.openVirtualPort("pads");
    RtMidiInput probe;
    for (int16_t i = 0; i < probe.deviceCount(); ++i)
        if (probe.deviceIndex(i), probe.deviceName().find("pads") != std::string::npos)
            state.setInputDevice(static_cast<int16_t>(i + 1));
    ASSERT_EQ(state.inputMode, kMidiMode);
    const auto send = [&](unsigned char status, unsigned char data1) {
        const std::vector<unsigned char> message{status, data1, 100};
        out.sendMessage(&message);
    };
    // Notes 60 and 62 on channel 1 are the actions, controllers 64 and 65 next and prev.
    const std::pair<unsigned char, unsigned char> commands[] = {
        {0x90, 60}, {0x90, 62}, {0xB0, 64}, {0xB0, 65}};
    AssignmentEditor editor(state, *x11, [] { return std::make_unique<RtMidiInput>(); });
    editGroup(editor, [&](int i) {
        onModal<MidiCaptureDialog>(steps, [&, c = commands[i]](MidiCaptureDialog* w) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return w->midiControl->openState() != 0; }));
            send(c.first, c.second);
            if (c.first == 0x90)
                send(0x80, c.second); // a quick tap: its press is captured
            EXPECT_TRUE(QTest::qWaitFor([&] { return w->confirmButton->isVisible(); }));
            QTest::mouseClick(w->confirmButton, Qt::LeftButton);
        });
    });
    EXPECT_EQ(state.nextTriggerCode, "40B0");
    EXPECT_EQ(state.prevTriggerCode, "41B0");

    RtMidiInput input; // the main window's control while started
    input.messagesArrived = [&] {
        drainMidiInput(state, input, [] { QApplication::processEvents(); });
    };
    openMidiInput(state, input);
    expectWalk([&](int i) {
        const auto [status, data1] = commands[std::array{2, 2, 3, 1}[i]];
        send(status, data1);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !state.lastMidiCommand.empty(); }));
        dispatchTick(state, *x11, view);
    });
    closeMidiInput(input);
}

} // namespace
} // namespace quindel::test

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
