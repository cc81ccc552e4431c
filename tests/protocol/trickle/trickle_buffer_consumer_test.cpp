#include "protocol/trickle/trickle_buffer_consumer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class TrickleBufferTest : public ::testing::Test {
  protected:
    void SetUp() override { TrickleBuffer_InitConsumer(&consumer_); }

    // Feeds one chunk and returns what it completed; checks that the length
    // reported matches a null result.
    Bytes Feed(const Bytes& chunk) {
        uint16_t total = 0xAAAA;
        uint8_t* out =
            TrickleBuffer_Consume(&consumer_, chunk.data(), static_cast<uint16_t>(chunk.size()), &total);
        if (out == nullptr) {
            EXPECT_EQ(total, 0);
            return {};
        }
        EXPECT_GT(total, 0);
        Bytes result(out, out + total);
        std::free(out);
        return result;
    }

    trickle_buffer_consumer_t consumer_{};
};

TEST_F(TrickleBufferTest, InitStartsBetweenMessages) {
    EXPECT_EQ(consumer_.state, kTrickleBetweenMessages);
    EXPECT_EQ(consumer_.write_position, consumer_.message);
}

TEST_F(TrickleBufferTest, WholeMessageInOneChunk) {
    EXPECT_EQ(Feed({0x04, 0xA1, 0xA2, 0xA3}), (Bytes{0x04, 0xA1, 0xA2, 0xA3}));
    EXPECT_EQ(consumer_.state, kTrickleBetweenMessages);
}

TEST_F(TrickleBufferTest, SeveralMessagesInOneChunkComeOutTogether) {
    EXPECT_EQ(Feed({0x01, 0x03, 0x10, 0x11, 0x02, 0x20}), (Bytes{0x01, 0x03, 0x10, 0x11, 0x02, 0x20}));
}

TEST_F(TrickleBufferTest, MessageContinuedInNextChunk) {
    EXPECT_TRUE(Feed({0x03, 0xB1}).empty());
    EXPECT_EQ(consumer_.state, kTrickleContinued);
    EXPECT_EQ(Feed({0x03, 0xFE, 0xB2, 0x02, 0xC1}), (Bytes{0x03, 0xB1, 0xB2, 0x02, 0xC1}));
    EXPECT_EQ(consumer_.state, kTrickleBetweenMessages);
}

TEST_F(TrickleBufferTest, MessageSpanningThreeChunks) {
    EXPECT_TRUE(Feed({0x08, 0x01, 0x02}).empty());
    EXPECT_TRUE(Feed({0x05, 0xFE, 0x03, 0x04, 0x05}).empty());
    EXPECT_EQ(Feed({0x04, 0xFE, 0x06, 0x07}), (Bytes{0x08, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}));
}

TEST_F(TrickleBufferTest, MessageEndingAtChunkEndLeavesNothingPending) {
    EXPECT_EQ(Feed({0x02, 0x55}), (Bytes{0x02, 0x55}));
    EXPECT_EQ(consumer_.state, kTrickleBetweenMessages);
    EXPECT_EQ(Feed({0x02, 0x66}), (Bytes{0x02, 0x66}));
}

TEST_F(TrickleBufferTest, ContinuationHeaderWithNothingPendingIsSkipped) {
    EXPECT_TRUE(Feed({0x02, 0xFE}).empty());
    EXPECT_EQ(consumer_.state, kTrickleBetweenMessages);
    EXPECT_EQ(Feed({0x04, 0xFE, 0x99, 0x99, 0x02, 0x77}), (Bytes{0x02, 0x77}));
}

