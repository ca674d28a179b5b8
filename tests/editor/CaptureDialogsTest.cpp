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

using KeyCaptureTest = EditorTest;

TEST(VirtualKeyFromQtKey, MapsTheKeysAKeyPollKnows) {
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_A), 65);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Z), 90);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_0), 48);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_F1), 112);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_F12), 123);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Shift), 16);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Space), 32);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Down), 40);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Exclam), 49); // shifted 1
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Question), 191);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_5, true), 101);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_Plus, true), 107);
    EXPECT_EQ(virtualKeyFromQtKey(Qt::Key_unknown), 0);
}

TEST_F(KeyCaptureTest, TakesOneKeyAndHandsItOverOnlyOnConfirm) {
    FakePlatform platform;
    state.capturedTriggerCode = "old";
    frmAspettaTastoComputer dialog(state, platform);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Tasto tastiera");
    EXPECT_FALSE(dialog.cmdConferma->isVisible());

    QTest::keyClick(&dialog, Qt::Key_Shift);
    EXPECT_EQ(dialog.Label1->text(), QString("16 - ") + QChar(16));
    EXPECT_TRUE(dialog.cmdConferma->isVisible());
    EXPECT_EQ(dialog.cmdRipeti->text(), "Ripeti");
    // Auto-repeat and further keys change nothing while a key is shown.
    QTest::keyClick(&dialog, Qt::Key_A);
    EXPECT_EQ(dialog.capturedKeyText, "16");

    QTest::mouseClick(dialog.cmdRipeti, Qt::LeftButton);
    EXPECT_TRUE(dialog.Label1->text().isEmpty());
    EXPECT_FALSE(dialog.cmdRipeti->isVisible());
    // Escape and Tab are triggers too: they neither close the dialog nor move the focus.
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Label1->text(), QString("27 - ") + QChar(27));
    EXPECT_EQ(state.capturedTriggerCode, "old");

    QTest::mouseClick(dialog.cmdRipeti, Qt::LeftButton);
    QTest::keyClick(&dialog, Qt::Key_A);
    EXPECT_EQ(dialog.Label1->text(), "65 - A");
    QTest::mouseClick(dialog.cmdConferma, Qt::LeftButton);
    EXPECT_EQ(state.capturedTriggerCode, "65");
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(KeyCaptureTest, ThePlatformTableWinsOverTheQtKey) {
    FakePlatform platform;
    platform.nativeKeys[0xffbe] = 112; // the F1 keysym
    frmAspettaTastoComputer dialog(state, platform);
    platform.nativeKeys[0xffe2] = 161; // right Shift, polled as Shift
    QKeyEvent press(QEvent::KeyPress, Qt::Key_F2, Qt::NoModifier, 67, 0xffbe, 0);
    QCoreApplication::sendEvent(&dialog, &press);
    EXPECT_EQ(dialog.capturedKeyText, "112");
    dialog.cmdRipeti_Click();
    QKeyEvent shift(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier, 62, 0xffe2, 0);
    QCoreApplication::sendEvent(&dialog, &shift);
    EXPECT_EQ(dialog.capturedKeyText, "16");
}

class RecordingMidiCapture : public frmAspettaTastoMIDI {
  public:
    using frmAspettaTastoMIDI::frmAspettaTastoMIDI;
    std::vector<std::string> messages;

  protected:
    void showMessage(const QString& text) override { messages.push_back(text.toStdString()); }
};

class MidiCaptureTest : public EditorTest {
  protected:
    MidiInputFactory factory() {
        return [this] {
            auto control = std::make_unique<FakeMidiInput>();
            fake = control.get();
            return control;
        };
    }
    FakeMidiInput* fake = nullptr;
};

TEST_F(MidiCaptureTest, TakesTheLatestCommandAndClosesItsPort) {
    state.setInputDevice(1);
    state.lastMidiCommand = "0000";
    state.capturedTriggerCode = "old";
    RecordingMidiCapture dialog(state, factory());
    ASSERT_NE(fake, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Comando MIDI");
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

    // Repeat opens the port anew; a command arriving later replaces the shown one.
    QTest::mouseClick(dialog.cmdRipeti, Qt::LeftButton);
    EXPECT_TRUE(dialog.Label1->text().isEmpty());
    EXPECT_EQ(fake->openState(), 1);
    fake->receive(0xB2, 64, 127);
    fake->receive(0xF8, 0, 0); // a system message never becomes a trigger
    dialog.Timer1_Timer();
    EXPECT_EQ(state.capturedTriggerCode, "40B2");
}

TEST_F(MidiCaptureTest, ClosingWhileWaitingClosesThePortAndKeepsTheOldCode) {
    state.setInputDevice(2);
    state.capturedTriggerCode = "old";
    RecordingMidiCapture dialog(state, factory());
    dialog.show();
    EXPECT_EQ(fake->openState(), 1);
    fake->errorReported(8, "quiet");
    fake->errorReported(3, "port lost");
    EXPECT_EQ(dialog.messages, std::vector<std::string>{"port lost"});
    dialog.close();
    EXPECT_EQ(fake->openState(), 0);
    EXPECT_FALSE(dialog.Timer1->isActive());
    EXPECT_EQ(state.capturedTriggerCode, "old");
}

TEST_F(MidiCaptureTest, NoDeviceChosenOpensNoPort) {
    state.setInputDevice(kNoInputDevice);
    RecordingMidiCapture dialog(state, factory());
    for (const std::string& write : fake->writes)
        EXPECT_NE(write, "portCommand 1");
    EXPECT_EQ(fake->openState(), 0);
}

} // namespace
} // namespace quindel::test
