// The simulated devices decode what the server sends them: SSP payloads,
// device command lists (executed at once or heard in a sync, then their timed
// commands run), and, in multicast mode, their own payloads turned into Vuv
// items. The first input byte picks the path; the rest is the payload, in a
// buffer of exactly its size, so any read past it is a sanitizer report.
#include <cstdint>
#include <cstring>
#include <vector>

#include "simulator/sim_device.h"
#include "simulator/sim_radio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const std::vector<uint8_t> payload(data + 1, data + size);
    sim_device_t config;
    config.serial_number = 0x01000001;
    config.role = (data[0] & 0x10) != 0 ? SimRole::kTag : SimRole::kMaster;
    SimDevice device(config, SimClock(0.0, 0.0));
    switch (data[0] & 0x03) {
        case 0: {
            const sim_ssp_outcome_t outcome = device.HandleSspPayload(payload.data(), payload.size());
            for (const auto& reply : outcome.replies) {
                if (reply.size() > payload.size() + 5)
                    __builtin_trap();  // an answer never outgrows the command it answers
            }
            break;
        }
        case 1:
        case 2:
            device.ApplyCommands(payload.data(), payload.size(), (data[0] & 0x03) == 1);
            // Two halves of the 32-bit network time take every timed command out.
            for (const uint32_t now : {0x7FFFFFFFu, 0xFFFFFFFFu}) {
                for (const auto& command : device.TakeDueCommands(now))
                    device.ExecuteTimedCommand(command);
            }
            break;
        default: {
            std::vector<VexPacket> packets;
            SimPayloadToVuv(
                config.serial_number, payload.data(), payload.size(), [](uint16_t id) { return id + 0u; },
                &packets);
            for (auto& packet : packets) {
                uint16_t encoded = 0;
                delete[] packet.CreateBufferWithSequenceNumber(1, &encoded);
            }
            break;
        }
    }
    return 0;
}
