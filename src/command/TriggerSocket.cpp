#include "command/TriggerSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace quindel {

namespace {

using Clock = std::chrono::steady_clock;

std::string systemError() {
    return std::strerror(errno);
}

// FNV-1a: a short, stable name for a folder path.
std::string folderKey(const std::string& folder) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : folder)
        hash = (hash ^ c) * 1099511628211ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

bool fillAddress(sockaddr_un& address, const std::string& path) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A private folder of this user: made here when missing, and refused when it is a link,
// another user's, or others may enter it (they could put their own socket there).
std::string privateFolderError(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return folder + ": " + systemError();
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0)
        return folder + ": " + systemError();
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 077) != 0)
        return folder + ": not a private folder of this user";
    return {};
}

int remainingMs(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
}

} // namespace

ChannelLocation channelLocationIn(const std::string& userFilesFolder, const char* runtimeFolder,
                                  const std::string& fallbackFolder) {
    ChannelLocation where;
    where.lockFolder = userFilesFolder;
    std::string folder;
    // The session's runtime folder is private to the user by its definition; without one, a
    // folder of our own, checked.
    if (runtimeFolder != nullptr && runtimeFolder[0] == '/') {
        folder = runtimeFolder;
        if (access(folder.c_str(), W_OK | X_OK) != 0) {
            where.error = folder + ": " + systemError();
            return where;
        }
    } else {
        folder = fallbackFolder;
        if (std::string error = privateFolderError(folder); !error.empty()) {
            where.error = std::move(error);
            return where;
        }
    }
    const std::string socketPath = folder + "/quindel-" + folderKey(userFilesFolder) + ".sock";
    sockaddr_un address;
    if (!fillAddress(address, socketPath)) {
        where.error = folder + ": the path is too long for a socket";
        return where;
    }
    where.socketPath = socketPath;
    return where;
}

ChannelLocation channelLocation(const std::string& userFilesFolder) {
    return channelLocationIn(userFilesFolder, std::getenv("XDG_RUNTIME_DIR"),
                             "/tmp/quindel-" + std::to_string(geteuid()));
}

ChannelAnswer askRunningProgram(const std::string& socketPath, const std::string& request,
                                std::chrono::milliseconds timeout) {
    ChannelAnswer answer;
    const auto end = Clock::now() + timeout;
    sockaddr_un address;
    if (!fillAddress(address, socketPath)) {
        answer.kind = ChannelAnswer::Unreachable;
        answer.error = socketPath + ": the path is too long for a socket";
        return answer;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        answer.kind = ChannelAnswer::Unreachable;
        answer.error = systemError();
        return answer;
    }
    // A full backlog answers EAGAIN at once instead of blocking: try again until the end.
    int connected = -1;
    while ((connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address)) !=
               0 &&
           errno == EAGAIN && remainingMs(end) > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (connected != 0) {
        const int error = errno;
        answer.kind = error == ENOENT || error == ECONNREFUSED ? ChannelAnswer::NotRunning
                      : error == EAGAIN                        ? ChannelAnswer::NoAnswer
                                                               : ChannelAnswer::Unreachable;
        answer.error = std::strerror(error);
        close(fd);
        return answer;
    }
    const std::string line = request + '\n';
    answer.kind = ChannelAnswer::NoAnswer;
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
        close(fd);
        return answer;
    }
    std::string received;
    pollfd readable{fd, POLLIN, 0};
    const auto readSome = [&] {
        char buffer[128];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            received.append(buffer, static_cast<std::size_t>(n));
        return n > 0;
    };
    while (received.find('\n') == std::string::npos && received.size() < 256 &&
           poll(&readable, 1, remainingMs(end)) > 0 && readSome()) {
    }
    if (received.find('\n') == std::string::npos) {
        // Giving up. Once the reading side is shut the program's answer fails to be written,
        // and it takes the request back; an answer written before that is read here.
        shutdown(fd, SHUT_RD);
        while (received.size() < 256 && readSome()) {
        }
    }
    close(fd);
    if (const auto newline = received.find('\n'); newline != std::string::npos) {
        answer.kind = ChannelAnswer::Answered;
        answer.reply = received.substr(0, newline);
    }
    return answer;
}

TriggerListener::~TriggerListener() {
    for (Client& client : clients_)
        close(client.fd);
    if (listenFd_ >= 0) {
        // Removed only while it is still the file this instance bound: after a crash a newer
        // instance may have put its own there.
        struct stat info {};
        if (lstat(socketPath_.c_str(), &info) == 0 && info.st_ino == socketInode_)
            unlink(socketPath_.c_str());
        close(listenFd_);
    }
    if (lockFd_ >= 0)
        close(lockFd_); // releases the lock, after the socket is gone
}

