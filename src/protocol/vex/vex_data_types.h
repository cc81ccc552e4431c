#pragma once
// Payload records of every Vuv item type, their type numbers and the helpers
// that put them into packets and read them back. Every payload is a packed
// little-endian record: on a little-endian host the record's bytes are its
// wire form, so the helpers copy whole records and no caller packs bytes.

#include <QJsonObject>
#include <QMetaType>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/packets/signal_strength.h"
#include "protocol/packets/sync_packet.h"
#include "protocol/vex/vex_data_item.h"
#include "protocol/vex/vex_packet.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "Vuv payload records are copied as bytes and need a little-endian host");

// Item types. Types below 0x8000 travel on the External stream, the others on
// the Internal stream, except the solver diagnostics 0x8007 and 0x8008, which
// ride in a tag's position packet on the External stream.
namespace VexType {
constexpr uint16_t kMpu9250Magnetometer = 0x0003;
constexpr uint16_t kLps25hPressure = 0x0005;
constexpr uint16_t kLps25hTemperature = 0x0006;
constexpr uint16_t kMpu9250Accelerometer = 0x0008;
constexpr uint16_t kMpu9250Gyroscope = 0x0009;
constexpr uint16_t kMpu9250Quaternion = 0x000A;
constexpr uint16_t kPosition = 0x0100;
constexpr uint16_t kDistance = 0x0101;
constexpr uint16_t kInfrastructure = 0x0102;
constexpr uint16_t kAnchorStatus = 0x0103;
constexpr uint16_t kTimeReservation = 0x0104;
constexpr uint16_t kTick = 0x8000;
constexpr uint16_t kTimedRx = 0x8001;
constexpr uint16_t kPing = 0x8002;
constexpr uint16_t kDiscovery = 0x8003;
constexpr uint16_t kSspResponse = 0x8004;
constexpr uint16_t kSmoothingFactor = 0x8005;
constexpr uint16_t kConfig = 0x8006;
constexpr uint16_t kToaSolution = 0x8007;
constexpr uint16_t kToaAnchor = 0x8008;

constexpr bool IsInternalStreamType(uint16_t type) {
    return type >= 0x8000 && type != kToaSolution && type != kToaAnchor;
}
}  // namespace VexType

// Values of vex_data_infrastructure_t::kind.
constexpr uint8_t kVexInfrastructureMaster = 1;
constexpr uint8_t kVexInfrastructureAnchor = 2;

// Values of vex_data_anchor_status_t::status.
constexpr uint8_t kVexAnchorStatusUsed = 0;

// Values of vex_data_time_reservation_t::outcome.
constexpr uint8_t kVexAdmissionWiredAnchor = 0;
constexpr uint8_t kVexAdmissionWirelessAnchor = 1;
constexpr uint8_t kVexAdmissionTag = 2;
constexpr uint8_t kVexAdmissionNodeDisabled = 3;
constexpr uint8_t kVexAdmissionUnknownSerialNumber = 4;
constexpr uint8_t kVexAdmissionNoFreeTimeSlot = 5;
constexpr uint8_t kVexAdmissionAlienNode = 6;
constexpr uint8_t kVexAdmissionNoRoomInAnchorReport = 7;

// Host ids of vex_data_smoothing_factor_t: 0 as a destination addresses every host.
constexpr uint16_t kVexHostIdUserInterface = 0;
constexpr uint16_t kVexHostIdLocationEngine = 1;
constexpr uint16_t kVexHostIdEveryHost = 0;

// Values of vex_data_timed_rx_t::packet_type.
constexpr uint8_t kVexRxPacketSync = 16;
constexpr uint8_t kVexRxPacketAnchorReport = 19;

// 40-bit device times travel in 64-bit fields whose upper 24 bits are zero;
// network times are 32-bit; positions are signed 32-bit millimetres.
#pragma pack(push, 1)

// Raw three-axis samples of a tag's sensor; packet serial number: the tag's.
struct vex_data_mpu9250_magnetometer_t {
    int16_t x;
    int16_t y;
    int16_t z;
    uint32_t sample_time;
};

