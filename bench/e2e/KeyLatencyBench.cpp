// Key press to click of the installed program, through the way keys reach it in the desktop
// session it runs in: X11's key poll (XTest presses the key), sway's bindsym exec of the lines
// that `quindel --print-bindings sway` prints (a virtual keyboard presses it), KDE's global
// shortcut service in KWin (KWin's fake keyboard presses it). Prints one line: the session, the
// way, then median, p99 and max in milliseconds. With a running program it then times the
// command alone, start to exit: `quindel --trigger CODE`, a bare C client that connects, writes
// the request and reads the answer, `quindel --help` (the launcher without the channel) and
// /bin/true (starting a process at all). run-key-latency-bench.sh runs every session.
//
//   key_latency_bench [samples]      (under tests/support/with-services.sh)
#include "LatencyFigures.h"
#include "e2e/WaylandSession.h"
#include "support/SeatKeyboards.h"

#include "core/storage/UserFilesFolder.h"
#include "command/TriggerSocket.h"

#include <X11/keysym.h>
#include <linux/input-event-codes.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <spawn.h>

#include <cstdio>
#include <filesystem>

extern char** environ;

using namespace quindel::e2e;

namespace {

constexpr int kPointX = 900, kPointY = 600;

void report(const char* what, const std::vector<double>& figures, int samples) {
    std::printf("%-28s median %6.2f ms   p99 %6.2f ms   max %6.2f ms   (%zu of %d)\n", what,
                quantile(figures, 0.5), quantile(figures, 0.99), quantile(figures, 1),
                figures.size(), samples);
}

// Start to exit of a command, without a shell; the figure only when it ended with status 0.
std::optional<double> runMs(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const std::string& arg : command)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const auto start = Clock::now();
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = -1;
    const bool spawned = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&quiet);
    if (!spawned || waitpid(pid, &status, 0) != pid)
        return std::nullopt;
    const double elapsed = ms(Clock::now() - start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::optional(elapsed) : std::nullopt;
}

// Each command's start to exit, in turn, samples times; the clicks they make are not awaited
// (the program's ticks space them 100 ms apart, which no command waits for).
void commandFigures(InstalledProgram& program, int samples) {
    const std::string quindel = program.path("quindel").toStdString();
    const std::string socket =
        quindel::channelLocation(
            quindel::userFilesFolderFor(std::filesystem::canonical(program.path("").toStdString())))
            .socketPath;
    const std::pair<const char*, std::vector<std::string>> commands[] = {
        {"quindel --trigger 116", {quindel, "--trigger", "116"}},
        {"bare C client", {QUINDEL_BARE_CLIENT, socket, "trigger 116"}},
        {"quindel --help", {quindel, "--help"}},
        {"/bin/true", {"/bin/true"}},
    };
    for (const auto& [name, command] : commands) {
        std::vector<double> figures;
        for (int i = 0; i < samples; ++i) {
            if (const auto figure = runMs(command))
                figures.push_back(*figure);
            QThread::msleep(120); // so the queue never fills
        }
        report(name, figures, samples);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const QString compositor = qEnvironmentVariable("WAYLAND_DISPLAY").isEmpty()
                                   ? QString("X11")
                                   : qEnvironmentVariable("QUINDEL_TEST_COMPOSITOR");
    InstalledProgram program;
    if (!program.install()) {
        std::fprintf(stderr, "key_latency_bench: the program did not install\n");
        return 1;
    }
    program.write("quindel.ini", "[generale]\r\nlingua= 2\r\n[midi config]\r\nmidi input= 99\r\n"
                                 "[file tasti]\r\nnomefile=gruppo-b.ini\r\n");
    program.write("gruppo-b.ini",
                  "[main]\r\nnome=b\r\n" + actionSection(1, "116", 1, kPointX, kPointY, 0, "b"));

    std::vector<double> figures;
    std::string way;
    if (compositor == "X11") {
        way = "key poll";
        Desktop display;
        ClickRecorder recorder(800, 500, 450, 450);
        const auto where = program.start(display);
        if (!where) {
            std::fprintf(stderr, "key_latency_bench: the program did not show its window\n");
            return 1;
        }
        QThread::msleep(300);
        display.click(where->x + kStartX, where->y + kStartY);
        QThread::msleep(800);
        figures = triggerToClickMs(
            samples, [&] { display.key(XK_F5); },
            [&]() -> std::optional<Clock::time_point> {
                recorder.pump();
                recorder.clicks.clear();
                recorder.collect(1, 2000, 0);
                if (recorder.clicks.empty())
                    return std::nullopt;
                return recorder.clicks.front().at;
            });
    } else {
        const bool sway = compositor == "sway";
        way = sway ? "bindsym exec" : "KDE global shortcut";
        allowFakeInput(program.path("quindel.desktop"));
        if (sway) {
            QProcess print;
            print.start(program.path("quindel"), {"--print-bindings", "sway"});
            print.waitForFinished(10000);
            for (const QString& line : QString(print.readAllStandardOutput()).split('\n'))
                if (line.startsWith("bindsym"))
                    QProcess::execute("swaymsg", {"--quiet", line});
        }
        quindel::test::VirtualKeyboard swayKeyboard;
        quindel::test::FakeKeyboard kwinKeyboard;
        const auto pressF5 = [&] { sway ? swayKeyboard.tap(KEY_F5) : kwinKeyboard.tap(KEY_F5); };
        quindel::WaylandPlatform pointer;
        std::unique_ptr<quindel::WaylandProbe> probe;
        if (pointer.canClick() && program.launch())
            // On sway the first Start says how keys come; Return closes that message.
            probe = startRunning(pointer, pressF5, [&] {
                if (sway)
                    swayKeyboard.tap(KEY_ENTER);
            });
        if (!probe) {
            std::fprintf(stderr, "key_latency_bench: the program does not click on F5 here\n");
            return 1;
        }
        figures = triggerToClickMs(samples, pressF5, [&]() -> std::optional<Clock::time_point> {
            if (probe->next("press", 2000).empty())
                return std::nullopt;
            return Clock::now();
        });
        const std::string label = compositor.toStdString() + ", " + way;
        report(label.c_str(), figures, samples);
        if (sway)
            commandFigures(program, samples);
        return 0;
    }
    report(("X11, " + way).c_str(), figures, samples);
    return 0;
}
