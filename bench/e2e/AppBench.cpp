// Figures of the installed program on a virtual display: start-up time to the window shown,
// peak memory, CPU while stopped, and, for immediate response and for the plain 100 ms polling
// side by side, trigger-to-click latency of key taps, of MIDI note-ons through JACK and of the
// command `quindel --trigger 65` (from its start), CPU per trigger and CPU while started with no
// trigger, and how long that command runs. Then, for a MIDI device that goes away, the
// time from its return (and from its JACK server's return) to the first click, and CPU while
// started with the device present and missing, beside a baseline build's figures. Prints
// figures; judges nothing.
//
//   bench/e2e/run-app-bench.sh [seconds per CPU figure] [samples]
#include "e2e/E2eHarness.h"
#include "LatencyFigures.h"
#include "e2e/MidiController.h"

#include <QCoreApplication>
#include <QDir>

#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <random>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace quindel::e2e;

namespace {

constexpr int kPointX = 900, kPointY = 600;

// Milliseconds from each of samples triggers, sent at random pauses of 150 to 400 ms, to the
// click that the recorder sees; a trigger with no click within 2 s gives no figure.
std::vector<double> triggerToClickMs(ClickRecorder& recorder, int samples,
                                     const std::function<void()>& trigger) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pause(150, 400);
    std::vector<double> out;
    for (int i = 0; i < samples; ++i) {
        QThread::msleep(static_cast<unsigned long>(pause(random)));
        recorder.pump();
        recorder.clicks.clear();
        const auto sent = Clock::now();
        trigger();
        recorder.collect(1, 2000, 0);
        if (!recorder.clicks.empty())
            out.push_back(ms(recorder.clicks.front().at - sent));
    }
    return out;
}

// CPU time of all threads of a process, in seconds: nanoseconds from the scheduler where the
// kernel keeps them, else clock ticks (utime + stime).
double cpuSeconds(qint64 pid) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList threads = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    double nanoseconds = 0;
    bool scheduler = !threads.isEmpty();
    for (const QString& thread : threads) {
        std::ifstream f((tasks + '/' + thread + "/schedstat").toStdString());
        double onCpu = 0;
        if (!(f >> onCpu))
            scheduler = false;
        nanoseconds += onCpu;
    }
    if (scheduler)
        return nanoseconds / 1e9;
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

std::string latencyText(const std::vector<double>& v) {
    if (v.empty())
        return "no samples";
    char text[96];
    std::snprintf(text, sizeof text, "n=%zu median %.2f p99 %.2f max %.2f ms", v.size(),
                  quantile(v, 0.5), quantile(v, 0.99), quantile(v, 1.0));
    return text;
}

QByteArray settingsFor(int device, bool immediate, const QByteArray& deviceName = {}) {
    return "[generale]\r\nlingua= 1\r\n" +
           QByteArray(immediate ? "" : "risposta immediata= 0\r\n") +
           "[midi config]\r\nmidi input= " + QByteArray::number(device) +
           (deviceName.isEmpty() ? "" : "\r\nmidi input nome=" + deviceName) +
           "\r\n[file tasti]\r\nnomefile=gruppo-bench.ini\r\n";
}

// The figures of one input source in one mode.
struct Figures {
    std::string latency = "not measured";
    // CPU while started with no trigger, % of one core; CPU per trigger beyond that idle rate
    // (it can come out below 0 when the idle rate itself varies more than a trigger costs).
    double idlePercent = std::nan("");
    double perTriggerMs = std::nan("");
};

// One run of the program on input: started, idle for seconds, then samples triggers.
Figures measureSession(Desktop& display, InstalledProgram& program, ClickRecorder& recorder,
                       int input, bool immediate, int seconds, int samples,
                       const std::function<void()>& trigger, bool showMemory,
                       const QByteArray& deviceName = {}) {
    Figures f;
    program.write("quindel.ini", settingsFor(input, immediate, deviceName));
    const auto where = program.start(display);
    if (!where)
        return f;
    const qint64 pid = program.pid();
    QThread::msleep(300);
    display.click(where->x + kStartX, where->y + kStartY);
    QThread::msleep(800);

    double c0 = cpuSeconds(pid);
    auto t0 = Clock::now();
    QThread::sleep(static_cast<unsigned long>(seconds));
    double c1 = cpuSeconds(pid);
    const double idleRate = (c1 - c0) / (ms(Clock::now() - t0) / 1000);
    f.idlePercent = 100 * idleRate;

    c0 = cpuSeconds(pid);
    t0 = Clock::now();
    const std::vector<double> latencies = triggerToClickMs(recorder, samples, trigger);
    c1 = cpuSeconds(pid);
    const double elapsed = ms(Clock::now() - t0) / 1000;
    f.latency = latencyText(latencies);
    if (!latencies.empty())
        f.perTriggerMs = 1000 * ((c1 - c0) - idleRate * elapsed) / double(latencies.size());
    if (showMemory)
        std::printf("%-34s VmHWM %ld KiB, VmRSS %ld KiB\n", "memory while started",
                    statusKiB(pid, "VmHWM"), statusKiB(pid, "VmRSS"));
    display.click(where->x + kCloseX, where->y + kCloseY);
    program.waitForExit(10000);
    return f;
}

