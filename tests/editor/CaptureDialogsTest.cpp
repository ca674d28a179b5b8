#include "EditorTestSupport.h"
#include "support/FakeMidiInput.h"
#include "support/FakePlatform.h"

#include "editor/frmAspettaTastoComputer.h"
#include "editor/frmAspettaTastoMIDI.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace quindel::test {
namespace {

TEST_F(EditorTest, KeyCaptureTakesOneKeyAndHandsItOverOnlyOnConfirm) {
    FakePlatform platform; // translates only these native keys; the Qt key decides the rest
    platform.nativeKeys = {{0xffbe, 112}, {0xffe2, 161}}; // F1, right Shift (sided)
    state.capturedTriggerCode = "old";
    frmAspettaTastoComputer dialog(state, platform);
    dialog.show();
    EXPECT_FALSE(dialog.cmdConferma->isVisible());
    QTest::keyClick(&dialog, Qt::Key_Shift);
    EXPECT_EQ(dialog.Label1->text(), QString("16 - ") + QChar(16));
    EXPECT_TRUE(dialog.cmdConferma->isVisible());
    QTest::keyClick(&dialog, Qt::Key_A); // a further key while one is shown changes nothing
    EXPECT_EQ(dialog.capturedKeyText, "16");

    // Escape and Tab are triggers too, and Escape does not close the dialog.
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F2, Qt::NoModifier, 67, 0xffbe, 0);
    QKeyEvent rightShift(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier, 62, 0xffe2, 0);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QKeyEvent pad5(QEvent::KeyPress, Qt::Key_5, Qt::KeypadModifier);
    const std::pair<QKeyEvent*, const char*> keys[] = {
        {&f1, "112"}, {&rightShift, "16"}, {&escape, "27"}, {&tab, "9"}, {&pad5, "101"}};
    for (const auto& [event, code] : keys) {
        QTest::mouseClick(dialog.cmdRipeti, Qt::LeftButton);
        EXPECT_TRUE(dialog.Label1->text().isEmpty());
        QCoreApplication::sendEvent(&dialog, event);
        EXPECT_EQ(dialog.capturedKeyText, code);
    }
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(state.capturedTriggerCode, "old");
    QTest::mouseClick(dialog.cmdConferma, Qt::LeftButton);
    EXPECT_EQ(state.capturedTriggerCode, "101");
    EXPECT_FALSE(dialog.isVisible());
}

class MidiCaptureTest : public EditorTest {
  protected:
    class Dialog : public frmAspettaTastoMIDI {
      public:
        using frmAspettaTastoMIDI::frmAspettaTastoMIDI;
        std::vector<std::string> messages;

      protected:
        void showMessage(const QString& text) override { messages.push_back(text.toStdString()); }
    };
    MidiInputFactory factory() {
        return [this] { return std::unique_ptr<MidiInputControl>(fake = new FakeMidiInput); };
    }
    FakeMidiInput* fake = nullptr;
};

TEST_F(MidiCaptureTest, TakesTheLatestCommandAndClosesItsPort) {
    state.setInputDevice(1);
    state.lastMidiCommand = "0000";
    state.capturedTriggerCode = "old";
    Dialog dialog(state, factory());
    EXPECT_TRUE(state.lastMidiCommand.empty()); // an old command is never taken
    EXPECT_EQ(fake->openState(), 1);
    dialog.Timer1_Timer();
    EXPECT_EQ(state.capturedTriggerCode, "old");

    fake->receive(0x90, 60, 100);
    fake->receive(0x80, 60, 0);
    dialog.Timer1_Timer();
    EXPECT_EQ(state.capturedTriggerCode, "3C80");
    EXPECT_EQ(dialog.Label1->text(), "3C80");
    EXPECT_TRUE(state.lastMidiCommand.empty());
    EXPECT_FALSE(dialog.Timer1->isActive());
    EXPECT_EQ(fake->openState(), 0);

    QTest::mouseClick(dialog.cmdRipeti, Qt::LeftButton); // opens the port anew
    EXPECT_EQ(fake->openState(), 1);
    fake->receive(0xB2, 64, 127);
    fake->receive(0xF8, 0, 0); // a system message never becomes a trigger
    dialog.Timer1_Timer();
    EXPECT_EQ(state.capturedTriggerCode, "40B2");
}

TEST_F(MidiCaptureTest, ClosingWhileWaitingClosesThePortAndKeepsTheOldCode) {
    state.setInputDevice(2);
    state.capturedTriggerCode = "old";
    Dialog dialog(state, factory());
    dialog.show();
    fake->errorReported(8, "quiet");
    fake->errorReported(3, "port lost");
    EXPECT_EQ(dialog.messages, std::vector<std::string>{"port lost"});
    dialog.close();
    EXPECT_EQ(fake->openState(), 0);
    EXPECT_FALSE(dialog.Timer1->isActive());
    EXPECT_EQ(state.capturedTriggerCode, "old");

    state.setInputDevice(kNoInputDevice);
    Dialog idle(state, factory());
    EXPECT_EQ(fake->writes, std::vector<std::string>{}); // no device chosen: no port
}

} // namespace
} // namespace quindel::test
