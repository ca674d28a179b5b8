// The installed program on a virtual display with a JACK server, played the way pads and
// keyboards send MIDI: quick taps (note-off right behind the note-on), and a dense stream of
// clock and controller messages while the user opens the editor with a real click.
#include "e2e/E2eHarness.h"
#include "ui/RtMidiInput.h"

#include <rtmidi/RtMidi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

using namespace quindel::e2e;

namespace {

constexpr int kTapX = 900, kTapY = 600;
// Centres of the assignment button of the main window and of the editor's OK button, in
// window pixels.
constexpr int kAssignX = 8 + 64, kAssignY = 80 + 12;
constexpr int kEditorOkX = 264 + 36, kEditorOkY = 296 + 12;
constexpr const char* kEditorTitle = "Assegna azioni";

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

class MidiTap : public ::testing::Test {
  protected:
    // The program's device number of the test's JACK port: its index among the inputs + 1.
    int deviceNumber() {
        quindel::RtMidiInput probe;
        for (int16_t i = 0; i < probe.deviceCount(); ++i) {
            probe.deviceIndex(i);
            if (probe.deviceName().find("quindel-taps:pads") != std::string::npos)
                return i + 1;
        }
        return 0;
    }
    void send(std::vector<unsigned char> message) {
        std::lock_guard lock(sending);
        out.sendMessage(&message);
    }
    void tap() {
        send({0x90, 60, 100});
        send({0x80, 60, 0});
    }
    // Clicks recorded within waitMs; with least > 0, returns as soon as that many came.
    size_t clicksWithin(int waitMs, size_t least = 0) {
        recorder.clicks.clear();
        waitFor([&] { return recorder.pump(), least && recorder.clicks.size() >= least; }, waitMs);
        recorder.pump();
        for (const RecordedClick& c : recorder.clicks)
            EXPECT_TRUE(c.x == kTapX && c.y == kTapY) << "clicked " << c.x << "," << c.y;
        return recorder.clicks.size();
    }
    // Clock and a controller every half millisecond from another thread, until stopStream.
    void startStream() {
        streaming = true;
        streamer = std::thread([this] {
            for (unsigned char value = 0; streaming; ++value) {
                send({0xF8});
                send({0xB0, 1, static_cast<unsigned char>(value % 128)});
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
    }
    void stopStream() {
        streaming = false;
        if (streamer.joinable())
            streamer.join();
    }
    ~MidiTap() override { stopStream(); }

    Desktop display;
    InstalledProgram program;
    ClickRecorder recorder{800, 500, 450, 450};
    RtMidiOut out{RtMidi::UNIX_JACK, "quindel-taps"}; // throws, failing the test, without JACK
    std::mutex sending;
    std::atomic<bool> streaming{false};
    std::thread streamer;
};

TEST_F(MidiTap, QuickTapsClickOnceAndTriggersGoOnWhileTheEditorIsOpenedDuringAStream) {
    ASSERT_TRUE(display.ok()) << "no X display with XTest";
    out.openVirtualPort("pads");
    const int device = deviceNumber();
    ASSERT_GT(device, 0) << "the test's JACK port is not among the program's devices";
    ASSERT_TRUE(program.install());
    program.write("quindel.ini", "[generale]\r\nlingua= 1\r\n[midi config]\r\nmidi input= " +
                                     QByteArray::number(device) +
                                     "\r\n[file tasti]\r\nnomefile=gruppo.ini\r\n");
    program.write("gruppo.ini", "[main]\r\nnome=taps\r\n" + nextPrevSections("0", "0") +
                                    actionSection(1, "3C90", 2, kTapX, kTapY, 0, "Tap"));
    const auto window = program.start(display);
    ASSERT_TRUE(window) << "the program did not show its window";
    QThread::msleep(300);
    display.click(window->x + kStartX, window->y + kStartY);
    QThread::msleep(800); // running, with the port open and connected

    // Taps at random moments of the program's ticks: each clicks once, no release clicks.
    constexpr int kTaps = 20;
    int once = 0;
    for (int i = 0; i < kTaps; ++i) {
        QThread::msleep(static_cast<unsigned long>(37 * i % 100));
        tap();
        const size_t clicks = clicksWithin(400, 2); // a second click would be the release's
        once += clicks == 1;
        EXPECT_EQ(clicks, 1u) << "tap " << i;
    }
    std::printf("quick taps (note-off right behind the note-on): %d of %d clicked exactly once\n",
                once, kTaps);

    // The editor, opened with a real click while a dense stream is drained: triggers go on.
    startStream();
    QThread::msleep(300);
    recorder.pump();
    display.click(window->x + kAssignX, window->y + kAssignY);
    std::optional<XRectangle> editor;
    ASSERT_TRUE(waitFor([&] { return bool(editor = display.findWindow(kEditorTitle)); }, 10000))
        << "the editor did not open";
    EXPECT_EQ(clicksWithin(300), 0u) << "the stream fires nothing";
    std::vector<double> latencies;
    for (int i = 0; i < 5; ++i) {
        QThread::msleep(static_cast<unsigned long>(150 + 37 * i % 100));
        recorder.pump();
        recorder.clicks.clear();
        const auto sent = Clock::now();
        tap();
        ASSERT_TRUE(waitFor([&] { return recorder.pump(), !recorder.clicks.empty(); }, 3000))
            << "a tap while the editor is open did not click";
        latencies.push_back(ms(recorder.clicks.front().at - sent));
        EXPECT_EQ(clicksWithin(300), 0u) << "a second click of one tap";
    }
    for (double latency : latencies)
        std::printf("tap to click with the editor open, during a stream: %.1f ms\n", latency);
    display.click(editor->x + kEditorOkX, editor->y + kEditorOkY);
    ASSERT_TRUE(waitFor([&] { return !display.findWindow(kEditorTitle); }, 10000))
        << "the editor did not close";
    EXPECT_EQ(clicksWithin(600), 0u) << "a late click after the editor closed";
    tap();
    EXPECT_EQ(clicksWithin(1000, 2), 1u) << "a tap after the editor closed";
    stopStream();

    display.click(window->x + kCloseX, window->y + kCloseY);
    EXPECT_TRUE(program.waitForExit(15000)) << "the program did not end cleanly after X";
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
