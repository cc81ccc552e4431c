#include "protocol/vex/vex_meta_types.h"

#include <QMetaType>
#include <QNetworkInterface>
#include <cstdint>

void RegisterVexMetaTypes() {
    qRegisterMetaType<uint16_t>("uint16_t");
    qRegisterMetaType<const uint8_t*>("const uint8_t*");
    qRegisterMetaType<QNetworkInterface>("QNetworkInterface");
}
