#include "command/TriggerCommand.h"

#include "core/storage/UserFilesFolder.h"
#include "core/text/LanguageTexts.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace quindel {

uint8_t commandLineLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(name); value && value[0] != '\0')
            return std::strncmp(value, "it", 2) == 0 ? kItalian : kEnglish;
    return kEnglish;
}

namespace {

uint8_t localeLanguage() {
    return commandLineLanguage();
}

using namespace std::chrono_literals;

// Answer lines of the channel.
constexpr const char* kTaken = "taken";
constexpr const char* kStopped = "stopped";
constexpr const char* kMalformed = "malformed";
constexpr const char* kNoStep = "no-step";
constexpr const char* kFull = "full";
constexpr const char* kRaised = "front";

// How long a trigger waits for the running program, which answers in a few milliseconds unless
// it hangs; a second start also waits for one that is still starting up.
constexpr auto kTriggerWait = 1000ms;
constexpr auto kStartWait = 5000ms;

int fail(const std::string& message, int status = 1) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return status;
}

int sendTrigger(const std::string& text) {
    const CommandLineTexts t = commandLineTexts(localeLanguage());
    if (commandTriggerCode(text).empty())
        return fail(t.malformed + text);
    const ChannelLocation where = channelLocation(userFilesFolderFor(programFolder()));
    if (!where.error.empty())
        return fail(t.unreachable + where.error);
    const ChannelAnswer answer =
        askRunningProgram(where.socketPath, "trigger " + text, kTriggerWait);
    switch (answer.kind) {
    case ChannelAnswer::NotRunning:
        return fail(t.notRunning);
    case ChannelAnswer::NoAnswer:
        return fail(t.noAnswer);
    case ChannelAnswer::Unreachable:
        return fail(t.unreachable + answer.error);
    case ChannelAnswer::Answered:
        break;
    }
    if (answer.reply == kTaken)
        return 0;
    if (answer.reply == kStopped)
        return fail(t.stopped);
    if (answer.reply == kMalformed)
        return fail(t.malformed + text);
    if (answer.reply == kNoStep)
        return fail(t.noStep + commandTriggerCode(text));
    if (answer.reply == kFull)
        return fail(t.queueFull);
    return fail(t.noAnswer);
}

// The token a Wayland desktop hands a program it starts, which lets that program's window come
// to the front; the running instance uses it in this one's place. Empty when there is none or
// it is not a token (tokens are short runs of printable characters without blanks).
std::string activationToken() {
    const char* token = std::getenv("XDG_ACTIVATION_TOKEN");
    if (token == nullptr)
        return {};
    const std::string text = token;
    const bool plain =
        !text.empty() && text.size() <= 200 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 127; });
    return plain ? text : std::string();
}

// Another instance holds the lock: ask it to the front. It may hold the lock an instant before
// it listens, so a refused connection is tried again until the wait ends.
int bringRunningToFront(const ChannelLocation& where) {
    const CommandLineTexts t = commandLineTexts(localeLanguage());
    if (!where.error.empty())
        return fail(t.runningUnreachable + where.error);
    const std::string token = activationToken();
    const std::string request = token.empty() ? kRaised : kRaised + (" " + token);
    const auto end = std::chrono::steady_clock::now() + kStartWait;
    ChannelAnswer answer;
    do {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        answer = askRunningProgram(where.socketPath, request, std::max(left, 1ms));
        if (answer.kind != ChannelAnswer::NotRunning)
            break;
        std::this_thread::sleep_for(10ms);
    } while (std::chrono::steady_clock::now() < end);
    if (answer.kind == ChannelAnswer::Answered && answer.reply == kRaised)
        return fail(t.alreadyRunning, 0);
    // It runs (it holds the lock) but cannot be reached: starting too would let two instances
    // write the same files.
    return fail(answer.kind == ChannelAnswer::Unreachable ? t.unreachable + answer.error
                                                          : t.noAnswer);
}

} // namespace

InstanceStart startInstance(int argc, char** argv, const std::string& folder) {
    InstanceStart start;
    const CommandLineTexts t = commandLineTexts(localeLanguage());
    if (argc >= 2 && std::strcmp(argv[1], "--trigger") == 0) {
        start.exitCode = argc == 3   ? sendTrigger(argv[2])
                         : argc == 2 ? fail(t.usage, 2)
                                     : fail(t.unknownArgument + argv[3] + " (" + t.usage + ")", 2);
        return start;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("%s\n", t.usage.c_str());
        start.exitCode = 0;
        return start;
    }
    if (argc > 1) {
        start.exitCode = fail(t.unknownArgument + argv[1] + " (" + t.usage + ")", 2);
        return start;
    }
    const ChannelLocation where = channelLocation(chooseUserFilesFolder(folder));
    start.listener = std::make_unique<TriggerListener>();
    switch (start.listener->claim(where)) {
    case TriggerListener::Claim::Listening:
        break;
    case TriggerListener::Claim::Guarded:
        // This instance holds the lock, so it alone writes its files; only the command cannot
        // reach it, and says why.
        fail(t.channelUnavailable + start.listener->error());
        break;
    case TriggerListener::Claim::AnotherInstance:
        start.exitCode = bringRunningToFront(where);
        start.listener.reset();
        break;
    case TriggerListener::Claim::NoLock:
        // Running without the lock could let two instances write the same files.
        start.exitCode = fail(t.noLock + start.listener->error());
        start.listener.reset();
        break;
    }
    return start;
}

std::string
answerChannelRequest(const std::string& request,
                     const std::function<CommandTriggerOutcome(const std::string& text)>& trigger,
                     const std::function<void(const std::string& token)>& front) {
    const std::string raisedWith = std::string(kRaised) + " ";
    if (request == kRaised || request.compare(0, raisedWith.size(), raisedWith) == 0) {
        front(request.size() > raisedWith.size() ? request.substr(raisedWith.size()) : "");
        return kRaised;
    }
    const std::string prefix = "trigger ";
    if (request.compare(0, prefix.size(), prefix) != 0)
        return kMalformed;
    switch (trigger(request.substr(prefix.size()))) {
    case CommandTriggerOutcome::Taken:
        return kTaken;
    case CommandTriggerOutcome::Stopped:
        return kStopped;
    case CommandTriggerOutcome::NoStep:
        return kNoStep;
    case CommandTriggerOutcome::Full:
        return kFull;
    case CommandTriggerOutcome::Malformed:
        break;
    }
    return kMalformed;
}

bool answerTookTrigger(const std::string& answer) {
    return answer == kTaken;
}

} // namespace quindel
