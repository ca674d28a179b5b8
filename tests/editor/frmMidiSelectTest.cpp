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
    // {stored device, devices present, selected row, device after loading}
    const int cases[][4] = {{0, 2, 0, 0}, {-3, 2, 0, 0},      {2, 2, 1, 2}, {3, 2, 2, 3},
                            {7, 2, 2, 7}, {99, 120, 120, 99}, {5, 0, 0, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        control.devices.assign(c[1], "Device");
        state.setInputDevice(static_cast<int16_t>(c[0]));
        RecordingMidiSelect dialog(state, control);
        dialog.show();
        EXPECT_EQ(dialog.messages.size(), c[1] == 0 ? 1u : 0u); // "no device" once shown
        ASSERT_EQ(dialog.List2->count(), c[1] + 1);
        EXPECT_EQ(dialog.List2->item(c[1])->text(), "Tastiera PC");
        EXPECT_EQ(dialog.List2->currentRow(), c[2]);
        EXPECT_EQ(state.midiInputDevice, c[3]);
    }
}

TEST_F(MidiSelectTest, OkStoresTheChoiceAndCancelOrNoSelectionStoresNothing) {
    FakeMidiInput control;
    RecordingMidiSelect dialog(state, control);
    dialog.show();
    dialog.List2->clearSelection();
    dialog.cmdOK_Click();
    EXPECT_EQ(dialog.messages, std::vector<std::string>{state.texts.selectDeviceMessage});
    dialog.List2->setCurrentRow(1);
    QTest::mouseClick(dialog.cmdAnnulla, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(state.midiInputDevice, kNoInputDevice);
    EXPECT_FALSE(std::filesystem::exists(path("quindel.ini")));

    for (const auto& [row, device, stored] :
         {std::tuple{0, 1, "midi input= 1\r\n"}, std::tuple{2, 99, "midi input= 99\r\n"}}) {
        RecordingMidiSelect chooser(state, control);
        chooser.List2->setCurrentRow(row);
        QTest::mouseClick(chooser.cmdOK, Qt::LeftButton);
        EXPECT_EQ(chooser.result(), QDialog::Accepted);
        EXPECT_EQ(state.midiInputDevice, device);
        EXPECT_EQ(state.inputMode, device == 99 ? kKeyboardMode : kMidiMode);
        EXPECT_NE(readFile("quindel.ini").find(stored), std::string::npos);
    }
}

} // namespace
} // namespace quindel::test
