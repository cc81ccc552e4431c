#include "protocol/trickle/trickle_buffer_consumer.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kMaxOutputLength = 0xFFFF;

uint8_t* MessageEnd(trickle_buffer_consumer_t* consumer) {
    return consumer->message + sizeof(consumer->message);
}

// Compared as addresses so that a block copied with a pointer into another
// block's buffer is caught instead of written through.
bool WritePositionInside(trickle_buffer_consumer_t* consumer) {
    const auto position = reinterpret_cast<uintptr_t>(consumer->write_position);
    const auto start = reinterpret_cast<uintptr_t>(consumer->message);
    const auto end = reinterpret_cast<uintptr_t>(MessageEnd(consumer));
    return position >= start && position <= end;
}

void Restart(trickle_buffer_consumer_t* consumer, uint32_t state) {
    consumer->state = state;
    consumer->write_position = consumer->message;
}

// Collects the completed messages of one chunk. A chunk of n bytes completes
// at most the message pending from earlier (up to 254 bytes stored before)
// plus the n bytes of its own, so one allocation is enough.
struct Output {
    uint8_t* buffer = nullptr;
    uint32_t length = 0;
    uint32_t capacity = 0;

    void Append(const uint8_t* message, uint32_t message_length, uint16_t chunk_length) {
        if (buffer == nullptr) {
            capacity = static_cast<uint32_t>(chunk_length) + kTrickleMaxMessageLength;
            if (capacity > kMaxOutputLength) {
                capacity = kMaxOutputLength;
            }
            buffer = static_cast<uint8_t*>(std::malloc(capacity));
            if (buffer == nullptr) {
                return;
            }
        }
        if (length + message_length > capacity) {
            return;
        }
        std::memcpy(buffer + length, message, message_length);
        length += message_length;
    }
};

}  // namespace

void TrickleBuffer_InitConsumer(trickle_buffer_consumer_t* consumer) {
    if (consumer == nullptr) {
        return;
    }
    std::memset(consumer->message, 0, sizeof(consumer->message));
    consumer->remaining = 0;
    Restart(consumer, kTrickleBetweenMessages);
}

void TrickleBuffer_MissedPacket(trickle_buffer_consumer_t* consumer) {
    if (consumer == nullptr) {
        return;
    }
    Restart(consumer, kTrickleResynchronising);
}

uint8_t* TrickleBuffer_Consume(trickle_buffer_consumer_t* consumer, const uint8_t* chunk, uint16_t length,
                               uint16_t* totalLength) {
    if (totalLength != nullptr) {
        *totalLength = 0;
    }
    if (consumer == nullptr || chunk == nullptr || length == 0) {
        return nullptr;
    }
    // Byte 1 is looked at only when the chunk has one.
    const bool opens_with_continuation = length > 1 && chunk[1] == kTrickleContinuationMarker;
    Output output;
    uint32_t i = 0;
    while (i < length) {
        bool counts = true;
        bool stores = false;
        switch (consumer->state) {
            case kTrickleBetweenMessages:
                if (i == 0 && opens_with_continuation) {
                    consumer->state = kTrickleResynchronising;
                    break;
                }
                if (chunk[i] == 0) {
                    // A zero length byte would run the assembly past the
                    // message buffer: the rest of the chunk cannot be framed.
                    Restart(consumer, kTrickleResynchronising);
                    i = length;
                    counts = false;
                    break;
                }
                // Between messages the write position is at the start anyway;
                // setting it again lets a block copied between messages go on.
                consumer->write_position = consumer->message;
                consumer->remaining = chunk[i];
                stores = true;
                consumer->state = kTrickleLengthStored;
                break;
            case kTrickleLengthStored:
                stores = true;
                consumer->state = kTrickleStoringContent;
                break;
            case kTrickleStoringContent:
                stores = true;
                break;
            case kTrickleContinued:
                // The header is looked for only where a second byte exists.
                if (i + 1 < length && chunk[i + 1] == kTrickleContinuationMarker) {
                    consumer->state = kTrickleStoringContent;
                    i += 2;
                    counts = false;
                } else {
                    i += 1;
                }
                break;
            case kTrickleResynchronising:
                if (i != 0) {
                    i += 1;
                } else if (opens_with_continuation) {
                    // An index below 2 would point back into the header and
                    // never move on: the chunk is dropped instead.
                    const uint8_t next_message = chunk[0];
                    i = next_message < 2 ? length : next_message;
                    consumer->state = kTrickleBetweenMessages;
                } else {
                    consumer->state = kTrickleBetweenMessages;
                }
                break;
            default:
                Restart(consumer, kTrickleResynchronising);
                counts = false;
                break;
        }
        if (stores) {
            if (!WritePositionInside(consumer) || consumer->write_position == MessageEnd(consumer)) {
                Restart(consumer, kTrickleResynchronising);
                break;
            }
            *consumer->write_position++ = chunk[i];
            i += 1;
        }
        if (counts) {
            consumer->remaining = static_cast<uint8_t>(consumer->remaining - 1);
            if (consumer->remaining == 0) {
                const uint32_t state = consumer->state;
                if (state == kTrickleLengthStored || state == kTrickleStoringContent) {
                    const uint32_t message_length = consumer->message[0];
                    const auto stored = static_cast<uint32_t>(consumer->write_position - consumer->message);
                    // A message with bytes that never arrived is not delivered.
                    if (stored == message_length) {
                        output.Append(consumer->message, message_length, length);
                    }
                    Restart(consumer, kTrickleBetweenMessages);
                    continue;
                }
                if (state == kTrickleContinued) {
                    Restart(consumer, kTrickleBetweenMessages);
                    continue;
                }
            }
        }
        if (i >= length &&
            (consumer->state == kTrickleLengthStored || consumer->state == kTrickleStoringContent)) {
            consumer->state = kTrickleContinued;
        }
    }
    if (output.length == 0) {
        std::free(output.buffer);
        return nullptr;
    }
    if (totalLength != nullptr) {
        *totalLength = static_cast<uint16_t>(output.length);
    }
    return output.buffer;
}
