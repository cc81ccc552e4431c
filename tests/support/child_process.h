#pragma once
// Runs a program of the build (the server, the device simulator) as a child
// process, for the tests that drive the real executables.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

// One run of a program with its stdout (and, when asked, its stderr) read
// through a pipe. Killed at destruction when still running.
class ChildProcess {
  public:
    struct Options {
        // SIGTERM is blocked in the child until the server unblocks it.
        bool block_sigterm = false;
        // Variables set (NAME=value) or removed (NAME) for the child.
        std::vector<std::string> environment_changes;
        // Also read stderr (where the sanitizers report) into the output.
        bool merge_stderr = false;
    };

    ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
        : ChildProcess(program, arguments, Options()) {}

    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const Options& options) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        read_fd_ = fds[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        if (options.merge_stderr)
            posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t mask;
        sigemptyset(&mask);
        if (options.block_sigterm)
            sigaddset(&mask, SIGTERM);
        posix_spawnattr_setsigmask(&attributes, &mask);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

        std::vector<std::string> environment = Environment(options.environment_changes);
        std::vector<char*> env;
        for (std::string& entry : environment)
            env.push_back(&entry[0]);
        env.push_back(nullptr);
        std::vector<std::string> argv_strings = {program};
        argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : argv_strings)
            argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), env.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        close(fds[1]);
    }

    ~ChildProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (read_fd_ >= 0)
            close(read_fd_);
    }

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    void Signal(int signal) { kill(pid_, signal); }

    // Reads output until `text` has appeared or the bound passes.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (output_.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !ReadSome(deadline))
                return false;
        }
        return true;
    }

    // Reads to the end of the output and reaps the process; -1 when it did not
    // end within the bound, else its exit code (128 + signal when killed).
    int Finish(std::chrono::milliseconds bound = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (ReadSome(deadline)) {
        }
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            usleep(10000);
        }
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    const std::string& Output() const { return output_; }

  private:
    static std::vector<std::string> Environment(const std::vector<std::string>& changes) {
        std::vector<std::string> result;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string variable(*entry);
            bool changed = false;
            for (const std::string& change : changes) {
                const std::string name = change.substr(0, change.find('='));
                changed = changed || variable.compare(0, name.size() + 1, name + "=") == 0;
            }
            if (!changed)
                result.push_back(variable);
        }
        for (const std::string& change : changes) {
            if (change.find('=') != std::string::npos)
                result.push_back(change);
        }
        return result;
    }

    // False at the end of the output or at the deadline.
    bool ReadSome(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd descriptor = {read_fd_, POLLIN, 0};
        if (poll(&descriptor, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char buffer[4096];
        const ssize_t got = read(read_fd_, buffer, sizeof(buffer));
        if (got <= 0)
            return false;
        output_.append(buffer, static_cast<size_t>(got));
        return true;
    }

    pid_t pid_ = -1;
    int read_fd_ = -1;
    bool exited_ = false;
    std::string output_;
};

// Positions of the lines in the output, in the order given; npos for a line
// missing or out of order.
inline std::vector<size_t> Positions(const std::string& output, const std::vector<std::string>& lines) {
    std::vector<size_t> positions;
    size_t from = 0;
    for (const std::string& line : lines) {
        const size_t at = from == std::string::npos ? std::string::npos : output.find(line, from);
        positions.push_back(at);
        from = at == std::string::npos ? at : at + line.size();
    }
    return positions;
}
