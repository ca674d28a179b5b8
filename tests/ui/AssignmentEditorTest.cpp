#include "support/FakePlatform.h"

#include "core/engine/PointerOutput.h"
#include "core/engine/RuntimeState.h"
#include "core/storage/GroupFiles.h"
#include "core/storage/Settings.h"
#include "core/storage/SettingsAccess.h"
#include "ui/ActionEditDialog.h"
#include "ui/AssignmentEditor.h"
#include "ui/KeyCaptureDialog.h"
#include "ui/MidiCaptureDialog.h"
#include "midi/RtMidiInput.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QScreen>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <RtMidi.h>
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <functional>

namespace quindel::test {
namespace {

using Rows = std::vector<std::string>;

// A fresh runtime state, in Italian, whose user's files folder is a temporary folder.
class EditorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        state.userFilesFolder = dir.path().toStdString();
        bindSettingsIni(state);
        loadLanguageTexts(state.texts, kItalian);
    }
    std::string path(const std::string& name) const { return state.userFilesFolder + "/" + name; }
    std::string readFile(const std::string& name) const {
        std::ifstream file(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }
    // Writes a group: action n has key 64 + n, point (10n, 20n), place seq[n - 1] in the sequence.
    void writeGroup(const std::string& name, const Rows& actions, std::vector<int> seq) const {
        QString text = "[main]\r\nnome=" + QString::fromStdString(name) +
                       "\r\n[tasto-next]\r\ntasto=78\r\n[tasto-prev]\r\ntasto=80\r\n";
        for (std::size_t i = 1; i <= actions.size(); ++i)
            text +=
                QString::asprintf("[tasto-00%zu]\r\nordine=%zu\r\ntasto=%zu\r\ntipo=1\r\n"
                                  "xx=%zu\r\nyy=%zu\r\nsequenza=%d\r\ndescrizione=%s\r\n",
                                  i, i, 64 + i, 10 * i, 20 * i, seq[i - 1], actions[i - 1].c_str());
        std::ofstream(path("gruppo-" + name + ".ini"), std::ios::binary) << text.toStdString();
    }
    // Makes a group the running one, as the main window loads it.
    void run(const std::string& name) {
        state.groupFile = "gruppo-" + name + ".ini";
        writeSetting(state, kGroupSection, kGroupFileKey, state.groupFile);
        loadGroupFile(state), loadNextPrevTriggers(state), buildSequenceTable(state);
    }

    QTemporaryDir dir;
    RuntimeState state;
    FakePlatform platform;
};

// The editor with names, captured codes, save questions and edit dialogs answered from lists
// (no name: Cancel; an empty code: capture closed without confirming); the click point, off
// the primary screen, is taken at once.
struct ScriptedEditor : AssignmentEditor {
    ScriptedEditor(RuntimeState& s, Platform& p) : AssignmentEditor(s, p, nullptr), state_(s) {}
    void showMessage(const QString& text) override { messages.push_back(text.toStdString()); }
    // The platform's capture when realCapture is set, else a point taken at once.
    bool captureClickPoint() override {
        if (realCapture)
            return AssignmentEditor::captureClickPoint();
        return capturedX = -40, capturedY = 40000, true;
    }
    bool realCapture = false;
    std::optional<QString> askText(const QString&) override {
        const auto& answer = answers.at(asked++);
        return answer ? std::optional(QString::fromStdString(*answer)) : std::nullopt;
    }
    QMessageBox::StandardButton askSaveChanges() override { return choices.at(questions++); }
    int runEditDialog(ActionEditDialog& dialog) override { return edits.at(edited++)(dialog); }
    bool runKeyCapture() override {
        const std::string& code = codes.at(captures++);
        return !code.empty() && (state_.capturedTriggerCode = code, true);
    }
    bool runMidiCapture() override { return runKeyCapture(); }

