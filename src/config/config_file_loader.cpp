#include "config/config_file_loader.h"

#include <QFile>
#include <QJsonParseError>
#include <QJsonValue>
#include <algorithm>
#include <cstdio>

#include "base/serial_number.h"

static const char* const server_uid_path_default_ = "/etc/vorav/server_uid";
static const qint64 maximum_file_size_ = 16 * 1024 * 1024;

ConfigFileLoader* ConfigFileLoader::Instance() {
    static ConfigFileLoader* const instance = new ConfigFileLoader(server_uid_path_default_);
    return instance;
}

ConfigFileLoader::ConfigFileLoader(const std::string& server_uid_path) : server_uid_path_(server_uid_path) {
    LoadServerUid();
}

void ConfigFileLoader::LoadServerUid() {
    // A missing or unreadable file leaves the text empty, hence uid 0; nothing is printed.
    bool ok = false;
    server_uid_ = SerialNumber_Create(ReadEntireFile(server_uid_path_, &ok));
}

QJsonObject ConfigFileLoader::LoadJsonConfigFromFile(std::string path, bool* ok) {
    bool local_ok = false;
    if (ok == nullptr)
        ok = &local_ok;
    const std::string text = ReadEntireFile(path, ok);
    if (!*ok) {
        printf("Unable to open configuration file %s\n", path.c_str());
        fflush(stdout);
        return QJsonObject();
    }
    const QJsonDocument doc = ParseJsonConfigFile(text, ok);
    if (!*ok)
        return QJsonObject();
    return LoadMyConfig(doc, ok);
}

std::string ConfigFileLoader::ReadEntireFile(std::string path, bool* ok) {
    *ok = false;
    // The system would open the name only up to a zero byte, which is another file.
    if (path.find('\0') != std::string::npos)
        return std::string();
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::string();
    // Read up to one byte past the limit, so that a larger file (or an endless one such
    // as a device) is recognised without reading it whole; size() is 0 for those.
    std::string text;
    char buffer[65536];
    for (;;) {
        const qint64 got = file.read(buffer, sizeof(buffer));
        if (got < 0)
            return std::string();
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
        if (static_cast<qint64>(text.size()) > maximum_file_size_)
            return std::string();
    }
    *ok = true;
    return text;
}

QJsonDocument ConfigFileLoader::ParseJsonConfigFile(std::string text, bool* ok) {
    // The text ends at its first zero byte.
    const QByteArray bytes(text.c_str());
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError) {
        *ok = true;
        return doc;
    }
    const int offset = std::max(0, std::min(error.offset, bytes.size()));
    int line = 1;
    int line_start = 0;
    for (int i = 0; i < offset; ++i) {
        if (bytes[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    }
    printf("%s error at line %d column %d when parsing config file\n",
           error.errorString().toUtf8().constData(), line, offset - line_start);
    fflush(stdout);
    *ok = false;
    return QJsonDocument();
}

QJsonObject ConfigFileLoader::LoadMyConfig(QJsonDocument doc, bool* ok) {
    QJsonObject selected;
    QJsonArray others;
    // An array without an entry for this server still loads; the validator then refuses
    // the empty object.
    *ok = true;
    if (doc.isArray()) {
        for (const QJsonValue& entry : doc.array()) {
            if (!entry.isObject())
                continue;
            const QJsonObject object = entry.toObject();
            if (SerialNumber_Create(object.value("server uid")) == server_uid_) {
                selected = object;
            } else {
                others.append(object);
            }
        }
    } else {
        selected = doc.object();
    }
    LoadOtherConfigs(selected, others);
    return selected;
}

void ConfigFileLoader::LoadOtherConfigs(QJsonObject& mine, QJsonArray& others) {
    QJsonArray known_networks;
    for (const QJsonValue& entry : others) {
        if (!entry.isObject())
            continue;
        const QJsonObject object = entry.toObject();
        const QJsonObject network = object.value("network").toObject();
        const QJsonArray rf_settings = network.value("rf settings").toArray();
        QJsonArray nodes;
        for (const char* list : {"tags", "anchors", "masters"}) {
            for (const QJsonValue& node : network.value(list).toArray())
                nodes.append(node);
        }
        if (rf_settings.isEmpty() || nodes.isEmpty())
            continue;
        QJsonObject known;
        // An absent "server uid" stays absent: inserting an undefined value adds no key.
        known.insert("server uid", object.value("server uid"));
        known.insert("nodes", nodes);
        known.insert("rf settings", rf_settings);
        known_networks.append(known);
    }
    if (!known_networks.isEmpty())
        mine.insert("known networks", known_networks);
}