// The program started on the controller's device by name, samples times: loseAndReturn takes
// the device away and brings it back, and gives the moment it was back; then milliseconds
// from that moment to the first click of notes the controller sends every 5 ms.
std::vector<double> returnToClickMs(Desktop& display, InstalledProgram& program,
                                    ClickRecorder& recorder, int device, int samples,
                                    const std::function<JackController*()>& loseAndReturn) {
    std::vector<double> out;
    program.write("quindel.ini", settingsFor(device, true, JackController::kDeviceName));
    const auto where = program.start(display);
    if (!where)
        return out;
    QThread::msleep(300);
    display.click(where->x + kStartX, where->y + kStartY);
    for (int i = 0; i < samples; ++i) {
        QThread::msleep(800);
        JackController* controller = loseAndReturn();
        const auto back = Clock::now();
        if (!controller)
            break;
        recorder.pump();
        recorder.clicks.clear();
        while (recorder.clicks.empty() && ms(Clock::now() - back) < 5000) {
            controller->send({0x90, 60, 100});
            controller->send({0x80, 60, 0});
            QThread::msleep(5);
            recorder.pump();
        }
        if (!recorder.clicks.empty())
            out.push_back(ms(recorder.clicks.front().at - back));
    }
    display.click(where->x + kCloseX, where->y + kCloseY);
    program.waitForExit(10000);
    return out;
}

// Unplugs the controller's port and plugs it in again once the program has seen the loss.
JackController* replug(JackController& controller) {
    controller.unplug();
    QThread::msleep(1500);
    controller.plug();
    return &controller;
}

// Stops the JACK server (with-services.sh's, then the last one started here) and starts it
// again under the same name; gives a controller made on the new server once it answers. The
// controller of the gone server is closed first, once libjack's threads have finished with
// the loss (libjack frees such clients otherwise).
JackController* restartServer(std::unique_ptr<JackController>& controller,
                              std::unique_ptr<QProcess>& server) {
    const char* firstServer = std::getenv("QUINDEL_TEST_JACK_PID");
    const QString start = qEnvironmentVariable("QUINDEL_TEST_JACK_START");
    if (!firstServer || start.isEmpty())
        return nullptr;
    if (server)
        server->terminate(), server->waitForFinished(10000);
    else
        kill(std::atoi(firstServer), SIGTERM);
    QThread::msleep(1500);
    controller.reset();
    for (bool up = false; !up;) { // a start while the old server holds the name fails
        server = std::make_unique<QProcess>();
        server->startCommand(start);
        QFile pids(qEnvironmentVariable("QUINDEL_TEST_JACK_PIDS"));
        if (server->waitForStarted() && pids.open(QIODevice::Append))
            pids.write(QByteArray::number(server->processId()) + '\n');
        up = !server->waitForFinished(300);
    }
    QProcess answers;
    for (int tries = 0; tries < 200; ++tries) {
        answers.start("jack_lsp", {});
        if (answers.waitForFinished() && answers.exitCode() == 0)
            break;
    }
    try {
        controller = std::make_unique<JackController>();
    } catch (const RtMidiError&) {
    }
    return controller.get();
}

