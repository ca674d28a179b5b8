#include "core/midi/MidiIntake.h"
#include "core/engine/RuntimeState.h"
#include "core/engine/TriggerDispatch.h"
#include "ui/RtMidiInput.h"
#include "core/midi/PortControl.h"
#include "support/FakePlatform.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>
#include <RtMidi.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <unistd.h>

using namespace quindel;
using namespace ::testing;

namespace {

// Runs the event loop until done() holds; the cap only keeps a broken build from hanging.
bool runEventsUntil(const std::function<bool()>& done) {
    for (QDeadlineTimer deadline(20000); !done() && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Keeps every report of control but plain information, as "code text".
void collectErrors(RtMidiInput& control, std::vector<std::string>& into) {
    control.errorReported = [&into](int code, const std::string& text) {
        if (code != RtMidiInput::kInformation)
            into.push_back(std::to_string(code) + " " + text);
    };
}

// A control opened through port control on a fresh JACK sender port, wired as a window wires it.
struct OpenedInput {
    std::unique_ptr<RtMidiOut> out{new RtMidiOut(RtMidi::UNIX_JACK, "Quindel sender")};
    RtMidiInput input{2};
    RuntimeState state;
    std::vector<std::string> errors;
    bool offThread = false;

    explicit OpenedInput(const std::string& port) {
        out->openVirtualPort(port);
        input.messagesArrived = [this] {
            offThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
            drainMidiInput(state, input, [] { QCoreApplication::processEvents(); });
        };
        collectErrors(input, errors);
        for (int16_t i = 0; i < input.deviceCount(); ++i)
            if (input.deviceIndex(i), input.deviceName() == "Quindel sender:" + port)
                state.setInputDevice(static_cast<int16_t>(i + 1));
        EXPECT_GT(state.midiInputDevice, 0) << "the sender's port is not listed";
        EXPECT_EQ(openMidiInput(state, input), 1);
    }
    void send(std::vector<unsigned char> bytes) { out->sendMessage(&bytes); }
    std::string codeOf(std::vector<unsigned char> bytes) {
        state.lastMidiCommand.clear();
        send(std::move(bytes));
        runEventsUntil([this] { return !state.lastMidiCommand.empty(); });
        return state.lastMidiCommand;
    }
};

TEST(RtMidiInputJack, MessagesArriveAsCodesOnTheUiThreadAndALostSenderIsReported) {
    OpenedInput midi("codes");
    EXPECT_EQ(midi.codeOf({0x90, 60, 100}), "3C90");
    EXPECT_EQ(midi.codeOf({0xC0, 5}), "05C0");
    EXPECT_EQ(midi.codeOf({0xEF, 0x00, 0x40}), "00EF");
    // SysEx and real-time messages make no code: the note after them is the only one.
    midi.send({0xF0, 0x7D, 0x01, 0x02, 0xF7});
    for (unsigned char realTime : {0xF8, 0xFA, 0xFC, 0xFE, 0xFF})
        midi.send({realTime});
    EXPECT_EQ(midi.codeOf({0x9F, 127, 1}), "7F9F");
    EXPECT_FALSE(midi.offThread) << "messagesArrived must run on the UI thread";
    EXPECT_EQ(midi.input.receivedCount(), 5u) << "real-time messages must stay out of the queue";
    // SysEx arrives whole; closing drops what waits.
    midi.input.notifyEnabled(false);
    midi.send({0xF0, 0x7D, 0x10, 0x20, 0x30, 0xF7});
    midi.send({0x90, 1, 1});
    ASSERT_TRUE(runEventsUntil([&] { return midi.input.pendingCount() == 2; }));
    EXPECT_EQ(midi.input.systemData(), "F0 7D 10 20 30 F7");
    closeMidiInput(midi.input);
    EXPECT_EQ(midi.input.pendingCount(), 0);
    ASSERT_EQ(openMidiInput(midi.state, midi.input), 1);
    EXPECT_EQ(midi.codeOf({0x90, 3, 1}), "0390");
    midi.out.reset();
    ASSERT_TRUE(runEventsUntil([&] { return !midi.errors.empty(); }));
    EXPECT_THAT(midi.errors[0], StartsWith(std::to_string(RtMidiInput::kDeviceLost) + " "));
    EXPECT_EQ(midi.input.openState(), 0);
}

TEST(RtMidiInputJack, FloodKeepsTheQueueBoundedAndTheLastCodeRight) {
    OpenedInput midi("flood");
    constexpr unsigned kTotal = 100000;
    // The queue alone holds the flood; batches wait, as JACK drops what overflows one period.
    for (unsigned sent = 0; sent < kTotal;) {
        for (unsigned i = 0; i < 999; ++i)
            midi.send({0x90, static_cast<unsigned char>(sent++ % 128), 64});
        midi.send({0xB1, 0x55, static_cast<unsigned char>(++sent % 128)});
        for (int waited = 0; midi.input.receivedCount() < sent && waited < 20000; ++waited)
            QThread::msleep(1);
        ASSERT_EQ(midi.input.receivedCount(), sent) << "JACK lost messages of a batch";
    }
    EXPECT_EQ(midi.input.pendingCount(), static_cast<int16_t>(RtMidiInput::kQueueLimit));
    EXPECT_EQ(midi.input.droppedCount(), kTotal - RtMidiInput::kQueueLimit);
    ASSERT_TRUE(runEventsUntil([&] { return midi.input.pendingCount() == 0; }));
    EXPECT_EQ(midi.state.lastMidiCommand, "55B1");
    ASSERT_TRUE(runEventsUntil([&] { return !midi.errors.empty(); }));
    EXPECT_THAT(midi.errors, ElementsAre(StartsWith(std::to_string(RtMidiInput::kQueueOverflow))))
        << "reported once";
}

// Taps as pads and keyboards send them, to a running dispatch tick (every 100 ms, as the main
// window runs it): each tap clicks exactly once, however short, and no release clicks.
TEST(RtMidiInputJack, EveryTapClicksOnceAndNoReleaseClicks) {
    OpenedInput midi("taps");
    RuntimeState& state = midi.state;
    state.actionTable.resize(2);
    state.actionTable[0].triggerCode = "3C90"; // note 60 on
    state.actionTable[1].triggerCode = "4080"; // note 64 off: clicks on release
    state.isRunning = true;
    test::FakePlatform platform;
    DispatchView view;
    int ticks = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { dispatchTick(state, platform, view), ++ticks; });
    tick.start(100);

    // Runs events for ms; with streaming on, a clock and a controller go out every 2 ms.
    bool streaming = false;
    unsigned char controller = 0;
    uint64_t queued = 0; // messages sent that the control keeps (all but real-time ones)
    const auto send = [&](const std::vector<unsigned char>& bytes) {
        midi.send(bytes);
        queued += bytes[0] < 0xF8;
    };
    const auto runFor = [&](int ms) {
        for (QDeadlineTimer until(ms); !until.hasExpired();) {
            if (streaming) {
                send({0xF8});
                send({0xB0, 1, static_cast<unsigned char>(++controller % 128)});
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            QThread::usleep(streaming ? 1500 : 200);
        }
    };
    // {note pressed, release status and velocity, ms held, in a clock and controller stream}
    const std::tuple<unsigned char, unsigned char, unsigned char, int, bool> taps[] = {
        {60, 0x80, 64, 0, false},  {60, 0x80, 64, 30, false}, {60, 0x80, 64, 150, false},
        {60, 0x90, 0, 150, false}, {64, 0x80, 0, 30, false},  {60, 0x90, 0, 30, true}};
    for (int round = 0; round < 20; ++round) {
        for (const auto& [note, release, velocity, heldMs, inStream] : taps) {
            const std::size_t clicksBefore = platform.events.size();
            streaming = inStream;
            runFor(inStream ? 60 : 0);
            send({0x90, note, 100});
            runFor(heldMs);
            send({release, note, velocity});
            runFor(inStream ? 60 : 0);
            streaming = false;
            // Until every message has arrived and been drained, and one more tick has run, so
            // a release that would click has had its tick.
            ASSERT_TRUE(runEventsUntil([&] {
                return midi.input.receivedCount() == queued && midi.input.pendingCount() == 0;
            }));
            const int ticked = ticks;
            ASSERT_TRUE(runEventsUntil([&] { return ticks > ticked; }));
            const auto clicks = std::count_if(
                platform.events.begin() + static_cast<std::ptrdiff_t>(clicksBefore),
                platform.events.end(), [](const auto& event) { return event.flags & 0x0002; });
            EXPECT_EQ(clicks, 1) << "note " << int(note) << " release " << int(release) << " after "
                                 << heldMs << " ms" << (inStream ? " in a stream" : "")
                                 << ", round " << round;
        }
    }
    EXPECT_THAT(midi.errors, IsEmpty());
}

// SIGTERM, because a killed server leaves its entry in JACK's machine-wide server registry.
TEST(RtMidiInputServerLoss, StoppedJackServerClosesThePortsOfBothControlsAndReports) {
    const char* pid = std::getenv("QUINDEL_TEST_JACK_PID");
    ASSERT_NE(pid, nullptr) << "run under with-services.sh --jack";
    // The main window's control and a capture dialog's (in Italian), open on the same device.
    OpenedInput midi("doomed");
    RtMidiInput dialog(1);
    std::vector<std::string> dialogErrors;
    collectErrors(dialog, dialogErrors);
    ASSERT_EQ(openMidiInput(midi.state, dialog), 1);
    ASSERT_EQ(kill(std::atoi(pid), SIGTERM), 0);
    ASSERT_TRUE(runEventsUntil([&] { return !midi.errors.empty() && !dialogErrors.empty(); }));
    EXPECT_THAT(midi.errors[0], HasSubstr("3 The MIDI input device \"Quindel sender:doomed\""));
    EXPECT_THAT(dialogErrors[0], HasSubstr("3 La periferica MIDI d'ingresso"));
    // The sender's client is the test's own; it goes before anything opens a new JACK client,
    // once libjack's threads have finished with the loss (closing cancels them).
    QDeadlineTimer settled(1200);
    runEventsUntil([&] { return settled.hasExpired(); });
    midi.out.reset();
    for (RtMidiInput* control : {&midi.input, &dialog}) {
        EXPECT_EQ(control->openState(), 0);
        EXPECT_EQ(control->deviceCount(), 0);
        EXPECT_EQ(openMidiInput(midi.state, *control), 0);
    }
    // Semaphores of clients whose server went away stay in /dev/shm; remove this server's.
    const std::string marker = std::string("_") + std::getenv("JACK_DEFAULT_SERVER") + "_";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error))
        if (const auto name = entry.path().filename().string();
            name.rfind("jack_sem.", 0) == 0 && name.find(marker) != std::string::npos)
            std::filesystem::remove(entry.path(), error);
}

TEST(RtMidiInputNoServer, MissingBackEndsAreLeftOutQuietlyAndOpeningReportsLater) {
    setenv("JACK_DEFAULT_SERVER", "quindel-test-no-such-server", 1);
    testing::internal::CaptureStderr(); // while the control looks for back ends and opens
    RtMidiInput input(1);
    std::vector<std::string> errors;
    collectErrors(input, errors);
    const int16_t count = input.deviceCount();
    RuntimeState state;
    state.setInputDevice(static_cast<int16_t>(count + 1));
    EXPECT_EQ(openMidiInput(state, input), 0);
    EXPECT_TRUE(errors.empty()) << "errors must come from the event loop";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "a missing back end wrote to it";
    EXPECT_TRUE(count == 0 || access("/dev/snd/seq", R_OK | W_OK) == 0) << count << " devices";
    EXPECT_EQ(input.openState(), 0);
    ASSERT_TRUE(runEventsUntil([&] { return !errors.empty(); }));
    EXPECT_THAT(errors[0], AllOf(StartsWith(std::to_string(RtMidiInput::kNoSuchDevice) + " "),
                                 HasSubstr("non è presente")));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
