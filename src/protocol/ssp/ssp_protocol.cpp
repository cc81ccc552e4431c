#include "protocol/ssp/ssp_protocol.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "protocol/ssp/ssp_checksum.h"

namespace {

// The buffers hold SSP_MAX_FRAME_LENGTH bytes whatever the block says, so a
// maximum written into the block by hand must not widen what is accepted.
inline uint16_t EffectiveMaxPayload(const ssp_state_t* state) {
    return std::min(state->max_payload, SSP_MAX_PAYLOAD_LENGTH);
}

// Stores a byte accepted into the current frame and moves to the next state.
inline void StoreByte(ssp_state_t* state, uint8_t byte, uint32_t next_state) {
    const uint16_t index = state->rx_index;
    state->rx_buffer[index] = byte;
    state->rx_index = static_cast<uint16_t>(index + 1);
    state->rx_state = next_state;
}

// Runs the end-of-frame tests once the last checksum byte is stored.
uint8_t* FinishFrame(ssp_state_t* state) {
    const uint8_t sequence = state->rx_buffer[4];
    // A gap is only counted: the frame is still delivered if its checksum holds.
    if (sequence != static_cast<uint8_t>(state->rx_last_sequence + 1)) {
        ++state->rx_sequence_gap_count;
    }
    state->rx_last_sequence = sequence;

    const uint16_t checked_length = static_cast<uint16_t>(state->rx_length + SSP_HEADER_SIZE);
    if (ssp_checksum(state->rx_buffer, checked_length) != state->rx_checksum) {
        ++state->rx_checksum_error_count;
        return nullptr;
    }
    ++state->rx_good_frame_count;
    return state->rx_buffer + SSP_HEADER_SIZE;
}

}  // namespace

void ssp_init(ssp_state_t* state, uint16_t max_payload) {
    std::memset(state, 0, sizeof(*state));
    state->rx_state = SSP_RX_HUNT;
    state->max_payload = std::min(max_payload, SSP_MAX_PAYLOAD_LENGTH);
}

void ssp_protocol_restart(ssp_state_t* state) {
    state->rx_state = SSP_RX_HUNT;
}

uint16_t ssp_tx_wrap(ssp_state_t* state, uint16_t length) {
    if (length > EffectiveMaxPayload(state)) {
        return 0;
    }
    ++state->tx_frame_count;
    uint8_t* frame = state->tx_buffer;
    frame[0] = SSP_START_BYTE_1;
    frame[1] = SSP_START_BYTE_2;
    wire::write_be16(frame + 2, length);
    frame[4] = state->tx_sequence++;
    const uint16_t checked_length = static_cast<uint16_t>(length + SSP_HEADER_SIZE);
    wire::write_be32(frame + checked_length, ssp_checksum(frame, checked_length));
    return static_cast<uint16_t>(checked_length + SSP_CHECKSUM_SIZE);
}

uint8_t* ssp_rx_protocol_frame_edge(ssp_state_t* state, uint8_t byte) {
    switch (state->rx_state) {
        case SSP_RX_BODY:
            return ssp_rx_protocol(state, byte);
        case SSP_RX_HUNT:
            state->rx_index = 0;
            if (byte == SSP_START_BYTE_1) {
                StoreByte(state, byte, SSP_RX_START_2);
            }
            return nullptr;
        case SSP_RX_START_2:
            // A second 0xC1 here is dropped, not taken as a new start.
            if (byte == SSP_START_BYTE_2) {
                StoreByte(state, byte, SSP_RX_LENGTH_HIGH);
            } else {
                state->rx_state = SSP_RX_HUNT;
            }
            return nullptr;
        case SSP_RX_LENGTH_HIGH:
            if (byte > (EffectiveMaxPayload(state) >> 8)) {
                ++state->rx_length_error_count;
                state->rx_state = SSP_RX_HUNT;
            } else {
                state->rx_length = static_cast<uint16_t>(byte << 8);
                StoreByte(state, byte, SSP_RX_LENGTH_LOW);
            }
            return nullptr;
        case SSP_RX_LENGTH_LOW:
            if (byte > EffectiveMaxPayload(state) - state->rx_length) {
                ++state->rx_length_error_count;
                state->rx_state = SSP_RX_HUNT;
            } else {
                state->rx_length = static_cast<uint16_t>(state->rx_length + byte);
                StoreByte(state, byte, SSP_RX_BODY);
            }
            return nullptr;
        case SSP_RX_CHECKSUM:
            state->rx_checksum = (state->rx_checksum << 8) | byte;
            // The third checksum byte leads to the state of the last one.
            StoreByte(state, byte,
                      state->rx_index + 1 >= state->rx_length + SSP_HEADER_SIZE + 3 ? SSP_RX_CHECKSUM_LAST
                                                                                    : SSP_RX_CHECKSUM);
            return nullptr;
        case SSP_RX_CHECKSUM_LAST:
            state->rx_checksum = (state->rx_checksum << 8) | byte;
            StoreByte(state, byte, SSP_RX_HUNT);
            return FinishFrame(state);
        default:
            state->rx_state = SSP_RX_HUNT;
            return nullptr;
    }
}

