// Both ends of the trigger channel on real sockets in a folder of the test's own, and the start
// of an instance with its lock. The other user is a forked child that drops to nobody, so the
// suite runs as root.
#include "command/TriggerCommand.h"
#include "command/TriggerSocket.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>
#include <vector>

namespace quindel {
namespace {

using namespace std::chrono_literals;
using Claim = TriggerListener::Claim;

struct Channel : ::testing::Test {
    std::string dir = [] {
        char name[] = "/tmp/quindel-channel-XXXXXX";
        return std::string(mkdtemp(name));
    }();
    ChannelLocation where{dir + "/q.sock", dir, ""};
    std::vector<std::string> requests, undelivered;
    ~Channel() override { std::filesystem::remove_all(dir); }

    void serve(TriggerListener& listener) {
        listener.service(
            [this](const std::string& request) {
                requests.push_back(request);
                return "ok " + request;
            },
            [this](const std::string& answer) { undelivered.push_back(answer); });
    }
    // Runs body in a child process as nobody; whether it returned true.
    static bool asNobody(const std::function<bool()>& body) {
        const pid_t child = fork();
        if (child == 0)
            _exit(setgid(65534) == 0 && setuid(65534) == 0 && body() ? 0 : 1);
        int status = -1;
        return waitpid(child, &status, 0) == child && status == 0;
    }
    std::string folder(const std::string& name, mode_t mode) {
        const std::string path = dir + "/" + name;
        std::filesystem::create_directories(path);
        chmod(path.c_str(), mode);
        return path;
    }
    // A raw client that has sent bytes; -1 when it could not connect.
    int rawClient(const std::string& bytes) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{AF_UNIX, {}};
        where.socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size()))
            return close(fd), -1;
        return fd;
    }
    // Whether the listener closed fd without an answer (a reset when it read nothing).
    static bool closedUnanswered(int fd) {
        char c;
        const bool closed = fd >= 0 && recv(fd, &c, 1, 0) <= 0;
        return close(fd), closed;
    }
};

TEST_F(Channel, OfRacingStartsOneListensAndACrashedInstancesFileIsReplaced) {
    EXPECT_EQ(askRunningProgram(where.socketPath, "x", 100ms).kind, ChannelAnswer::NotRunning);
    // An instance that ends without cleaning up leaves its socket file, not its lock.
    if (const pid_t child = fork(); child == 0) {
        TriggerListener crashing;
        _exit(crashing.claim(where) == Claim::Listening ? 0 : 1);
    } else {
        int status = -1;
        ASSERT_TRUE(waitpid(child, &status, 0) == child && status == 0);
    }
    ASSERT_TRUE(std::filesystem::exists(where.socketPath));
    EXPECT_EQ(askRunningProgram(where.socketPath, "x", 100ms).kind, ChannelAnswer::NotRunning);

    TriggerListener racers[8];
    std::future<Claim> claims[8];
    for (int i = 0; i < 8; ++i)
        claims[i] = std::async(std::launch::async, [&, i] { return racers[i].claim(where); });
    TriggerListener* winner = nullptr;
    for (int i = 0; i < 8; ++i)
        if (const Claim claim = claims[i].get(); claim == Claim::Listening) {
            EXPECT_EQ(winner, nullptr);
            winner = &racers[i];
        } else {
            EXPECT_EQ(claim, Claim::AnotherInstance) << racers[i].error();
        }
    ASSERT_NE(winner, nullptr);
    auto answer = std::async(std::launch::async,
                             [&] { return askRunningProgram(where.socketPath, "front", 5000ms); });
    while (answer.wait_for(1ms) != std::future_status::ready)
        serve(*winner);
    EXPECT_EQ(answer.get().reply, "ok front");
}

