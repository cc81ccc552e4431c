// vorav-position-report: listens to the server's External stream and to the
// device simulator's truth stream, and prints per tag how many positions the
// server published and how far they lie from the truth.
#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/network_socket_settings.h"
#include "base/serial_number.h"
#include "config/config_file_loader.h"
#include "config/config_read.h"
#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "position_report/position_report.h"
#include "protocol/vex/vex_connection.h"
#include "protocol/vex/vex_data_types.h"

namespace {

std::atomic<bool> stop_requested_(false);

void RequestStop(int) {
    stop_requested_.store(true);
}

void PrintUsage() {
    printf(
        "Usage: vorav-position-report [options]\n"
        "  --config FILE       the server's configuration: its External stream is listened to\n"
        "                      (default default.cfg)\n"
        "  --truth-group ADDR  the simulator's truth stream group (default 239.255.76.67)\n"
        "  --truth-port PORT   its port (default 7668)\n"
        "  --skip N            positions of each tag left out of the errors at first (default 20)\n"
        "  --duration SECONDS  stop after this long (default: until SIGINT or SIGTERM)\n"
        "  --each              print every position as it comes\n"
        "  --help              this text\n");
    fflush(stdout);
}

bool ReadPosition(const VexDataItem& item, vex_data_position_t* position) {
    if (item.GetDataSize() < sizeof(*position))
        return false;
    std::memcpy(position, item.GetData(), sizeof(*position));
    return true;
}

void PrintSummaries(const PositionReport& report, double seconds) {
    printf("\n%-11s %9s %8s %7s | %21s | %21s | %s\n", "tag", "positions", "per s", "judged", "horizontal mm",
           "3-D mm", "mean error x/y/z mm");
    printf("%-11s %9s %8s %7s | %10s %10s | %10s %10s |\n", "", "", "", "", "median", "RMS", "median", "RMS");
    for (const position_error_summary_t& tag : report.Summaries()) {
        printf("%-11s %9zu %8.1f %7zu | %10.0f %10.0f | %10.0f %10.0f | %.0f/%.0f/%.0f\n",
               SerialNumber_ToString(tag.serial_number).c_str(), tag.positions,
               seconds > 0 ? static_cast<double>(tag.positions) / seconds : 0.0, tag.matched,
               tag.horizontal_median_mm, tag.horizontal_rms_mm, tag.spatial_median_mm, tag.spatial_rms_mm,
               tag.bias_x_mm, tag.bias_y_mm, tag.bias_z_mm);
    }
    fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string config_path = "default.cfg";
    std::string truth_group = "239.255.76.67";
    long truth_port = 7668;
    long skip = 20;
    double duration_s = 0;
    bool print_each = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool has_value = i + 1 < argc;
        if (option == "--config" && has_value) {
            config_path = argv[++i];
        } else if (option == "--truth-group" && has_value) {
            truth_group = argv[++i];
        } else if (option == "--truth-port" && has_value) {
            truth_port = strtol(argv[++i], nullptr, 10);
        } else if (option == "--skip" && has_value) {
            skip = strtol(argv[++i], nullptr, 10);
        } else if (option == "--each") {
            print_each = true;
        } else if (option == "--duration" && has_value) {
            duration_s = strtod(argv[++i], nullptr);
        } else {
            PrintUsage();
            return option == "--help" ? 0 : 2;
        }
    }
    if (truth_port < 1 || truth_port > 65535 || skip < 0 || !(duration_s >= 0)) {
        PrintUsage();
        return 2;
    }

    Settings settings;
    ConfigFileLoader loader("/dev/null");
    if (!ReadConfig(&loader, config_path, &settings)) {
        printf("cannot load %s as a valid configuration\n", config_path.c_str());
        return 1;
    }
    const NetworkSocketSettings external = FlatSettingsInterface(&settings).GetOutputSocketSettings();
    const NetworkSocketSettings truth(truth_group, static_cast<uint16_t>(truth_port), 1,
                                      external.GetNetworkIface());

    PositionReport report(static_cast<size_t>(skip));
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> first_position_ms(-1);
    std::atomic<qint64> last_position_ms(-1);
    VexConnection external_stream(external);
    VexConnection truth_stream(truth);
    external_stream.Subscribe(VexType::kPosition, [&](uint32_t serial, uint32_t, const VexDataItem& item) {
        vex_data_position_t position;
        if (!ReadPosition(item, &position))
            return;
        qint64 unset = -1;
        if (first_position_ms.compare_exchange_strong(unset, clock.elapsed())) {
            printf("first position (%s) after %.1f s\n", SerialNumber_ToString(serial).c_str(),
                   static_cast<double>(clock.elapsed()) / 1000.0);
            fflush(stdout);
        }
        last_position_ms.store(clock.elapsed());
        if (print_each) {
            printf("%8.3f s %s network time %10u: %7.3f %7.3f %7.3f m\n",
                   static_cast<double>(clock.elapsed()) / 1000.0, SerialNumber_ToString(serial).c_str(),
                   position.network_time, position.x / 1000.0, position.y / 1000.0, position.z / 1000.0);
            fflush(stdout);
        }
        report.AddPosition(serial, position);
    });
    truth_stream.Subscribe(VexType::kPosition, [&](uint32_t serial, uint32_t, const VexDataItem& item) {
        vex_data_position_t position;
        if (ReadPosition(item, &position))
            report.AddTruth(serial, position);
    });
    printf("listening for positions on %s:%u (%s), for the truth on %s:%u\n", external.GetAddress().c_str(),
           external.GetPort(), external.GetNetworkIface().c_str(), truth.GetAddress().c_str(),
           truth.GetPort());
    fflush(stdout);

    signal(SIGINT, RequestStop);
    signal(SIGTERM, RequestStop);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const bool time_up = duration_s > 0 && static_cast<double>(clock.elapsed()) >= duration_s * 1000.0;
        if (stop_requested_.load() || time_up)
            app.quit();
    });
    poll.start(100);
    app.exec();
    external_stream.ClearSubscriptions();
    truth_stream.ClearSubscriptions();

    // Rates over the time positions were coming, not the bring-up before or
    // the shut-down after.
    const double positions_s =
        static_cast<double>(last_position_ms.load() - first_position_ms.load()) / 1000.0;
    PrintSummaries(report, positions_s);
    printf("%zu positions in the %.1f s from the first to the last\n", report.TotalPositions(), positions_s);
    fflush(stdout);
    return 0;
}
