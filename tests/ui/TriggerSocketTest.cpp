// Both ends of the trigger channel on real sockets in a folder of the test's own. The other user
// is a forked child that drops to nobody, so the suite runs as root.
#include "ui/TriggerSocket.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
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
    ChannelLocation where{dir + "/q.sock", dir + "/q.lock", ""};
    std::vector<std::string> requests;
    ~Channel() override { std::filesystem::remove_all(dir); }

    void serve(TriggerListener& listener) {
        listener.service([this](const std::string& request) {
            requests.push_back(request);
            return "ok " + request;
        });
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

} // namespace
} // namespace quindel