    RuntimeState& state_;
    std::vector<std::optional<std::string>> answers;
    Rows codes, messages;
    std::vector<QMessageBox::StandardButton> choices;
    std::vector<std::function<int(ActionEditDialog&)>> edits;
    std::size_t asked = 0, captures = 0, questions = 0, edited = 0;
};

std::string rows(const QAbstractItemModel* model) {
    QStringList texts;
    for (int i = 0; i < model->rowCount(); ++i)
        texts << model->index(i, 0).data().toString();
    return texts.join(';').toStdString();
}

// The wheel over the group list chooses a group only while the list has the focus; a new
// group's name must be new (in any case) and safe as a file name.
TEST_F(EditorTest, TheWheelChoosesAGroupOnlyWithFocusAndNewNamesMustBeNewAndSafe) {
    writeGroup("Studio", {"Intro", "Verse"}, {2, 1});
    writeGroup("live", {}, {});
    ScriptedEditor editor(state, platform);
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

    // An empty name and Cancel create nothing; a new group becomes the running one.
    editor.answers = {"LIVE", "../evil",    "a\\b", "tab\there", std::string(300, 'x'),
                      "",     std::nullopt, "Beta"};
    for (int i = 0; i < 8; ++i)
        editor.newGroupClicked();
    const std::string invalid = state.texts.invalidNameMessage;
    EXPECT_EQ(editor.messages, (Rows{state.texts.configurationExistsMessage, invalid, invalid,
                                     invalid, state.texts.saveFailedMessage}));
    EXPECT_EQ(rows(editor.groupCombo->model()), "Beta;live;Studio");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(state.userFilesFolder), {}), 4);
    EXPECT_EQ(editor.groupCombo->currentText().toStdString() + state.groupFile +
                  readGroupFileSetting(state),
              "Betagruppo-Beta.inigruppo-Beta.ini");
}

// The editor opens on the running group as it runs, settings untouched. With unsaved edits,
// leaving or choosing another group asks first: Cancel stays, Discard makes the running tables
// what the file holds again, Save writes them, or stays open when it cannot (a read-only file).
TEST_F(EditorTest, TheRunningGroupIsKeptAndUnsavedEditsAreSavedDiscardedOrKept) {
    writeGroup("Alpha", {}, {});
    writeGroup("Live", {"A", "B", "C"}, {0, 1, 2});
    run("Live");
    const std::string settings = readFile("quindel.ini"), file = readFile("gruppo-Live.ini");
    const std::vector<ActionRecord> actions = state.actionTable, sequence = state.sequenceTable;
    ScriptedEditor editor(state, platform);
    editor.show(), editor.reject(); // nothing changed: nothing asked
    EXPECT_TRUE(editor.questions == 0 && !editor.isVisible() && state.actionTable == actions);
    EXPECT_EQ(readFile("quindel.ini"), settings);
    const auto deleteA = [&] {
        editor.show(), editor.actionList->setCurrentRow(0), editor.deleteClicked();
    };
    deleteA();
    editor.choices = {QMessageBox::Cancel, QMessageBox::Cancel, QMessageBox::Discard,
                      QMessageBox::Save, QMessageBox::Save};
    editor.groupCombo->setCurrentIndex(0), emit editor.groupCombo->activated(0);
    QTest::keyClick(&editor, Qt::Key_Escape);
    EXPECT_TRUE(editor.isVisible() && state.actionTable.size() == 2);
    EXPECT_EQ(editor.groupCombo->currentText().toStdString() + state.groupFile,
              "Livegruppo-Live.ini");
    editor.reject(); // Discard
    EXPECT_TRUE(!editor.isVisible() && state.actionTable == actions &&
                state.sequenceTable == sequence);
    EXPECT_EQ(readFile("gruppo-Live.ini"), file);
    std::filesystem::permissions(path("gruppo-Live.ini"), std::filesystem::perms(0444));
    deleteA(), editor.reject(), editor.okClicked();
    EXPECT_TRUE(readFile("gruppo-Live.ini") == file && editor.isVisible());
    EXPECT_EQ(editor.messages, Rows(2, state.texts.saveFailedMessage));
    std::filesystem::permissions(path("gruppo-Live.ini"), std::filesystem::perms(0644));
    editor.reject();
    loadGroupFile(state);
    EXPECT_TRUE(state.actionTable.size() == 2 && editor.questions == 5);
}

