// Figures of the installed program on a virtual display: start-up time to the window shown,
// peak memory and CPU while started and while stopped, and trigger-to-click latency for keys
// (and for MIDI through JACK when a JACK server is there). Prints figures; judges nothing.
//
//   bench/app/run-app-bench.sh [seconds] [samples]
#include "e2e/E2eHarness.h"
#include "midi/MIDIInput.h"

#include <QCoreApplication>

#include <X11/keysym.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

using namespace quindel::e2e;

namespace {

constexpr int kPointX = 900, kPointY = 600;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// utime + stime of a process, in seconds.
double cpuSeconds(qint64 pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(f, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A "Vm..." line of /proc/pid/status, in KiB.
long statusKiB(qint64 pid, const std::string& key) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1));
    return -1;
}

void printLatency(const char* what, std::vector<double> v) {
    if (v.empty()) {
        std::printf("%-28s no samples\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    auto at = [&](double q) {
        return v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))];
    };
    std::printf("%-28s n=%zu  median %.1f ms  p99 %.1f ms  max %.1f ms\n", what, v.size(), at(0.5),
                at(0.99), v.back());
}

// Sends trigger() samples times at random moments and measures until the recorder sees
// the click (polled every 0.5 ms).
std::vector<double> measure(ClickRecorder& recorder, int samples,
                            const std::function<void()>& trigger) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pause(150, 350);
    std::vector<double> out;
    for (int i = 0; i < samples; ++i) {
        QThread::msleep(static_cast<unsigned long>(pause(random)));
        recorder.pump();
        recorder.clicks.clear();
        const auto sent = Clock::now();
        trigger();
        while (recorder.clicks.empty() && Clock::now() - sent < std::chrono::seconds(2)) {
            recorder.pump();
            usleep(500);
        }
        if (!recorder.clicks.empty())
            out.push_back(ms(recorder.clicks.front().at - sent));
    }
    return out;
}

// The program's device number (index + 1) of the input whose name contains part.
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

QByteArray settingsFor(int device) {
    return "[generale]\r\nlingua= 1\r\n[midi config]\r\nmidi input= " + QByteArray::number(device) +
           "\r\n[file tasti]\r\nnomefile=gruppo-bench.ini\r\n";
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int samples = argc > 2 ? std::atoi(argv[2]) : 100;
    Desktop display;
    if (!display.ok()) {
        std::fprintf(stderr, "no X display with XTest\n");
        return 1;
    }
    InstalledProgram program;
    if (!program.install()) {
        std::fprintf(stderr, "install failed\n");
        return 1;
    }
    program.write("quindel.ini", settingsFor(99));
    program.write("gruppo-bench.ini", "[main]\r\nnome=bench\r\n" + nextPrevSections("0", "0") +
                                          actionSection(1, "65", 1, kPointX, kPointY, 0, "A") +
                                          actionSection(2, "3C90", 2, kPointX, kPointY, 0, "N"));

    // Start-up: from process start to the main window mapped on the display.
    std::vector<double> startup;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = Clock::now();
        const auto where = program.start(display);
        const auto t1 = Clock::now();
        if (!where) {
            std::fprintf(stderr, "the window did not appear\n");
            return 1;
        }
        startup.push_back(ms(t1 - t0));
        QThread::msleep(300);
        display.click(where->x + kCloseX, where->y + kCloseY);
        program.waitForExit(10000);
    }
    printLatency("start-up to window shown", startup);

    ClickRecorder recorder(800, 500, 450, 450);
    const auto where = program.start(display);
    if (!where)
        return 1;
    QThread::msleep(500);
    const qint64 pid = program.pid();

    double c0 = cpuSeconds(pid);
    QThread::sleep(static_cast<unsigned long>(seconds));
    double c1 = cpuSeconds(pid);
    std::printf("%-28s %.2f %% of one core over %d s\n", "CPU stopped (idle)",
                100.0 * (c1 - c0) / seconds, seconds);

    display.click(where->x + kStartX, where->y + kStartY);
    QThread::msleep(500);
    c0 = cpuSeconds(pid);
    QThread::sleep(static_cast<unsigned long>(seconds));
    c1 = cpuSeconds(pid);
    std::printf("%-28s %.2f %% of one core over %d s\n", "CPU started, no triggers",
                100.0 * (c1 - c0) / seconds, seconds);

    printLatency("key tap to click", measure(recorder, samples, [&] { display.key(XK_a); }));
    std::printf("%-28s VmHWM %ld KiB, VmRSS %ld KiB\n", "memory while started",
                statusKiB(pid, "VmHWM"), statusKiB(pid, "VmRSS"));

    display.click(where->x + kCloseX, where->y + kCloseY);
    program.waitForExit(10000);

    // MIDI: a JACK port of this program taps note 60 on the program's input, note-off right
    // behind the note-on as quick pads send it.
    if (qEnvironmentVariableIsEmpty("JACK_DEFAULT_SERVER")) {
        std::printf("%-28s skipped (no JACK server)\n", "MIDI note to click");
        return 0;
    }
    std::unique_ptr<RtMidiOut> out;
    try {
        out = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "quindel-bench");
        out->openVirtualPort("controller");
    } catch (const RtMidiError& e) {
        std::printf("%-28s skipped (%s)\n", "MIDI note to click", e.getMessage().c_str());
        return 0;
    }
    const int device = deviceNumberOf("controller");
    if (device == 0) {
        std::printf("%-28s skipped (port not listed)\n", "MIDI note to click");
        return 0;
    }
    program.write("quindel.ini", settingsFor(device));
    const auto again = program.start(display);
    if (!again)
        return 1;
    QThread::msleep(300);
    display.click(again->x + kStartX, again->y + kStartY);
    QThread::msleep(800);
    printLatency("MIDI note to click", measure(recorder, samples, [&] {
                     std::vector<unsigned char> on{0x90, 60, 100}, off{0x80, 60, 0};
                     out->sendMessage(&on);
                     out->sendMessage(&off);
                 }));
    display.click(again->x + kCloseX, again->y + kCloseY);
    program.waitForExit(10000);
    return 0;
}
