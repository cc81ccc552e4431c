// vorav-capacity: the capacity site and its measurement.
//
//   vorav-capacity site --dir DIR [--tags N] [--anchors N] [--usb-anchors N] ...
//       writes DIR/server.cfg and DIR/site.json
//   vorav-capacity run --site DIR/site.json --server-pid PID [--duration S] ...
//       simulates the site's devices for the server running as PID, waits until
//       the tags are positioned, measures for the given time, stops the server
//       and reports the figures
//
// tools/capacity.sh runs both with a real vorav-server; see there.
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capacity/capacity_analysis.h"
#include "capacity/capacity_probe.h"
#include "capacity/capacity_site.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "simulator/device_simulator.h"
#include "simulator/sim_site.h"

namespace {

constexpr int64_t kNsPerS = 1000000000;

void PrintUsage() {
    printf(
        "Usage: vorav-capacity site --dir DIR [options]\n"
        "  --tags N (250) --anchors N (16) --usb-anchors N (8) --rate HZ (10) --seed N (7)\n"
        "  --static-every N (10: one tag in N stands still) --tty-dir DIR (DIR)\n"
        "  --internal-port P (45600) --external-group G (239.255.76.68) --external-port P (45601)\n"
        "Usage: vorav-capacity run --site FILE --server-pid PID [options]\n"
        "  --duration S (60)       measuring time once warmed up\n"
        "  --warmup all|first      wait for a position of every tag (default) or of any\n"
        "  --warmup-timeout S (120)\n"
        "  --keep-server           do not stop the server at the end\n");
    fflush(stdout);
}

bool NextValue(int argc, char** argv, int* i, std::string* value) {
    if (*i + 1 >= argc)
        return false;
    *value = argv[++*i];
    return true;
}

int RunSite(int argc, char** argv) {
    capacity_site_options_t options;
    std::string dir;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        std::string value;
        if (!NextValue(argc, argv, &i, &value)) {
            PrintUsage();
            return 2;
        }
        if (option == "--dir")
            dir = value;
        else if (option == "--tags")
            options.tags = std::atoi(value.c_str());
        else if (option == "--anchors")
            options.anchors = std::atoi(value.c_str());
        else if (option == "--usb-anchors")
            options.usb_anchors = std::atoi(value.c_str());
        else if (option == "--rate")
            options.tag_rate_hz = std::atof(value.c_str());
        else if (option == "--seed")
            options.seed = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        else if (option == "--static-every")
            options.static_every = std::atoi(value.c_str());
        else if (option == "--tty-dir")
            options.tty_dir = value;
        else if (option == "--internal-port")
            options.internal_port = static_cast<uint16_t>(std::atoi(value.c_str()));
        else if (option == "--external-group")
            options.external_group = value;
        else if (option == "--external-port")
            options.external_port = static_cast<uint16_t>(std::atoi(value.c_str()));
        else {
            PrintUsage();
            return 2;
        }
    }
    if (dir.empty()) {
        PrintUsage();
        return 2;
    }
    mkdir(dir.c_str(), 0755);
    char resolved[PATH_MAX];
    if (realpath(dir.c_str(), resolved) == nullptr) {
        printf("vorav-capacity: no folder %s\n", dir.c_str());
        return 1;
    }
    dir = resolved;
    if (options.tty_dir.empty())
        options.tty_dir = dir;
    std::string error;
    if (!WriteCapacitySite(options, dir, &error)) {
        printf("vorav-capacity: %s\n", error.c_str());
        return 1;
    }
    printf("vorav-capacity: wrote %s/server.cfg and %s/site.json (%d tags, %d anchors, %d on USB)\n",
           dir.c_str(), dir.c_str(), options.tags, options.anchors, options.usb_anchors);
    return 0;
}

struct run_options_t {
    std::string site;
    int server_pid = 0;
    double duration_s = 60.0;
    bool warmup_all = true;
    double warmup_timeout_s = 120.0;
    bool stop_server = true;
};

double Seconds(int64_t ns) {
    return static_cast<double>(ns) / kNsPerS;
}