TEST_F(TrickleBufferTest, LostPingSkipsTheContinuedPart) {
    EXPECT_TRUE(Feed({0x05, 0x11, 0x12}).empty());
    EXPECT_EQ(consumer_.state, kTrickleContinued);
    TrickleBuffer_MissedPacket(&consumer_);
    EXPECT_EQ(consumer_.state, kTrickleResynchronising);
    EXPECT_EQ(consumer_.write_position, consumer_.message);
    EXPECT_EQ(Feed({0x04, 0xFE, 0x99, 0x99, 0x02, 0x77}), (Bytes{0x02, 0x77}));
    EXPECT_EQ(consumer_.state, kTrickleBetweenMessages);
}

TEST_F(TrickleBufferTest, LostPingBeforeNewMessageChunk) {
    TrickleBuffer_MissedPacket(&consumer_);
    EXPECT_EQ(Feed({0x03, 0x01, 0x02}), (Bytes{0x03, 0x01, 0x02}));
}

TEST_F(TrickleBufferTest, PartialMessageAfterLostPingIsNotDelivered) {
    // One byte was outstanding when the ping was lost: the count runs out on
    // the skipped header, but the message was never whole.
    EXPECT_TRUE(Feed({0x03, 0x11}).empty());
    TrickleBuffer_MissedPacket(&consumer_);
    EXPECT_EQ(Feed({0x02, 0xFE, 0x02, 0x44}), (Bytes{0x02, 0x44}));
}

TEST_F(TrickleBufferTest, MissingContinuationHeaderDropsTheMessage) {
    EXPECT_TRUE(Feed({0x04, 0x11}).empty());
    // No header: both bytes are skipped, which uses up the two missing bytes.
    EXPECT_TRUE(Feed({0x21, 0x22}).empty());
    EXPECT_EQ(consumer_.state, kTrickleBetweenMessages);
    EXPECT_EQ(Feed({0x02, 0x33}), (Bytes{0x02, 0x33}));
}

TEST_F(TrickleBufferTest, OneByteMessageCompletesAtOnce) {
    EXPECT_EQ(Feed({0x01}), (Bytes{0x01}));
    EXPECT_EQ(consumer_.state, kTrickleBetweenMessages);
}

TEST_F(TrickleBufferTest, EmptyChunkTouchesNothing) {
    EXPECT_TRUE(Feed({0x03, 0x01}).empty());
    const trickle_buffer_consumer_t before = consumer_;
    uint16_t total = 7;
    const uint8_t byte = 0x01;
    EXPECT_EQ(TrickleBuffer_Consume(&consumer_, &byte, 0, &total), nullptr);
    EXPECT_EQ(total, 0);
    EXPECT_EQ(consumer_.state, before.state);
    EXPECT_EQ(consumer_.remaining, before.remaining);
    EXPECT_EQ(consumer_.write_position, before.write_position);
}

TEST_F(TrickleBufferTest, ZeroLengthByteIsRefusedLikeALostChunk) {
    EXPECT_EQ(Feed({0x02, 0x10, 0x00, 0x05, 0x06}), (Bytes{0x02, 0x10}));
    EXPECT_EQ(consumer_.state, kTrickleResynchronising);
    // The next chunk continues what followed the zero: it is skipped.
    EXPECT_EQ(Feed({0x03, 0xFE, 0x07, 0x02, 0x08}), (Bytes{0x02, 0x08}));
}

TEST_F(TrickleBufferTest, LongestMessageFillsTheBufferExactly) {
    Bytes first(200, 0x5A);
    first[0] = 255;
    EXPECT_TRUE(Feed(first).empty());
    Bytes second(2 + 55, 0xA5);
    second[0] = static_cast<uint8_t>(second.size());
    second[1] = 0xFE;
    const Bytes out = Feed(second);
    ASSERT_EQ(out.size(), 255u);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[199], 0x5A);
    EXPECT_EQ(out[200], 0xA5);
    EXPECT_EQ(out[254], 0xA5);
}

