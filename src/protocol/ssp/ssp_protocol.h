#pragma once
// SSP framing: every exchange with a device, over a USB serial port or UDP, is
// cut into frames
//
//   0xC1 0xFB | length (u16 BE) | sequence (u8) | payload | checksum (u32 BE)
//
// with no escaping: the start bytes may appear in the payload, so the receiver
// relies on the length field and the checksum. One state block per link; the
// functions are not thread-safe and keep all their state in the block.

#include <cstddef>
#include <cstdint>

constexpr uint8_t SSP_START_BYTE_1 = 0xC1;
constexpr uint8_t SSP_START_BYTE_2 = 0xFB;
constexpr uint16_t SSP_HEADER_SIZE = 5;    // start bytes, length, sequence
constexpr uint16_t SSP_CHECKSUM_SIZE = 4;  // trails the payload
constexpr uint16_t SSP_MAX_PAYLOAD_LENGTH = 1527;
constexpr uint16_t SSP_MAX_FRAME_LENGTH = SSP_HEADER_SIZE + SSP_MAX_PAYLOAD_LENGTH + SSP_CHECKSUM_SIZE;
static_assert(SSP_MAX_FRAME_LENGTH == 1536, "a frame is at most 1536 bytes");

// Receive states of ssp_rx_protocol.
enum : uint32_t {
    SSP_RX_HUNT = 0,
    SSP_RX_START_2 = 1,
    SSP_RX_LENGTH_HIGH = 2,
    SSP_RX_LENGTH_LOW = 3,
    SSP_RX_BODY = 4,  // sequence byte, then the payload
    SSP_RX_CHECKSUM = 5,
    SSP_RX_CHECKSUM_LAST = 6,
};

struct ssp_state_t {
    // Statistics: they only ever grow.
    uint32_t tx_frame_count;
    uint32_t rx_good_frame_count;
    uint32_t rx_checksum_error_count;
    uint32_t rx_sequence_gap_count;
    uint32_t rx_length_error_count;

    uint32_t rx_state;
    uint16_t rx_index;   // bytes of the current frame stored so far
    uint16_t rx_length;  // payload length of the current frame
    uint8_t rx_last_sequence;
    uint8_t tx_sequence;
    uint32_t rx_checksum;  // received checksum bytes, shifted in from the right
    uint16_t max_payload;
    uint8_t rx_buffer[SSP_MAX_FRAME_LENGTH];  // from the 0xC1 on; payload at SSP_HEADER_SIZE
    uint8_t tx_buffer[SSP_MAX_FRAME_LENGTH];  // the caller writes the payload at SSP_HEADER_SIZE
};

// Zeroes the counters, the receive state and both sequence numbers; the maximum
// payload is clamped to SSP_MAX_PAYLOAD_LENGTH.
void ssp_init(ssp_state_t* state, uint16_t max_payload);

// Drops any partial frame: the parser hunts for a start byte again.
void ssp_protocol_restart(ssp_state_t* state);

// Frames the `length` payload bytes the caller has placed at tx_buffer[5].
// Returns the frame length (the frame starts at tx_buffer[0]), or 0 when the
// payload exceeds the maximum, in which case nothing changes.
uint16_t ssp_tx_wrap(ssp_state_t* state, uint16_t length);

// Feeds one received byte. Returns the payload (rx_buffer + 5, rx_length bytes)
// when this byte completes a frame with a good checksum, otherwise null. The
// payload is valid only until the next byte is fed.
inline uint8_t* ssp_rx_protocol(ssp_state_t* state, uint8_t byte);

// The states around the frame body (start bytes, length, checksum), kept out
// of line; only ssp_rx_protocol calls it.
uint8_t* ssp_rx_protocol_frame_edge(ssp_state_t* state, uint8_t byte);

// The sequence byte and the payload take nearly every byte of a stream, so
// their state is handled inline. rx_length is read only after the byte is
// stored: read together with rx_index, the compiler may fetch both in one wide
// load, which the narrow rx_index store of the previous call cannot forward to
// (a stall on every byte).
inline uint8_t* ssp_rx_protocol(ssp_state_t* state, uint8_t byte) {
    if (state->rx_state == SSP_RX_BODY) {
        const uint16_t index = state->rx_index;
        state->rx_buffer[index] = byte;
        state->rx_index = static_cast<uint16_t>(index + 1);
        if (index + 1 >= state->rx_length + SSP_HEADER_SIZE) {
            state->rx_state = SSP_RX_CHECKSUM;
        }
        return nullptr;
    }
    return ssp_rx_protocol_frame_edge(state, byte);
}

// Feeds bytes until one completes a good frame or the data runs out, exactly as
// calling ssp_rx_protocol for each byte would. *consumed receives the number of
// bytes taken (up to and including the completing byte); the result is the
// payload of that frame, or null when no byte of the data completed one.
uint8_t* ssp_rx_protocol_block(ssp_state_t* state, const uint8_t* data, size_t length, size_t* consumed);
