#include "EditorTestSupport.h"
#include "support/FakePlatform.h"

#include "editor/frmAssegnazioni.h"

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

    std::deque<std::string> answers, codes;
    std::vector<std::string> messages;
    int prompts = 0, keyCaptures = 0, midiCaptures = 0;

    bool captureClickPoint() override {
        capturedX = -40; // a screen left of the primary one, on a tall desktop
        capturedY = 40000;
        return true;
    }

  protected:
    QString askText(const QString&) override { return QString::fromStdString(take(answers)); }
    void showMessage(const QString& text) override { messages.push_back(text.toStdString()); }
    void runKeyCapture() override { ++keyCaptures, state_.capturedTriggerCode = take(codes); }
    void runMidiCapture() override { ++midiCaptures, state_.capturedTriggerCode = take(codes); }

  private:
    std::string take(std::deque<std::string>& queue) {
        ++prompts;
        std::string front = queue.empty() ? "" : queue.front();
        if (!queue.empty())
            queue.pop_front();
        return front;
    }
    RuntimeState& state_;
};

using Rows = std::vector<std::string>;
Rows rows(const QListWidget* list) {
    Rows texts;
    for (int i = 0; i < list->count(); ++i)
        texts.push_back(list->item(i)->text().toStdString());
    return texts;
}

class EditorWindowTest : public EditorTest {
  protected:
    FakePlatform platform;
};

TEST_F(EditorWindowTest, OpeningListsGroupsSortedAndMakesTheFirstCurrent) {
    writeGroup("Studio", {"Intro", "Verse"}, {2, 1});
    writeGroup("live", {});
    for (const char* name : {"gruppo-Zed.txt", "Gruppo-Caps.ini", "gruppo-a.i", "Solo.ini"})
        std::ofstream{path(name)};
    std::filesystem::create_directory(path("gruppo-Dir.ini"));
    loadLanguageTexts(state.texts, kEnglish);

    ScriptedEditor editor(state, platform);
    EXPECT_EQ(editor.windowTitle(), "Actions assign");
    ASSERT_EQ(editor.cmbGruppi->count(), 3);
    EXPECT_EQ(editor.cmbGruppi->itemText(0), "live");
    EXPECT_EQ(editor.cmbGruppi->itemText(1), "Studio");
    EXPECT_EQ(editor.cmbGruppi->itemText(2), "Zed");
    EXPECT_EQ(readSetting(state, "file tasti", "nomefile"), "gruppo-live.ini");

    editor.selectGroup(1);
    EXPECT_EQ(state.groupFile, "gruppo-Studio.ini");
    EXPECT_EQ(rows(editor.lstTasti), (Rows{"1 | Intro", "2 | Verse"}));
    EXPECT_EQ(rows(editor.lstSequenza), (Rows{"1 - Verse", "2 - Intro"}));
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
    editor.answers = {"live", "../evil", "a\\b", "tab\there", std::string(300, 'x')};
    for (int i = 0; i < 5; ++i)
        editor.cmdNuovo_Click();
    const std::string invalid = state.texts.invalidNameMessage;
    EXPECT_EQ(editor.messages, (Rows{"Il nome della configurazione esiste già", invalid, invalid,
                                     invalid, state.texts.saveFailedMessage}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(state.programFolder), {}), 2);
    EXPECT_FALSE(std::filesystem::exists(state.programFolder + "/../evil.ini"));

    editor.answers = {"Beta", ""}; // Cancel gives the empty name, which is listed first
    QTest::mouseClick(editor.cmdNuovo, Qt::LeftButton);
    EXPECT_EQ(readFile("gruppo-Beta.ini"), "[main]\r\nnome=Beta\r\n");
    EXPECT_EQ(state.groupFile, "gruppo-Beta.ini");
    editor.cmdNuovo_Click();
    EXPECT_EQ(readFile("gruppo-.ini"), "[main]\r\nnome=\r\n");
    EXPECT_EQ(editor.cmbGruppi->count(), 3);
    EXPECT_EQ(state.groupFile, "gruppo-.ini");
}