TEST_F(Channel, SlowSilentOversizedAndForeignClientsNeverHoldTheListener) {
    TriggerListener listener;
    ASSERT_EQ(listener.claim(where), Claim::Listening) << listener.error();
    const int silent = rawClient(""), slow = rawClient("trig"),
              oversized = rawClient(std::string(TriggerListener::kMaxRequest, 'x'));
    serve(listener);
    EXPECT_EQ(listener.clientFds().size(), 2u);
    EXPECT_TRUE(closedUnanswered(oversized));
    ASSERT_EQ(send(slow, "ger 65\n", 7, 0), 7);
    serve(listener);
    char reply[32] = {};
    EXPECT_GT(recv(slow, reply, sizeof reply - 1, 0), 0);
    EXPECT_STREQ(reply, "ok trigger 65\n");
    close(slow);
    std::this_thread::sleep_for(TriggerListener::kClientDeadline + 50ms);
    serve(listener);
    EXPECT_TRUE(listener.clientFds().empty());
    EXPECT_TRUE(closedUnanswered(silent));
    std::vector<int> crowd;
    for (int i = 0; i < 40; ++i)
        crowd.push_back(rawClient(""));
    serve(listener);
    EXPECT_EQ(listener.clientFds().size(), TriggerListener::kMaxClients);
    for (const int fd : crowd) // gone, so the next client finds the listener free
        close(fd);
    serve(listener), serve(listener);

    // Another user whom the file modes let through is still turned away unanswered.
    ASSERT_EQ(geteuid(), 0u) << "the test acts as another user: run it as root";
    chmod(dir.c_str(), 0755), chmod(where.socketPath.c_str(), 0666);
    const pid_t child = fork();
    if (child == 0)
        _exit(setgid(65534) == 0 && setuid(65534) == 0 && closedUnanswered(rawClient("front\n"))
                  ? 0
                  : 1);
    int status = -1;
    while (waitpid(child, &status, WNOHANG) == 0)
        serve(listener), std::this_thread::sleep_for(1ms);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(requests, std::vector<std::string>{"trigger 65"});
}

// The lock is the folder of the user's files and holds whatever the socket does: a runtime
// folder whose path is too long for a socket, a fallback folder that is not this user's private
// one, or a runtime folder this user cannot write to leave the program guarded, never unguarded.
TEST_F(Channel, TheLockHoldsWhereverTheSocketCannotBe) {
    ASSERT_EQ(geteuid(), 0u) << "the test acts as another user: run it as root";
    const std::string files = folder("files", 0700);
    const std::string longRuntime = folder(std::string(100 - dir.size() - 1, 'r'), 0700);
    ASSERT_EQ(longRuntime.size(), 100u);
    const std::string open = folder("open", 0755), foreign = folder("foreign", 0700);
    chown(foreign.c_str(), 65534, 65534);
    const std::string linked = dir + "/linked";
    std::filesystem::create_directory_symlink(folder("private", 0700), linked);
    const std::pair<ChannelLocation, const char*> refused[] = {
        {channelLocationIn(files, longRuntime.c_str(), ""), "too long for a socket"},
        {channelLocationIn(files, nullptr, open), "not a private folder"},
        {channelLocationIn(files, "relative", foreign), "not a private folder"},
        {channelLocationIn(files, nullptr, linked), "not a private folder"},
    };
    for (const auto& [location, reason] : refused) {
        SCOPED_TRACE(reason);
        EXPECT_EQ(location.socketPath, "");
        EXPECT_NE(location.error.find(reason), std::string::npos) << location.error;
        TriggerListener first, second;
        EXPECT_EQ(first.claim(location), Claim::Guarded);
        EXPECT_EQ(first.listenFd(), -1);
        EXPECT_EQ(second.claim(location), Claim::AnotherInstance);
        EXPECT_EQ(TriggerListener().claim({dir + "/q.sock", files, ""}), Claim::AnotherInstance);
    }
    // A fallback folder that is missing is made private; one keyed on other files is another.
    const ChannelLocation made = channelLocationIn(files, nullptr, dir + "/made");
    EXPECT_EQ(std::filesystem::status(dir + "/made").permissions(), std::filesystem::perms(0700));
    EXPECT_EQ(made.error, "");
    EXPECT_NE(made.socketPath, channelLocationIn(dir, nullptr, dir + "/made").socketPath);
    // A folder that is missing locks its nearest existing parent.
    TriggerListener holder;
    ASSERT_EQ(holder.claim({"", files, "no socket"}), Claim::Guarded);
    EXPECT_EQ(TriggerListener().claim({"", files + "/missing/deeper", ""}), Claim::AnotherInstance);

    chmod(dir.c_str(), 0755);
    const std::string runtime = folder("runtime", 0755), own = folder("own", 0700);
    chown(own.c_str(), 65534, 65534);
    EXPECT_TRUE(asNobody([&] {
        const ChannelLocation where = channelLocationIn(own, runtime.c_str(), "");
        TriggerListener first, second;
        return where.socketPath.empty() && where.error == runtime + ": Permission denied" &&
               first.claim(where) == Claim::Guarded &&
               second.claim(where) == Claim::AnotherInstance;
    }));
}

