#include "EditorTestSupport.h"
#include "support/FakePlatform.h"

#include "editor/frmAssegnazioni.h"
#include "storage/gestioneFileIni.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <deque>

namespace quindel::test {
namespace {

// The editor with its input boxes, message boxes and captures answered by the test.
class ScriptedEditor : public frmAssegnazioni {
  public:
    ScriptedEditor(RuntimeState& state, Platform& platform)
        : frmAssegnazioni(state, platform, nullptr), state_(state) {}

    std::deque<std::string> answers;
    std::deque<std::string> triggerCodes;
    std::vector<std::string> messages;
    int keyCaptures = 0;
    int midiCaptures = 0;
    int prompts = 0;
    ScreenPoint point{640, 400};

    bool captureClickPoint() override {
        capturedX = point.x;
        capturedY = point.y;
        return true;
    }

  protected:
    QString askText(const QString&) override {
        ++prompts;
        std::string answer = answers.empty() ? "" : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return QString::fromStdString(answer);
    }
    void showMessage(const QString& text) override { messages.push_back(text.toStdString()); }
    void runKeyCapture() override { ++keyCaptures, takeCode(); }
    void runMidiCapture() override { ++midiCaptures, takeCode(); }

  private:
    void takeCode() {
        if (!triggerCodes.empty())
            state_.capturedTriggerCode = triggerCodes.front(), triggerCodes.pop_front();
    }
    RuntimeState& state_;
};

std::vector<std::string> rows(const QListWidget* list) {
    std::vector<std::string> texts;
    for (int i = 0; i < list->count(); ++i)
        texts.push_back(list->item(i)->text().toStdString());
    return texts;
}

using Rows = std::vector<std::string>;

class EditorWindowTest : public EditorTest {
  protected:
    FakePlatform platform;
};

TEST_F(EditorWindowTest, OpeningListsGroupsSortedAndMakesTheFirstCurrent) {
    writeGroup("Studio", {"Intro", "Verse"}, {2, 1});
    writeGroup("live", {});
    writeFile("gruppo-Zed.txt", "");
    writeFile("Gruppo-Caps.ini", ""); // capital G: not a group file
    writeFile("gruppo-a.i", "");      // too short to hold a name
    writeFile("Solo.ini", "");        // no prefix
    std::filesystem::create_directory(path("gruppo-Dir.ini"));
    state.languageIndex = kEnglish;
    loadLanguageTexts(state.texts, kEnglish);

    ScriptedEditor editor(state, platform);
    EXPECT_EQ(editor.windowTitle(), "Actions assign");
    EXPECT_EQ(editor.cmdNuovoTasto->text(), "Assign new key");
    EXPECT_EQ(editor.cmdSeqVa->text(), ">");
    EXPECT_EQ(editor.size(), QSize(351, 332));
    EXPECT_EQ(editor.lstSequenza->geometry(), QRect(200, 80, 137, 147));
    ASSERT_EQ(editor.cmbGruppi->count(), 3);
    EXPECT_EQ(editor.cmbGruppi->itemText(0), "live");
    EXPECT_EQ(editor.cmbGruppi->itemText(1), "Studio");
    EXPECT_EQ(editor.cmbGruppi->itemText(2), "Zed");
    EXPECT_EQ(state.groupFile, "gruppo-live.ini");
    EXPECT_EQ(readSetting(state, "file tasti", "nomefile"), "gruppo-live.ini");

    // Choosing a group loads it; choosing it again drops unsaved edits.
    editor.selectGroup(1);
    EXPECT_EQ(state.groupFile, "gruppo-Studio.ini");
    EXPECT_EQ(rows(editor.lstTasti), (Rows{"1 | Intro", "2 | Verse"}));
    EXPECT_EQ(rows(editor.lstSequenza), (Rows{"1 - Verse", "2 - Intro"}));
    EXPECT_EQ(editor.lblNext->text(), "78");
    EXPECT_EQ(editor.lblPrev->text(), "80");
    state.actionTable.pop_back();
    editor.selectGroup(1);
    EXPECT_EQ(state.actionTable.size(), 2u);
    editor.selectGroup(2); // a .txt file names the .ini file of its group
    EXPECT_EQ(state.groupFile, "gruppo-Zed.ini");
    EXPECT_TRUE(state.actionTable.empty());
}

TEST_F(EditorWindowTest, CreatingGroupsRefusesExistingAndUnsafeNames) {
    writeGroup("Live", {"Intro"});
    ScriptedEditor editor(state, platform);
    const auto before = std::distance(std::filesystem::directory_iterator(state.programFolder),
                                      std::filesystem::directory_iterator());

    editor.answers = {"live", "../evil", "a\\b", "tab\there", std::string(300, 'x')};
    for (int i = 0; i < 5; ++i)
        editor.cmdNuovo_Click();
    EXPECT_EQ(editor.messages, (std::vector<std::string>{
                                   "Il nome della configurazione esiste già",
                                   state.texts.invalidNameMessage, state.texts.invalidNameMessage,
                                   state.texts.invalidNameMessage, state.texts.saveFailedMessage}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(state.programFolder),
                            std::filesystem::directory_iterator()),
              before);
    EXPECT_FALSE(std::filesystem::exists(state.programFolder + "/../evil.ini"));

    // A new group is written and listed; the first listed group becomes current.
    editor.answers = {"Beta"};
    QTest::mouseClick(editor.cmdNuovo, Qt::LeftButton);
    EXPECT_EQ(readFile("gruppo-Beta.ini"), "[main]\r\nnome=Beta\r\n");
    EXPECT_EQ(editor.cmbGruppi->count(), 2);
    EXPECT_EQ(state.groupFile, "gruppo-Beta.ini");

    // Cancel gives the empty name, which makes the group listed first.
    editor.answers = {""};
    editor.cmdNuovo_Click();
    EXPECT_EQ(readFile("gruppo-.ini"), "[main]\r\nnome=\r\n");
    EXPECT_EQ(editor.cmbGruppi->itemText(0), "");
    EXPECT_EQ(state.groupFile, "gruppo-.ini");
}

TEST_F(EditorWindowTest, AddingActionsUsesTheCapturesAndStopsAtOneHundred) {
    writeGroup("Live", {"A", "B", "C", "D"});
    ScriptedEditor editor(state, platform);
    state.setInputDevice(kKeyboardDevice);
    editor.answers = {"Solo", "Coda"};
    editor.triggerCodes = {"65", "3C90"};
    editor.point = {-40, 40000}; // other screens and large desktops keep their coordinates
    QTest::mouseClick(editor.cmdNuovoTasto, Qt::LeftButton);
    EXPECT_EQ(editor.keyCaptures, 1);
    EXPECT_EQ(editor.messages, std::vector<std::string>{state.texts.clickPointMessage});
    state.setInputDevice(1);
    editor.cmdNuovoTasto_Click();
    EXPECT_EQ(editor.midiCaptures, 1);

    ASSERT_EQ(state.actionTable.size(), 6u);
    const ActionRecord expected{"tasto-005", "Solo", 5, "65", 1, -40, 40000, 0};
    EXPECT_EQ(state.actionTable[4], expected);
    EXPECT_EQ(state.actionTable[5].entryName, "tasto-005");
    EXPECT_EQ(state.actionTable[5].order, 6);
    EXPECT_EQ(state.actionTable[5].triggerKind, 2);
    EXPECT_EQ(state.actionTable[5].triggerCode, "3C90");
    EXPECT_EQ(rows(editor.lstTasti).back(), "6 | Coda");

    state.actionTable.resize(100);
    editor.messages.clear();
    editor.cmdNuovoTasto_Click();
    EXPECT_EQ(editor.messages, std::vector<std::string>{state.texts.tooManyActionsMessage});
    EXPECT_EQ(editor.prompts, 2);
    EXPECT_EQ(editor.midiCaptures, 1);
    EXPECT_EQ(state.actionTable.size(), 100u);
}

TEST_F(EditorWindowTest, DeletingRenumbersAndKeepsSequenceEdits) {
    writeGroup("Live", {"A", "B", "C", "D", "E"}, {1, 2, 3, 4, 0});
    ScriptedEditor editor(state, platform);
    // Entry "C" taken out of the sequence, then "D" moved up: neither may be undone below.
    editor.lstSequenza->setCurrentRow(2);
    editor.cmdSeqTorna_Click();
    editor.lstSequenza->setCurrentRow(2);
    editor.cmdSu_Click();
    EXPECT_EQ(rows(editor.lstSequenza), (Rows{"1 - A", "2 - D", "3 - B"}));

    editor.lstTasti->clearSelection();
    editor.cmdElimina_Click(); // nothing selected: only the rebuild
    EXPECT_EQ(state.actionTable.size(), 5u);
    EXPECT_EQ(rows(editor.lstSequenza), (Rows{"1 - A", "2 - D", "3 - B"}));

    editor.lstTasti->setCurrentRow(0);
    editor.cmdElimina_Click();
    EXPECT_EQ(rows(editor.lstTasti), (Rows{"1 | B", "2 | C", "3 | D", "4 | E"}));
    EXPECT_EQ(rows(editor.lstSequenza), (Rows{"1 - D", "2 - B"}));
    editor.lstTasti->setCurrentRow(3);
    editor.cmdElimina_Click();
    editor.lstTasti->setCurrentRow(0);
    editor.cmdElimina_Click();
    EXPECT_EQ(rows(editor.lstTasti), (Rows{"1 | C", "2 | D"}));
    EXPECT_EQ(rows(editor.lstSequenza), (Rows{"1 - D"}));
}

TEST_F(EditorWindowTest, SequenceButtonsWithAndWithoutSelection) {
    writeGroup("Live", {"Intro", "Verse", "Chorus", "Bridge"}, {0, 1, 0, 0});
    ScriptedEditor editor(state, platform);
    editor.cmdSeqVa_Click(); // no action selected
    EXPECT_EQ(rows(editor.lstSequenza), (Rows{"1 - Verse"}));
    editor.lstTasti->setCurrentRow(1);
    editor.cmdSeqVa_Click(); // already in the sequence
    EXPECT_EQ(state.sequenceTable.size(), 1u);
    editor.cmdTuttiVa_Click();
    EXPECT_EQ(rows(editor.lstSequenza),
              (Rows{"1 - Verse", "2 - Intro", "3 - Chorus", "4 - Bridge"}));

    editor.lstSequenza->setCurrentRow(2);
    editor.cmdSu_Click();
    EXPECT_EQ(rows(editor.lstSequenza),
              (Rows{"1 - Verse", "2 - Chorus", "3 - Intro", "4 - Bridge"}));
    EXPECT_EQ(editor.lstSequenza->currentRow(), 1);
    editor.lstSequenza->setCurrentRow(0);
    editor.cmdSu_Click(); // the first entry stays where it is, still selected
    EXPECT_EQ(editor.lstSequenza->currentRow(), 0);
    editor.lstSequenza->setCurrentRow(3);
    editor.cmdGiu_Click();
    EXPECT_EQ(editor.lstSequenza->currentRow(), 3);
    editor.lstSequenza->clearSelection();
    editor.cmdGiu_Click(); // nothing selected: nothing moves, the first row is selected
    EXPECT_EQ(editor.lstSequenza->currentRow(), 0);
    EXPECT_EQ(state.sequenceTable[0].description, "Verse");
    editor.cmdGiu_Click();
    EXPECT_EQ(rows(editor.lstSequenza),
              (Rows{"1 - Chorus", "2 - Verse", "3 - Intro", "4 - Bridge"}));

    // Take "Verse" out, then put "Bridge" back in: the earlier edits survive the rebuild.
    editor.lstSequenza->setCurrentRow(1);
    editor.cmdSeqTorna_Click();
    editor.lstSequenza->clearSelection();
    editor.cmdSeqTorna_Click();
    EXPECT_EQ(state.sequenceTable.size(), 3u);
    editor.lstTasti->setCurrentRow(1);
    editor.cmdSeqVa_Click();
    EXPECT_EQ(rows(editor.lstSequenza),
              (Rows{"1 - Chorus", "2 - Intro", "3 - Bridge", "4 - Verse"}));

    editor.cmdTuttiTorna_Click();
    EXPECT_EQ(editor.lstSequenza->count(), 0);
    editor.cmdSu_Click(); // empty list: nothing to select
    EXPECT_EQ(editor.lstSequenza->currentRow(), -1);
    editor.cmdExit_Click();
    for (const ActionRecord& action : state.actionTable)
        EXPECT_EQ(action.sequencePos, 0);
}

TEST_F(EditorWindowTest, NextAndPrevComeFromTheCaptureOfTheInputMode) {
    writeGroup("Live", {});
    ScriptedEditor editor(state, platform);
    state.setInputDevice(kKeyboardDevice);
    editor.triggerCodes = {"34", "1FB0"};
    editor.cmdNext_Click();
    state.setInputDevice(1);
    editor.cmdAssegnaPrev_Click();
    EXPECT_EQ(editor.keyCaptures, 1);
    EXPECT_EQ(editor.midiCaptures, 1);
    EXPECT_EQ(state.nextTriggerCode, "34");
    EXPECT_EQ(editor.lblNext->text(), "34");
    EXPECT_EQ(state.prevTriggerCode, "1FB0");
    EXPECT_EQ(editor.lblPrev->text(), "1FB0");
}

TEST_F(EditorWindowTest, OkWritesTheGroupFileAndTheCloseBoxWritesNothing) {
    writeGroup("Live", {"Solo", "Intro", "Solo"}, {0, 1, 2});
    const std::string original = readFile("gruppo-Live.ini");
    {
        ScriptedEditor editor(state, platform);
        editor.show();
        editor.lstTasti->setCurrentRow(1);
        editor.cmdElimina_Click();
        editor.close();
        EXPECT_EQ(editor.result(), QDialog::Rejected);
    }
    EXPECT_EQ(readFile("gruppo-Live.ini"), original);

    ScriptedEditor editor(state, platform);
    editor.show();
    editor.lstSequenza->setCurrentRow(0);
    editor.cmdSeqTorna_Click(); // only the second "Solo" entry stays, at position 1
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
              "xx= 20\r\nyy= 40\r\nsequenza= 0\r\ndescrizione=Intro\r\n"
              "[tasto-003]\r\nnome chiave=tasto-003\r\nordine= 3\r\ntasto=67\r\ntipo= 1\r\n"
              "xx= 30\r\nyy= 60\r\nsequenza= 1\r\ndescrizione=Solo\r\n");
}

TEST_F(EditorWindowTest, SaveFailureKeepsTheEditorOpenWithAMessage) {
    writeGroup("Live", {"Intro"});
    ScriptedEditor editor(state, platform);
    editor.show();
    // A folder in place of the group file cannot be replaced by the save.
    std::filesystem::remove(path("gruppo-Live.ini"));
    std::filesystem::create_directories(path("gruppo-Live.ini/keep"));
    editor.cmdExit_Click();
    EXPECT_EQ(editor.messages, std::vector<std::string>{state.texts.saveFailedMessage});
    EXPECT_TRUE(editor.isVisible());

    std::filesystem::remove_all(state.programFolder);
    editor.cmdExit_Click();
    EXPECT_EQ(editor.messages.size(), 2u);
    EXPECT_TRUE(editor.isVisible());
}

TEST_F(EditorWindowTest, OkWithNoGroupAtAllWritesNothing) {
    ScriptedEditor editor(state, platform);
    editor.show();
    EXPECT_EQ(editor.cmbGruppi->count(), 0);
    editor.cmdExit_Click();
    EXPECT_FALSE(editor.isVisible());
    EXPECT_TRUE(editor.messages.empty());
    EXPECT_TRUE(std::filesystem::is_empty(state.programFolder));
}

// The real click-point capture, polling the fake platform's left button.
TEST_F(EditorWindowTest, ClickPointCaptureWaitsForTheLeftButton) {
    frmAssegnazioni editor(state, platform, nullptr);
    editor.show();
    platform.setLeftButton(true);
    editor.Timer1_Timer(); // no capture waiting: a press takes no point
    EXPECT_EQ(editor.capturedX, 0);

    platform.setLeftButton(false);
    platform.pointer = ScreenPoint{-5, 70000};
    QTimer::singleShot(0, [&] {
        EXPECT_FALSE(editor.pointCaptured);
        EXPECT_TRUE(editor.Timer1->isActive());
        EXPECT_EQ(editor.Timer1->interval(), 50);
        platform.setLeftButton(true);
    });
    EXPECT_TRUE(editor.captureClickPoint());
    EXPECT_EQ(editor.capturedX, -5);
    EXPECT_EQ(editor.capturedY, 70000);
    EXPECT_TRUE(editor.pointCaptured);
    EXPECT_FALSE(editor.Timer1->isActive());
    EXPECT_FALSE(editor.isMinimized());

    // Closing the editor while a capture waits ends the wait without a point.
    platform.setLeftButton(false);
    QTimer::singleShot(0, [&] { editor.reject(); });
    // Should the close not end the wait, a later press ends it, and the check fails.
    QTimer guard;
    guard.callOnTimeout([&] { platform.setLeftButton(true); });
    guard.start(3000);
    EXPECT_FALSE(editor.captureClickPoint());
    EXPECT_FALSE(editor.Timer1->isActive());
}

} // namespace
} // namespace quindel::test
