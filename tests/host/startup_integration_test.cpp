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
#include <ostream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/site_config.h"

namespace {

using namespace std::chrono_literals;

const std::string kServer = VORAV_SERVER_PATH;
const std::string kUsage =
    "Usage:\t" + kServer +
    " [--help|-?] [--gui-only|-g] [--host-only|-h] [--config|-c <filename>] [--time|-t <time_s>] "
    "[--server-uid|-s <uid>]\n";

// One run of the server.
class ServerProcess : public ChildProcess {
  public:
    explicit ServerProcess(const std::vector<std::string>& arguments) : ChildProcess(kServer, arguments) {}
    ServerProcess(const std::vector<std::string>& arguments, const Options& options)
        : ChildProcess(kServer, arguments, options) {}
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

// The GUI (alone or with the host) where no display can be reached: no
// display named, or an X display with no server behind it.
struct NoDisplay {
    std::vector<std::string> environment_changes;
    std::vector<std::string> arguments;
};

// Names the case in the test list, such as "QT_QPA_PLATFORM,DISPLAY=:77,-g".
void PrintTo(const NoDisplay& no_display, std::ostream* out) {
    const char* separator = "";
    for (const auto* words : {&no_display.environment_changes, &no_display.arguments}) {
        for (const std::string& word : *words) {
            *out << separator << word;
            separator = ",";
        }
    }
}

class StartupNoDisplayTest : public StartupRunTest, public ::testing::WithParamInterface<NoDisplay> {};

TEST_P(StartupNoDisplayTest, GuiIsRefusedWithCodeZero) {
    ServerProcess::Options options;
    options.environment_changes = GetParam().environment_changes;
    options.environment_changes.push_back("WAYLAND_DISPLAY");
    std::vector<std::string> arguments = GetParam().arguments;
    arguments.insert(arguments.end(), {"-c", config_path_});
    ServerProcess server(arguments, options);
    ASSERT_TRUE(server.Started());
    EXPECT_EQ(server.Finish(), 0) << server.Output();
    EXPECT_EQ(server.Output(), "main: unable to properly initialize the GUI; program now terminating...\n");
}

INSTANTIATE_TEST_SUITE_P(Display, StartupNoDisplayTest,
                         ::testing::Values(NoDisplay{{"QT_QPA_PLATFORM", "DISPLAY"}, {}},
                                           NoDisplay{{"QT_QPA_PLATFORM", "DISPLAY"}, {"-g"}},
                                           NoDisplay{{"QT_QPA_PLATFORM", "DISPLAY=:77"}, {}},
                                           NoDisplay{{"QT_QPA_PLATFORM", "DISPLAY=:77"}, {"-g"}},
                                           NoDisplay{{"QT_QPA_PLATFORM=xcb", "DISPLAY=:77"}, {"-g"}}));

}  // namespace
