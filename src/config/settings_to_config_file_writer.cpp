#include "config/settings_to_config_file_writer.h"

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QString>
#include <cstdio>

#include "config/settings_to_json_converter.h"

bool SettingsToConfigFileWriter::WriteSettingsToJsonFile(Settings* settings, std::string path) {
    SettingsToJsonConverter converter;
    const QByteArray text =
        QJsonDocument(converter.ConvertSettingsToJson(settings)).toJson(QJsonDocument::Indented);

    QFile file(QString::fromStdString(path));
    bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (written) {
        written = file.write(text) == text.size();
        // A full disk shows up only when the buffered bytes reach the file.
        written = file.flush() && written;
        file.close();
        written = written && file.error() == QFileDevice::NoError;
    }
    if (!written) {
        printf("Config: unable to write configuration file %s\n", path.c_str());
        fflush(stdout);
    }
    return written;
}
