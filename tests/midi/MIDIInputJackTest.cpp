#include "engine/MidiIntake.h"
#include "engine/RuntimeState.h"
#include "midi/PortControl.h"
#include "MidiTestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

using quindel::MIDIInput;
using quindel::RuntimeState;
using quindel::test::JackSender;
using quindel::test::ReportedError;
using quindel::test::runEventsUntil;

namespace {

// A control opened through port control on a fresh sender port, with its events wired as the
// main window wires them.
struct OpenedInput {
    JackSender sender;
    MIDIInput input{2};
    RuntimeState state;
    std::vector<ReportedError> errors;
    int arrivals = 0;
    bool offThread = false;

    explicit OpenedInput(const std::string& port) : sender(port) {
        input.messagesArrived = [this] {
            ++arrivals;
            offThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
            quindel::drainMidiInput(state, input, [] { QCoreApplication::processEvents(); });
        };
        input.errorReported = [this](int code, const std::string& text) {
            errors.push_back({code, text});
        };
        const int16_t index = sender.indexIn(input);
        EXPECT_GE(index, 0) << "the sender's port is not listed";
        state.setInputDevice(static_cast<int16_t>(index + 1));
        EXPECT_EQ(quindel::openMidiInput(state, input), 1);
        EXPECT_EQ(input.openState(), 1);
    }

