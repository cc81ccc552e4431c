// vorav-device-sim: the devices of a site, simulated, for a server running on
// this machine. See tools/simulator/README.md.
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/serial_number.h"
#include "config/settings.h"
#include "simulator/device_simulator.h"
#include "simulator/sim_site.h"

namespace {

void PrintUsage() {
    printf(
        "Usage: vorav-device-sim [options]\n"
        "  --site FILE          site file (default tools/simulator/default_site.json)\n"
        "  --config FILE        server configuration (default: the site file's \"server config\")\n"
        "  --write-config FILE  write the server configuration for the site and exit\n"
        "  --truth-csv FILE     write every tag transmission's true position to FILE\n"
        "  --truth-port PORT    publish true positions as Vuv position items on PORT\n"
        "  --noise METRES       standard deviation of every timestamp (default: the site's)\n"
        "  --seed N             seed of clocks and noise (default: the site's)\n"
        "  --duration SECONDS   stop after this long (default: until SIGINT or SIGTERM)\n"
        "  --help               this text\n");
    fflush(stdout);
}

const char* RoleName(SimRole role) {
    switch (role) {
        case SimRole::kMaster:
            return "master";
        case SimRole::kAnchor:
            return "anchor";
        case SimRole::kTag:
            return "tag";
    }
    return "?";
}

}  // namespace

int main(int argc, char** argv) {
    std::string site_path = "tools/simulator/default_site.json";
    std::string config_path;
    std::string write_config;
    std::string truth_csv;
    long truth_port = -1;
    double noise = -1.0;
    long seed = -1;
    double duration = 0.0;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool has_value = i + 1 < argc;
        if (option == "--help" || option == "-h") {
            PrintUsage();
            return 0;
        } else if (option == "--site" && has_value) {
            site_path = argv[++i];
        } else if (option == "--config" && has_value) {
            config_path = argv[++i];
        } else if (option == "--write-config" && has_value) {
            write_config = argv[++i];
        } else if (option == "--truth-csv" && has_value) {
            truth_csv = argv[++i];
        } else if (option == "--truth-port" && has_value) {
            truth_port = strtol(argv[++i], nullptr, 10);
        } else if (option == "--noise" && has_value) {
            noise = strtod(argv[++i], nullptr);
        } else if (option == "--seed" && has_value) {
            seed = strtol(argv[++i], nullptr, 10);
        } else if (option == "--duration" && has_value) {
            duration = strtod(argv[++i], nullptr);
        } else {
            printf("vorav-device-sim: unknown option %s\n", option.c_str());
            PrintUsage();
            return 2;
        }
    }

    sim_site_t site;
    Settings settings;
    std::string error;
    if (!LoadSimSite(site_path, config_path, &site, &settings, &error)) {
        printf("vorav-device-sim: %s\n", error.c_str());
        fflush(stdout);
        return 1;
    }
    if (!write_config.empty()) {
        if (!WriteServerConfigForSite(site, &settings, write_config))
            return 1;
        printf("vorav-device-sim: wrote %s\n", write_config.c_str());
        fflush(stdout);
        return 0;
    }
    if (!truth_csv.empty())
        site.truth_csv_path = truth_csv;
    if (truth_port >= 0 && truth_port <= 65535)
        site.truth_port = static_cast<uint16_t>(truth_port);
    if (noise >= 0.0)
        site.tof_noise_m = noise;
    if (seed >= 0)
        site.seed = static_cast<uint32_t>(seed);

    // SIGINT and SIGTERM are taken synchronously below; the simulator thread
    // inherits the blocked mask and never sees them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    DeviceSimulator simulator(site);
    if (!simulator.Start(&error)) {
        printf("vorav-device-sim: %s\n", error.c_str());
        fflush(stdout);
        return 1;
    }
    for (const auto& device : site.devices) {
        const sim_device_status_t status = simulator.GetStatus(device.serial_number);
        std::string attached = "over the air";
        if (device.link == SimLinkKind::kUsb)
            attached = device.usb_path + " -> " + status.port_name;
        else if (device.link == SimLinkKind::kEthernet)
            attached = status.port_name;
        printf("vorav-device-sim: %s %s at (%.3f, %.3f, %.3f), %s\n", RoleName(device.role),
               SerialNumber_ToString(device.serial_number).c_str(), device.position.GetX(),
               device.position.GetY(), device.position.GetZ(), attached.c_str());
    }
    printf("vorav-device-sim: running (timestamp noise %.3f m, seed %u)\n", site.tof_noise_m, site.seed);
    fflush(stdout);

    double next_report = 10.0;
    while (duration <= 0.0 || simulator.Now() < duration) {
        const timespec wait{0, 200 * 1000 * 1000};
        if (sigtimedwait(&stop_signals, nullptr, &wait) > 0)
            break;
        if (simulator.Now() >= next_report) {
            next_report += 10.0;
            for (const auto& device : site.devices) {
                const sim_device_status_t status = simulator.GetStatus(device.serial_number);
                printf("vorav-device-sim: %s id %u syncs %u pings %u reports %u announces %u\n",
                       SerialNumber_ToString(device.serial_number).c_str(), status.network_id,
                       status.syncs_sent, status.pings_sent, status.anchor_reports_sent,
                       status.announces_sent);
            }
            fflush(stdout);
        }
    }
    simulator.Stop();
    printf("vorav-device-sim: stopped\n");
    fflush(stdout);
    return 0;
}
