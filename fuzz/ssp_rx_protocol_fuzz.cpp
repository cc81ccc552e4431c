// SSP receive parser on an arbitrary byte stream. Every payload found must come
// back unchanged when wrapped again and parsed by a fresh state, and feeding
// the stream in blocks must find the same frames as feeding it byte by byte.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "protocol/ssp/ssp_protocol.h"

namespace {

void CheckRoundTrip(const uint8_t* payload, uint16_t length) {
    auto sender = std::make_unique<ssp_state_t>();
    auto receiver = std::make_unique<ssp_state_t>();
    ssp_init(sender.get(), SSP_MAX_PAYLOAD_LENGTH);
    ssp_init(receiver.get(), SSP_MAX_PAYLOAD_LENGTH);
    std::memcpy(sender->tx_buffer + SSP_HEADER_SIZE, payload, length);
    const uint16_t frame_length = ssp_tx_wrap(sender.get(), length);
    if (frame_length != length + SSP_HEADER_SIZE + SSP_CHECKSUM_SIZE) {
        std::abort();
    }
    for (uint16_t i = 0; i < frame_length; ++i) {
        const uint8_t* parsed = ssp_rx_protocol(receiver.get(), sender->tx_buffer[i]);
        const bool last = i + 1 == frame_length;
        if ((parsed != nullptr) != last) {
            std::abort();
        }
        if (last && (receiver->rx_length != length || std::memcmp(parsed, payload, length) != 0)) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto state = std::make_unique<ssp_state_t>();
    ssp_init(state.get(), SSP_MAX_PAYLOAD_LENGTH);
    std::vector<size_t> frame_ends;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t* payload = ssp_rx_protocol(state.get(), data[i]);
        if (state->rx_state > SSP_RX_CHECKSUM_LAST || state->rx_index > SSP_MAX_FRAME_LENGTH) {
            std::abort();
        }
        if (payload != nullptr) {
            if (payload != state->rx_buffer + SSP_HEADER_SIZE || state->rx_length > SSP_MAX_PAYLOAD_LENGTH) {
                std::abort();
            }
            frame_ends.push_back(i);
            CheckRoundTrip(payload, state->rx_length);
        }
    }

    // Block reads whose sizes come from the data itself.
    auto by_block = std::make_unique<ssp_state_t>();
    ssp_init(by_block.get(), SSP_MAX_PAYLOAD_LENGTH);
    size_t offset = 0;
    size_t found = 0;
    while (offset < size) {
        const size_t read = std::min<size_t>(size - offset, 1 + data[offset] % 97);
        const size_t end = offset + read;
        while (offset < end) {
            size_t consumed = 0;
            const uint8_t* payload =
                ssp_rx_protocol_block(by_block.get(), data + offset, end - offset, &consumed);
            if (consumed == 0 || consumed > end - offset) {
                std::abort();
            }
            offset += consumed;
            if (payload != nullptr) {
                if (found >= frame_ends.size() || frame_ends[found] != offset - 1) {
                    std::abort();
                }
                ++found;
            }
        }
    }
    if (found != frame_ends.size() || by_block->rx_state != state->rx_state ||
        by_block->rx_index != state->rx_index ||
        by_block->rx_good_frame_count != state->rx_good_frame_count ||
        by_block->rx_checksum_error_count != state->rx_checksum_error_count ||
        by_block->rx_length_error_count != state->rx_length_error_count ||
        by_block->rx_sequence_gap_count != state->rx_sequence_gap_count) {
        std::abort();
    }
    return 0;
}
