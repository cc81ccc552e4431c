#pragma once
// The version dispatch of the configuration upgrade and the step from the version-2
// layout to the current one.

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include "config/config_version_updater.h"

class ConfigVersionTwoUpdater : public ConfigVersionUpdater {
  public:
    // Versions 0 and 1 go through the version-1 step first; versions 0 to 2 then
    // get the current "host" and "network" sections; anything else comes back as it is.
    QJsonObject UpdateConfiguration(QJsonObject config) override;

    QJsonObject UpdateHostSection(QJsonObject host, QJsonObject network);
    QJsonObject UpdateNetworkSection(QJsonObject network);
    // Drops "twr_master" and adds "enabled" true where the node has none.
    void UpdateNodeConfiguration(QJsonObject& node);

    // The leading decimal number of a text such as "20 Hz"; 0.0 when the text does
    // not begin with one.
    static double ParseLeadingNumber(const QString& text);

  private:
    static QJsonObject SocketSection(const QJsonObject& multicast, const QString& prefix);
    QJsonArray UpdateNodeList(const QJsonValue& list, bool is_anchor_list);
};
