#pragma once
// The sensor records a tag trickles through its pings, turned into the Vuv
// sensor items of the tag's output packet. A completed user-data message is a
// run of records, each led by its length byte and its sensor kind.

#include <cstdint>

#include "protocol/packets/set_mpu_config_packet.h"

class VexPacket;

// 2^30 stands for 1.0 in a quaternion component.
constexpr double kQuaternionUnit = 1073741824.0;

// Scales a quaternion back to unit length when its squared norm (in the unit
// above) lies outside [0.9999, 1.0001]; the components are then truncated
// toward zero to 32 bits (saturating). A zero quaternion, or one whose norm is
// not finite, has no direction to keep and is left as it is.
void TagSensorData_RenormaliseQuaternion(int32_t components[4]);

// Decodes the record at bytes[offset] (remaining bytes from there on), adds
// its item to `packet` and advances offset and remaining by the record's
// size. `now` is the network time of the ping that completed the message and
// widens the 16-bit sample time; the accelerometer and gyroscope items carry
// the full scale and bandwidth of `sensors`.
//
// Fails (false, nothing consumed or added) when fewer than 2 bytes remain,
// for an unknown kind (with its message), when the record's length byte is
// not its kind's size (a wrong length would throw the walk off the record
// boundaries), when fewer bytes remain than that size, and when the packet
// refuses the item.
bool TagSensorData_AddRecordItem(const uint8_t* bytes, int& offset, int& remaining, uint32_t now,
                                 const sensors_config_t& sensors, VexPacket& packet);