    // Sends one message and returns the code that the drain leaves in the slot.
    std::string codeOf(std::vector<unsigned char> bytes) {
        state.lastMidiCommand.clear();
        sender.send(std::move(bytes));
        if (!runEventsUntil([this] { return !state.lastMidiCommand.empty(); }))
            return "(nothing arrived)";
        return state.lastMidiCommand;
    }
};

TEST(MIDIInputJack, ChannelMessagesArriveAsCodesOnTheUiThread) {
    OpenedInput midi("codes");
    EXPECT_EQ(midi.codeOf({0x90, 60, 100}), "3C90");
    EXPECT_EQ(midi.codeOf({0x80, 60, 0}), "3C80");
    EXPECT_EQ(midi.codeOf({0xB2, 64, 127}), "40B2");
    EXPECT_EQ(midi.codeOf({0xC0, 5}), "05C0");
    EXPECT_EQ(midi.codeOf({0xD5, 9}), "09D5");
    EXPECT_EQ(midi.codeOf({0xEF, 0x00, 0x40}), "00EF");
    // SysEx and Active Sensing make no code: the note after them is the only one.
    midi.state.lastMidiCommand.clear();
    midi.sender.send({0xF0, 0x7D, 0x01, 0x02, 0xF7});
    midi.sender.send({0xFE});
    EXPECT_EQ(midi.codeOf({0x9F, 127, 1}), "7F9F");
    EXPECT_GT(midi.arrivals, 0);
    EXPECT_FALSE(midi.offThread) << "messagesArrived must run on the UI thread";
    EXPECT_EQ(midi.input.pendingCount(), 0);
    EXPECT_EQ(midi.input.receivedCount(), 8u) << "Active Sensing must be filtered out";
    EXPECT_TRUE(midi.errors.empty());
}

TEST(MIDIInputJack, SysExArrivesWholeAndNotificationsCanBeSwitchedOff) {
    OpenedInput midi("sysex");
    midi.input.notifyEnabled(false);
    midi.sender.send({0xF0, 0x7D, 0x10, 0x20, 0x30, 0xF7});
    midi.sender.send({0xF8});
    ASSERT_TRUE(runEventsUntil([&] { return midi.input.pendingCount() == 2; }));
    EXPECT_EQ(midi.input.messageStatus(), 0xF0);
    EXPECT_EQ(midi.input.systemData(), "F0 7D 10 20 30 F7");
    midi.input.portCommand(quindel::kPortDropHead);
    EXPECT_EQ(midi.input.messageStatus(), 0xF8);
    EXPECT_EQ(midi.input.systemData(), "F8");
    EXPECT_EQ(midi.arrivals, 0);

    // Switching notifications on again announces what is waiting.
    midi.input.notifyEnabled(true);
    ASSERT_TRUE(runEventsUntil([&] { return midi.arrivals == 1; }));
    EXPECT_EQ(midi.input.pendingCount(), 0);
    EXPECT_EQ(midi.state.lastMidiCommand, "");
}

TEST(MIDIInputJack, ClosedPortKeepsNoMessagesAndReopens) {
    OpenedInput midi("stop");
    midi.input.notifyEnabled(false);
    midi.sender.send({0x90, 1, 1});
    ASSERT_TRUE(runEventsUntil([&] { return midi.input.pendingCount() == 1; }));
    quindel::closeMidiInput(midi.input);
    EXPECT_EQ(midi.input.openState(), 0);
    EXPECT_EQ(midi.input.pendingCount(), 0) << "a closed port keeps no old messages";

    midi.input.notifyEnabled(true);
    ASSERT_EQ(quindel::openMidiInput(midi.state, midi.input), 1);
    EXPECT_EQ(midi.codeOf({0x90, 3, 1}), "0390");
    EXPECT_EQ(midi.input.receivedCount(), 1u);
    EXPECT_EQ(midi.state.lastMidiCommand, "0390");
}

TEST(MIDIInputJack, FloodKeepsTheQueueBoundedAndTheLastCodeRight) {
    OpenedInput midi("flood");
    constexpr unsigned kTotal = 100000;
    constexpr unsigned kBatch = 1000;
    // The UI thread does not run while the flood arrives, so the queue must hold it alone. The
    // sender is paced per batch because JACK drops what does not fit into one period.
    unsigned sent = 0;
    while (sent < kTotal) {
        for (unsigned i = 0; i < kBatch - 1; ++i)
            midi.sender.send({0x90, static_cast<unsigned char>(sent++ % 128), 64});
        midi.sender.send({0xB1, 0x55, static_cast<unsigned char>(++sent % 128)});
        QElapsedTimer clock;
        clock.start();
        while (midi.input.receivedCount() < sent && clock.elapsed() < 20000)
            QThread::msleep(1);
        ASSERT_EQ(midi.input.receivedCount(), sent) << "JACK lost messages of a batch";
    }
    EXPECT_EQ(midi.input.pendingCount(), static_cast<int16_t>(MIDIInput::kQueueLimit));
    EXPECT_EQ(midi.input.droppedCount(), kTotal - MIDIInput::kQueueLimit);

    ASSERT_TRUE(runEventsUntil([&] { return midi.input.pendingCount() == 0; }));
    EXPECT_EQ(midi.state.lastMidiCommand, "55B1");
    ASSERT_TRUE(runEventsUntil([&] { return !midi.errors.empty(); }));
    ASSERT_EQ(midi.errors.size(), 1u) << "the overflow is reported once";
    EXPECT_EQ(midi.errors[0].code, MIDIInput::kQueueOverflow);
}

TEST(MIDIInputJack, SenderThatGoesAwayClosesThePortAndReports) {
    OpenedInput midi("unplugged");
    midi.sender.close();
    ASSERT_TRUE(runEventsUntil([&] { return !midi.errors.empty(); }));
    EXPECT_EQ(midi.errors[0].code, MIDIInput::kDeviceLost);
    EXPECT_NE(midi.errors[0].text.find("unplugged"), std::string::npos) << midi.errors[0].text;
    EXPECT_EQ(midi.input.openState(), 0);
}

TEST(MIDIInputJack, DeviceIndexNotThereLeavesThePortClosed) {
    MIDIInput input(2);
    std::vector<ReportedError> errors;
    input.errorReported = [&](int code, const std::string& text) {
        errors.push_back({code, text});
    };
    RuntimeState state;
    state.setInputDevice(static_cast<int16_t>(input.deviceCount() + 1));
    EXPECT_EQ(quindel::openMidiInput(state, input), 0);
    state.setInputDevice(-4);
    quindel::openMidiInput(state, input);
    EXPECT_EQ(input.openState(), 0);
    ASSERT_TRUE(runEventsUntil([&] { return errors.size() == 2; }));
    EXPECT_EQ(errors[0].code, MIDIInput::kNoSuchDevice);
    EXPECT_EQ(errors[1].code, MIDIInput::kNoSuchDevice);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
