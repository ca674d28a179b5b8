// The installed program on a virtual display with a JACK server: real MIDI messages from a
// JACK port of the test become clicks at the points of the group.
#include "e2e/E2eHarness.h"
#include "midi/MIDIInput.h"

#include <QCoreApplication>

#include <rtmidi/RtMidi.h>

#include <gtest/gtest.h>

#include <memory>

using namespace quindel::e2e;

namespace {

constexpr int kIntroX = 900, kIntroY = 600;
constexpr int kVerseX = 1100, kVerseY = 600;

// The program's device number (index + 1) of the input whose name contains part, as the
// program's own MIDI control lists the devices; 0 when it is not listed.
int deviceNumberOf(const std::string& part) {
    quindel::MIDIInput probe;
    const int16_t count = probe.deviceCount();
    for (int16_t i = 0; i < count; ++i) {
        probe.deviceIndex(i);
        if (probe.deviceName().find(part) != std::string::npos)
            return i + 1;
    }
    return 0;
}

class E2eMidi : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(display.ok()) << "no X display with XTest";
        std::string log;
        ASSERT_TRUE(program.install(&log)) << log;
        try {
            out = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "quindel-e2e");
            out->openVirtualPort("controller");
        } catch (const RtMidiError& e) {
            FAIL() << "no JACK MIDI output: " << e.getMessage();
        }
    }
    void send(std::vector<unsigned char> bytes) { out->sendMessage(&bytes); }

    Desktop display;
    InstalledProgram program;
    std::unique_ptr<RtMidiOut> out;
};

TEST_F(E2eMidi, MessagesClickTheirPointsAndNextPrevStepThroughTheSequence) {
    const int device = deviceNumberOf("controller");
    ASSERT_GT(device, 0) << "the test's JACK port is not among the program's devices";
    program.write("quindel.ini", "[generale]\r\nlingua= 1\r\n[midi config]\r\nmidi input= " +
                                     QByteArray::number(device) +
                                     "\r\n[file tasti]\r\nnomefile=gruppo-live.ini\r\n");
    program.write("gruppo-live.ini", "[main]\r\nnome=live\r\n" + nextPrevSections("40B0", "41B0") +
                                         actionSection(1, "3C90", 2, kIntroX, kIntroY, 1, "Intro") +
                                         actionSection(2, "3E90", 2, kVerseX, kVerseY, 2, "Verse"));
    ClickRecorder recorder(800, 500, 450, 450);
    ASSERT_TRUE(program.start());
    const auto where = program.waitForWindow(display);
    ASSERT_TRUE(where.has_value());
    QThread::msleep(300);
    const QPoint window(where->x, where->y);
    EXPECT_TRUE(opensAndEscapeCloses(display, window + QPoint(kMidiConfX, kMidiConfY), "MIDI"))
        << "Configura MIDI did not open the device dialog";
    display.click(where->x + kStartX, where->y + kStartY);
    QThread::msleep(800); // the port is opened and connected

    struct Step {
        std::vector<unsigned char> message;
        int clicks;
        int x, y;
    };
    const Step steps[] = {
        {{0x90, 60, 100}, 1, kIntroX, kIntroY}, // note 60 on
        {{0x80, 60, 0}, 0, 0, 0},               // its note-off: a code of no action
        {{0x90, 62, 90}, 1, kVerseX, kVerseY},  // note 62 on
        {{0x90, 70, 90}, 0, 0, 0},              // unassigned
        {{0xF0, 0x7E, 0x7F, 0xF7}, 0, 0, 0},    // system exclusive
        {{0xB0, 64, 127}, 1, kIntroX, kIntroY}, // next: step 1
        {{0xB0, 64, 127}, 1, kVerseX, kVerseY}, // next: step 2
        {{0xB0, 64, 127}, 1, kIntroX, kIntroY}, // next: wraps to step 1
        {{0xB0, 65, 127}, 1, kVerseX, kVerseY}, // prev: wraps to the last step
    };
    int n = 0;
    for (const Step& step : steps) {
        ++n;
        recorder.pump();
        recorder.clicks.clear();
        send(step.message);
        if (step.clicks) {
            EXPECT_TRUE(recorder.waitForClicks(1, 3000)) << "message " << n;
        }
        recorder.settle(400);
        ASSERT_EQ(recorder.clicks.size(), static_cast<size_t>(step.clicks)) << "message " << n;
        for (const RecordedClick& c : recorder.clicks) {
            EXPECT_EQ(c.x, step.x) << "message " << n;
            EXPECT_EQ(c.y, step.y) << "message " << n;
        }
    }

    display.click(where->x + kCloseX, where->y + kCloseY);
    ASSERT_TRUE(program.waitForExit(15000));
    EXPECT_FALSE(program.crashed());
    EXPECT_EQ(program.exitCode(), 0);
    const QByteArray ini = program.read("quindel.ini");
    EXPECT_TRUE(ini.contains("midi input= " + QByteArray::number(device))) << ini.constData();
    EXPECT_TRUE(ini.contains("lingua= 1")) << ini.constData();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