// An edit keeps what is not redone, and the action's order and place in the sequence.
TEST_F(EditorTest, EditingAnActionChangesOnlyWhatIsRedone) {
    writeGroup("Live", {"A", "B", "C"}, {0, 2, 1});
    run("Live");
    ScriptedEditor editor(state, platform);
    editor.show();
    using D = ActionEditDialog&;
    editor.codes = {"", "3C90"}; // the first trigger capture is closed without confirming
    editor.edits = {
        [](D d) { return d.descriptionEdit->setText("Bridge"), ActionEditDialog::CaptureTrigger; },
        [](D) { return ActionEditDialog::CaptureTrigger; },
        [](D) { return ActionEditDialog::CapturePoint; }, [](D) { return QDialog::Accepted; },
        // Cancel after every field was redone changes nothing.
        [](D d) { return d.descriptionEdit->setText("X"), ActionEditDialog::CapturePoint; },
        [](D) { return QDialog::Rejected; },
        [](D d) { return d.descriptionEdit->setText("Coda"), QDialog::Accepted; },
        // A cancelled point capture brings the dialog back as the user left it.
        [&](D d) {
            editor.realCapture = true, platform.captureAtOnce.emplace();
            return d.descriptionEdit->setText("Typed"), ActionEditDialog::CapturePoint;
        },
        [](D d) { return d.descriptionEdit->text() == "Typed" ? QDialog::Accepted : 5; }};
    // The sequence C, B turned to B, C in the working list: the edit keeps that too.
    editor.sequenceList->setCurrentRow(1), editor.moveUpClicked();
    editor.actionList->setCurrentRow(1);
    QTest::keyClick(editor.actionList, Qt::Key_Return);
    QTest::keyClick(editor.actionList, Qt::Key_Return);
    const QRect third = editor.actionList->visualItemRect(editor.actionList->item(2));
    QTest::mouseClick(editor.actionList->viewport(), Qt::LeftButton, {}, third.center());
    QTest::mouseDClick(editor.actionList->viewport(), Qt::LeftButton, {}, third.center());
    editor.editAction(0);
    EXPECT_EQ(editor.edited, editor.edits.size());
    EXPECT_EQ(state.actionTable.at(0).description + std::to_string(state.actionTable[0].clickX),
              "Typed10");
    EXPECT_EQ(state.sequenceTable.at(0).triggerCode, "3C90"); // what next and prev fire
    editor.okClicked();
    const std::string saved = readFile("gruppo-Live.ini");
    EXPECT_NE(saved.find("[tasto-002]\r\nnome chiave=tasto-002\r\nordine= 2\r\ntasto=3C90\r\n"
                         "tipo= 2\r\nxx=-40\r\nyy= 40000\r\nsequenza= 1\r\ndescrizione=Bridge\r\n"
                         "[tasto-003]\r\nnome chiave=tasto-003\r\nordine= 3\r\ntasto=67\r\n"
                         "tipo= 1\r\nxx= 30\r\nyy= 60\r\nsequenza= 2\r\ndescrizione=Coda\r\n"),
              std::string::npos)
        << saved;
}