// Two read-only program folders keep their files in one per-user folder and share one instance:
// the second start brings the first to the front, or, where no socket can be, is refused; a
// folder that cannot be locked refuses the start, and the command says why it cannot reach.
TEST_F(Channel, TwoProgramFoldersOverOneFilesFolderRunOneInstance) {
    const std::string programs[] = {folder("opt", 0555), folder("copy", 0555)};
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", folder("run", 0700).c_str(), 1);
    const auto start = [](const std::string& program, std::vector<const char*> args = {}) {
        args.insert(args.begin(), "quindel");
        return startInstance(int(args.size()), const_cast<char**>(args.data()), program);
    };
    InstanceStart first = start(programs[0]);
    ASSERT_TRUE(first.listener && !first.exitCode);
    ASSERT_GE(first.listener->listenFd(), 0) << first.listener->error();
    auto second = std::async(std::launch::async, [&] { return start(programs[1]); });
    while (second.wait_for(1ms) != std::future_status::ready)
        first.listener->service([this](const std::string& request) {
            requests.push_back(request);
            return answerChannelRequest(
                request, [](const std::string&) { return CommandTriggerOutcome::Taken; },
                [](const std::string&) {});
        });
    const InstanceStart raised = second.get();
    EXPECT_EQ(raised.exitCode, 0);
    EXPECT_FALSE(raised.listener);
    EXPECT_EQ(requests, std::vector<std::string>{"front"});
    first = {};

    const std::string longRuntime = folder(std::string(110 - dir.size() - 1, 'r'), 0700);
    setenv("XDG_RUNTIME_DIR", longRuntime.c_str(), 1);
    InstanceStart guarded = start(programs[1]);
    EXPECT_TRUE(guarded.listener && !guarded.exitCode);
    EXPECT_EQ(start(programs[0]).exitCode, 1);
    EXPECT_EQ(start(programs[0], {"--trigger", "65"}).exitCode, 1);
    guarded = {};
    EXPECT_TRUE(start(programs[0]).listener);

    unsetenv("XDG_CONFIG_HOME");
    std::ofstream(dir + "/plain");
    setenv("HOME", (dir + "/plain").c_str(), 1); // a file: the folder is never made
    EXPECT_EQ(start(programs[0]).exitCode, 1);
}

// A client that gave up (the command reported a failure) never has its request carried out:
// one that closed before the request was read, or after; one that stopped reading before the
// answer has the answer reported undelivered, so the program takes the request back.
TEST_F(Channel, ARequestWhoseClientHasGoneIsNeverCarriedOut) {
    TriggerListener listener;
    ASSERT_EQ(listener.claim(where), Claim::Listening) << listener.error();
    close(rawClient("trigger 65\n"));
    serve(listener);
    const ChannelAnswer late = askRunningProgram(where.socketPath, "trigger 66", 50ms);
    EXPECT_EQ(late.kind, ChannelAnswer::NoAnswer);
    serve(listener);
    EXPECT_EQ(requests, std::vector<std::string>{});

    const int deaf = rawClient("trigger 67\n");
    shutdown(deaf, SHUT_RD);
    serve(listener);
    close(deaf);
    EXPECT_EQ(requests, std::vector<std::string>{"trigger 67"});
    EXPECT_EQ(undelivered, std::vector<std::string>{"ok trigger 67"});

    // One that only ended its sending side still reads its answer.
    const int halfClosed = rawClient("trigger 68\n");
    shutdown(halfClosed, SHUT_WR);
    serve(listener);
    char reply[32] = {};
    EXPECT_GT(recv(halfClosed, reply, sizeof reply - 1, 0), 0);
    EXPECT_STREQ(reply, "ok trigger 68\n");
    close(halfClosed);
    EXPECT_EQ(undelivered.size(), 1u);
}

} // namespace
} // namespace quindel
