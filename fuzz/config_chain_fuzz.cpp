// The whole configuration loading chain on arbitrary file contents: load, upgrade,
// validate, convert into the process-wide settings, write as JSON text, and convert
// that text again. Faults besides crashes: a refused load that changes the process-wide
// settings, a written configuration that no longer parses or validates, and a second
// conversion that differs from the first beyond the documented losses of a written
// file.
#include <fcntl.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <QtGlobal>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config_file_loader.h"
#include "config/config_read.h"
#include "config/config_file_validator.h"
#include "config/config_to_settings_converter.h"
#include "config/config_updater.h"
#include "config/settings.h"
#include "config/settings_to_json_converter.h"

namespace {

void IgnoreQtMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// Refusals print a line each; standard output goes to /dev/null while the chain runs.
struct SilencedStdout {
    SilencedStdout() : saved(dup(STDOUT_FILENO)) {
        fflush(stdout);
        const int sink = open("/dev/null", O_WRONLY);
        if (saved < 0 || sink < 0 || dup2(sink, STDOUT_FILENO) < 0)
            std::abort();
        close(sink);
    }
    ~SilencedStdout() {
        fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
    }
    const int saved;
};

// Everything the settings hold, written ones and the rest, as one comparable object.
QJsonObject Fingerprint(Settings* settings) {
    QJsonObject all = SettingsToJsonConverter().ConvertSettingsToJson(settings);
    HostSettings* host = settings->GetHostSettingsReference();
    RfNetworkSettings* network = settings->GetRfNetworkSettingsReference();
    const NetworkSocketSettings config_socket = host->GetConfigSocketSettings();
    const cmd_set_rf_settings_t rf = network->GetRfSettings();
    QJsonArray aliens;
    for (const AlienNodeSettings& alien : settings->GetAlienNodeList())
        aliens.append(
            QJsonArray{static_cast<double>(alien.GetSerialNumber()), alien.GetRfSettings().channel_number});
    all.insert("unwritten", QJsonArray{settings->IsValid(),
                                       host->GetMaxTagVelocity(),
                                       host->GetVmMinStopThreshold(),
                                       host->GetVmRejectionThreshold(),
                                       host->GetUseOcclusionMitigation(),
                                       host->GetSmoothPositionGuess(),
                                       host->GetVmVectorGain(),
                                       host->GetUseRdoaSanityCheck(),
                                       host->GetSpeedOfLight(),
                                       static_cast<double>(host->GetMinimumNumberOfAnchors()),
                                       QString::fromStdString(config_socket.GetAddress()),
                                       config_socket.GetPort(),
                                       config_socket.GetTtl(),
                                       static_cast<double>(network->GetMinimumPacketDuration()),
                                       static_cast<double>(network->GetPaddingBeforeSyncPacket()),
                                       static_cast<double>(network->GetPaddingBetweenTagsAndAnchors()),
                                       network->GetAnchorPayloadDurationMultiplier(),
                                       network->GetTagPayloadDurationMultiplier(),
                                       rf.timed_flag,
                                       rf.second_preamble_code,
                                       rf.transmit_preamble_code,
                                       aliens});
    return all;
}

// A written value above the signed 32-bit range is not read back (it becomes 0).
QJsonValue AfterReadingBack(const QJsonValue& written) {
    return written.toDouble() > 2147483647.0 ? QJsonValue(0) : written;
}

void ExpectNodesReadBack(const QJsonArray& first, const QJsonArray& second) {
    if (first.size() != second.size())
        std::abort();
    for (int i = 0; i < first.size(); ++i) {
        QJsonObject expected = first.at(i).toObject();
        expected.insert("antenna delay", AfterReadingBack(expected.value("antenna delay")));
        if (expected != second.at(i).toObject())
            std::abort();
    }
}

// Bounds pass through a division and a multiplication by 1000; a bound beyond the
// double range was written as null and reads back as the default.
void ExpectBoundsReadBack(const QJsonObject& first, const QJsonObject& second) {
    for (const QString& key : first.keys()) {
        const double written = first.value(key).toDouble();
        const double read = second.value(key).toDouble();
        if (!std::isfinite(written * 1000.0))
            continue;
        if (std::fabs(read - written) > 1e-12 * std::fabs(written))
            std::abort();
    }
}

// The second conversion equals the first except for what a written file cannot carry.
void ExpectSameAfterReadingBack(QJsonObject first, QJsonObject second) {
    QJsonObject first_host = first.take("host").toObject();
    QJsonObject second_host = second.take("host").toObject();
    ExpectBoundsReadBack(first_host.take("default tag bounds").toObject(),
                         second_host.take("default tag bounds").toObject());
    first_host.insert("smoothing factor", AfterReadingBack(first_host.value("smoothing factor")));
    if (first_host != second_host)
        std::abort();

    QJsonObject first_network = first.take("network").toObject();
    QJsonObject second_network = second.take("network").toObject();
    for (const char* list : {"masters", "anchors", "tags"}) {
        ExpectNodesReadBack(first_network.take(list).toArray(), second_network.take(list).toArray());
    }
    if (first_network != second_network || first != second)
        std::abort();
}

void RunChain(ConfigFileLoader& loader, const std::string& path) {
    Settings* global = Settings::GlobalSettings();
    const QJsonObject before = Fingerprint(global);
    if (!ReadConfig(&loader, path, global)) {
        if (Fingerprint(global) != before)
            std::abort();
        return;
    }
    if (!global->IsValid())
        std::abort();

    const QJsonObject written = SettingsToJsonConverter().ConvertSettingsToJson(global);
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QJsonDocument(written).toJson(QJsonDocument::Indented), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        std::abort();
    const QJsonObject reread = ConfigUpdater::UpdateConfigurationToMostRecent(document.object());
    if (!ConfigFileValidator::IsConfigFileValid(reread, false))
        std::abort();
    Settings second;
    ConfigToSettingsConverter::ConvertConfigToSettings(&second, reread);
    ExpectSameAfterReadingBack(written, SettingsToJsonConverter().ConvertSettingsToJson(&second));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QtMessageHandler previous_handler = qInstallMessageHandler(IgnoreQtMessage);
    (void)previous_handler;
    static QTemporaryFile file;
    if (!file.isOpen() && !file.open())
        std::abort();
    if (!file.resize(0) || !file.seek(0) ||
        file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size) || !file.flush())
        std::abort();

    // Each input starts from fresh settings, so that a run does not depend on earlier ones.
    *Settings::GlobalSettings() = Settings();
    SilencedStdout silenced;
    ConfigFileLoader loader("/nonexistent/vorav/server_uid");
    // The second pass upgrades a version-1 file with the speed of light the first pass
    // may have set (0, negative, huge ...). Uid 0x01020002 picks per-server entries of
    // the seeds.
    for (uint32_t uid : {0x01020002u, 0u}) {
        loader.SetServerUid(uid);
        RunChain(loader, file.fileName().toStdString());
    }
    return 0;
}
