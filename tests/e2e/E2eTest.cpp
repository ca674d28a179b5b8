// The installed program on a virtual display with a JACK server, driven with real XTest clicks
// and keys and real MIDI messages; its clicks land in a recorder window at the group's points.
#include "e2e/E2eHarness.h"
#include "ui/RtMidiInput.h"

#include <rtmidi/RtMidi.h>

#include <gtest/gtest.h>

using namespace quindel::e2e;

namespace {

// Points of the actions, inside the recorder window (800, 500, 450 x 450).
constexpr int kIntroX = 900, kIntroY = 600, kVerseX = 1100, kVerseY = 600, kSoloX = 1000,
              kSoloY = 850;

// A trigger and the clicks it must give: between least and most, all at x, y.
struct Step {
    const char* what;
    std::function<void()> trigger;
    size_t least, most;
    int x = 0, y = 0;
};

class E2e : public ::testing::Test {
  protected:
    void run(const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            recorder.pump();
            recorder.clicks.clear();
            step.trigger();
            recorder.collect(step.least);
            const size_t n = recorder.clicks.size();
            EXPECT_TRUE(n >= step.least && n <= step.most) << step.what << ": " << n << " clicks";
            for (const RecordedClick& c : recorder.clicks)
                EXPECT_TRUE(c.x == step.x && c.y == step.y && c.button == 1)
                    << step.what << ": clicked " << c.x << "," << c.y << " button " << c.button;
        }
    }
    auto tap(KeySym k, int holdMs = 0) {
        return [=, this] { display.key(k, holdMs); };
    }
    // Starts the program on Italian texts, the input and group given: a key does nothing before
    // Start (clicked after the flag for English); after the steps X closes it, group untouched.
    void play(int input, bool english, const QByteArray& actions, const std::vector<Step>& steps) {
        ASSERT_TRUE(display.ok()) << "no X display with XTest";
        ASSERT_TRUE(program.install());
        const std::string group = "[main]\r\nnome=show\r\n" + actions.toStdString(),
                          rest = "\r\n[midi config]\r\nmidi input= " + std::to_string(input) +
                                 "\r\n[file tasti]\r\nnomefile=gruppo.ini\r\n";
        program.write("quindel.ini", QByteArray::fromStdString("[generale]\r\nlingua= 1" + rest));
        program.write("gruppo.ini", QByteArray::fromStdString(group));
        const auto window = program.start(display);
        ASSERT_TRUE(window) << "the program did not show its window";
        const auto press = [&](int x, int y) { display.click(window->x + x, window->y + y); };
        QThread::msleep(300); // its first paint
        run({{"stopped: a key", tap(XK_a), 0, 0}});
        if (english)
            press(kFlagX, kFlagY);
        QThread::msleep(300);
        press(kStartX, kStartY);
        QThread::msleep(800); // running, with the port open and connected
        run(steps);
        press(kCloseX, kCloseY);
        EXPECT_TRUE(program.waitForExit(15000)) << "the program did not end cleanly after X";
        EXPECT_EQ(program.read("quindel.ini"),
                  "[generale]\r\nlingua= " + std::string(english ? "2" : "1") + "\r\nfont=1" +
                      rest);
        EXPECT_EQ(program.read("gruppo.ini"), group);
    }

    Desktop display;
    InstalledProgram program;
    ClickRecorder recorder{800, 500, 450, 450};
};

TEST_F(E2e, KeysClickTheStoredPointsAndNextPrevStepThroughTheSequenceInEnglish) {
    play(99, true,
         nextPrevSections("78", "80") + actionSection(1, "65", 1, kIntroX, kIntroY, 1, "Intro") +
             actionSection(2, "66", 1, kVerseX, kVerseY, 2, "Verse") +
             actionSection(3, "67", 1, kSoloX, kSoloY, 0, "Solo"),
         {{"started, nothing pressed", [] {}, 0, 0},
          {"held key: a click on every tick", tap(XK_a, 650), 3, 100, kIntroX, kIntroY},
          {"zero-length tap", tap(XK_b), 1, 1, kVerseX, kVerseY},
          {"key outside the sequence", tap(XK_c), 1, 1, kSoloX, kSoloY},
          {"next: step 1", tap(XK_n), 1, 1, kIntroX, kIntroY},
          {"next: step 2", tap(XK_n), 1, 1, kVerseX, kVerseY},
          {"next wraps to step 1", tap(XK_n), 1, 1, kIntroX, kIntroY},
          {"prev wraps to the last step", tap(XK_p), 1, 1, kVerseX, kVerseY}});
}

TEST_F(E2e, MidiMessagesClickTheirPointsAndNextPrevStepThroughTheSequence) {
    RtMidiOut out(RtMidi::UNIX_JACK, "quindel-e2e"); // throws, failing the test, without JACK
    out.openVirtualPort("controller");
    int device = 0; // as the program numbers its devices: index among the inputs + 1
    quindel::RtMidiInput probe;
    for (int16_t i = 0; i < probe.deviceCount() && !device; ++i) {
        probe.deviceIndex(i);
        device = probe.deviceName().find("controller") != std::string::npos ? i + 1 : 0;
    }
    ASSERT_GT(device, 0) << "the test's JACK port is not among the program's devices";
    const auto send = [&](std::vector<unsigned char> m) {
        return [&out, m]() mutable { out.sendMessage(&m); };
    };
    play(device, false,
         nextPrevSections("40B0", "41B0") +
             actionSection(1, "3C90", 2, kIntroX, kIntroY, 1, "Intro") +
             actionSection(2, "3E90", 2, kVerseX, kVerseY, 2, "Verse"),
         {{"note 60 on", send({0x90, 60, 100}), 1, 1, kIntroX, kIntroY},
          {"its note-off: a code of no action", send({0x80, 60, 0}), 0, 0},
          {"note 62 on", send({0x90, 62, 90}), 1, 1, kVerseX, kVerseY},
          {"unassigned note", send({0x90, 70, 90}), 0, 0},
          {"system exclusive", send({0xF0, 0x7E, 0x7F, 0xF7}), 0, 0},
          {"next: step 1", send({0xB0, 64, 127}), 1, 1, kIntroX, kIntroY},
          {"next: step 2", send({0xB0, 64, 127}), 1, 1, kVerseX, kVerseY},
          {"next wraps to step 1", send({0xB0, 64, 127}), 1, 1, kIntroX, kIntroY},
          {"prev wraps to the last step", send({0xB0, 65, 127}), 1, 1, kVerseX, kVerseY}});
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
