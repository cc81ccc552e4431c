#pragma once
// The radio seen from the receiving device: the receive-quality values it
// reports for a packet from a given distance, and the Vuv items an Ethernet
// device in multicast mode publishes for what it would otherwise send to the
// server's link in SSP frames.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "protocol/packets/signal_strength.h"
#include "protocol/vex/vex_packet.h"
#include "simulator/sim_site.h"

// First-path amplitudes, preamble accumulation count and channel impulse
// response power of a line-of-sight reception over `distance_m`: the total
// received power falls with 20 log10 of the distance, the first path lies a
// few dB below it (the gap the server weights best), and both are turned into
// the register values through the receiver's power formulas.
signal_strength_t SimSignalStrength(double distance_m, const sim_site_t& site, std::mt19937_64& noise);

// The Vuv packets a device's link would make of one SSP payload the device
// sends (response, received or transmitted RF packet). `serial_of` resolves
// network ids as the server's registry would. False when the payload makes
// no item.
bool SimPayloadToVuv(uint32_t serial_number, const uint8_t* payload, size_t length,
                     const std::function<uint32_t(uint16_t)>& serial_of, std::vector<VexPacket>* packets);