void PrintLatency(const char* what, CapacitySamples& samples) {
    printf("  %-44s median %7.2f ms  p99 %7.2f ms  p99.9 %7.2f ms  max %7.2f ms  (%zu)\n", what,
           samples.Quantile(0.5), samples.Quantile(0.99), samples.Quantile(0.999), samples.Max(),
           samples.Count());
}

void PrintError(const char* what, CapacitySamples& samples) {
    printf("  %-44s median %6.3f m  p95 %6.3f m  max %6.3f m  (%zu)\n", what, samples.Quantile(0.5),
           samples.Quantile(0.95), samples.Max(), samples.Count());
}

void PrintThreads(const proc_sample_t& start, const proc_sample_t& end, double seconds) {
    struct usage_t {
        std::string name;
        int tid;
        double percent;
    };
    std::vector<usage_t> usages;
    const double ticks_per_s = static_cast<double>(ClockTicksPerSecond());
    for (const auto& thread : end.threads) {
        const auto before = start.threads.find(thread.first);
        const uint64_t from = before == start.threads.end() ? 0 : before->second.ticks;
        usages.push_back({thread.second.name, thread.first,
                          100.0 * static_cast<double>(thread.second.ticks - from) / ticks_per_s / seconds});
    }
    std::sort(usages.begin(), usages.end(),
              [](const usage_t& a, const usage_t& b) { return a.percent > b.percent; });
    printf("  busiest threads (%% of one core):");
    int shown = 0;
    for (const usage_t& usage : usages) {
        if (shown++ == 12 || usage.percent < 0.5)
            break;
        printf(" %s/%d %.1f%%;", usage.name.c_str(), usage.tid, usage.percent);
    }
    printf(" (%zu threads)\n", end.threads.size());
}