struct vex_data_mpu9250_accelerometer_t {
    int16_t x;
    int16_t y;
    int16_t z;
    uint32_t sample_time;
    uint8_t full_scale;  // g
    uint16_t bandwidth;  // Hz
};

struct vex_data_mpu9250_gyroscope_t {
    int16_t x;
    int16_t y;
    int16_t z;
    uint32_t sample_time;
    uint16_t full_scale;  // degrees per second
    uint8_t bandwidth;    // Hz
};

struct vex_data_lps25h_pressure_t {
    uint32_t pressure;
    uint32_t sample_time;
};

struct vex_data_lps25h_temperature_t {
    int16_t temperature;  // the raw reading, bit for bit
    uint32_t sample_time;
};

// Components in the tag's order, 2^30 standing for 1.0.
struct vex_data_mpu9250_quaternion_t {
    int32_t components[4];
    uint32_t sample_time;
};

// Packet serial number: the tag's.
struct vex_data_position_t {
    int32_t x;
    int32_t y;
    int32_t z;
    int32_t error;             // mean absolute per-anchor correction, mm
    uint16_t smoothing_count;  // earlier positions averaged into this one
    uint16_t sequence;         // of the time-of-arrival report
    uint32_t network_time;
};

// The two-way-ranging window's own item; no part of the server reads it, so
// its bytes are carried as they come.
struct vex_data_distance_t {
    uint8_t data[18];
};

// One infrastructure node; packet serial number 0.
struct vex_data_infrastructure_t {
    uint8_t kind;
    uint32_t serial_number;
    int32_t x;
    int32_t y;
    int32_t z;
};

struct vex_data_anchor_status_t {
    uint32_t anchor_serial_number;
    uint8_t status;  // 0 used, 1 to 3 removed by one of the sanity checks
};

struct vex_data_time_reservation_t {
    uint32_t serial_number;
    uint8_t outcome;
};

// The master's sync, re-packed from its sync packet with the values of the
// packet's fields (those the server only passes on are named by their wire
// offsets, as in packet_sync_t).
struct vex_data_tick_t {
    uint8_t sequence;        // sync packet byte 1
    uint32_t serial_number;  // of the link's device
    uint16_t network_id;     // wire bytes 2-3
    uint32_t network_time;   // wire bytes 4-7
    uint8_t byte_8;
    uint32_t field_9;  // wire bytes 9-12
    uint8_t byte_13;
    uint8_t byte_14;
    uint8_t byte_24;
    uint32_t field_15;       // wire bytes 15-18, added to network_time for the command schedule
    uint64_t transmit_time;  // wire bytes 19-23
};

// A timed reception by an anchor; packet serial number: the reporting device's.
struct vex_data_timed_rx_t {
    uint8_t sequence;
    uint32_t serial_number;  // of the transmitter
    uint16_t network_id;     // of the transmitter
    uint8_t packet_type;
    uint64_t tx_time;
    uint64_t rx_time;
    signal_strength_t signal_strength;
};

// Fixed part of a ping; the tag's user data follows it in the payload.
struct vex_data_ping_t {
    uint8_t sequence;
    uint32_t serial_number;  // of the tag
    uint16_t network_id;     // of the tag
    uint8_t report_byte_4;
    uint64_t rx_time;
    signal_strength_t signal_strength;
};

struct vex_data_discovery_t {
    uint32_t serial_number;  // of the announcing device
    uint64_t rx_time;
    signal_strength_t signal_strength;
};

struct vex_data_ssp_response_t {
    uint8_t command_id;
};

struct vex_data_smoothing_factor_t {
    uint16_t source_host_id;
    uint16_t destination_host_id;
    uint32_t smoothing_factor;
};

// Head of the configuration item: the length of the binary JSON that
// follows, big-endian as QDataStream writes a byte array. Read and written
// only through VexDataConfig_Encode and VexDataConfig_Read.
struct vex_data_config_t {
    uint8_t serialised_length[4];
};

struct vex_data_toa_solution_t {
    int32_t start_x;
    int32_t start_y;
    int32_t start_z;
    uint16_t iteration_count;  // 101 when the iteration limit was reached
};

