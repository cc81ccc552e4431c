#include "config/config_json_reading.h"

#include <cmath>

namespace config_json {

int32_t ReadInt(const QJsonValue& value, int32_t default_value) {
    if (!value.isDouble())
        return default_value;
    const double number = value.toDouble();
    // The range test comes first so that the conversion below is always defined;
    // NaN fails both comparisons.
    if (!(number >= -2147483648.0 && number <= 2147483647.0))
        return default_value;
    if (std::trunc(number) != number)
        return default_value;
    return static_cast<int32_t>(number);
}

double ReadDouble(const QJsonValue& value, double default_value) {
    return value.isDouble() ? value.toDouble() : default_value;
}

bool ReadBool(const QJsonValue& value, bool default_value) {
    return value.isBool() ? value.toBool() : default_value;
}

std::string ReadString(const QJsonValue& value, const std::string& default_value) {
    if (!value.isString())
        return default_value;
    return value.toString().toUtf8().toStdString();
}

QString ReadQString(const QJsonValue& value, const QString& default_value) {
    return value.isString() ? value.toString() : default_value;
}

QJsonObject ReadObject(const QJsonValue& value) {
    return value.toObject();
}

QJsonArray ReadArray(const QJsonValue& value) {
    return value.toArray();
}

}  // namespace config_json
