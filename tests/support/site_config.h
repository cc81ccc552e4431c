#pragma once
// The repository's default.cfg (a simulated room: a master, four anchors and
// tags) as a file of the test's own, with its Vuv streams moved to this
// process's multicast group and a port of the test's range.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <string>

#include "support/loopback_streams.h"

// Writes the file into `directory` and returns its path ("" on failure).
// `edit`, when given, changes the text further before it is written.
inline std::string WriteSiteConfig(const QTemporaryDir& directory, uint16_t port,
                                   const std::function<void(QByteArray&)>& edit = nullptr) {
    QFile source(VORAV_SOURCE_DIR "/default.cfg");
    if (!source.open(QIODevice::ReadOnly))
        return std::string();
    QByteArray text = source.readAll();
    text.replace("239.255.76.67", ProcessMulticastGroup().toUtf8());
    text.replace("\"port\": 7667", "\"port\": " + QByteArray::number(port));
    if (edit)
        edit(text);
    const QString path = directory.filePath("site.cfg");
    QFile config(path);
    if (!config.open(QIODevice::WriteOnly) || config.write(text) != text.size())
        return std::string();
    return path.toStdString();
}
