// The server's start-up, run as a process of its own: the command line's
// refusals and help, the quit timer, the termination signals (also one that
// comes before the event loop runs) and the configuration file left as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/site_config.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

const std::string kServer = VORAV_SERVER_PATH;
const std::string kUsage =
    "Usage:\t" + kServer +
    " [--help|-?] [--gui-only|-g] [--host-only|-h] [--config|-c <filename>] [--time|-t <time_s>] "
    "[--server-uid|-s <uid>]\n";

// One run of the server with its stdout read through a pipe.
class ServerProcess {
  public:
    struct Options {
        // SIGTERM is blocked in the child until the server unblocks it.
        bool block_sigterm = false;
        // Variables set (NAME=value) or removed (NAME) for the child.
        std::vector<std::string> environment_changes;
    };

    explicit ServerProcess(const std::vector<std::string>& arguments) : ServerProcess(arguments, Options()) {}

    ServerProcess(const std::vector<std::string>& arguments, const Options& options) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        read_fd_ = fds[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
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
        std::vector<std::string> argv_strings = {kServer};
        argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : argv_strings)
            argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, kServer.c_str(), &actions, &attributes, argv.data(), env.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        close(fds[1]);
    }

    ~ServerProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (read_fd_ >= 0)
            close(read_fd_);
    }

    bool Started() const { return pid_ > 0; }
    void Signal(int signal) { kill(pid_, signal); }

    // Reads output until `text` has appeared or the bound passes.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds bound = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (output_.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !ReadSome(deadline))
                return false;
        }
        return true;
    }

    // Reads to the end of the output and reaps the process; -1 when it did not
    // end within the bound, else its exit code (128 + signal when killed).
    int Finish(std::chrono::milliseconds bound = 30s) {
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

struct Refusal {
    std::vector<std::string> arguments;
    std::string output;
};

class StartupRefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(StartupRefusalTest, PrintsTheReasonAndEndsWithCodeZero) {
    ServerProcess server(GetParam().arguments);
    ASSERT_TRUE(server.Started());
    EXPECT_EQ(server.Finish(), 0);
    EXPECT_EQ(server.Output(), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, StartupRefusalTest,
    ::testing::Values(
        Refusal{{"-h", "-g"}, "Invalid argument pairing: must at least run either the GUI or the host\n"},
        Refusal{{"--gui-only", "--host-only"},
                "Invalid argument pairing: must at least run either the GUI or the host\n"},
        Refusal{{"-t", "0"}, "Err parsing arguments: invalid time value <0> after -t\n"},
        Refusal{{"-h", "-t", "abc"}, "Err parsing arguments: invalid time value <abc> after -t\n"},
        // 2147484 s is the first value whose milliseconds pass the timer's range.
        Refusal{{"--time", "2147484"}, "Err parsing arguments: invalid time value <2147484> after --time\n"},
        Refusal{{"-t", "-5"}, "Err parsing arguments: time missing after -t\n"},
        Refusal{{"-h", "-c"}, "Err parsing arguments: file missing after -c\n"},
        Refusal{{"-s", "-h"}, "Err parsing arguments: server uid missing after -s\n"},
        Refusal{{"--help"}, kUsage}, Refusal{{"-?", "-h", "-g"}, kUsage},
        Refusal{{"-h", "--help"}, "Invalid Argument: --help\n" + kUsage},
        Refusal{
            {"-h", "-s", "01:02:0003", "-c", "/nonexistent/vorav/missing.cfg"},
            "Spoofing server ID of 01:02:0003\n"
            "Unable to open configuration file /nonexistent/vorav/missing.cfg\n"
            "main: config file load failed; defaulting to GUI only mode...\n"
            "main: neither the host nor the GUI was properly initialized; program now terminating...\n"}));

// A copy of the repository's default.cfg whose streams use this test's group and
// ports.
class StartupRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(directory_.isValid());
        config_path_ = WriteSiteConfig(directory_, 44230);
        ASSERT_FALSE(config_path_.empty());
        QFile config(QString::fromStdString(config_path_));
        ASSERT_TRUE(config.open(QIODevice::ReadOnly));
        config_text_ = config.readAll();
    }

    void TearDown() override {
        QFile config(QString::fromStdString(config_path_));
        ASSERT_TRUE(config.open(QIODevice::ReadOnly));
        EXPECT_EQ(config.readAll(), config_text_) << "the run changed the configuration file";
    }

    QTemporaryDir directory_;
    std::string config_path_;
    QByteArray config_text_;
};

// Positions of the lines in the output, in the order given; npos for a line
// missing or out of order.
std::vector<size_t> Positions(const std::string& output, const std::vector<std::string>& lines) {
    std::vector<size_t> positions;
    size_t from = 0;
    for (const std::string& line : lines) {
        const size_t at = from == std::string::npos ? std::string::npos : output.find(line, from);
        positions.push_back(at);
        from = at == std::string::npos ? at : at + line.size();
    }
    return positions;
}