// Milliseconds from start to exit of samples runs of `quindel --trigger 65`, each answered by
// the program started in keyboard mode (a desktop's key binding runs exactly this command).
std::vector<double> commandRunMs(Desktop& display, InstalledProgram& program, int samples) {
    std::vector<double> out;
    program.write("quindel.ini", settingsFor(99, true));
    const auto where = program.start(display);
    if (!where)
        return out;
    QThread::msleep(300);
    display.click(where->x + kStartX, where->y + kStartY);
    QThread::msleep(800);
    for (int i = 0; i < samples; ++i) {
        QThread::msleep(150);
        const auto t0 = Clock::now();
        if (QProcess::execute(program.path("quindel"), {"--trigger", "65"}) == 0)
            out.push_back(ms(Clock::now() - t0));
    }
    display.click(where->x + kCloseX, where->y + kCloseY);
    program.waitForExit(10000);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
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
    program.write("quindel.ini", settingsFor(99, true));
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
        if (i == 4) { // CPU while stopped, once: it does not depend on the mode
            const double c0 = cpuSeconds(program.pid());
            QThread::sleep(static_cast<unsigned long>(seconds));
            std::printf("%-34s %.3f %% of one core over %d s\n", "CPU stopped (idle)",
                        100.0 * (cpuSeconds(program.pid()) - c0) / seconds, seconds);
        }
        display.click(where->x + kCloseX, where->y + kCloseY);
        program.waitForExit(10000);
    }
    std::printf("%-34s %s\n", "start-up to window shown", latencyText(startup).c_str());

    // MIDI: a JACK port of this program taps note 60 on the program's input, the note-off right
    // behind the note-on as quick pads send it.
    std::unique_ptr<JackController> controller;
    int device = 0;
    if (!qEnvironmentVariableIsEmpty("JACK_DEFAULT_SERVER")) {
        try {
            controller = std::make_unique<JackController>();
            device = controller->deviceNumber();
        } catch (const RtMidiError& e) {
            std::printf("MIDI skipped: %s\n", e.getMessage().c_str());
        }
    }
    if (device == 0)
        std::printf("MIDI skipped: no JACK server or its port is not listed\n");

    ClickRecorder recorder(800, 500, 450, 450);
    Figures keys[2], midi[2], commands[2]; // [0] immediate, [1] polling
    QProcess command; // started, not waited for: the recorder sees the click as it lands
    const auto triggerCommand = [&] {
        command.waitForFinished(5000); // the previous sample's
        command.start(program.path("quindel"), {"--trigger", "65"});
    };
    for (int mode = 0; mode < 2; ++mode) {
        const bool immediate = mode == 0;
        commands[mode] = measureSession(display, program, recorder, 99, immediate, seconds, samples,
                                        triggerCommand, false);
        keys[mode] = measureSession(
            display, program, recorder, 99, immediate, seconds, samples, [&] { display.key(XK_a); },
            immediate);
        if (device != 0)
            midi[mode] = measureSession(
                display, program, recorder, device, immediate, seconds, samples,
                [&] {
                    controller->send({0x90, 60, 100});
                    controller->send({0x80, 60, 0});
                },
                false);
    }

    std::printf("\n%-34s %-48s %s\n", "", "immediate response", "polling (risposta immediata= 0)");
    const auto row = [](const char* what, const std::string& a, const std::string& b) {
        std::printf("%-34s %-48s %s\n", what, a.c_str(), b.c_str());
    };
    const auto number = [](double value, const char* unit) {
        char text[48];
        if (std::isnan(value))
            return std::string("not measured");
        std::snprintf(text, sizeof text, "%.3f %s", value, unit);
        return std::string(text);
    };
    row("key tap to click", keys[0].latency, keys[1].latency);
    row("MIDI note-on to click", midi[0].latency, midi[1].latency);
    command.waitForFinished(5000);
    row("quindel --trigger start to click", commands[0].latency, commands[1].latency);
    row("quindel --trigger start to exit", latencyText(commandRunMs(display, program, samples)),
        "");
    row("CPU per key trigger", number(keys[0].perTriggerMs, "ms"),
        number(keys[1].perTriggerMs, "ms"));
    row("CPU per MIDI trigger", number(midi[0].perTriggerMs, "ms"),
        number(midi[1].perTriggerMs, "ms"));
    row("CPU started, keys, no trigger", number(keys[0].idlePercent, "% of a core"),
        number(keys[1].idlePercent, "% of a core"));
    row("CPU started, MIDI, no trigger", number(midi[0].idlePercent, "% of a core"),
        number(midi[1].idlePercent, "% of a core"));
    if (device == 0)
        return 0;

    // A lost device: how soon it clicks again once it is back, and what looking for it costs.
    // Beside this build, the build in QUINDEL_BASELINE_BUILD (run-app-bench.sh makes one of
    // another commit), which may know devices by their place only.
    std::printf(
        "\n%-34s %s\n", "MIDI device back to first click",
        latencyText(returnToClickMs(display, program, recorder, device, std::max(samples / 10, 3),
                                    [&] { return replug(*controller); }))
            .c_str());
    InstalledProgram baseline;
    const QString baselineBuild = qEnvironmentVariable("QUINDEL_BASELINE_BUILD");
    const bool compared = !baselineBuild.isEmpty() && baseline.install(baselineBuild);
    if (compared)
        baseline.write("gruppo-bench.ini", program.read("gruppo-bench.ini").c_str());
    std::printf("\n%-34s %-48s %s\n", "CPU started, MIDI, no trigger", "this build",
                compared ? qPrintable("baseline " + baselineBuild) : "no baseline");
    const auto idle = [&](InstalledProgram& build, int input, const QByteArray& name) {
        return number(
            measureSession(display, build, recorder, input, true, seconds, 0, {}, false, name)
                .idlePercent,
            "% of a core");
    };
    const QByteArray gone = "quindel-e2e:gone";
    row("  device present (by name)", idle(program, device, JackController::kDeviceName),
        compared ? idle(baseline, device, JackController::kDeviceName) : "");
    row("  device missing", idle(program, device, gone),
        compared ? idle(baseline, 90, gone) : ""); // the baseline's device 90: none

    std::unique_ptr<QProcess> server; // the JACK server once it was started again
    std::printf(
        "\n%-34s %s\n", "JACK server back to first click",
        latencyText(returnToClickMs(display, program, recorder, device, std::max(samples / 20, 3),
                                    [&] { return restartServer(controller, server); }))
            .c_str());
    controller.reset();
    if (server) // not killed: a killed server stays in JACK's registry of servers
        server->terminate(), server->waitForFinished(10000);
    return 0;
}
