#include "protocol/vex/vex_meta_types.h"

#include <QMetaType>
#include <QNetworkInterface>
#include <cstdint>

#include "protocol/vex/vex_data_types.h"

void RegisterVexMetaTypes() {
    qRegisterMetaType<uint16_t>("uint16_t");
    qRegisterMetaType<const uint8_t*>("const uint8_t*");
    qRegisterMetaType<QNetworkInterface>("QNetworkInterface");
    qRegisterMetaType<vex_data_position_t>("vex_data_position_t");
}