// Cancel at the description or the capture ends the addition; an empty description is kept.
TEST_F(EditorTest, AddingActionsTakesTheCapturesAndACancelChangesNothing) {
    writeGroup("Live", {"A", "B", "C", "D"}, {0, 0, 0, 0});
    ScriptedEditor editor(state, platform);
    editor.answers = {std::nullopt, "Dropped", ""};
    editor.codes = {"", "3C90", "", ""};
    state.setInputDevice(2);
    editor.newActionClicked(); // nothing captured
    editor.newActionClicked(); // no point asked for, no action
    QTest::mouseClick(editor.newActionButton, Qt::LeftButton);
    editor.nextTriggerClicked(); // cancelled: next and prev keep their triggers, not the last code
    editor.prevTriggerClicked();
    EXPECT_EQ(state.nextTriggerCode + state.prevTriggerCode, "7880");
    state.prevTriggerCode = "0", editor.codes.push_back("3C90"), editor.nextTriggerClicked();
    EXPECT_EQ(editor.nextTriggerLabel->text() + editor.prevTriggerLabel->text(),
              "3C90 Note C4 on, ch 1nessuno");
    EXPECT_EQ(editor.messages, Rows{state.texts.clickPointMessage});
    EXPECT_EQ(state.actionTable.at(4),
              (ActionRecord{"tasto-005", "", 5, "3C90", 2, -40, 40000, 0}));
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
    // Rows carry the trigger's name and the point; a long description gives way to them.
    state.actionTable[2].description = std::string(80, 'x');
    editor.refreshActionList();
    EXPECT_EQ(rows(editor.actionList->model()).substr(0, 38),
              "1 | B  B  (20, 40);2 | C  C  (30, 60);");
    const QString last = editor.actionList->item(2)->text();
    EXPECT_TRUE(last.startsWith("3 | xxx") && last.endsWith(u"x…  D  (40, 80)"))
        << last.toStdString();
    EXPECT_LT(editor.actionList->fontMetrics().horizontalAdvance(last),
              editor.actionList->contentsRect().width());
}

TEST_F(EditorTest, WithoutGroupsOkClosesAndAClickPointCaptureEndsOnClose) {
    ScriptedEditor editor(state, platform);
    QTimer::singleShot(0, [&] { editor.reject(); });
    QTimer guard; // should closing not end the wait, this point would, and the check fail
    guard.callOnTimeout([&] {
        if (platform.captureDone)
            platform.captureDone(ScreenPoint{1, 1});
    });
    guard.start(3000);
    EXPECT_FALSE(editor.AssignmentEditor::captureClickPoint());
    // A capture that ends before the editor waits for it is not waited for: the point, or
    // nothing when cancelled. Should it be waited for, only closing the editor would end it.
    guard.stop();
    for (const auto& outcome :
         {std::optional<ScreenPoint>({1500, 300}), std::optional<ScreenPoint>()}) {
        platform.captureAtOnce = outcome;
        bool waited = false;
        QTimer::singleShot(3000, &editor, [&] { waited = true, editor.done(QDialog::Rejected); });
        EXPECT_EQ(editor.AssignmentEditor::captureClickPoint(), outcome.has_value());
        EXPECT_FALSE(waited);
        EXPECT_TRUE(!outcome || (editor.capturedX == 1500 && editor.capturedY == 300));
    }
    editor.okClicked(); // no group: nothing to write
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    EXPECT_TRUE(std::filesystem::is_empty(state.userFilesFolder));
}

// The real windows on the virtual display, driven with real X keys and the real mouse button.
class RealSession : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        ASSERT_TRUE(display && x11->available()) << x11->errorText();
    }
    void key(KeyCode code, bool down) { XTestFakeKeyEvent(d, code, down, 0), XSync(d, False); }

    const std::unique_ptr<Display, int (*)(Display*)> display{XOpenDisplay(nullptr), XCloseDisplay};
    Display* d = display.get();
    const std::unique_ptr<Platform> x11 = createPlatform(PlatformKind::X11);
};

// The typing block of the keyboard: keycodes of TLDE, AE01-AE12, AD01-AD12, AC01-AC11, BKSL,
// LSGT, AB01-AB10.
const std::vector<KeyCode> kTypingKeycodes{
    49, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34,
    35, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 51, 94, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61};

// Layouts, and the codes Windows gives the keys of their typing block other than digits and
// letters, in the order above.
const std::pair<const char*, std::vector<int>> kLayouts[] = {
    {"us", {192, 189, 187, 219, 221, 186, 222, 220, 226, 188, 190, 191}},
    {"gb", {223, 189, 187, 219, 221, 186, 192, 222, 220, 188, 190, 191}},
    {"de", {220, 219, 221, 186, 187, 192, 222, 191, 226, 188, 190, 189}},
    {"fr", {222, 219, 187, 221, 186, 192, 220, 226, 188, 190, 191, 223}},
    {"es", {220, 219, 221, 186, 187, 192, 222, 191, 226, 188, 190, 189}},
    {"it", {220, 219, 221, 186, 187, 192, 222, 191, 226, 188, 190, 189}},
};

