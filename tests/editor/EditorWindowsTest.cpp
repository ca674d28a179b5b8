#include "EditorTestSupport.h"
#include "support/FakeMidiInput.h"
#include "support/FakePlatform.h"

#include "editor/frmAspettaTastoComputer.h"
#include "editor/frmAspettaTastoMIDI.h"
#include "editor/frmAssegnazioni.h"
#include "midi/frmMidiSelect.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace quindel::test {
namespace {

TEST_F(EditorTest, MidiSelectListsDevicesThenKeyboardAndSelectsByStoredDevice) {
    FakeMidiInput control;
    // {stored device, devices present, selected row, device after loading}
    const int cases[][4] = {{0, 2, 0, 0}, {-3, 2, 0, 0},      {2, 2, 1, 2}, {3, 2, 2, 3},
                            {7, 2, 2, 7}, {99, 120, 120, 99}, {5, 0, 0, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        control.devices.assign(c[1], "Device");
        state.setInputDevice(static_cast<int16_t>(c[0]));
        Recording<frmMidiSelect> dialog(state, control);
        dialog.show();
        EXPECT_EQ(dialog.messages.size(), c[1] == 0 ? 1u : 0u); // "no device" once shown
        ASSERT_EQ(dialog.List2->count(), c[1] + 1);
        EXPECT_EQ(dialog.List2->item(c[1])->text(), "Tastiera PC");
        EXPECT_EQ(dialog.List2->currentRow(), c[2]);
        EXPECT_EQ(state.midiInputDevice, c[3]);
    }
}

TEST_F(EditorTest, MidiSelectOkStoresTheChoiceAndCancelOrNoSelectionStoresNothing) {
    FakeMidiInput control;
    Recording<frmMidiSelect> dialog(state, control);
    dialog.show();
    dialog.List2->clearSelection();
    dialog.cmdOK_Click();
    EXPECT_EQ(dialog.messages, Rows{state.texts.selectDeviceMessage});
    dialog.List2->setCurrentRow(1);
    QTest::mouseClick(dialog.cmdAnnulla, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(state.midiInputDevice, kNoInputDevice);
    EXPECT_FALSE(std::filesystem::exists(path("quindel.ini")));

    for (const auto& [row, device, stored] :
         {std::tuple{0, 1, "midi input= 1\r\n"}, std::tuple{2, 99, "midi input= 99\r\n"}}) {
        Recording<frmMidiSelect> chooser(state, control);
        chooser.List2->setCurrentRow(row);
        QTest::mouseClick(chooser.cmdOK, Qt::LeftButton);
        EXPECT_EQ(chooser.result(), QDialog::Accepted);
        EXPECT_EQ(state.midiInputDevice, device);
        EXPECT_EQ(state.inputMode, device == 99 ? kKeyboardMode : kMidiMode);
        EXPECT_NE(readFile("quindel.ini").find(stored), std::string::npos);
    }
}

TEST_F(EditorTest, KeyCaptureTakesOneKeyAndHandsItOverOnlyOnConfirm) {
    FakePlatform platform; // translates only these native keys; the Qt key decides the rest
    platform.nativeKeys = {{0xffbe, 112}, {0xffe2, 161}}; // F1, right Shift (sided)
    state.capturedTriggerCode = "old";
    frmAspettaTastoComputer dialog(state, platform);
    dialog.show();
    EXPECT_FALSE(dialog.cmdConferma->isVisible());
    QTest::keyClick(&dialog, Qt::Key_Shift);
    EXPECT_TRUE(dialog.cmdConferma->isVisible());
    QTest::keyClick(&dialog, Qt::Key_A); // a further key while one is shown changes nothing
    EXPECT_EQ(dialog.capturedKeyText, "16");

    // Escape and Tab are triggers too, and Escape does not close the dialog.
    const std::tuple<Qt::Key, Qt::KeyboardModifier, quint32, const char*> keys[] = {
        {Qt::Key_F2, Qt::NoModifier, 0xffbe, "112"},
        {Qt::Key_Shift, Qt::NoModifier, 0xffe2, "16"},
        {Qt::Key_Escape, Qt::NoModifier, 0, "27"},
        {Qt::Key_Tab, Qt::NoModifier, 0, "9"},
        {Qt::Key_5, Qt::KeypadModifier, 0, "101"}};
    for (const auto& [key, modifier, native, code] : keys) {
        QTest::mouseClick(dialog.cmdRipeti, Qt::LeftButton);
        QKeyEvent event(QEvent::KeyPress, key, modifier, 0, native, 0);
        QCoreApplication::sendEvent(&dialog, &event);
        EXPECT_EQ(dialog.capturedKeyText, code);
    }
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(state.capturedTriggerCode, "old");
    QTest::mouseClick(dialog.cmdConferma, Qt::LeftButton);
    EXPECT_EQ(state.capturedTriggerCode, "101");
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(EditorTest, MidiCaptureTakesTheLatestCommandAndClosesItsPortOnEveryWayOut) {
    FakeMidiInput* fake = nullptr;
    const MidiInputFactory factory = [&] {
        return std::unique_ptr<MidiInputControl>(fake = new FakeMidiInput);
    };
    state.setInputDevice(1);
    state.lastMidiCommand = "0000";
    state.capturedTriggerCode = "old";
    Recording<frmAspettaTastoMIDI> dialog(state, factory);
    EXPECT_TRUE(state.lastMidiCommand.empty()); // an old command is never taken
    EXPECT_EQ(fake->openState(), 1);
    fake->receive(0x90, 60, 100);
    fake->receive(0x80, 60, 0);
    dialog.Timer1_Timer();
    EXPECT_EQ(state.capturedTriggerCode + "," + dialog.Label1->text().toStdString(), "3C80,3C80");
    EXPECT_FALSE(dialog.Timer1->isActive());
    EXPECT_EQ(fake->openState(), 0);

    QTest::mouseClick(dialog.cmdRipeti, Qt::LeftButton); // opens the port anew
    EXPECT_EQ(fake->openState(), 1);
    fake->receive(0xB2, 64, 127);
    fake->receive(0xF8, 0, 0); // a system message never becomes a trigger
    dialog.Timer1_Timer();
    EXPECT_EQ(state.capturedTriggerCode, "40B2");

    // Closing while waiting: the port closes, the code stays; only real errors are told.
    QTest::mouseClick(dialog.cmdRipeti, Qt::LeftButton);
    dialog.show();
    fake->errorReported(8, "quiet");
    fake->errorReported(3, "port lost");
    EXPECT_EQ(dialog.messages, Rows{"port lost"});
    dialog.close();
    EXPECT_EQ(fake->openState(), 0);
    EXPECT_EQ(state.capturedTriggerCode, "40B2");

    state.setInputDevice(kNoInputDevice);
    Recording<frmAspettaTastoMIDI> idle(state, factory);
    EXPECT_EQ(fake->writes, Rows{}); // no device chosen: no port
}

// The editor with input boxes and captures answered in turn from the lists; the click point,
// left of the primary screen on a tall desktop, is taken at once.
struct ScriptedEditor : Recording<frmAssegnazioni> {
    ScriptedEditor(RuntimeState& state, Platform& platform)
        : Recording(state, platform, nullptr), state_(state) {}
    bool captureClickPoint() override {
        capturedX = -40, capturedY = 40000;
        return true;
    }
    QString askText(const QString&) override { return QString::fromStdString(answers.at(asked++)); }
    void runKeyCapture() override { state_.capturedTriggerCode = codes.at(captures++); }
    void runMidiCapture() override { ++midiCaptures, runKeyCapture(); }

    RuntimeState& state_;
    Rows answers, codes;
    std::size_t asked = 0, captures = 0, midiCaptures = 0;
};

// The entries of a list or combo box, joined by ';'.
std::string rows(const QAbstractItemModel* model) {
    QStringList texts;
    for (int i = 0; i < model->rowCount(); ++i)
        texts << model->index(i, 0).data().toString();
    return texts.join(';').toStdString();
}

class EditorWindowTest : public EditorTest {
  protected:
    FakePlatform platform;
};

TEST_F(EditorWindowTest, OpeningListsGroupsSortedAndChoosingOneLoadsIt) {
    writeGroup("Studio", {"Intro", "Verse"}, {2, 1});
    writeGroup("live", {});
    for (const char* name : {"gruppo-Zed.txt", "Gruppo-Caps.ini", "gruppo-a.i", "Solo.ini"})
        std::ofstream{path(name)};
    std::filesystem::create_directory(path("gruppo-Dir.ini"));
    loadLanguageTexts(state.texts, kEnglish);

    ScriptedEditor editor(state, platform);
    EXPECT_EQ(editor.windowTitle(), "Actions assign");
    EXPECT_EQ(rows(editor.cmbGruppi->model()), "live;Studio;Zed");
    EXPECT_EQ(readSetting(state, "file tasti", "nomefile"), "gruppo-live.ini");

    editor.selectGroup(1);
    EXPECT_EQ(state.groupFile, "gruppo-Studio.ini");
    EXPECT_EQ(rows(editor.lstTasti->model()), "1 | Intro;2 | Verse");
    EXPECT_EQ(rows(editor.lstSequenza->model()), "1 - Verse;2 - Intro");
    EXPECT_EQ(editor.lblNext->text() + editor.lblPrev->text(), "7880");
    state.actionTable.pop_back();
    editor.selectGroup(1); // choosing it again drops unsaved edits
    EXPECT_EQ(state.actionTable.size(), 2u);
    editor.selectGroup(2); // a .txt file names the .ini file of its group
    EXPECT_EQ(state.groupFile, "gruppo-Zed.ini");
}

TEST_F(EditorWindowTest, CreatingGroupsRefusesExistingAndUnsafeNames) {
    writeGroup("Live", {"Intro"});
    ScriptedEditor editor(state, platform);
    editor.answers = {"live", "../evil", "a\\b", "tab\there", std::string(300, 'x'), ""};
    for (int i = 0; i < 5; ++i)
        editor.cmdNuovo_Click();
    const std::string invalid = state.texts.invalidNameMessage;
    EXPECT_EQ(editor.messages, (Rows{"Il nome della configurazione esiste già", invalid, invalid,
                                     invalid, state.texts.saveFailedMessage}));

    QTest::mouseClick(editor.cmdNuovo, Qt::LeftButton); // Cancel: the empty name, listed first
    EXPECT_EQ(readFile("gruppo-.ini"), "[main]\r\nnome=\r\n");
    EXPECT_EQ(rows(editor.cmbGruppi->model()), ";Live");
    EXPECT_EQ(state.groupFile, "gruppo-.ini");
}

TEST_F(EditorWindowTest, AddingActionsUsesTheMidiCaptureAndStopsAtOneHundred) {
    writeGroup("Live", {"A", "B", "C", "D"});
    ScriptedEditor editor(state, platform);
    editor.answers = {"Coda"};
    editor.codes = {"3C90", "1FB0"};
    state.setInputDevice(2);
    QTest::mouseClick(editor.cmdNuovoTasto, Qt::LeftButton);
    editor.cmdAssegnaPrev_Click();
    EXPECT_EQ(editor.midiCaptures, 2u);
    EXPECT_EQ(state.prevTriggerCode + editor.lblPrev->text().toStdString(), "1FB01FB0");
    EXPECT_EQ(editor.messages, Rows{state.texts.clickPointMessage});
    ASSERT_EQ(rows(editor.lstTasti->model()), "1 | A;2 | B;3 | C;4 | D;5 | Coda");
    EXPECT_EQ(state.actionTable[4],
              (ActionRecord{"tasto-005", "Coda", 5, "3C90", 2, -40, 40000, 0}));

    state.actionTable.resize(100);
    editor.cmdNuovoTasto_Click(); // refused before asking anything
    EXPECT_EQ(editor.messages.back(), state.texts.tooManyActionsMessage);
    EXPECT_EQ(state.actionTable.size(), 100u);
}

TEST_F(EditorWindowTest, SequenceAndDeleteButtonsWithAndWithoutSelection) {
    writeGroup("Live", {"Intro", "Verse", "Chorus", "Bridge"}, {0, 1, 0, 0});
    ScriptedEditor editor(state, platform);
    using E = frmAssegnazioni;
    QListWidget *actions = editor.lstTasti, *sequence = editor.lstSequenza;
    // {button, list, row selected first (-1: none), sequence after, row selected after (9: any)}
    const std::tuple<void (E::*)(), QListWidget*, int, const char*, int> steps[] = {
        {&E::cmdSeqVa_Click, actions, -1, "1 - Verse", 9},
        {&E::cmdSeqVa_Click, actions, 1, "1 - Verse", 9}, // already in the sequence
        {&E::cmdTuttiVa_Click, actions, -1, "1 - Verse;2 - Intro;3 - Chorus;4 - Bridge", 9},
        {&E::cmdSu_Click, sequence, 2, "1 - Verse;2 - Chorus;3 - Intro;4 - Bridge", 1},
        {&E::cmdSu_Click, sequence, 0, "1 - Verse;2 - Chorus;3 - Intro;4 - Bridge", 0},
        {&E::cmdGiu_Click, sequence, 3, "1 - Verse;2 - Chorus;3 - Intro;4 - Bridge", 3},
        {&E::cmdGiu_Click, sequence, -1, "1 - Verse;2 - Chorus;3 - Intro;4 - Bridge", 0},
        {&E::cmdGiu_Click, sequence, 0, "1 - Chorus;2 - Verse;3 - Intro;4 - Bridge", 1},
        {&E::cmdSeqTorna_Click, sequence, 1, "1 - Chorus;2 - Intro;3 - Bridge", 9},
        {&E::cmdSeqTorna_Click, sequence, -1, "1 - Chorus;2 - Intro;3 - Bridge", 9},
        // The rebuilds of adding and of deleting keep the removals and moves made before.
        {&E::cmdSeqVa_Click, actions, 1, "1 - Chorus;2 - Intro;3 - Bridge;4 - Verse", 9},
        {&E::cmdSeqTorna_Click, sequence, 0, "1 - Intro;2 - Bridge;3 - Verse", 9},
        {&E::cmdElimina_Click, actions, -1, "1 - Intro;2 - Bridge;3 - Verse", 9},
        {&E::cmdElimina_Click, actions, 0, "1 - Bridge;2 - Verse", 9},
        {&E::cmdTuttiTorna_Click, sequence, -1, "", 9},
        {&E::cmdSu_Click, sequence, -1, "", -1}};
    for (const auto& [click, list, row, shown, selected] : steps) {
        SCOPED_TRACE(shown);
        if (row < 0)
            list->clearSelection();
        else
            list->setCurrentRow(row);
        (editor.*click)();
        EXPECT_EQ(rows(sequence->model()), shown);
        EXPECT_EQ(selected == 9 ? 9 : sequence->currentRow(), selected);
    }
    EXPECT_EQ(rows(actions->model()), "1 | Verse;2 | Chorus;3 | Bridge");
    editor.cmdExit_Click();
    for (const ActionRecord& action : state.actionTable)
        EXPECT_EQ(action.sequencePos, 0);
}

TEST_F(EditorWindowTest, OkWritesTheGroupFileOrTellsItFailedAndTheCloseBoxWritesNothing) {
    writeGroup("Live", {"Solo", "Solo"}, {0, 1});
    const std::string original = readFile("gruppo-Live.ini");
    ScriptedEditor editor(state, platform);
    editor.show();
    editor.lstTasti->setCurrentRow(1);
    editor.cmdElimina_Click();
    editor.close();
    EXPECT_EQ(readFile("gruppo-Live.ini"), original);

    editor.selectGroup(0); // back to the stored group
    editor.show();
    QTest::mouseClick(editor.cmdExit, Qt::LeftButton);
    EXPECT_FALSE(editor.isVisible());
    // Both actions described "Solo" take the position of the entry with that description.
    EXPECT_EQ(readFile("gruppo-Live.ini"),
              "[main]\r\nnome=Live\r\n"
              "[tasto-next]\r\nordine=1\r\ntasto=78\r\ntipo=1\r\n"
              "[tasto-prev]\r\nordine=1\r\ntasto=80\r\ntipo=1\r\n"
              "[tasto-001]\r\nnome chiave=tasto-001\r\nordine= 1\r\ntasto=65\r\ntipo= 1\r\n"
              "xx= 10\r\nyy= 20\r\nsequenza= 1\r\ndescrizione=Solo\r\n"
              "[tasto-002]\r\nnome chiave=tasto-002\r\nordine= 2\r\ntasto=66\r\ntipo= 1\r\n"
              "xx= 20\r\nyy= 40\r\nsequenza= 1\r\ndescrizione=Solo\r\n");

    editor.show();
    std::filesystem::remove(path("gruppo-Live.ini")); // a folder the save cannot replace
    std::filesystem::create_directories(path("gruppo-Live.ini/keep"));
    editor.cmdExit_Click();
    EXPECT_EQ(editor.messages, Rows{state.texts.saveFailedMessage});
    EXPECT_TRUE(editor.isVisible()); // the editor stays open
}

TEST_F(EditorWindowTest, WithoutGroupsOkClosesAndAClickPointCaptureEndsOnClose) {
    ScriptedEditor editor(state, platform);
    QTimer::singleShot(0, [&] { editor.reject(); });
    QTimer guard; // should closing not end the wait, this press would, and the check fail
    guard.callOnTimeout([&] { platform.setLeftButton(true), editor.Timer1_Timer(); });
    guard.start(3000);
    EXPECT_FALSE(editor.frmAssegnazioni::captureClickPoint());
    editor.cmdExit_Click(); // no group: nothing to write
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    EXPECT_TRUE(std::filesystem::is_empty(state.programFolder));
}

} // namespace
} // namespace quindel::test