uint8_t* ssp_rx_protocol_block(ssp_state_t* state, const uint8_t* data, size_t length, size_t* consumed) {
    // Each shortcut below leaves the block exactly as the same bytes fed one
    // at a time would; anything they do not cover goes through
    // ssp_rx_protocol.
    size_t index = 0;
    while (index < length) {
        const size_t left = length - index;
        const uint8_t* bytes = data + index;
        switch (state->rx_state) {
            case SSP_RX_HUNT: {
                const void* start = std::memchr(bytes, SSP_START_BYTE_1, left);
                if (start == nullptr) {
                    state->rx_index = 0;
                    index = length;
                    continue;
                }
                index = static_cast<size_t>(static_cast<const uint8_t*>(start) - data);
                const uint8_t* header = data + index;
                // A whole header with an acceptable length: byte by byte it
                // would pass states 0 to 3 without a counter moving. A length
                // above the maximum is left to the byte path, which counts it.
                if (length - index >= 4 && header[1] == SSP_START_BYTE_2 &&
                    wire::read_be16(header + 2) <= EffectiveMaxPayload(state)) {
                    std::memcpy(state->rx_buffer, header, 4);
                    state->rx_index = 4;
                    state->rx_length = wire::read_be16(header + 2);
                    state->rx_state = SSP_RX_BODY;
                    index += 4;
                    continue;
                }
                break;
            }
            case SSP_RX_BODY: {
                // Every byte is stored and nothing else happens until the last.
                const size_t wanted =
                    static_cast<size_t>(state->rx_length) + SSP_HEADER_SIZE - state->rx_index;
                const size_t take = std::min(wanted, left);
                std::memcpy(state->rx_buffer + state->rx_index, bytes, take);
                state->rx_index = static_cast<uint16_t>(state->rx_index + take);
                index += take;
                if (take == wanted) {
                    state->rx_state = SSP_RX_CHECKSUM;
                }
                continue;
            }
            case SSP_RX_CHECKSUM:
                if (state->rx_index == state->rx_length + SSP_HEADER_SIZE && left >= SSP_CHECKSUM_SIZE) {
                    // All four checksum bytes at once: shifting them in one by
                    // one leaves exactly their big-endian value.
                    std::memcpy(state->rx_buffer + state->rx_index, bytes, SSP_CHECKSUM_SIZE);
                    state->rx_index = static_cast<uint16_t>(state->rx_index + SSP_CHECKSUM_SIZE);
                    state->rx_checksum = wire::read_be32(bytes);
                    state->rx_state = SSP_RX_HUNT;
                    index += SSP_CHECKSUM_SIZE;
                    uint8_t* payload = FinishFrame(state);
                    if (payload != nullptr) {
                        *consumed = index;
                        return payload;
                    }
                    continue;
                }
                break;
            default:
                break;
        }
        uint8_t* payload = ssp_rx_protocol(state, data[index++]);
        if (payload != nullptr) {
            *consumed = index;
            return payload;
        }
    }
    *consumed = index;
    return nullptr;
}
