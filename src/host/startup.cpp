#include "host/startup.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaType>
#include <QNetworkInterface>
#include <QStringList>
#include <QThread>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "base/serial_number.h"
#include "config/config_file_loader.h"
#include "config/config_read.h"
#include "config/settings.h"
#include "host/devices/configuration_server.h"
#include "host/host.h"
#include "protocol/packets/ethernet_announce_packet.h"
#include "protocol/reports/derazud_command.h"
#include "protocol/reports/derazud_pos3.h"
#include "protocol/reports/derazud_pos3_rpt.h"
#include "protocol/reports/derazud_usb_anchor_rpt.h"
#include "protocol/reports/derazud_usb_tag_rpt.h"
#include "protocol/vex/vex_data_types.h"

// Constructed before main() and never deleted: the Host is moved into it by
// SetupHost(), and main() waits for it to end before it returns.
static QThread host_thread_;
// The configuration object as last read; main thread only.
static QJsonObject cfgData;

void RegisterQtMetaTypes() {
    qRegisterMetaType<derazud_usb_anchor_rpt_t>("derazud_usb_anchor_rpt_t");
    qRegisterMetaType<derazud_pos3_rpt_t>("derazud_pos3_rpt_t");
    qRegisterMetaType<derazud_pos3_t>("derazud_pos3_t");
    qRegisterMetaType<derazud_usb_tag_rpt_t>("derazud_usb_tag_rpt_t");
    qRegisterMetaType<uint32_t>("uint32_t");
    qRegisterMetaType<uint16_t>("uint16_t");
    qRegisterMetaType<derazud_command_t>("derazud_command_t");
    qRegisterMetaType<vex_data_position_t>("vex_data_position_t");
    qRegisterMetaType<QNetworkInterface>("QNetworkInterface");
    qRegisterMetaType<ethernet_announce_t>("ethernet_announce_t");
}

void RedirectQdebugToStdout(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    (void)type;
    (void)context;
    if (message == QLatin1String("QEventLoop: Cannot be used without QApplication"))
        printf("\n");
    else
        printf("%s\n", message.toUtf8().constData());
    fflush(stdout);
}

static void PrintUsage(const QString& program) {
    printf(
        "Usage:\t%s [--help|-?] [--gui-only|-g] [--host-only|-h] [--config|-c <filename>] "
        "[--time|-t <time_s>] [--server-uid|-s <uid>]\n",
        program.toLocal8Bit().constData());
    fflush(stdout);
}

static bool RefuseArguments(const char* format, const QString& first, const QString& second = QString()) {
    printf(format, first.toLocal8Bit().constData(), second.toLocal8Bit().constData());
    fflush(stdout);
    return false;
}

// The whole seconds of "--time" in milliseconds; 0 for anything that is not a
// decimal integer of at least 1 whose milliseconds fit the timer's int.
static int QuitTimeMs(const QString& value) {
    bool ok = false;
    const int seconds = value.toInt(&ok, 10);
    if (!ok || seconds < 1 || seconds > INT_MAX / 1000)
        return 0;
    return seconds * 1000;
}

bool ParseArguments(QString& configFile, bool& runHost, bool& runGui, int& quitTimeMs) {
    const QStringList arguments = QCoreApplication::arguments();
    const QString program = arguments.value(0);
    if (arguments.size() > 1 && (arguments.at(1) == "--help" || arguments.at(1) == "-?")) {
        PrintUsage(program);
        runHost = false;
        runGui = false;
        return false;
    }
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& option = arguments.at(i);
        if (option == "--host-only" || option == "-h") {
            runGui = false;
            continue;
        }
        if (option == "--gui-only" || option == "-g") {
            runHost = false;
            continue;
        }
        const bool is_config = option == "--config" || option == "-c";
        const bool is_time = option == "--time" || option == "-t";
        const bool is_uid = option == "--server-uid" || option == "-s";
        if (!is_config && !is_time && !is_uid) {
            printf("Invalid Argument: %s\n", option.toLocal8Bit().constData());
            PrintUsage(program);
            return false;
        }
        const bool has_value = i + 1 < arguments.size() && !arguments.at(i + 1).startsWith('-');
        if (!has_value) {
            if (is_config)
                return RefuseArguments("Err parsing arguments: file missing after %s\n", option);
            if (is_time)
                return RefuseArguments("Err parsing arguments: time missing after %s\n", option);
            return RefuseArguments("Err parsing arguments: server uid missing after %s\n", option);
        }
        const QString value = arguments.at(++i);
        if (is_config) {
            configFile = value;
        } else if (is_time) {
            quitTimeMs = QuitTimeMs(value);
            if (quitTimeMs == 0)
                return RefuseArguments("Err parsing arguments: invalid time value <%s> after %s\n", value,
                                       option);
        } else {
            const uint32_t uid = SerialNumber_Create(value.toStdString());
            ConfigFileLoader::Instance()->SetServerUid(uid);
            printf("Spoofing server ID of %s\n", SerialNumber_ToString(uid).c_str());
            fflush(stdout);
        }
    }
    if (runGui || runHost)
        return true;
    printf("Invalid argument pairing: must at least run either the GUI or the host\n");
    fflush(stdout);
    return false;
}

bool ReadConfig(QString fileName) {
    return ReadConfig(ConfigFileLoader::Instance(), fileName.toUtf8().toStdString(),
                      Settings::GlobalSettings(), &cfgData);
}

QJsonObject ReadConfigData() {
    return cfgData;
}

bool SetupHost() {
    Host* host = Host::Instance();
    const bool result = host->SetupHost();
    host->moveToThread(&host_thread_);
    host_thread_.start(QThread::InheritPriority);
    return result;
}

bool EndHostThreads(unsigned long bound_ms) {
    QDeadlineTimer deadline(static_cast<qint64>(bound_ms));
    host_thread_.quit();
    printf("Waiting for the host thread to finish...\n");
    fflush(stdout);
    if (!host_thread_.wait(deadline))
        return false;
    return Host::Instance()->WaitForStoppedThreads(deadline);
}