TriggerListener::Claim TriggerListener::claim(const ChannelLocation& where) {
    // The lock is on the folder itself: nothing to create, no limit on its path's length, and
    // one lock however the folder is reached. The kernel drops it when its holder ends in any
    // way, so a held lock always means a running instance, and a socket file without one was
    // left by a crash.
    // A folder that is missing (and could not be made) holds no files yet; its nearest
    // existing parent stands for it, so such instances still run one at a time.
    std::filesystem::path folder = where.lockFolder;
    while ((lockFd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0 &&
           errno == ENOENT && folder.has_relative_path())
        folder = folder.parent_path();
    if (lockFd_ < 0) {
        error_ = where.lockFolder + ": " + systemError();
        return Claim::NoLock;
    }
    if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        error_ = where.lockFolder + ": " + systemError();
        close(lockFd_), lockFd_ = -1;
        return held ? Claim::AnotherInstance : Claim::NoLock;
    }
    if (!where.error.empty()) {
        error_ = where.error;
        return Claim::Guarded;
    }
    unlink(where.socketPath.c_str());
    sockaddr_un address;
    fillAddress(address, where.socketPath);
    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    struct stat info {};
    // Only the owner may connect; SO_PEERCRED checks each client again.
    if (listenFd_ < 0 ||
        bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        chmod(where.socketPath.c_str(), 0600) != 0 || listen(listenFd_, 64) != 0 ||
        lstat(where.socketPath.c_str(), &info) != 0) {
        error_ = where.socketPath + ": " + systemError();
        if (listenFd_ >= 0)
            close(listenFd_), listenFd_ = -1;
        return Claim::Guarded;
    }
    socketPath_ = where.socketPath;
    socketInode_ = info.st_ino;
    return Claim::Listening;
}

std::vector<int> TriggerListener::clientFds() const {
    std::vector<int> fds;
    for (const Client& client : clients_)
        fds.push_back(client.fd);
    return fds;
}

std::optional<TriggerListener::Clock::time_point> TriggerListener::nextDeadline() const {
    if (clients_.empty())
        return std::nullopt;
    return clients_.front().deadline; // clients join in time order
}

void TriggerListener::acceptWaiting() {
    for (;;) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return; // EAGAIN: none left; anything else (out of descriptors): try next time
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid()) {
            close(fd);
            continue;
        }
        if (clients_.size() >= kMaxClients) {
            close(clients_.front().fd);
            clients_.erase(clients_.begin());
        }
        clients_.push_back({fd, {}, Clock::now() + kClientDeadline});
    }
}

bool TriggerListener::readFrom(Client& client, const Handler& handle,
                               const Undelivered& undelivered) {
    char buffer[kMaxRequest];
    for (;;) {
        const ssize_t n = recv(client.fd, buffer, kMaxRequest - client.received.size(), 0);
        if (n < 0)
            return errno == EAGAIN || errno == EINTR; // nothing more yet: keep waiting
        if (n == 0)
            return false; // ended without a whole line
        client.received.append(buffer, static_cast<std::size_t>(n));
        if (const auto newline = client.received.find('\n'); newline != std::string::npos) {
            // A client that has closed has told its caller that the request failed. (One that
            // only ended its sending side still reads, and is answered.)
            pollfd gone{client.fd, 0, 0};
            if (poll(&gone, 1, 0) != 0)
                return false;
            const std::string answer = handle(client.received.substr(0, newline)) + '\n';
            // A fresh socket's buffer takes a short line; a client that cannot take it, or
            // has stopped reading meanwhile, never learns the answer, so it does not hold.
            if (send(client.fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
                    static_cast<ssize_t>(answer.size()) &&
                undelivered)
                undelivered(answer.substr(0, answer.size() - 1));
            return false;
        }
        if (client.received.size() >= kMaxRequest)
            return false;
    }
}

void TriggerListener::service(const Handler& handle, const Undelivered& undelivered) {
    if (listenFd_ < 0)
        return;
    acceptWaiting();
    const auto now = Clock::now();
    std::erase_if(clients_, [&](Client& client) {
        const bool keep = readFrom(client, handle, undelivered) && client.deadline > now;
        if (!keep)
            close(client.fd);
        return !keep;
    });
}

} // namespace quindel
