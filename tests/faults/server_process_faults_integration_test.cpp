// Faults of the server process itself, with the real vorav-server serving a
// simulated site of this process:
// - SIGTERM at 20 moments drawn from a printed seed (VORAV_SIGTERM_SEED
//   repeats a run), spread over the bring-up waits, the devices' admission and
//   the tracking that follows: every run ends with code 0 after the shut-down
//   lines, with no sanitizer report and no thread left behind.
// - The configuration file changed or removed while the server runs: the
//   server goes on with what it loaded, never writes the file, and only a
//   restart takes the change in.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdlib>
#include <random>

#include "fault_site.h"

namespace {

// This file's UDP ports: two per server (its Internal and External streams).
constexpr uint16_t kSigtermPorts = 45820;  // to 45859
constexpr uint16_t kConfigPorts = 45870;   // to 45877
constexpr int kSigtermRuns = 20;
// Servers (each with its simulated site) running at once.
constexpr int kConcurrentRuns = 20;

std::string ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::string();
    return file.readAll().toStdString();
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// What a sanitizer or Qt says when something went wrong at the end.
void ExpectCleanEnd(const std::string& out, const std::string& err, const std::string& what) {
    for (const char* report :
         {"AddressSanitizer", "LeakSanitizer", "ThreadSanitizer", "UndefinedBehaviorSanitizer",
          "runtime error:", "Destroyed while thread", "mutex destroy failure", "did not finish in time"}) {
        EXPECT_FALSE(Contains(err, report) || Contains(out, report)) << what << ": " << report << "\n" << err;
    }
}

// One server on a simulated site of its own, its files in `directory`.
class ServerRun {
  public:
    ServerRun(const QString& directory, int index, uint16_t internal_port)
        : directory_(directory), internal_port_(internal_port) {
        Settings settings;
        site_ = FaultSite(&settings, internal_port, {}, "-run" + std::to_string(index), false);
        config_path_ = QDir(directory).filePath(QString("server-%1.cfg").arg(index));
        ok_ = WriteServerConfigForSite(site_, &settings, config_path_.toStdString());
        out_path_ = QDir(directory).filePath(QString("server-%1.out").arg(index));
        err_path_ = QDir(directory).filePath(QString("server-%1.err").arg(index));
    }
    ~ServerRun() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
        if (simulator_)
            simulator_->Stop();
    }

    bool Start() {
        if (!ok_)
            return false;
        simulator_ = std::make_unique<DeviceSimulator>(site_);
        std::string error;
        if (!simulator_->Start(&error)) {
            ADD_FAILURE() << error;
            return false;
        }
        return Launch();
    }
    // The server alone, again (the simulator goes on).
    bool Launch() {
        process_.setStandardOutputFile(out_path_, QIODevice::Append);
        process_.setStandardErrorFile(err_path_, QIODevice::Append);
        process_.start(VORAV_SERVER_PATH, {"-h", "-c", config_path_});
        return process_.waitForStarted(10000);
    }
    void Terminate() { kill(static_cast<pid_t>(process_.processId()), SIGTERM); }
    // The exit code; -1 when it did not exit by itself within the bound.
    int Wait(int bound_ms = 60000) {
        // An end already seen while this thread ran its events counts too
        // (waitForFinished() is false then).
        if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(bound_ms))
            return -1;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    std::string Out() const { return ReadFile(out_path_); }
    std::string Err() const { return ReadFile(err_path_); }
    const QString& ConfigPath() const { return config_path_; }
    uint16_t ExternalPort() const { return static_cast<uint16_t>(internal_port_ + 1); }

  private:
    QString directory_;
    uint16_t internal_port_;
    sim_site_t site_;
    QString config_path_, out_path_, err_path_;
    bool ok_ = false;
    std::unique_ptr<DeviceSimulator> simulator_;
    QProcess process_;
};

// Spins this thread's events (nothing of the server's runs here) for `ms`.
void Pause(int ms) {
    SpinUntil([] { return false; }, std::chrono::milliseconds(ms));
}