TEST_F(EditorWindowTest, AddingActionsUsesTheCapturesAndStopsAtOneHundred) {
    writeGroup("Live", {"A", "B", "C", "D"});
    ScriptedEditor editor(state, platform);
    editor.answers = {"Solo", "Coda"};
    editor.codes = {"65", "3C90", "34", "1FB0"};
    state.setInputDevice(kKeyboardDevice);
    QTest::mouseClick(editor.cmdNuovoTasto, Qt::LeftButton);
    state.setInputDevice(1);
    editor.cmdNuovoTasto_Click();
    state.setInputDevice(kKeyboardDevice);
    editor.cmdNext_Click();
    state.setInputDevice(2);
    editor.cmdAssegnaPrev_Click();
    EXPECT_EQ(editor.keyCaptures + 10 * editor.midiCaptures, 22); // one capture each
    EXPECT_EQ(state.nextTriggerCode + state.prevTriggerCode, "341FB0");
    EXPECT_EQ(editor.lblNext->text() + editor.lblPrev->text(), "341FB0");
    EXPECT_EQ(editor.messages, (Rows(2, state.texts.clickPointMessage)));
    ASSERT_EQ(state.actionTable.size(), 6u);
    EXPECT_EQ(state.actionTable[4], (ActionRecord{"tasto-005", "Solo", 5, "65", 1, -40, 40000, 0}));
    EXPECT_EQ(state.actionTable[5],
              (ActionRecord{"tasto-005", "Coda", 6, "3C90", 2, -40, 40000, 0}));
    EXPECT_EQ(rows(editor.lstTasti).back(), "6 | Coda");

    state.actionTable.resize(100);
    editor.prompts = 0;
    editor.cmdNuovoTasto_Click();
    EXPECT_EQ(editor.messages.back(), state.texts.tooManyActionsMessage);
    EXPECT_EQ(editor.prompts, 0); // refused before any capture
    EXPECT_EQ(state.actionTable.size(), 100u);
}

TEST_F(EditorWindowTest, DeletingRenumbersAndKeepsSequenceEdits) {
    writeGroup("Live", {"A", "B", "C", "D", "E"}, {1, 2, 3, 4, 0});
    ScriptedEditor editor(state, platform);
    editor.lstSequenza->setCurrentRow(2);
    editor.cmdSeqTorna_Click(); // "C" out
    editor.lstSequenza->setCurrentRow(2);
    editor.cmdSu_Click();      // "D" up
    editor.cmdElimina_Click(); // nothing selected: only the rebuild, which keeps both edits
    EXPECT_EQ(state.actionTable.size(), 5u);
    EXPECT_EQ(rows(editor.lstSequenza), (Rows{"1 - A", "2 - D", "3 - B"}));

    editor.lstTasti->setCurrentRow(0);
    editor.cmdElimina_Click();
    EXPECT_EQ(rows(editor.lstTasti), (Rows{"1 | B", "2 | C", "3 | D", "4 | E"}));
    EXPECT_EQ(rows(editor.lstSequenza), (Rows{"1 - D", "2 - B"}));
    editor.lstTasti->setCurrentRow(3);
    editor.cmdElimina_Click();
    EXPECT_EQ(rows(editor.lstTasti), (Rows{"1 | B", "2 | C", "3 | D"}));
}

