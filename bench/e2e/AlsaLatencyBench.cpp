// MIDI note to click of the installed program over the ALSA sequencer and over JACK, one after
// the other in the same virtual machine (tests/support/linux-guest.sh, whose TCG mode makes
// every time long: the ratio is the figure). The ALSA controller is "Virtual Raw MIDI 0-0",
// played by writing to /dev/snd/midiC0D0; the JACK one a port of this process. Prints the
// median and p90 of each in milliseconds, then the ratio of the medians.
//
//   run-alsa-latency-bench.sh [samples]
#include "e2e/E2eHarness.h"
#include "e2e/AlsaSequencer.h"
#include "e2e/MidiController.h"
#include "Quantile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

using namespace quindel::e2e;

namespace {

constexpr int kPointX = 900, kPointY = 600;

// Starts the program on the device named name, waits until a tap clicks, then times samples
// taps sent at random pauses of 150 to 400 ms from the note-on to the press; ends it with X.
std::vector<double> noteToClickMs(InstalledProgram& program, Desktop& display,
                                  const std::string& name, int samples,
                                  const std::function<void(std::vector<unsigned char>)>& send) {
    program.write("quindel.ini", "[generale]\r\nlingua= 1\r\n[midi config]\r\nmidi input= 1\r\n"
                                 "midi input nome=" +
                                     QByteArray::fromStdString(name) +
                                     "\r\n[file tasti]\r\nnomefile=gruppo.ini\r\n");
    std::vector<double> out;
    const std::optional<XRectangle> at = program.start(display);
    if (!at)
        return out;
    ClickRecorder recorder{800, 500, 450, 450};
    const auto tap = [&] { send({0x90, 60, 100}), send({0x80, 60, 0}); };
    display.click(at->x + kStartX, at->y + kStartY);
    for (int i = 0; i < 60 && recorder.clicks.empty(); ++i)
        tap(), recorder.collect(1, 2000, 0);
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pause(150, 400);
    for (int i = 0; i < samples && !recorder.clicks.empty(); ++i) {
        QThread::msleep(static_cast<unsigned long>(pause(random)));
        recorder.pump(), recorder.clicks.clear();
        const auto sent = Clock::now();
        tap();
        recorder.collect(1, 5000, 0);
        if (!recorder.clicks.empty())
            out.push_back(ms(recorder.clicks[0].at - sent));
    }
    display.click(at->x + kCloseX, at->y + kCloseY);
    program.waitForExit(60000);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    InstalledProgram program;
    Desktop display;
    VirMidiPort port(0);
    JackController jack;
    if (!port.ok() || !display.ok() || !program.install()) {
        std::fprintf(stderr, "alsa_latency_bench: run under run-alsa-latency-bench.sh\n");
        return 1;
    }
    program.write("gruppo.ini",
                  "[main]\r\nnome=b\r\n" + actionSection(1, "3C90", 2, kPointX, kPointY, 0, "b"));
    const std::vector<double> alsa =
        noteToClickMs(program, display, "Virtual Raw MIDI 0-0:VirMIDI 0-0 16:0", samples,
                      [&](std::vector<unsigned char> m) { port.send(m); });
    const std::vector<double> overJack =
        noteToClickMs(program, display, JackController::kDeviceName, samples,
                      [&](std::vector<unsigned char> m) { jack.send(m); });
    for (const auto& [path, figures] : {std::pair("ALSA", alsa), std::pair("JACK", overJack)})
        std::printf("%s: %zu of %d taps, note to click median %.1f ms, p90 %.1f ms\n", path,
                    figures.size(), samples, quantile(figures, 0.5), quantile(figures, 0.9));
    if (alsa.empty() || overJack.empty())
        return 1;
    std::printf("ALSA/JACK median ratio: %.2f\n", quantile(alsa, 0.5) / quantile(overJack, 0.5));
    return 0;
}
