// MIDI note to click of the installed program on the desktop session it runs in: an X display
// (the press is seen by an X window) or a Wayland compositor (the press is seen by the probe
// client). Prints one line: the session, then median, p99 and max in milliseconds over the
// samples. run-click-latency-bench.sh runs it on every session side by side.
//
//   click_latency_bench [samples]      (under tests/support/with-services.sh ... --jack)
#include "LatencyFigures.h"
#include "e2e/WaylandSession.h"

#include <cstdio>

using namespace quindel::e2e;

namespace {

constexpr int kPointX = 900, kPointY = 600;

// Milliseconds from each note-on, sent at random pauses of 150 to 400 ms, to the press that
// clicks() then reports (or none within 2 s, which gives no figure).
std::vector<double> noteToClickMs(JackController& midi, int samples,
                                  const std::function<std::optional<Clock::time_point>()>& click) {
    return triggerToClickMs(
        samples,
        [&] {
            midi.send({0x90, 60, 100}), midi.send({0x80, 60, 0});
        },
        click);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const bool wayland = !qEnvironmentVariable("WAYLAND_DISPLAY").isEmpty();
    const QString session = wayland ? qEnvironmentVariable("QUINDEL_TEST_COMPOSITOR") : "X11";

    InstalledProgram program;
    JackController midi;
    if (!program.install()) {
        std::fprintf(stderr, "click_latency_bench: the program did not install\n");
        return 1;
    }
    program.write("quindel.ini", "[generale]\r\nlingua= 1\r\n[midi config]\r\nmidi input= " +
                                     QByteArray::number(midi.deviceNumber()) +
                                     "\r\n[file tasti]\r\nnomefile=gruppo.ini\r\n");
    program.write("gruppo.ini",
                  "[main]\r\nnome=b\r\n" + actionSection(1, "3C90", 2, kPointX, kPointY, 0, "b"));

    std::vector<double> figures;
    if (wayland) {
        allowFakeInput(program.path("quindel.desktop"));
        quindel::WaylandPlatform pointer;
        std::unique_ptr<quindel::WaylandProbe> probe;
        if (pointer.canClick() && program.launch())
            probe = startRunning(pointer, midi, 60);
        if (!probe) {
            std::fprintf(stderr, "click_latency_bench: the program does not click here\n");
            return 1;
        }
        // The press is timed as its line arrives from the probe, a few microseconds after
        // the probe saw it.
        figures = noteToClickMs(midi, samples, [&]() -> std::optional<Clock::time_point> {
            if (probe->next("press", 2000).empty())
                return std::nullopt;
            return Clock::now();
        });
    } else {
        Desktop display;
        ClickRecorder recorder(800, 500, 450, 450);
        const auto where = program.start(display);
        if (!where) {
            std::fprintf(stderr, "click_latency_bench: the program did not show its window\n");
            return 1;
        }
        QThread::msleep(300);
        display.click(where->x + kStartX, where->y + kStartY);
        QThread::msleep(800);
        figures = noteToClickMs(midi, samples, [&]() -> std::optional<Clock::time_point> {
            recorder.pump();
            recorder.clicks.clear();
            recorder.collect(1, 2000, 0);
            if (recorder.clicks.empty())
                return std::nullopt;
            return recorder.clicks.front().at;
        });
    }
    std::printf("%-8s median %6.2f ms   p99 %6.2f ms   max %6.2f ms   (%zu of %d notes clicked)\n",
                session.toUtf8().constData(), quantile(figures, 0.5), quantile(figures, 0.99),
                quantile(figures, 1), figures.size(), samples);
    return 0;
}
