// Feeds a sequence of chunks to one trickle consumer. Input: repeated
// [n][n bytes]; n = 0xFF stands for a lost ping. Whatever completes must be a
// run of whole messages whose length bytes add up to the total, and the
// consumer must stay in a valid state with its write position in its buffer.
#include <cstdint>
#include <cstdlib>

#include "protocol/trickle_buffer.h"

namespace {

void CheckMessages(const uint8_t* out, uint16_t total) {
    uint32_t offset = 0;
    while (offset < total) {
        const uint8_t length = out[offset];
        if (length == 0) {
            std::abort();
        }
        offset += length;
    }
    if (offset != total) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    trickle_buffer_consumer_t consumer;
    TrickleBuffer_InitConsumer(&consumer);
    size_t offset = 0;
    while (offset < size) {
        const uint8_t n = data[offset++];
        if (n == 0xFF) {
            TrickleBuffer_MissedPacket(&consumer);
            continue;
        }
        const size_t chunk_length = n <= size - offset ? n : size - offset;
        // An exact-size heap copy lets the address sanitizer see any read past the chunk.
        auto* chunk = static_cast<uint8_t*>(std::malloc(chunk_length == 0 ? 1 : chunk_length));
        for (size_t i = 0; i < chunk_length; ++i) {
            chunk[i] = data[offset + i];
        }
        offset += chunk_length;
        uint16_t total = 0;
        uint8_t* out = TrickleBuffer_Consume(&consumer, chunk, static_cast<uint16_t>(chunk_length), &total);
        std::free(chunk);
        if ((out == nullptr) != (total == 0)) {
            std::abort();
        }
        if (out != nullptr) {
            CheckMessages(out, total);
            std::free(out);
        }
        if (consumer.state > kTrickleResynchronising) {
            std::abort();
        }
        const uint8_t* position = consumer.write_position;
        if (position < consumer.message || position >= consumer.message + sizeof(consumer.message)) {
            std::abort();
        }
    }
    return 0;
}