TEST(ServerProcessFaultsTest, SigtermAtRandomMomentsEndsCleanly) {
    const char* seed_text = std::getenv("VORAV_SIGTERM_SEED");
    const uint32_t seed = seed_text != nullptr ? static_cast<uint32_t>(std::strtoul(seed_text, nullptr, 10))
                                               : std::random_device()();
    std::mt19937 random(seed);
    // The master's link finds the device within a second; the bring-up then
    // waits some 13 s (5 s with the master stopped, 7 s of fast sync), the
    // devices are admitted over the next seconds, and tracking follows.
    struct phase_t {
        const char* name;
        double from_s, to_s;
        int runs;
    };
    const phase_t phases[] = {
        {"bring-up", 0.3, 13.0, 8}, {"admission", 13.0, 17.0, 6}, {"tracking", 17.0, 24.0, 6}};
    std::vector<std::pair<double, const char*>> moments;
    for (const phase_t& phase : phases) {
        std::uniform_real_distribution<double> within(phase.from_s, phase.to_s);
        for (int i = 0; i < phase.runs; ++i)
            moments.emplace_back(within(random), phase.name);
    }
    ASSERT_EQ(moments.size(), static_cast<size_t>(kSigtermRuns));
    printf("SIGTERM moments from seed %u (VORAV_SIGTERM_SEED):", seed);
    for (const auto& moment : moments)
        printf(" %.2f s", moment.first);
    printf("\n");
    fflush(stdout);

    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    for (int first = 0; first < kSigtermRuns; first += kConcurrentRuns) {
        const int count = std::min(kConcurrentRuns, kSigtermRuns - first);
        std::vector<std::unique_ptr<ServerRun>> runs;
        for (int i = 0; i < count; ++i) {
            runs.push_back(std::make_unique<ServerRun>(directory.path(), first + i,
                                                       static_cast<uint16_t>(kSigtermPorts + 2 * i)));
            ASSERT_TRUE(runs.back()->Start()) << "run " << first + i;
        }
        // Signal each at its moment, in order of the moments.
        const auto start = std::chrono::steady_clock::now();
        std::vector<int> order(count);
        for (int i = 0; i < count; ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(),
                  [&](int a, int b) { return moments[first + a].first < moments[first + b].first; });
        std::vector<bool> host_started(count);
        for (int i : order) {
            const auto at = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                        std::chrono::duration<double>(moments[first + i].first));
            while (std::chrono::steady_clock::now() < at)
                Pause(10);
            host_started[i] = Contains(runs[i]->Out(), "host started\n");
            runs[i]->Terminate();
        }
        for (int i = 0; i < count; ++i) {
            const std::string what = "run " + std::to_string(first + i) + ", SIGTERM at " +
                                     std::to_string(moments[first + i].first) + " s (" +
                                     moments[first + i].second + ")";
            const int code = runs[i]->Wait();
            const std::string out = runs[i]->Out();
            const std::string err = runs[i]->Err();
            EXPECT_EQ(code, 0) << what << "\n"
                               << out.substr(out.size() > 3000 ? out.size() - 3000 : 0) << err;
            EXPECT_TRUE(Contains(out, "Waiting for the host thread to finish...\n")) << what;
            if (host_started[i]) {
                EXPECT_TRUE(Contains(out, "host shutting down...\n")) << what;
                EXPECT_TRUE(Contains(out, "Master Deconfigured.\n")) << what;
            }
            ExpectCleanEnd(out, err, what);
        }
    }
}

// Listens to one server's External stream.
struct ExternalListener {
    explicit ExternalListener(uint16_t port) : connection(LoopbackStream(port)) { log.Attach(&connection); }
    ~ExternalListener() { connection.ClearSubscriptions(); }
    VexConnection connection;
    PublishedLog log;
};

bool WaitForPositions(PublishedLog* log, size_t more, std::chrono::seconds bound = std::chrono::seconds(60)) {
    const size_t target = log->Positions(kStandingTag) + more;
    return SpinUntil([&] { return log->Positions(kStandingTag) >= target; }, bound);
}

TEST(ServerProcessFaultsTest, ConfigFileChangedOrRemovedWhileRunningTakesEffectOnlyAtRestart) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    ServerRun changed(directory.path(), 0, kConfigPorts);
    ServerRun removed(directory.path(), 1, kConfigPorts + 2);
    // The changed file moves the External stream to a port of its own.
    const uint16_t moved_port = kConfigPorts + 5;
    ExternalListener changed_stream(changed.ExternalPort());
    ExternalListener moved_stream(moved_port);
    ExternalListener removed_stream(removed.ExternalPort());
    ASSERT_TRUE(changed.Start());
    ASSERT_TRUE(removed.Start());
    ASSERT_TRUE(WaitForPositions(&changed_stream.log, 5, std::chrono::seconds(90)));
    ASSERT_TRUE(WaitForPositions(&removed_stream.log, 5, std::chrono::seconds(90)));

    std::string text = ReadFile(changed.ConfigPath());
    const std::string from = "\"port\": " + std::to_string(changed.ExternalPort());
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, from.size(), "\"port\": " + std::to_string(moved_port));
    {
        QFile file(changed.ConfigPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(text.data(), static_cast<qint64>(text.size())),
                  static_cast<qint64>(text.size()));
    }
    ASSERT_TRUE(QFile::remove(removed.ConfigPath()));
    const QDateTime changed_time = QFileInfo(changed.ConfigPath()).lastModified();
    const QStringList files = QDir(directory.path()).entryList(QDir::Files, QDir::Name);

    // Both go on as loaded: positions on the old port, none on the new one.
    EXPECT_TRUE(WaitForPositions(&changed_stream.log, 10));
    EXPECT_TRUE(WaitForPositions(&removed_stream.log, 10));
    EXPECT_EQ(moved_stream.log.Positions(kStandingTag), 0u);

    changed.Terminate();
    removed.Terminate();
    EXPECT_EQ(changed.Wait(), 0);
    EXPECT_EQ(removed.Wait(), 0);
    ExpectCleanEnd(changed.Out(), changed.Err(), "changed");
    ExpectCleanEnd(removed.Out(), removed.Err(), "removed");
    // The server wrote neither file, nor any other beside them.
    EXPECT_EQ(ReadFile(changed.ConfigPath()), text);
    EXPECT_EQ(QFileInfo(changed.ConfigPath()).lastModified(), changed_time);
    EXPECT_FALSE(QFile::exists(removed.ConfigPath()));
    EXPECT_EQ(QDir(directory.path()).entryList(QDir::Files, QDir::Name), files);

    // A restart takes the change in: positions on the new port.
    ASSERT_TRUE(changed.Launch());
    EXPECT_TRUE(WaitForPositions(&moved_stream.log, 5, std::chrono::seconds(90)))
        << "the restarted server publishes where the changed file says";
    changed.Terminate();
    EXPECT_EQ(changed.Wait(), 0);
    ExpectCleanEnd(changed.Out(), changed.Err(), "changed, restarted");
    // Without its file the server refuses to run the host.
    ASSERT_TRUE(removed.Launch());
    EXPECT_EQ(removed.Wait(), 0);
    EXPECT_TRUE(Contains(removed.Out(), "main: config file load failed; defaulting to GUI only mode...\n"))
        << removed.Out();
    EXPECT_EQ(ReadFile(changed.ConfigPath()), text) << "the file is never written";
}

}  // namespace