struct vex_data_toa_anchor_t {
    uint32_t anchor_serial_number;
    uint64_t time_of_arrival;  // device ticks
    int32_t weight;            // times 1,000,000
    int32_t correction;        // mm
};

#pragma pack(pop)

static_assert(sizeof(vex_data_mpu9250_magnetometer_t) == 10, "0x0003 payload");
static_assert(sizeof(vex_data_lps25h_pressure_t) == 8, "0x0005 payload");
static_assert(sizeof(vex_data_lps25h_temperature_t) == 6, "0x0006 payload");
static_assert(sizeof(vex_data_mpu9250_accelerometer_t) == 13, "0x0008 payload");
static_assert(sizeof(vex_data_mpu9250_gyroscope_t) == 13, "0x0009 payload");
static_assert(sizeof(vex_data_mpu9250_quaternion_t) == 20, "0x000A payload");
static_assert(sizeof(vex_data_position_t) == 24, "0x0100 payload");
static_assert(sizeof(vex_data_distance_t) == 18, "0x0101 payload");
static_assert(sizeof(vex_data_infrastructure_t) == 17, "0x0102 payload");
static_assert(sizeof(vex_data_anchor_status_t) == 5, "0x0103 payload");
static_assert(sizeof(vex_data_time_reservation_t) == 5, "0x0104 payload");
static_assert(sizeof(vex_data_tick_t) == 31, "0x8000 payload");
static_assert(sizeof(vex_data_timed_rx_t) == 36, "0x8001 payload");
static_assert(sizeof(vex_data_ping_t) == 28, "0x8002 payload without user data");
static_assert(sizeof(vex_data_discovery_t) == 24, "0x8003 payload");
static_assert(sizeof(vex_data_ssp_response_t) == 1, "0x8004 payload");
static_assert(sizeof(vex_data_smoothing_factor_t) == 8, "0x8005 payload");
static_assert(sizeof(vex_data_config_t) == 4, "0x8006 payload head");
static_assert(sizeof(vex_data_toa_solution_t) == 14, "0x8007 payload");
static_assert(sizeof(vex_data_toa_anchor_t) == 20, "0x8008 payload");
static_assert(offsetof(vex_data_tick_t, transmit_time) == 23, "0x8000 device time at 23");
static_assert(offsetof(vex_data_timed_rx_t, signal_strength) == 24, "0x8001 signal strength at 24");
static_assert(offsetof(vex_data_mpu9250_gyroscope_t, bandwidth) == 12, "0x0009 bandwidth at 12");
static_assert(offsetof(vex_data_mpu9250_accelerometer_t, bandwidth) == 11, "0x0008 bandwidth at 11");

// Positions travel through queued signals under the name "vex_data_position_t"
// (registered by RegisterVexMetaTypes).
Q_DECLARE_METATYPE(vex_data_position_t)

// The item type of each fixed-size record.
template <typename Record>
struct VexDataTraits;

#define VORAV_VEX_DATA_TYPE(record, type_value)                \
    template <>                                                \
    struct VexDataTraits<record> {                             \
        static constexpr uint16_t kType = VexType::type_value; \
    }

