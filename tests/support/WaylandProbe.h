#pragma once
// The Wayland probe client (wayland-probe.c) as a child process whose output is read line by
// line: "press X Y BUTTON" for each press, "pointer" when the pointer enters one of its windows,
// "ready N" once its windows cover the N outputs.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

extern char** environ;

namespace quindel {

class WaylandProbe {
  public:
    explicit WaylandProbe(const char* path) {
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char* argv[] = {const_cast<char*>(path), nullptr};
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        fd_ = out[0];
    }
    ~WaylandProbe() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        ::close(fd_);
    }
    // The next line that starts with `word`; empty when none came within waitMs (a lost event).
    std::string next(const std::string& word, int waitMs = 5000) {
        for (;;) {
            size_t end;
            while ((end = buffer_.find('\n')) != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                if (line.rfind(word, 0) == 0)
                    return line;
            }
            pollfd p{fd_, POLLIN, 0};
            char chunk[512];
            ssize_t n;
            if (::poll(&p, 1, waitMs) <= 0 || (n = read(fd_, chunk, sizeof chunk)) <= 0)
                return {};
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string buffer_;
};

} // namespace quindel