// A started host that a signal stops: the empty line of the signal, then the
// host's shut-down, then the wait for the host thread.
void ExpectSignalShutDown(const std::string& output) {
    const std::vector<std::string> lines = {"host started\n", "\n", "host shutting down...\n",
                                            "Master Deconfigured.\n",
                                            "Waiting for the host thread to finish...\n"};
    for (size_t at : Positions(output, lines))
        EXPECT_NE(at, std::string::npos) << output;
}

TEST_F(StartupRunTest, SigtermDuringTheLoopShutsDownCleanly) {
    ServerProcess server({"-h", "-c", config_path_});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(server.WaitForOutput("application v2.0.0\n")) << server.Output();
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Finish(), 0) << server.Output();
    EXPECT_EQ(server.Output().rfind("initializing the host...\napplication v2.0.0\n", 0), 0u)
        << server.Output();
    ExpectSignalShutDown(server.Output());
}

TEST_F(StartupRunTest, SigtermBeforeTheLoopRunsIsNotLost) {
    ServerProcess::Options options;
    options.block_sigterm = true;
    ServerProcess server({"-h", "-c", config_path_}, options);
    ASSERT_TRUE(server.Started());
    // Pending from the start; it lands as soon as the server installs its handler,
    // long before the event loop runs.
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Finish(), 0) << server.Output();
    ExpectSignalShutDown(server.Output());
}

TEST_F(StartupRunTest, QuitTimerEndsTheRun) {
    ServerProcess server({"--host-only", "--time", "1", "--config", config_path_});
    ASSERT_TRUE(server.Started());
    EXPECT_EQ(server.Finish(), 0) << server.Output();
    const std::vector<std::string> lines = {"initializing the host...\n",
                                            "host started\n",
                                            "Main: Setting up Timer To Shutdown Network after 1 seconds\n",
                                            "host shutting down...\n",
                                            "Master Deconfigured.\n",
                                            "Waiting for the host thread to finish...\n"};
    for (size_t at : Positions(server.Output(), lines))
        EXPECT_NE(at, std::string::npos) << server.Output();
    // No signal, no empty line.
    EXPECT_EQ(server.Output().find("\n\n"), std::string::npos) << server.Output();
}

// The server on the offscreen platform. Under AddressSanitizer the platform
// plugin's own leftovers at exit are suppressed (tests/data/sanitizers).
ServerProcess::Options OffscreenGui() {
    ServerProcess::Options options;
    const char* asan = std::getenv("ASAN_OPTIONS");
    options.environment_changes = {
        "QT_QPA_PLATFORM=offscreen",
        std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":fast_unwind_on_malloc=0",
        "LSAN_OPTIONS=suppressions=" VORAV_TEST_DATA_DIR "/sanitizers/qt_offscreen_leaks.supp"};
    return options;
}

TEST_F(StartupRunTest, GuiAndHostRunTogetherUntilTheQuitTimer) {
    const ServerProcess::Options options = OffscreenGui();
    ServerProcess server({"-t", "1", "-c", config_path_}, options);
    ASSERT_TRUE(server.Started());
    EXPECT_EQ(server.Finish(), 0) << server.Output();
    // The host's debug lines ("host started") go to the message window while it exists.
    const std::vector<std::string> lines = {"main: initializing GUI...\n", "initializing the host...\n",
                                            "Main: Setting up Timer To Shutdown Network after 1 seconds\n",
                                            "host shutting down...\n",
                                            "Waiting for the host thread to finish...\n"};
    for (size_t at : Positions(server.Output(), lines))
        EXPECT_NE(at, std::string::npos) << server.Output();
    EXPECT_EQ(server.Output().find("host started"), std::string::npos) << server.Output();
}

TEST_F(StartupRunTest, GuiRunsOnTheOffscreenPlatformUntilTheQuitTimer) {
    const ServerProcess::Options options = OffscreenGui();
    ServerProcess server({"-g", "-t", "1", "-c", config_path_}, options);
    ASSERT_TRUE(server.Started());
    EXPECT_EQ(server.Finish(), 0) << server.Output();
    const std::string& output = server.Output();
    EXPECT_NE(output.find("main: initializing GUI...\n"), std::string::npos) << output;
    EXPECT_EQ(output.find("initializing the host..."), std::string::npos) << output;
    EXPECT_NE(output.find("Main: Setting up Timer To Shutdown Network after 1 seconds\n"), std::string::npos)
        << output;
}

TEST_F(StartupRunTest, GuiWithoutAnyDisplayIsRefused) {
    ServerProcess::Options options;
    options.environment_changes = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    ServerProcess server({"-c", config_path_}, options);
    ASSERT_TRUE(server.Started());
    EXPECT_EQ(server.Finish(), 0) << server.Output();
    EXPECT_EQ(server.Output(), "main: unable to properly initialize the GUI; program now terminating...\n");
}

}  // namespace
