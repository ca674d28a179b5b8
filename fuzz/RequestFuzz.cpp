// Feeds one input to the running program's end of the trigger channel: as the bytes a client
// sends over a real socket (in two parts, split where the first byte says), through the
// listener's framing, the request parser and the command trigger queue, then the ticks that
// dispatch what was queued. Besides crashes it checks that at most one request is handled per
// client, that it is the text before the first newline, that every answer is one the command
// knows, and that every trigger taken is dispatched by a tick of its own.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "core/engine/CommandTrigger.h"
#include "core/engine/RuntimeState.h"
#include "core/engine/TriggerDispatch.h"
#include "support/FakePlatform.h"
#include "command/TriggerCommand.h"
#include "command/TriggerSocket.h"

using namespace quindel;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// One listener for the whole run, in a folder of its own that goes when the run ends normally.
struct Listening {
    std::string folder;
    TriggerListener listener;
    Listening() {
        folder = (std::filesystem::temp_directory_path() / "quindel-request-fuzz-XXXXXX").string();
        check(::mkdtemp(folder.data()) != nullptr);
        check(listener.claim({folder + "/q.sock", folder, ""}) ==
              TriggerListener::Claim::Listening);
    }
    ~Listening() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

Listening& listening() {
    static Listening instance;
    return instance;
}

int connectTo(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    check(fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const std::size_t split = data[0] % size;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    RuntimeState state;
    state.isRunning = data[0] & 1;
    state.setInputDevice(data[0] & 2 ? kKeyboardDevice : 1);
    state.nextTriggerCode = data[0] & 4 ? "3C90" : "0";
    state.prevTriggerCode = "65";
    for (std::size_t i = 0; i < (state.isRunning && data[0] & 0x40 ? kMaxCommandTriggers : 0); ++i)
        state.commandQueue.push_back("66");

    Listening& at = listening();
    const int client = connectTo(at.folder + "/q.sock");
    std::vector<std::string> handled;
    std::string token;
    bool lost = false;
    const auto serve = [&] {
        at.listener.service(
            [&](const std::string& request) {
                handled.push_back(request);
                return answerChannelRequest(
                    request,
                    [&](const std::string& text) { return takeCommandTrigger(state, text); },
                    [&](const std::string& t) { token = t; });
            },
            [&](const std::string&) { lost = true; });
    };
    const auto sendPart = [&](std::string_view part) {
        if (!part.empty())
            check(send(client, part.data(), part.size(), MSG_NOSIGNAL) >= 0 || errno == EPIPE ||
                  errno == ECONNRESET);
        serve();
    };
    const std::size_t before = state.commandQueue.size();
    sendPart(bytes.substr(0, split));
    sendPart(bytes.substr(std::min(split, bytes.size())));
    shutdown(client, SHUT_WR); // what was sent is all there is
    serve();
    char reply[64] = {};
    const ssize_t got = recv(client, reply, sizeof reply - 1, MSG_DONTWAIT);
    close(client);
    serve();
    check(at.listener.clientFds().empty() && !lost);

    const auto newline = bytes.find('\n');
    const bool whole = newline != std::string_view::npos && newline < TriggerListener::kMaxRequest;
    check(handled.size() == (whole ? 1u : 0u));
    check(!whole || handled[0] == bytes.substr(0, newline));
    const std::string answer = got > 0 ? std::string(reply, static_cast<std::size_t>(got)) : "";
    static const std::set<std::string> answers = {"taken\n",   "stopped\n", "malformed\n",
                                                  "no-step\n", "full\n",    "front\n"};
    check(whole ? answers.count(answer) == 1 : answer.empty());
    check(!whole || answer != "front\n" || token.find('\n') == std::string::npos);

    // Whatever was taken waits for a tick of its own, and the queue never passes its bound.
    const bool taken = answer == "taken\n";
    check(state.commandQueue.size() == before + (taken ? 1 : 0));
    check(state.commandQueue.size() <= kMaxCommandTriggers);
    if (taken)
        check(!state.commandQueue.back().empty());
    test::FakePlatform platform;
    DispatchView view;
    const std::size_t queued = state.commandQueue.size();
    for (std::size_t i = 0; i < queued; ++i) {
        dispatchTick(state, platform, view);
        check(view.commandTaken && state.commandQueue.size() == queued - i - 1);
    }
    return 0;
}
