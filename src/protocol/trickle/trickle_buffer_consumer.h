#pragma once
// Reassembly of the sensor messages that a tag trickles over its location
// pings, a few bytes per ping. One consumer block per tag; the functions keep
// all their state in that block and are not thread-safe.
//
// A message is a length byte L (1..255, counting itself) and L - 1 content
// bytes. A chunk either begins a new message (byte 0 is its length byte) or
// continues the last message of the previous chunk: byte 0 is the index k at
// which the next message begins, byte 1 is 0xFE, bytes 2..k-1 continue the
// message.

#include <cstdint>

constexpr uint8_t kTrickleContinuationMarker = 0xFE;
constexpr int kTrickleMaxMessageLength = 255;

enum TrickleBufferState : uint32_t {
    kTrickleBetweenMessages = 0,
    kTrickleLengthStored = 1,
    kTrickleStoringContent = 2,
    kTrickleContinued = 3,
    kTrickleResynchronising = 4,
    kTrickleComplete = 5,
};

struct trickle_buffer_consumer_t {
    uint32_t state;
    uint8_t message[kTrickleMaxMessageLength];
    uint8_t remaining;
    // Points into this block's own message buffer. A block copied between
    // messages goes on as usual; one copied in the middle of a message has a
    // stray pointer, which is detected and treated as a lost chunk.
    uint8_t* write_position;
};

void TrickleBuffer_InitConsumer(trickle_buffer_consumer_t* consumer);

// A ping was lost: the message being assembled is abandoned and the next
// chunk is searched for the start of a new message.
void TrickleBuffer_MissedPacket(trickle_buffer_consumer_t* consumer);

// Processes one chunk. Returns a malloc'ed buffer with every message completed
// during this chunk, one after the other and each with its length byte, and
// stores their total length through totalLength; the caller frees it with
// free(). Returns null (and length 0) when nothing completed.
//
// Only whole messages are delivered: a message whose bytes were not all
// received (a lost chunk or a missing continuation header in between) is
// dropped rather than padded with stale bytes. A length byte of 0 is refused
// like a lost chunk. Messages that would take the total past 65535 bytes are
// dropped.
uint8_t* TrickleBuffer_Consume(trickle_buffer_consumer_t* consumer, const uint8_t* chunk, uint16_t length,
                               uint16_t* totalLength);
