#pragma once

// The channel between `quindel --trigger CODE` (or a second start) and the running Quindel: a
// Unix socket of the current user. Plain POSIX, so the command can use it before any Qt object
// exists. The client sends one line ("trigger CODE", "front") and reads one line back.

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quindel {

// Where the one Quindel that works on the files in userFilesFolder listens for the current user,
// and what it locks. The lock is that folder itself, so every copy of the program that keeps
// its files there (an installed package and a copied folder alike) shares one, whatever the
// socket does. The socket lies in $XDG_RUNTIME_DIR, or in /tmp/quindel-UID when that is unset
// (made with mode 0700; refused when it is a link, another user's, or open to others).
struct ChannelLocation {
    std::string socketPath;
    std::string lockFolder;
    std::string error; // why the socket cannot be there; socketPath is empty then
};
ChannelLocation channelLocation(const std::string& userFilesFolder);
// The same with the session's runtime folder (null: none) and the folder to use without one.
ChannelLocation channelLocationIn(const std::string& userFilesFolder, const char* runtimeFolder,
                                  const std::string& fallbackFolder);

// What came of one request to the running program.
struct ChannelAnswer {
    enum Kind {
        Answered,    // reply holds its answer line
        NotRunning,  // nobody listens
        NoAnswer,    // it took the connection but answered nothing in time
        Unreachable, // the system refused (error says why)
    } kind = NotRunning;
    std::string reply;
    std::string error;
};

// Sends request (one line, without its newline) to the program listening at socketPath and
// waits at most timeout, in all, for its answer. Giving up, it shuts its reading side first, so
// the program either has answered by then (and the answer counts) or fails to answer and
// takes the request back: a request reported as unanswered is never carried out.
ChannelAnswer askRunningProgram(const std::string& socketPath, const std::string& request,
                                std::chrono::milliseconds timeout);

// The listening end, held by the one running instance, with its lock. Nothing it does blocks:
// clients that send slowly wait in a short list with a deadline, and the caller's event loop
// watches listenFd() and clientFds() and calls service() when one is readable or a deadline is
// due.
class TriggerListener {
  public:
    enum class Claim {
        Listening,       // the lock is held and the socket listens
        Guarded,         // the lock is held, but the socket could not be made (error says why)
        AnotherInstance, // a running instance holds the lock
        NoLock,          // the lock cannot be taken (error says why)
    };
    using Clock = std::chrono::steady_clock;
    // Gives the answer line (without newline) to one request line.
    using Handler = std::function<std::string(const std::string& request)>;
    // Told of an answer that its client never received: the client had gone by then.
    using Undelivered = std::function<void(const std::string& answer)>;

    // Bytes up to and with the newline: room for a desktop's activation token.
    static constexpr std::size_t kMaxRequest = 256;
    static constexpr std::size_t kMaxClients = 16; // beyond, the oldest is dropped
    static constexpr std::chrono::milliseconds kClientDeadline{500};

    TriggerListener() = default;
    ~TriggerListener();
    TriggerListener(const TriggerListener&) = delete;
    TriggerListener& operator=(const TriggerListener&) = delete;

    // Locks where.lockFolder (its nearest existing parent while it is missing) without
    // waiting: AnotherInstance when a running instance holds it. Holding it, removes a socket
    // file that a crashed instance left and listens there.
    Claim claim(const ChannelLocation& where);
    const std::string& error() const { return error_; }

    int listenFd() const { return listenFd_; } // -1 without a socket
    std::vector<int> clientFds() const;
    std::optional<Clock::time_point> nextDeadline() const;

    // Accepts every waiting connection, reads what each client has sent, answers every complete
    // request through handle, and closes clients of other users (unanswered), clients that send
    // more than kMaxRequest bytes without a newline or end without one, and clients past their
    // deadline. A client that has gone before its request is handled never has it handled (it
    // has reported a failure); one that goes before its answer is written has undelivered told.
    void service(const Handler& handle, const Undelivered& undelivered = {});

  private:
    struct Client {
        int fd = -1;
        std::string received;
        Clock::time_point deadline;
    };
    void acceptWaiting();
    // False when the client is done with (answered or dropped) and may be closed.
    bool readFrom(Client& client, const Handler& handle, const Undelivered& undelivered);

    int lockFd_ = -1;
    int listenFd_ = -1;
    std::string socketPath_;
    unsigned long socketInode_ = 0; // the file this instance bound, so it never removes another's
    std::vector<Client> clients_;
    std::string error_;
};

} // namespace quindel