bool StopServer(int pid) {
    if (kill(pid, SIGTERM) != 0)
        return !SampleProcess(pid).alive;
    for (int i = 0; i < 300; ++i) {
        if (!SampleProcess(pid).alive)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

int RunMeasurement(int argc, char** argv) {
    run_options_t options;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--keep-server") {
            options.stop_server = false;
            continue;
        }
        std::string value;
        if (!NextValue(argc, argv, &i, &value)) {
            PrintUsage();
            return 2;
        }
        if (option == "--site")
            options.site = value;
        else if (option == "--server-pid")
            options.server_pid = std::atoi(value.c_str());
        else if (option == "--duration")
            options.duration_s = std::atof(value.c_str());
        else if (option == "--warmup")
            options.warmup_all = value != "first";
        else if (option == "--warmup-timeout")
            options.warmup_timeout_s = std::atof(value.c_str());
        else {
            PrintUsage();
            return 2;
        }
    }
    if (options.site.empty() || options.server_pid <= 0) {
        PrintUsage();
        return 2;
    }

    sim_site_t site;
    Settings settings;
    std::string error;
    if (!LoadSimSite(options.site, "", &site, &settings, &error)) {
        printf("vorav-capacity: %s\n", error.c_str());
        return 1;
    }
    const NetworkSocketSettings external = FlatSettingsInterface(&settings).GetOutputSocketSettings();
    std::set<uint32_t> static_tags;
    std::vector<uint32_t> tags;
    int anchors = 0;
    for (const sim_device_t& device : site.devices) {
        if (device.role == SimRole::kTag && device.enabled) {
            tags.push_back(device.serial_number);
            if (device.motion.kind == SimMotionKind::kStatic)
                static_tags.insert(device.serial_number);
        } else if (device.role == SimRole::kAnchor && device.enabled) {
            anchors++;
        }
    }

    ExternalStreamListener listener;
    if (!listener.Start(external.GetAddress(), external.GetPort(), &error)) {
        printf("vorav-capacity: %s\n", error.c_str());
        return 1;
    }
    DeviceSimulator simulator(site);
    if (!simulator.Start(&error)) {
        printf("vorav-capacity: %s\n", error.c_str());
        return 1;
    }
    printf("vorav-capacity: simulating %zu tags and %d anchors for server %d; External stream %s:%u\n",
           tags.size(), anchors, options.server_pid, external.GetAddress().c_str(), external.GetPort());
    fflush(stdout);

    CapacityAnalysis analysis(anchors, static_tags);
    const auto harvest = [&] {
        // Observations first: their transmissions and syncs are recorded before they can arrive.
        const std::vector<capacity_observation_t> observations = listener.Take();
        analysis.AddTruth(simulator.TakeTruth());
        analysis.AddSyncStamps(simulator.TakeSyncStamps());
        analysis.AddObservations(observations);
    };
    const auto admitted = [&] {
        size_t count = 0;
        for (uint32_t tag : tags) {
            const sim_device_status_t status = simulator.GetStatus(tag);
            count += status.addressed && status.transmitting ? 1 : 0;
        }
        return count;
    };
    const auto dropped_bytes = [&] {
        uint64_t total = 0;
        for (const sim_device_t& device : site.devices)
            total += simulator.GetStatus(device.serial_number).bytes_dropped;
        return total;
    };

    // Warm-up: the network comes up and the tags are admitted one per sync.
    const int64_t begin_ns = SimMonotonicNs();
    int64_t next_progress = begin_ns + 5 * kNsPerS;
    bool server_alive = true;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        harvest();
        const int64_t now = SimMonotonicNs();
        server_alive = SampleProcess(options.server_pid).alive;
        const bool ready = options.warmup_all ? analysis.TagsPositioned() >= tags.size()
                                              : analysis.FreshPositionsTotal() > 0;
        if (ready || !server_alive || Seconds(now - begin_ns) > options.warmup_timeout_s)
            break;
        if (now >= next_progress) {
            next_progress += 5 * kNsPerS;
            printf("vorav-capacity: warming up, %.0f s: %zu tags admitted, %zu positioned\n",
                   Seconds(now - begin_ns), admitted(), analysis.TagsPositioned());
            fflush(stdout);
        }
    }
    const double warmup_s = Seconds(SimMonotonicNs() - begin_ns);
    printf("vorav-capacity: warm-up took %.1f s: %zu of %zu tags admitted, %zu positioned\n", warmup_s,
           admitted(), tags.size(), analysis.TagsPositioned());
    fflush(stdout);

    // The measuring window.
    const proc_sample_t first = SampleProcess(options.server_pid);
    const uint64_t dropped_before = dropped_bytes();
    const int64_t start_ns = SimMonotonicNs();
    analysis.StartWindow(start_ns);
    std::vector<std::pair<double, uint64_t>> rss_samples{{0.0, first.rss_kb}};
    int64_t next_sample = start_ns + 10 * kNsPerS;
    while (server_alive && SimMonotonicNs() - start_ns < static_cast<int64_t>(options.duration_s * kNsPerS)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        harvest();
        const int64_t now = SimMonotonicNs();
        const proc_sample_t sample = SampleProcess(options.server_pid);
        server_alive = sample.alive;
        if (now >= next_sample && server_alive) {
            next_sample += 10 * kNsPerS;
            rss_samples.emplace_back(Seconds(now - start_ns), sample.rss_kb);
            const capacity_figures_t so_far = analysis.Figures(now);
            printf(
                "vorav-capacity: %5.0f s: %.0f reports/s, %.0f positions/s, RSS %.1f MB, CPU %.0f%% of a "
                "core\n",
                so_far.duration_s, so_far.reports / so_far.duration_s,
                so_far.fresh_positions / so_far.duration_s, sample.rss_kb / 1024.0,
                100.0 * static_cast<double>(sample.ticks - first.ticks) / ClockTicksPerSecond() /
                    Seconds(now - first.at_ns));
            fflush(stdout);
        }
    }
    harvest();
    const int64_t end_ns = SimMonotonicNs();
    const proc_sample_t last = SampleProcess(options.server_pid);
    capacity_figures_t figures = analysis.Figures(end_ns);
    const uint64_t dropped = dropped_bytes() - dropped_before;

    bool stopped = true;
    if (options.stop_server && server_alive)
        stopped = StopServer(options.server_pid);
    simulator.Stop();
    listener.Stop();

    const double seconds = figures.duration_s > 0 ? figures.duration_s : 1.0;
    const double cpu_s = static_cast<double>(last.ticks - first.ticks) / ClockTicksPerSecond();
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    printf(
        "\n== Capacity: %zu tags at %.1f Hz, %d wired anchors; %.1f s measured after %.1f s of warm-up ==\n",
        tags.size(), FlatSettingsInterface(&settings).GetSyncRate(), anchors, figures.duration_s, warmup_s);
    if (!server_alive)
        printf("  THE SERVER ENDED DURING THE RUN\n");
    printf("  transmissions (admitted tags)                %.0f /s\n",
           figures.transmissions / (seconds - 1.0));
    printf("  reports (position packets)                   %.0f /s  (solved %.0f /s)\n",
           figures.reports / seconds, figures.solved_reports / seconds);
    printf("  positions (new, matched to a transmission)   %.0f /s\n", figures.fresh_positions / seconds);
    printf("  transmissions that got their position        %.3f %%  (%llu of %llu)\n",
           figures.transmissions ? 100.0 * figures.transmissions_positioned / figures.transmissions : 0.0,
           static_cast<unsigned long long>(figures.transmissions_positioned),
           static_cast<unsigned long long>(figures.transmissions));
    printf(
        "  responses used per report                    mean %.2f of %d; %llu reports short, %llu responses "
        "removed by the checks\n",
        figures.used_anchors.Mean(), anchors, static_cast<unsigned long long>(figures.short_reports),
        static_cast<unsigned long long>(figures.removed_responses));
    printf("  packets repeating an earlier position        %llu\n",
           static_cast<unsigned long long>(figures.unmatched_packets));
    PrintLatency("latency, last datagram needed -> position", figures.latency_complete_ms);
    PrintLatency("latency, transmission forwarded -> position", figures.latency_transmission_ms);
    PrintError("error 3-D, moving tags (smoothed)", figures.error_moving_m);
    PrintError("error 2-D, moving tags (smoothed)", figures.error_moving_xy_m);
    PrintError("error 3-D, standing tags", figures.error_static_m);
    PrintError("error 2-D, standing tags", figures.error_static_xy_m);
    printf("  server CPU                                   %.1f %% of one core (%.1f %% of %ld cores)\n",
           100.0 * cpu_s / seconds, 100.0 * cpu_s / seconds / static_cast<double>(cores), cores);
    PrintThreads(first, last, seconds);
    printf("  server resident memory                       start %.1f MB, end %.1f MB; samples:",
           first.rss_kb / 1024.0, last.rss_kb / 1024.0);
    for (const auto& sample : rss_samples)
        printf(" %.0fs=%.1f", sample.first, sample.second / 1024.0);
    printf("\n");
    printf(
        "  UDP receive errors (namespace)               %llu (buffer full %llu); device bytes not taken "
        "%llu\n",
        static_cast<unsigned long long>(last.udp_in_errors - first.udp_in_errors),
        static_cast<unsigned long long>(last.udp_receive_buffer_errors - first.udp_receive_buffer_errors),
        static_cast<unsigned long long>(dropped));
    printf("  UDP sockets that dropped datagrams           ");
    bool any_drops = false;
    for (const auto& socket : last.socket_drops) {
        const auto before = first.socket_drops.find(socket.first);
        const uint64_t from = before == first.socket_drops.end() ? 0 : before->second.second;
        if (socket.second.second > from) {
            printf(" %s %llu;", socket.second.first.c_str(),
                   static_cast<unsigned long long>(socket.second.second - from));
            any_drops = true;
        }
    }
    printf("%s\n", any_drops ? "" : " none");
    printf("  server stopped cleanly on request            %s\n",
           !options.stop_server ? "not asked" : (stopped ? "yes" : "NO"));
    fflush(stdout);
    if (!server_alive)
        return 3;
    return figures.fresh_positions > 0 ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "site")
        return RunSite(argc, argv);
    if (command == "run")
        return RunMeasurement(argc, argv);
    PrintUsage();
    return command == "--help" ? 0 : 2;
}