TEST_F(EditorWindowTest, SequenceButtonsWithAndWithoutSelection) {
    writeGroup("Live", {"Intro", "Verse", "Chorus", "Bridge"}, {0, 1, 0, 0});
    ScriptedEditor editor(state, platform);
    editor.cmdSeqVa_Click(); // no action selected
    editor.lstTasti->setCurrentRow(1);
    editor.cmdSeqVa_Click(); // already in the sequence
    EXPECT_EQ(rows(editor.lstSequenza), (Rows{"1 - Verse"}));
    editor.cmdTuttiVa_Click();
    EXPECT_EQ(rows(editor.lstSequenza),
              (Rows{"1 - Verse", "2 - Intro", "3 - Chorus", "4 - Bridge"}));

    editor.lstSequenza->setCurrentRow(2);
    editor.cmdSu_Click();
    EXPECT_EQ(rows(editor.lstSequenza)[1], "2 - Chorus");
    EXPECT_EQ(editor.lstSequenza->currentRow(), 1);
    editor.lstSequenza->setCurrentRow(0);
    editor.cmdSu_Click(); // the first entry stays, still selected
    editor.lstSequenza->setCurrentRow(3);
    editor.cmdGiu_Click(); // so does the last
    EXPECT_EQ(editor.lstSequenza->currentRow(), 3);
    editor.lstSequenza->clearSelection();
    editor.cmdGiu_Click(); // nothing selected: nothing moves, the first row is selected
    EXPECT_EQ(editor.lstSequenza->currentRow(), 0);
    editor.cmdGiu_Click();
    EXPECT_EQ(rows(editor.lstSequenza),
              (Rows{"1 - Chorus", "2 - Verse", "3 - Intro", "4 - Bridge"}));

    editor.lstSequenza->setCurrentRow(1);
    editor.cmdSeqTorna_Click();
    editor.lstSequenza->clearSelection();
    editor.cmdSeqTorna_Click();
    editor.lstTasti->setCurrentRow(1);
    editor.cmdSeqVa_Click(); // the rebuild keeps the removal and the moves
    EXPECT_EQ(rows(editor.lstSequenza),
              (Rows{"1 - Chorus", "2 - Intro", "3 - Bridge", "4 - Verse"}));

    editor.cmdTuttiTorna_Click();
    editor.cmdSu_Click(); // empty list: nothing to select
    EXPECT_EQ(editor.lstSequenza->currentRow(), -1);
    editor.cmdExit_Click();
    for (const ActionRecord& action : state.actionTable)
        EXPECT_EQ(action.sequencePos, 0);
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
    }
    EXPECT_EQ(readFile("gruppo-Live.ini"), original);

    ScriptedEditor editor(state, platform);
    editor.show();
    editor.lstSequenza->setCurrentRow(0);
    editor.cmdSeqTorna_Click(); // only the entry "Solo" stays, at position 1
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
    std::filesystem::remove_all(state.programFolder);
    editor.cmdExit_Click();
    EXPECT_EQ(editor.messages, Rows(2, state.texts.saveFailedMessage));
    EXPECT_TRUE(editor.isVisible());

    // With no group at all there is nothing to write, and OK closes.
    std::filesystem::create_directory(state.programFolder);
    state.groupFile.clear();
    ScriptedEditor empty(state, platform);
    empty.show();
    empty.cmdExit_Click();
    EXPECT_FALSE(empty.isVisible());
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
        EXPECT_EQ(editor.Timer1->interval(), 50);
        platform.setLeftButton(true);
    });
    EXPECT_TRUE(editor.captureClickPoint());
    EXPECT_EQ(editor.capturedX, -5);
    EXPECT_EQ(editor.capturedY, 70000);
    EXPECT_TRUE(editor.pointCaptured);
    EXPECT_FALSE(editor.Timer1->isActive());

    // Closing the editor while a capture waits ends the wait without a point. Should the
    // close not end it, the press of the guard does, and the check fails.
    platform.setLeftButton(false);
    QTimer::singleShot(0, [&] { editor.reject(); });
    QTimer guard;
    guard.callOnTimeout([&] { platform.setLeftButton(true); });
    guard.start(3000);
    EXPECT_FALSE(editor.captureClickPoint());
}

} // namespace
} // namespace quindel::test