TEST_F(TrickleBufferTest, OneByteChunkNeverLooksPastItsEnd) {
    // In state 3 the header test wants a second byte; a one-byte chunk has none.
    EXPECT_TRUE(Feed({0x04, 0x01}).empty());
    std::vector<uint8_t> heap_chunk{0x02};
    uint16_t total = 0;
    uint8_t* out = TrickleBuffer_Consume(&consumer_, heap_chunk.data(), 1, &total);
    EXPECT_EQ(out, nullptr);
    std::free(out);
    EXPECT_EQ(consumer_.state, kTrickleContinued);
}

TEST_F(TrickleBufferTest, ContinuationIndexBelowTwoDropsTheChunk) {
    for (uint8_t index : {0, 1}) {
        TrickleBuffer_MissedPacket(&consumer_);
        EXPECT_TRUE(Feed({index, 0xFE, 0x02, 0x44}).empty());
        EXPECT_EQ(consumer_.state, kTrickleBetweenMessages);
        EXPECT_EQ(Feed({0x02, 0x45}), (Bytes{0x02, 0x45}));
    }
}

TEST_F(TrickleBufferTest, ContinuationIndexPastTheChunkSkipsItAll) {
    TrickleBuffer_MissedPacket(&consumer_);
    EXPECT_TRUE(Feed({0x40, 0xFE, 0x01, 0x02}).empty());
    EXPECT_EQ(consumer_.state, kTrickleBetweenMessages);
}

TEST_F(TrickleBufferTest, CopiedBlockWithForeignWritePositionIsNotWrittenThrough) {
    EXPECT_TRUE(Feed({0x04, 0x01}).empty());
    trickle_buffer_consumer_t copy = consumer_;
    uint16_t total = 0;
    const uint8_t chunk[] = {0x04, 0xFE, 0x02, 0x03};
    const uint8_t original_message_byte = consumer_.message[2];
    uint8_t* out = TrickleBuffer_Consume(&copy, chunk, sizeof(chunk), &total);
    EXPECT_EQ(out, nullptr);
    std::free(out);
    EXPECT_EQ(consumer_.message[2], original_message_byte);
    EXPECT_EQ(copy.state, kTrickleResynchronising);
    EXPECT_EQ(copy.write_position, copy.message);
}

TEST_F(TrickleBufferTest, BlockCopiedBetweenMessagesGoesOn) {
    EXPECT_EQ(Feed({0x02, 0x10}), (Bytes{0x02, 0x10}));
    trickle_buffer_consumer_t copy = consumer_;
    const Bytes original_message(consumer_.message, consumer_.message + sizeof(consumer_.message));
    const uint8_t chunk[] = {0x04, 0xA1, 0xA2, 0xA3};
    uint16_t total = 0;
    uint8_t* out = TrickleBuffer_Consume(&copy, chunk, sizeof(chunk), &total);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(Bytes(out, out + total), (Bytes{0x04, 0xA1, 0xA2, 0xA3}));
    std::free(out);
    EXPECT_EQ(Bytes(consumer_.message, consumer_.message + sizeof(consumer_.message)), original_message);
    EXPECT_EQ(copy.state, kTrickleBetweenMessages);
    EXPECT_EQ(copy.write_position, copy.message);
}

TEST_F(TrickleBufferTest, NullArgumentsAreHarmless) {
    const uint8_t chunk[] = {0x01};
    uint16_t total = 9;
    EXPECT_EQ(TrickleBuffer_Consume(nullptr, chunk, 1, &total), nullptr);
    EXPECT_EQ(total, 0);
    EXPECT_EQ(TrickleBuffer_Consume(&consumer_, nullptr, 1, &total), nullptr);
    uint8_t* out = TrickleBuffer_Consume(&consumer_, chunk, 1, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out[0], 0x01);
    std::free(out);
}

// A sender that cuts a stream of messages into chunks the way a tag does.
// Message contents are unique (a running counter leads them), so a delivered
// message can be matched to the one that was sent. With fewer than 0xFE00
// messages the counter's high byte, the first content byte, is never 0xFE,
// which at the start of a chunk would read as a continuation header.
class TrickleSender {
  public:
    explicit TrickleSender(uint32_t seed) : random_(seed) {}