// Each layout set on the display while the dialog is open: every key of its typing block
// captured gives its own code, Windows' one (a digit's, or a capital letter's), which the poll
// then finds down (what a tick fires on: DispatchTest).
TEST_F(RealSession, KeysOfEveryLayoutAreCapturedAsPolled) {
    KeyCaptureDialog dialog(state, *x11);
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    const auto setLayout = [](const std::string& layout) {
        return std::system(("setxkbmap -rules evdev -model pc105 -layout " + layout).c_str());
    };
    const std::shared_ptr<void> restore(nullptr, [&](void*) { setLayout("us"); });
    for (const auto& [layout, layoutPunctuation] : kLayouts) {
        SCOPED_TRACE(layout);
        ASSERT_EQ(setLayout(layout), 0);
        auto punctuation = layoutPunctuation.begin();
        for (const KeyCode keycode : kTypingKeycodes) {
            const KeySym own[] = {XkbKeycodeToKeysym(d, keycode, 0, 0),
                                  XkbKeycodeToKeysym(d, keycode, 0, 1)};
            SCOPED_TRACE(XKeysymToString(own[0]));
            const auto digit = [](KeySym s) { return s >= XK_0 && s <= XK_9; };
            const int expected = digit(own[0])                            ? int(own[0])
                                 : digit(own[1])                          ? int(own[1])
                                 : own[0] >= XK_a && own[0] <= XK_z       ? int(own[0] - XK_a + 'A')
                                 : punctuation != layoutPunctuation.end() ? *punctuation++
                                                                          : -1;
            dialog.repeatClicked();
            key(keycode, true);
            EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.waitingForKey; }));
            const int code = std::atoi(dialog.capturedKeyText.c_str());
            x11->beginKeyPoll();
            EXPECT_NE(x11->asyncKeyState(code) & 0x8000, 0);
            key(keycode, false);
            EXPECT_EQ(code, expected);
            EXPECT_EQ(dialog.promptLabel->text().toStdString(),
                      std::to_string(code) + " " + x11->keyName(code));
        }
        EXPECT_EQ(punctuation, layoutPunctuation.end());
        // Names follow the layout loaded, from the same keymap as the codes.
        const std::map<std::string, std::string> names{
            {"us", ";|`|[|\\|]|'|<|"}, {"de", "ü|ö|ß|^|´|ä|<|"}, {"it", "è|ò|'|\\|ì|à|<|"}};
        std::string named;
        for (int code : {186, 192, 219, 220, 221, 222, 226, 116, 27, 39, 65, 103, 255})
            named += x11->keyName(code) + "|";
        if (names.count(layout)) {
            EXPECT_EQ(named, names.at(layout) + "F5|Esc|Right|A|Num 7||");
        }
    }
    // It says what to do, stands out without a window manager, and Cancel takes nothing.
    EXPECT_EQ(dialog.instructionLabel->text().toStdString(), state.texts.keyCaptureInstruction);
    EXPECT_EQ(dialog.grab().toImage().pixelColor(0, dialog.height() / 2).lightness(), 0);
    state.capturedTriggerCode = "old", dialog.cancelButton->click();
    EXPECT_EQ(std::pair(dialog.result(), state.capturedTriggerCode),
              std::pair(0, std::string("old")));
}

