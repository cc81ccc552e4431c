// Feeds a sequence of chunks to one trickle consumer. Input: repeated
// [n][n bytes]; n = 0xFF stands for a lost ping. Whatever completes must be a
// run of whole messages whose length bytes add up to the total, and the
// consumer must stay in a valid state with its write position in its buffer.
// A plain model of the reassembly, written step by step from the format and
// kept apart from the consumer's own code, must produce the same messages and
// end each chunk in the same state.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/trickle/trickle_buffer_consumer.h"

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

// Index-based model: no pointers, every rule spelt out once. Refusals as in
// the consumer: nothing is read past the chunk, a continuation index below 2
// and a length byte of 0 drop the rest of the chunk, and a message only part
// of which arrived is not delivered.
struct Model {
    uint32_t state = 0;
    uint8_t message[255] = {};
    uint32_t stored = 0;
    uint8_t remaining = 0;
};

void ModelMissedPacket(Model* model) {
    model->state = 4;
    model->stored = 0;
}

std::vector<uint8_t> ModelConsume(Model* model, const uint8_t* chunk, uint32_t length) {
    std::vector<uint8_t> out;
    const bool opens_with_header = length > 1 && chunk[1] == 0xFE;
    uint32_t i = 0;
    while (i < length) {
        bool counts = true;
        switch (model->state) {
            case 0:
                if (i == 0 && opens_with_header) {
                    model->state = 4;
                } else if (chunk[i] == 0) {
                    ModelMissedPacket(model);
                    i = length;
                    counts = false;
                } else {
                    model->remaining = chunk[i];
                    model->message[0] = chunk[i];
                    model->stored = 1;
                    model->state = 1;
                    i += 1;
                }
                break;
            case 1:
            case 2:
                if (model->stored >= sizeof(model->message)) {
                    std::abort();
                }
                model->message[model->stored++] = chunk[i];
                model->state = 2;
                i += 1;
                break;
            case 3:
                if (i + 1 < length && chunk[i + 1] == 0xFE) {
                    model->state = 2;
                    i += 2;
                    counts = false;
                } else {
                    i += 1;
                }
                break;
            default:
                if (i != 0) {
                    i += 1;
                } else {
                    if (opens_with_header) {
                        i = chunk[0] < 2 ? length : chunk[0];
                    }
                    model->state = 0;
                }
                break;
        }
        if (counts) {
            model->remaining = static_cast<uint8_t>(model->remaining - 1);
            if (model->remaining == 0) {
                if (model->stored > 0 && model->stored == model->message[0]) {
                    out.insert(out.end(), model->message, model->message + model->stored);
                }
                model->state = 0;
                model->stored = 0;
                continue;
            }
        }
        if (i >= length && (model->state == 1 || model->state == 2)) {
            model->state = 3;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    trickle_buffer_consumer_t consumer;
    TrickleBuffer_InitConsumer(&consumer);
    Model model;
    size_t offset = 0;
    while (offset < size) {
        const uint8_t n = data[offset++];
        if (n == 0xFF) {
            TrickleBuffer_MissedPacket(&consumer);
            ModelMissedPacket(&model);
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
        const std::vector<uint8_t> expected =
            ModelConsume(&model, chunk, static_cast<uint32_t>(chunk_length));
        std::free(chunk);
        if ((out == nullptr) != (total == 0) || total != expected.size()) {
            std::abort();
        }
        if (out != nullptr) {
            CheckMessages(out, total);
            for (uint16_t i = 0; i < total; ++i) {
                if (out[i] != expected[i]) {
                    std::abort();
                }
            }
            std::free(out);
        }
        if (consumer.state != model.state) {
            std::abort();
        }
        if (consumer.state > kTrickleResynchronising) {
            std::abort();
        }
        const uint8_t* position = consumer.write_position;
        if (position < consumer.message || position >= consumer.message + sizeof(consumer.message)) {
            std::abort();
        }
        // Between messages nothing is held; otherwise the same bytes are.
        if (static_cast<uint32_t>(position - consumer.message) != model.stored ||
            (consumer.state != 0 && consumer.state != 4 && consumer.remaining != model.remaining)) {
            std::abort();
        }
        for (uint32_t i = 0; i < model.stored; ++i) {
            if (consumer.message[i] != model.message[i]) {
                std::abort();
            }
        }
    }
    return 0;
}