VORAV_VEX_DATA_TYPE(vex_data_mpu9250_magnetometer_t, kMpu9250Magnetometer);
VORAV_VEX_DATA_TYPE(vex_data_lps25h_pressure_t, kLps25hPressure);
VORAV_VEX_DATA_TYPE(vex_data_lps25h_temperature_t, kLps25hTemperature);
VORAV_VEX_DATA_TYPE(vex_data_mpu9250_accelerometer_t, kMpu9250Accelerometer);
VORAV_VEX_DATA_TYPE(vex_data_mpu9250_gyroscope_t, kMpu9250Gyroscope);
VORAV_VEX_DATA_TYPE(vex_data_mpu9250_quaternion_t, kMpu9250Quaternion);
VORAV_VEX_DATA_TYPE(vex_data_position_t, kPosition);
VORAV_VEX_DATA_TYPE(vex_data_distance_t, kDistance);
VORAV_VEX_DATA_TYPE(vex_data_infrastructure_t, kInfrastructure);
VORAV_VEX_DATA_TYPE(vex_data_anchor_status_t, kAnchorStatus);
VORAV_VEX_DATA_TYPE(vex_data_time_reservation_t, kTimeReservation);
VORAV_VEX_DATA_TYPE(vex_data_tick_t, kTick);
VORAV_VEX_DATA_TYPE(vex_data_timed_rx_t, kTimedRx);
VORAV_VEX_DATA_TYPE(vex_data_discovery_t, kDiscovery);
VORAV_VEX_DATA_TYPE(vex_data_ssp_response_t, kSspResponse);
VORAV_VEX_DATA_TYPE(vex_data_smoothing_factor_t, kSmoothingFactor);
VORAV_VEX_DATA_TYPE(vex_data_toa_solution_t, kToaSolution);
VORAV_VEX_DATA_TYPE(vex_data_toa_anchor_t, kToaAnchor);

#undef VORAV_VEX_DATA_TYPE

// Appends the record as one item of its type; false when the packet refuses it
// (it would pass the 65535-byte limit).
template <typename Record>
bool VexData_Add(VexPacket& packet, const Record& record) {
    return packet.AddDataItem(VexDataTraits<Record>::kType, static_cast<uint16_t>(sizeof(Record)), &record);
}

// Reads an item of the record's type whose payload is exactly the record;
// false (record untouched) for any other type or size.
template <typename Record>
bool VexData_Read(const VexDataItem& item, Record* record) {
    if (item.GetType() != VexDataTraits<Record>::kType || item.GetDataSize() != sizeof(Record)) {
        return false;
    }
    std::memcpy(record, item.GetData(), sizeof(Record));
    return true;
}

// The tick item of a sync that the link's device (serial_number) reported.
vex_data_tick_t VexDataTick_FromSyncPacket(const packet_sync_t& sync, uint32_t serial_number);

// A ping is its fixed part followed by the tag's user data (possibly none).
bool VexDataPing_Add(VexPacket& packet, const vex_data_ping_t& ping, const uint8_t* user_data,
                     uint16_t user_data_size);
// On success `user_data` points into the item (null when there is none).
bool VexDataPing_Read(const VexDataItem& item, vex_data_ping_t* ping, const uint8_t** user_data,
                      uint16_t* user_data_size);

// The configuration item holds the JSON object in Qt's binary JSON form,
// serialised by QDataStream as a byte array (32-bit big-endian length, then
// the bytes). Its payload size is 16-bit, so a configuration whose payload
// would pass 65535 bytes is refused (false, payload left empty) rather than
// cut short.
bool VexDataConfig_Encode(const QJsonObject& config, QByteArray* payload);
bool VexDataConfig_Add(VexPacket& packet, const QJsonObject& config);
// False for a payload that is not one whole serialised binary JSON object.
bool VexDataConfig_Read(const VexDataItem& item, QJsonObject* config);

// Metres to signed 32-bit millimetres, truncated toward zero; values beyond
// the 32-bit range saturate and NaN gives 0.
int32_t VexData_MetresToMillimetres(double metres);
// The same rounded to the nearest millimetre (metres + 0.0005).
int32_t VexData_MetresToMillimetresRounded(double metres);

// Sensor full scale and low-pass bandwidth from the tag sensor configuration
// codes. The device keeps only the low two bits of a scale code, so larger
// codes give the full scale the device actually runs with.
uint8_t VexData_AccelerometerFullScale(uint32_t scale_code);
uint16_t VexData_GyroscopeFullScale(uint32_t scale_code);
uint16_t VexData_AccelerometerBandwidth(uint32_t low_pass_code);
uint8_t VexData_GyroscopeBandwidth(uint32_t low_pass_code);

// Network time of a sensor sample from its 16-bit partial time and the
// network time `now` of the tag transmission: now with its low 24 bits
// cleared, plus partial * 256, moved 2^24 back when that lies ahead of now.
uint32_t VexData_SensorSampleTime(uint16_t partial_time, uint32_t now);