    std::vector<Bytes> Cut(size_t message_count, std::vector<Bytes>* messages) {
        EXPECT_LT(message_count, 0xFE00u);
        for (size_t m = 0; m < message_count; ++m) {
            const auto length = static_cast<uint8_t>(3 + random_() % 253);
            Bytes message{length, static_cast<uint8_t>(m >> 8), static_cast<uint8_t>(m)};
            while (message.size() < length) {
                message.push_back(static_cast<uint8_t>(random_()));
            }
            messages->push_back(message);
        }
        std::vector<Bytes> chunks;
        size_t message = 0;
        size_t sent = 0;  // bytes of the current message already sent
        while (message < messages->size()) {
            const size_t chunk_size = 3 + random_() % 62;
            Bytes chunk;
            if (sent > 0) {
                const size_t carried = std::min(chunk_size - 2, (*messages)[message].size() - sent);
                chunk.push_back(static_cast<uint8_t>(2 + carried));
                chunk.push_back(kTrickleContinuationMarker);
                chunk.insert(chunk.end(), (*messages)[message].begin() + static_cast<long>(sent),
                             (*messages)[message].begin() + static_cast<long>(sent + carried));
                sent += carried;
                if (sent == (*messages)[message].size()) {
                    ++message;
                    sent = 0;
                }
            }
            while (sent == 0 && chunk.size() < chunk_size && message < messages->size()) {
                const Bytes& next = (*messages)[message];
                const size_t taken = std::min(chunk_size - chunk.size(), next.size());
                chunk.insert(chunk.end(), next.begin(), next.begin() + static_cast<long>(taken));
                if (taken == next.size()) {
                    ++message;
                } else {
                    sent = taken;
                }
            }
            chunks.push_back(chunk);
        }
        return chunks;
    }

    bool Lose() { return random_() % 7 == 0; }

  private:
    std::mt19937 random_;
};

std::vector<Bytes> SplitMessages(const Bytes& stream) {
    std::vector<Bytes> messages;
    for (size_t offset = 0; offset < stream.size(); offset += stream[offset]) {
        messages.emplace_back(stream.begin() + static_cast<long>(offset),
                              stream.begin() + static_cast<long>(offset + stream[offset]));
    }
    return messages;
}

TEST_F(TrickleBufferTest, LosslessStreamComesOutWhole) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        TrickleBuffer_InitConsumer(&consumer_);
        TrickleSender sender(seed);
        std::vector<Bytes> sent;
        Bytes received;
        for (const Bytes& chunk : sender.Cut(200, &sent)) {
            const Bytes out = Feed(chunk);
            received.insert(received.end(), out.begin(), out.end());
        }
        EXPECT_EQ(SplitMessages(received), sent) << "seed " << seed;
    }
}

TEST_F(TrickleBufferTest, LostChunksNeverYieldAMessageThatWasNotSent) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        TrickleBuffer_InitConsumer(&consumer_);
        TrickleSender sender(seed);
        std::vector<Bytes> sent;
        Bytes received;
        for (const Bytes& chunk : sender.Cut(200, &sent)) {
            if (sender.Lose()) {
                TrickleBuffer_MissedPacket(&consumer_);
                continue;
            }
            const Bytes out = Feed(chunk);
            received.insert(received.end(), out.begin(), out.end());
        }
        // Every delivered message is one that was sent, in order.
        size_t next = 0;
        const std::vector<Bytes> delivered = SplitMessages(received);
        for (const Bytes& message : delivered) {
            while (next < sent.size() && sent[next] != message) {
                ++next;
            }
            ASSERT_LT(next, sent.size()) << "seed " << seed << ": a message that was never sent";
            ++next;
        }
        EXPECT_GT(delivered.size(), sent.size() / 4) << "seed " << seed;
    }
}

}  // namespace
