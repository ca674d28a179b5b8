#include "engine/MidiIntake.h"
#include "engine/RuntimeState.h"
#include "midi/PortControl.h"
#include "MidiTestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

using quindel::MIDIInput;
using quindel::test::runEventsUntil;

namespace {

// A control opened through port control on a fresh sender port, wired as a window wires it.
struct OpenedInput {
    quindel::test::JackSender sender;
    MIDIInput input{2};
    quindel::RuntimeState state;
    std::vector<int> errorCodes;
    int arrivals = 0;
    bool offThread = false;

    explicit OpenedInput(const std::string& port) : sender(port) {
        input.messagesArrived = [this] {
            ++arrivals;
            offThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
            quindel::drainMidiInput(state, input, [] { QCoreApplication::processEvents(); });
        };
        input.errorReported = [this](int code, const std::string&) { errorCodes.push_back(code); };
        state.setInputDevice(static_cast<int16_t>(sender.indexIn(input) + 1));
        EXPECT_GT(state.midiInputDevice, 0) << "the sender's port is not listed";
        EXPECT_EQ(quindel::openMidiInput(state, input), 1);
    }

    // Sends one message and returns the code that the drain leaves in the slot.
    std::string codeOf(std::vector<unsigned char> bytes) {
        state.lastMidiCommand.clear();
        sender.send(std::move(bytes));
        runEventsUntil([this] { return !state.lastMidiCommand.empty(); });
        return state.lastMidiCommand;
    }
};

TEST(MIDIInputJack, ChannelMessagesArriveAsCodesOnTheUiThread) {
    OpenedInput midi("codes");
    EXPECT_EQ(midi.codeOf({0x90, 60, 100}), "3C90");
    EXPECT_EQ(midi.codeOf({0x80, 60, 0}), "3C80");
    EXPECT_EQ(midi.codeOf({0xB2, 64, 127}), "40B2");
    EXPECT_EQ(midi.codeOf({0xC0, 5}), "05C0");
    EXPECT_EQ(midi.codeOf({0xEF, 0x00, 0x40}), "00EF");
    // SysEx and Active Sensing make no code: the note after them is the only one.
    midi.state.lastMidiCommand.clear();
    midi.sender.send({0xF0, 0x7D, 0x01, 0x02, 0xF7});
    midi.sender.send({0xFE});
    EXPECT_EQ(midi.codeOf({0x9F, 127, 1}), "7F9F");
    EXPECT_FALSE(midi.offThread) << "messagesArrived must run on the UI thread";
    EXPECT_EQ(midi.input.receivedCount(), 7u) << "Active Sensing must be filtered out";
    EXPECT_TRUE(midi.errorCodes.empty());
}

TEST(MIDIInputJack, SysExArrivesWholeAndNotificationsCanBeSwitchedOff) {
    OpenedInput midi("sysex");
    midi.input.notifyEnabled(false);
    midi.sender.send({0xF0, 0x7D, 0x10, 0x20, 0x30, 0xF7});
    midi.sender.send({0xF8});
    midi.sender.send({0x90, 1, 1});
    ASSERT_TRUE(runEventsUntil([&] { return midi.input.pendingCount() == 3; }));
    EXPECT_EQ(midi.input.systemData(), "F0 7D 10 20 30 F7");
    midi.input.portCommand(quindel::kPortDropHead);
    EXPECT_EQ(midi.input.systemData(), "F8");
    EXPECT_EQ(midi.arrivals, 0);
    // Switching notifications on again announces what is waiting.
    midi.input.notifyEnabled(true);
    ASSERT_TRUE(runEventsUntil([&] { return midi.arrivals == 1; }));
    EXPECT_EQ(midi.state.lastMidiCommand, "0190");

    // A closed port keeps no old messages for the next opening.
    midi.input.notifyEnabled(false);
    midi.sender.send({0x90, 2, 1});
    ASSERT_TRUE(runEventsUntil([&] { return midi.input.pendingCount() == 1; }));
    quindel::closeMidiInput(midi.input);
    EXPECT_EQ(midi.input.pendingCount(), 0);
    ASSERT_EQ(quindel::openMidiInput(midi.state, midi.input), 1);
    EXPECT_EQ(midi.codeOf({0x90, 3, 1}), "0390");
}

TEST(MIDIInputJack, FloodKeepsTheQueueBoundedAndTheLastCodeRight) {
    OpenedInput midi("flood");
    constexpr unsigned kTotal = 100000;
    // The UI thread does not run during the flood, so the queue alone must hold it. The sender
    // waits after each batch because JACK drops what does not fit into one period.
    unsigned sent = 0;
    while (sent < kTotal) {
        for (unsigned i = 0; i < 999; ++i)
            midi.sender.send({0x90, static_cast<unsigned char>(sent++ % 128), 64});
        midi.sender.send({0xB1, 0x55, static_cast<unsigned char>(++sent % 128)});
        for (int waited = 0; midi.input.receivedCount() < sent && waited < 20000; ++waited)
            QThread::msleep(1);
        ASSERT_EQ(midi.input.receivedCount(), sent) << "JACK lost messages of a batch";
    }
    EXPECT_EQ(midi.input.pendingCount(), static_cast<int16_t>(MIDIInput::kQueueLimit));
    EXPECT_EQ(midi.input.droppedCount(), kTotal - MIDIInput::kQueueLimit);
    ASSERT_TRUE(runEventsUntil([&] { return midi.input.pendingCount() == 0; }));
    EXPECT_EQ(midi.state.lastMidiCommand, "55B1");
    ASSERT_TRUE(runEventsUntil([&] { return !midi.errorCodes.empty(); }));
    EXPECT_EQ(midi.errorCodes, std::vector<int>{MIDIInput::kQueueOverflow}) << "reported once";
}

TEST(MIDIInputJack, SenderThatGoesAwayClosesThePortAndReports) {
    OpenedInput midi("unplugged");
    midi.sender.close();
    ASSERT_TRUE(runEventsUntil([&] { return !midi.errorCodes.empty(); }));
    EXPECT_EQ(midi.errorCodes[0], MIDIInput::kDeviceLost);
    EXPECT_EQ(midi.input.openState(), 0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
