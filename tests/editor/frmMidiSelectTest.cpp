#include "EditorTestSupport.h"
#include "support/FakeMidiInput.h"

#include "midi/frmMidiSelect.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace quindel::test {
namespace {

class RecordingMidiSelect : public frmMidiSelect {
  public:
    using frmMidiSelect::frmMidiSelect;
    std::vector<std::string> messages;

  protected:
    void showMessage(const QString& text) override { messages.push_back(text.toStdString()); }
};

using MidiSelectTest = EditorTest;

TEST_F(MidiSelectTest, ListsDevicesThenKeyboardAndSelectsByStoredDevice) {
    FakeMidiInput control;
    struct Case {
        int16_t stored;
        int devices;
        int expectedRow;
        int16_t deviceAfterLoad;
    };
    const Case cases[] = {
        {0, 2, 0, 0},      // first run: the first device
        {-3, 2, 0, 0},     // below zero is reset to "none chosen"
        {2, 2, 1, 2},      // the second device
        {3, 2, 2, 3},      // one beyond the devices: the keyboard entry
        {7, 2, 2, 7},      // an unplugged device: the keyboard entry
        {99, 120, 120, 99} // the keyboard even when 99 or more devices are listed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        control.devices.clear();
        for (int i = 0; i < c.devices; ++i)
            control.devices.push_back("Device " + std::to_string(i));
        state.setInputDevice(c.stored);
        RecordingMidiSelect dialog(state, control);
        ASSERT_EQ(dialog.List2->count(), c.devices + 1);
        EXPECT_EQ(dialog.List2->item(0)->text().toStdString(), "Device 0");
        EXPECT_EQ(dialog.List2->item(c.devices)->text(), "Tastiera PC");
        EXPECT_EQ(dialog.List2->currentRow(), c.expectedRow);
        EXPECT_EQ(state.midiInputDevice, c.deviceAfterLoad);
        EXPECT_EQ(dialog.cmdOK->text(), "Ok");
        EXPECT_EQ(dialog.cmdAnnulla->text(), "Annulla");
    }
}

TEST_F(MidiSelectTest, OkStoresTheChoiceInNumberForm) {
    FakeMidiInput control;
    {
        RecordingMidiSelect dialog(state, control);
        QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(state.midiInputDevice, 1);
    EXPECT_EQ(state.inputMode, kMidiMode);
    EXPECT_NE(readFile("quindel.ini").find("midi input= 1\r\n"), std::string::npos);

    RecordingMidiSelect dialog(state, control);
    dialog.List2->setCurrentRow(2);
    dialog.cmdOK_Click();
    EXPECT_EQ(state.midiInputDevice, kKeyboardDevice);
    EXPECT_EQ(state.inputMode, kKeyboardMode);
    EXPECT_NE(readFile("quindel.ini").find("midi input= 99\r\n"), std::string::npos);
}

TEST_F(MidiSelectTest, NoDeviceShowsMessageAndOffersOnlyTheKeyboard) {
    FakeMidiInput control;
    control.devices.clear();
    RecordingMidiSelect dialog(state, control);
    EXPECT_TRUE(dialog.messages.empty());
    dialog.show();
    EXPECT_EQ(dialog.messages, std::vector<std::string>{"Nessuna periferica MIDI rilevata!"});
    ASSERT_EQ(dialog.List2->count(), 1);
    dialog.cmdOK_Click();
    EXPECT_EQ(state.midiInputDevice, kKeyboardDevice);
}

TEST_F(MidiSelectTest, NothingSelectedOrCancelStoresNothing) {
    FakeMidiInput control;
    state.setInputDevice(2);
    RecordingMidiSelect dialog(state, control);
    dialog.show();
    dialog.List2->clearSelection();
    dialog.cmdOK_Click();
    EXPECT_EQ(dialog.messages,
              std::vector<std::string>{"Selezionare una periferica MIDI d'ingresso"});
    EXPECT_TRUE(dialog.isVisible());
    dialog.List2->setCurrentRow(0);
    QTest::mouseClick(dialog.cmdAnnulla, Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(state.midiInputDevice, 2);
    EXPECT_FALSE(std::filesystem::exists(path("quindel.ini")));
}

} // namespace
} // namespace quindel::test
