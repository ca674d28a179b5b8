#include "engine/MidiIntake.h"
#include "engine/RuntimeState.h"
#include "midi/MIDIInput.h"
#include "midi/PortControl.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <RtMidi.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

using quindel::MIDIInput;
using ::testing::HasSubstr;

namespace {

// Runs the event loop until done() holds; the cap only keeps a broken build from hanging.
bool runEventsUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A JACK MIDI output port that the control under test can list and open.
struct JackSender {
    std::unique_ptr<RtMidiOut> out{new RtMidiOut(RtMidi::UNIX_JACK, "Quindel sender")};
    std::string name;

    explicit JackSender(const std::string& port) : name("Quindel sender:" + port) {
        out->openVirtualPort(port);
    }
    void send(std::vector<unsigned char> bytes) { out->sendMessage(&bytes); }
    // The device number of this port in control's list, 0 when it is not listed.
    int16_t deviceIn(quindel::MidiInputControl& control) const {
        for (int16_t i = 0; i < control.deviceCount(); ++i) {
            control.deviceIndex(i);
            if (control.deviceName() == name)
                return static_cast<int16_t>(i + 1);
        }
        return 0;
    }
};

// A control opened through port control on a fresh sender port, wired as a window wires it.
struct OpenedInput {
    JackSender sender;
    MIDIInput input{2};
    quindel::RuntimeState state;
    std::vector<int> errorCodes;
    bool offThread = false;

    explicit OpenedInput(const std::string& port) : sender(port) {
        input.messagesArrived = [this] {
            offThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
            quindel::drainMidiInput(state, input, [] { QCoreApplication::processEvents(); });
        };
        input.errorReported = [this](int code, const std::string&) { errorCodes.push_back(code); };
        state.setInputDevice(sender.deviceIn(input));
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

TEST(MIDIInputJack, SysExArrivesWholeClosingDropsWhatWaitsAndALostSenderIsReported) {
    OpenedInput midi("sysex");
    midi.input.notifyEnabled(false);
    midi.sender.send({0xF0, 0x7D, 0x10, 0x20, 0x30, 0xF7});
    midi.sender.send({0x90, 1, 1});
    ASSERT_TRUE(runEventsUntil([&] { return midi.input.pendingCount() == 2; }));
    EXPECT_EQ(midi.input.systemData(), "F0 7D 10 20 30 F7");
    quindel::closeMidiInput(midi.input);
    EXPECT_EQ(midi.input.pendingCount(), 0);
    ASSERT_EQ(quindel::openMidiInput(midi.state, midi.input), 1);
    EXPECT_EQ(midi.codeOf({0x90, 3, 1}), "0390");
    // A sender that goes away closes the port and is reported.
    midi.sender.out.reset();
    ASSERT_TRUE(runEventsUntil([&] { return !midi.errorCodes.empty(); }));
    EXPECT_EQ(midi.errorCodes[0], MIDIInput::kDeviceLost);
    EXPECT_EQ(midi.input.openState(), 0);
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

// SIGTERM, because a killed server leaves its entry in JACK's machine-wide server registry.
TEST(MIDIInputServerLoss, StoppedJackServerClosesThePortsOfBothControlsAndReports) {
    const char* pid = std::getenv("QUINDEL_TEST_JACK_PID");
    ASSERT_NE(pid, nullptr) << "run under with-services.sh --jack";
    auto sender = std::make_unique<JackSender>("doomed");
    // The main window's control and a capture dialog's, open on the same device.
    MIDIInput controls[2]{MIDIInput(1), MIDIInput(2)};
    std::vector<std::string> texts[2];
    quindel::RuntimeState state;
    state.setInputDevice(sender->deviceIn(controls[0]));
    for (int i : {0, 1}) {
        controls[i].errorReported = [&texts, i](int code, const std::string& text) {
            if (code != MIDIInput::kInformation)
                texts[i].push_back(std::to_string(code) + " " + text);
        };
        ASSERT_EQ(quindel::openMidiInput(state, controls[i]), 1);
    }
    ASSERT_EQ(kill(std::atoi(pid), SIGTERM), 0);
    ASSERT_TRUE(runEventsUntil([&] { return !texts[0].empty() && !texts[1].empty(); }));
    EXPECT_THAT(texts[0][0],
                HasSubstr("3 La periferica MIDI d'ingresso \"Quindel sender:doomed\""));
    EXPECT_THAT(texts[1][0], HasSubstr("3 The MIDI input device"));
    // The sender's client is the test's own; it goes before anything opens a new JACK client.
    sender.reset();
    for (auto& control : controls) {
        EXPECT_EQ(control.openState(), 0);
        EXPECT_EQ(control.deviceCount(), 0);
        EXPECT_EQ(quindel::openMidiInput(state, control), 0);
    }
    // Semaphores of clients whose server went away stay in /dev/shm; remove this server's.
    const std::string marker = std::string("_") + std::getenv("JACK_DEFAULT_SERVER") + "_";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error))
        if (const auto name = entry.path().filename().string();
            name.rfind("jack_sem.", 0) == 0 && name.find(marker) != std::string::npos)
            std::filesystem::remove(entry.path(), error);
}

TEST(MIDIInputNoServer, MissingBackEndsAreLeftOutQuietlyAndOpeningReportsLater) {
    setenv("JACK_DEFAULT_SERVER", "quindel-test-no-such-server", 1);
    // Standard error goes to a file while the control looks for back ends and opens.
    std::FILE* capture = std::tmpfile();
    ASSERT_NE(capture, nullptr);
    const int saved = dup(STDERR_FILENO);
    dup2(fileno(capture), STDERR_FILENO);
    MIDIInput input(1);
    std::vector<std::pair<int, std::string>> errors;
    input.errorReported = [&](int code, const std::string& text) {
        errors.push_back({code, text});
    };
    const int16_t count = input.deviceCount();
    quindel::RuntimeState state;
    state.setInputDevice(static_cast<int16_t>(count + 1));
    EXPECT_EQ(quindel::openMidiInput(state, input), 0);
    EXPECT_TRUE(errors.empty()) << "errors must come from the event loop";
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    EXPECT_EQ(lseek(fileno(capture), 0, SEEK_CUR), 0) << "a missing back end wrote to stderr";
    std::fclose(capture);
    EXPECT_TRUE(count == 0 || access("/dev/snd/seq", R_OK | W_OK) == 0) << count << " devices";
    EXPECT_EQ(input.openState(), 0);
    ASSERT_TRUE(runEventsUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors[0].first, MIDIInput::kNoSuchDevice);
    EXPECT_THAT(errors[0].second, HasSubstr("non è presente"));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