// The editor with its real captures: each MIDI capture gets the next command from the sender (a
// note as a pad taps it: its press is taken), each point capture the real button at the next
// point.
struct JackEditor : AssignmentEditor {
    JackEditor(RuntimeState& s, Platform& p, Display* d, RtMidiOut& out)
        : AssignmentEditor(s, p, [] { return std::make_unique<RtMidiInput>(); }), d(d), out(out) {}
    std::optional<QString> askText(const QString&) override { return names.at(asked++); }
    void showMessage(const QString&) override {}
    void send(std::vector<unsigned char> message) { out.sendMessage(&message); }
    bool runMidiCapture() override {
        QTimer::singleShot(0, this, [this, c = commands.at(captured++)] {
            auto* w = qobject_cast<MidiCaptureDialog*>(QApplication::activeModalWidget());
            if (!w)
                return QApplication::closeAllWindows(); // no dialog: the capture fails
            EXPECT_TRUE(QTest::qWaitFor([&] { return w->midiControl->openState() != 0; }));
            send({c.first, c.second, 100});
            if (c.first == 0x90) // pressure, pitch bend and the release follow at once
                send({0xA0, c.second, 75}), send({0xD0, 75}), send({0xE0, 0, 64}),
                    send({0x80, c.second, 0});
            EXPECT_TRUE(QTest::qWaitFor([&] { return w->confirmButton->isVisible(); }));
            EXPECT_TRUE(w->promptLabel->text().contains(c.first == 0x90 ? "90 Note " : "B0 CC "));
            w->confirmButton->click();
        });
        return AssignmentEditor::runMidiCapture();
    }
    bool captureClickPoint() override {
        QTimer::singleShot(0, this, [this, at = points.at(pointsTaken++)] {
            // No window manager here to minimise the editor: it is off the screen instead.
            EXPECT_FALSE(QGuiApplication::primaryScreen()->geometry().intersects(geometry()));
            XTestFakeMotionEvent(d, -1, at.x(), at.y(), 0), XTestFakeButtonEvent(d, 1, True, 0);
            XSync(d, False);
        });
        const bool taken = AssignmentEditor::captureClickPoint();
        return XTestFakeButtonEvent(d, 1, False, 0), XSync(d, False), taken;
    }

    Display* d;
    RtMidiOut& out;
    QStringList names{"Live", "Intro", "Verse"};
    // Notes 60 and 62 on channel 1 for the actions, controllers 64 and 65 for next and prev.
    std::vector<std::pair<unsigned char, unsigned char>> commands{
        {0x90, 60}, {0x90, 62}, {0xB0, 64}, {0xB0, 65}};
    std::vector<QPoint> points{{550, 350}, {800, 620}};
    int asked = 0, captured = 0, pointsTaken = 0;
};

// A group made in the editor, saved on OK and loaded again, holds the captured codes and points.
TEST_F(RealSession, MidiEditedGroupIsSavedWithTheCapturedCodesAndPoints) {
    RtMidiOut out(RtMidi::UNIX_JACK, "editor-test"); // throws, failing the test, without JACK
    out.openVirtualPort("pads");
    RtMidiInput probe;
    for (int16_t i = 0; i < probe.deviceCount(); ++i)
        if (probe.deviceIndex(i), probe.deviceName().find("pads") != std::string::npos)
            state.setInputDevice(static_cast<int16_t>(i + 1));
    ASSERT_EQ(state.inputMode, kMidiMode);
    JackEditor editor(state, *x11, d, out);
    for (QPushButton* button :
         {editor.newGroupButton, editor.newActionButton, editor.newActionButton,
          editor.addAllToSequenceButton, editor.nextTriggerButton, editor.prevTriggerButton,
          editor.okButton})
        button->click();
    state.actionTable.clear(), state.nextTriggerCode.clear(), state.prevTriggerCode.clear();
    loadGroupFile(state); // what a fresh load of the saved file gives
    loadNextPrevTriggers(state);
    EXPECT_EQ(state.actionTable,
              (std::vector<ActionRecord>{{"tasto-001", "Intro", 1, "3C90", 2, 550, 350, 1},
                                         {"tasto-002", "Verse", 2, "3E90", 2, 800, 620, 2}}));
    EXPECT_EQ(state.nextTriggerCode + state.prevTriggerCode, "40B041B0");
    // Each is clicked on the root pixel where it was taken, however Qt scales its windows
    // (editor_test_qt_scale2 runs this with Qt at scale 2).
    for (const ActionRecord& action : state.actionTable) {
        movePointerTo(*x11, action.clickX, action.clickY);
        clickPointer(*x11, 0);
        const ScreenPoint at = x11->cursorPos().value(); // after the click, on its connection
        EXPECT_EQ(std::pair(at.x, at.y), std::pair(int(action.clickX), int(action.clickY)));
    }
}

} // namespace
} // namespace quindel::test
