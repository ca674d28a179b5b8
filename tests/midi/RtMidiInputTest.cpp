#include "core/midi/MidiIntake.h"
#include "core/engine/RuntimeState.h"
#include "core/engine/TriggerDispatch.h"
#include "midi/RtMidiInput.h"
#include "core/midi/PortControl.h"
#include "support/FakePlatform.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>
#include <RtMidi.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
// window runs it): each tap clicks exactly once, however short, and no release clicks. Clock
// messages are never queued, and every message reaches the UI thread. Buttons send a control
// change, value 127 on press and 0 on release, both with the press's code: once per press too,
// for an action as for "next".
TEST(RtMidiInputJack, EveryTapClicksOnceAndNoReleaseClicks) {
    OpenedInput midi("taps");
    // Note 60 on clicks; so does note 64 off, on the release, and controller 64. Controller 65
    // is "next", through two steps that click.
    midi.state.actionTable = {{"", "", 1, "3C90", 2, 0, 0, 0},
                              {"", "", 2, "4080", 2, 0, 0, 0},
                              {"", "", 3, "40B0", 2, 0, 0, 0}};
    midi.state.sequenceTable = {midi.state.actionTable[0], midi.state.actionTable[0]};
    midi.state.nextTriggerCode = "41B0";
    midi.state.isRunning = true;
    test::FakePlatform platform;
    DispatchView view;
    int ticks = 0;
    QTimer tick;
    tick.callOnTimeout([&] { dispatchTick(midi.state, platform, view), ++ticks; });
    tick.start(100);

    uint64_t queued = 0; // messages sent that the control keeps (all but real-time ones)
    unsigned char controller = 0;
    // Runs events for ms; in a stream, a clock and a controller go out every 2 ms.
    const auto runFor = [&](int ms, bool stream) {
        for (QDeadlineTimer until(ms); !until.hasExpired(); QThread::usleep(stream ? 1500 : 200)) {
            if (stream)
                midi.send({0xF8}), midi.send({0xB0, 1, ++controller &= 127}), ++queued;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        }
    };
    // {press status, note or controller, release status and value, ms held (-1: from 30 in the
    // first round to 300 in the last), in a clock and controller stream}
    const std::tuple<unsigned char, unsigned char, unsigned char, unsigned char, int, bool> taps[] =
        {{0x90, 60, 0x80, 64, 0, false},   {0x90, 60, 0x80, 64, 30, false},
         {0x90, 60, 0x80, 64, 150, false}, {0x90, 60, 0x90, 0, 150, false},
         {0x90, 64, 0x80, 0, 30, false},   {0x90, 60, 0x90, 0, 30, true},
         {0xB0, 64, 0xB0, 0, -1, false},   {0xB0, 65, 0xB0, 0, -1, false}};
    for (int round = 0; round < 20; ++round)
        for (const auto& [press, number, release, value, held, inStream] : taps) {
            const int heldMs = held < 0 ? 30 + round * 270 / 19 : held;
            const auto clicksBefore = static_cast<std::ptrdiff_t>(platform.events.size());
            runFor(inStream ? 60 : 0, inStream);
            midi.send({press, number, 127});
            runFor(heldMs, inStream);
            midi.send({release, number, value});
            runFor(inStream ? 60 : 0, inStream);
            queued += 2;
            // Until every message is drained and one more tick has run, so a release that
            // would click has had its tick.
            ASSERT_TRUE(runEventsUntil([&] {
                return midi.input.receivedCount() == queued && midi.input.pendingCount() == 0;
            }));
            const int ticked = ticks;
            ASSERT_TRUE(runEventsUntil([&] { return ticks > ticked; }));
            EXPECT_EQ(std::count_if(platform.events.begin() + clicksBefore, platform.events.end(),
                                    [](const auto& event) { return event.flags & 0x0002; }),
                      1)
                << std::hex << int(press) << " " << int(number) << " release " << int(release)
                << std::dec << " after " << heldMs << " ms" << (inStream ? " in a stream" : "")
                << ", round " << round;
        }
    EXPECT_THAT(midi.errors, IsEmpty());
    EXPECT_FALSE(midi.offThread) << "messagesArrived must run on the UI thread";
}

// A device may send the moment it is connected, before the window starts the port (a controller
// that comes back while a pad is being struck): what it sends then is held, announced by the
// start, and comes before what follows.
TEST(RtMidiInputJack, WhatADeviceSendsBetweenOpeningAndStartIsKeptForTheStart) {
    RtMidiOut out(RtMidi::UNIX_JACK, "Quindel sender");
    out.openVirtualPort("early");
    RtMidiInput input(2);
    std::vector<std::string> codes;
    input.messagesArrived = [&] {
        for (; input.pendingCount() > 0; input.portCommand(kPortDropHead))
            codes.push_back(midiCommandCode(input.headMessage().status, input.headMessage().data1));
    };
    for (int16_t i = 0; i < input.deviceCount(); ++i)
        if (input.deviceIndex(i), input.deviceName() == "Quindel sender:early")
            break;
    ASSERT_EQ(input.deviceName(), "Quindel sender:early");
    input.portCommand(kPortOpen);
    ASSERT_EQ(input.openState(), 1);
    std::vector<unsigned char> press{0x90, 60, 100};
    out.sendMessage(&press);
    ASSERT_TRUE(runEventsUntil([&] { return input.pendingCount() == 1; }))
        << "the press sent before the start was lost";
    EXPECT_THAT(codes, IsEmpty()) << "announced before the start";
    input.portCommand(kPortStart);
    std::vector<unsigned char> next{0xB0, 65, 127};
    out.sendMessage(&next);
    ASSERT_TRUE(runEventsUntil([&] { return codes.size() == 2; }));
    EXPECT_THAT(codes, ElementsAre("3C90", "41B0"));
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
    ASSERT_TRUE(runEventsUntil([&] { return !errors.empty(); }));
    EXPECT_THAT(errors[0], AllOf(StartsWith(std::to_string(RtMidiInput::kNoSuchDevice) + " "),
                                 HasSubstr("non è presente")));
}

} // namespace
