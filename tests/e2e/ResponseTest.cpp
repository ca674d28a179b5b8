// The installed program on a virtual display with a JACK server: how soon a key tap or a MIDI
// note-on clicks with immediate response, and with the plain 100 ms polling that
// "risposta immediata= 0" brings back. The figures are printed; the test asserts only what a
// loaded machine cannot blur: immediate response is clearly faster than polling.
#include "e2e/E2eHarness.h"
#include "e2e/MidiController.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace quindel::e2e;

namespace {

constexpr int kX = 900, kY = 600; // the actions' point, inside the recorder window

class Response : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(display.ok()) << "no X display with XTest";
        ASSERT_TRUE(program.install());
        program.write("gruppo-r.ini", "[main]\r\nnome=r\r\n" + nextPrevSections("0", "0") +
                                          actionSection(1, "65", 1, kX, kY, 0, "key") +
                                          actionSection(2, "3C90", 2, kX, kY, 0, "note"));
    }

    // Starts the program on input with or without immediate response, clicks Start, runs body
    // and closes the program; the setting is read and never written.
    void session(int input, bool immediate, const std::function<void()>& body) {
        const std::string setting = immediate ? "" : "risposta immediata= 0\r\n";
        program.write("quindel.ini", QByteArray::fromStdString(
                                         "[generale]\r\nlingua= 1\r\n" + setting +
                                         "[midi config]\r\nmidi input= " + std::to_string(input) +
                                         "\r\n[file tasti]\r\nnomefile=gruppo-r.ini\r\n"));
        const auto window = program.start(display);
        ASSERT_TRUE(window) << "the program did not show its window";
        QThread::msleep(300);
        display.click(window->x + kStartX, window->y + kStartY);
        QThread::msleep(800);
        body();
        display.click(window->x + kCloseX, window->y + kCloseY);
        EXPECT_TRUE(program.waitForExit(15000));
        EXPECT_EQ(program.read("quindel.ini").find("risposta immediata= 0") != std::string::npos,
                  !immediate);
    }

    // The median delay from trigger to click over samples triggers 150-400 ms apart, printed.
    double medianMs(const char* what, bool immediate, const std::function<void()>& trigger) {
        const std::vector<double> v = triggerToClickMs(recorder, 20, trigger);
        EXPECT_EQ(v.size(), 20u) << what << ": triggers without a click";
        std::printf("%s, %s: median %.1f ms, max %.1f ms over %zu\n", what,
                    immediate ? "immediate" : "polling", quantile(v, 0.5), quantile(v, 1.0),
                    v.size());
        return quantile(v, 0.5);
    }

    // Clicks that arrive for trigger, all at the actions' point.
    size_t clicksOf(const std::function<void()>& trigger) {
        recorder.pump();
        recorder.clicks.clear();
        trigger();
        recorder.collect(1);
        for (const RecordedClick& c : recorder.clicks)
            EXPECT_TRUE(c.x == kX && c.y == kY) << c.x << "," << c.y;
        return recorder.clicks.size();
    }

    Desktop display;
    InstalledProgram program;
    ClickRecorder recorder{800, 500, 450, 450};
};

TEST_F(Response, KeyTapsClickAtOnceEachTapOnceAndAHeldKeyStillRepeats) {
    const auto tap = [this] { display.key(XK_a); };
    double immediate = 0, polling = 0;
    session(99, true, [&] {
        immediate = medianMs("key tap to click", true, tap);
        const auto taps110MsApart = [&] {
            for (int i = 0; i < 8; ++i) {
                tap();
                QThread::msleep(110);
            }
        };
        EXPECT_EQ(clicksOf(taps110MsApart), 8u) << "taps 110 ms apart";
        const size_t held = clicksOf([&] { display.key(XK_a, 1000); });
        std::printf("key held for 1 s: %zu clicks\n", held);
        EXPECT_TRUE(held >= 6 && held <= 12) << held << " clicks while held for 1 s";
    });
    session(99, false, [&] { polling = medianMs("key tap to click", false, tap); });
    EXPECT_LT(immediate, polling / 2);
}

TEST_F(Response, MidiNoteOnsClickAtOnce) {
    JackController controller; // throws, failing the test, without JACK
    const int device = controller.deviceNumber();
    ASSERT_GT(device, 0) << "the test's JACK port is not among the program's devices";
    const auto noteOn = [&] { controller.send({0x90, 60, 100}); };
    double immediate = 0, polling = 0;
    session(device, true, [&] { immediate = medianMs("MIDI note-on to click", true, noteOn); });
    session(device, false, [&] { polling = medianMs("MIDI note-on to click", false, noteOn); });
    EXPECT_LT(immediate, polling / 2);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
