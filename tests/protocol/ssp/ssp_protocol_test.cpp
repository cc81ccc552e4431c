#include "protocol/ssp/ssp_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "protocol/ssp/ssp_checksum.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Builds a frame by hand from the wire layout, independently of ssp_tx_wrap.
Bytes MakeFrame(const Bytes& payload, uint8_t sequence) {
    Bytes frame = {0xC1, 0xFB, static_cast<uint8_t>(payload.size() >> 8),
                   static_cast<uint8_t>(payload.size()), sequence};
    frame.insert(frame.end(), payload.begin(), payload.end());
    const uint32_t checksum = ssp_checksum(frame.data(), static_cast<uint16_t>(frame.size()));
    for (int shift = 24; shift >= 0; shift -= 8) {
        frame.push_back(static_cast<uint8_t>(checksum >> shift));
    }
    return frame;
}

Bytes RandomBytes(std::mt19937& random, size_t length) {
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes bytes(length);
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(byte(random));
    }
    return bytes;
}

struct Received {
    Bytes payload;
    size_t end_offset;  // offset of the byte that completed the frame
};

// Feeds the stream one byte at a time and collects every payload returned.
std::vector<Received> FeedBytes(ssp_state_t* state, const Bytes& stream) {
    std::vector<Received> received;
    for (size_t i = 0; i < stream.size(); ++i) {
        const uint8_t* payload = ssp_rx_protocol(state, stream[i]);
        if (payload != nullptr) {
            EXPECT_EQ(payload, state->rx_buffer + 5);
            received.push_back({Bytes(payload, payload + state->rx_length), i});
        }
    }
    return received;
}

// The same through the block helper, in reads of the given sizes (cycled).
std::vector<Received> FeedBlocks(ssp_state_t* state, const Bytes& stream, const std::vector<size_t>& reads) {
    std::vector<Received> received;
    size_t offset = 0;
    size_t read = 0;
    while (offset < stream.size()) {
        const size_t end = std::min(stream.size(), offset + reads[read++ % reads.size()]);
        while (offset < end) {
            size_t consumed = 0;
            const uint8_t* payload =
                ssp_rx_protocol_block(state, stream.data() + offset, end - offset, &consumed);
            EXPECT_GT(consumed, 0u);
            EXPECT_LE(consumed, end - offset);
            offset += consumed;
            if (payload != nullptr) {
                received.push_back({Bytes(payload, payload + state->rx_length), offset - 1});
            }
        }
    }
    return received;
}

void ExpectSameState(const ssp_state_t& a, const ssp_state_t& b) {
    EXPECT_EQ(a.tx_frame_count, b.tx_frame_count);
    EXPECT_EQ(a.rx_good_frame_count, b.rx_good_frame_count);
    EXPECT_EQ(a.rx_checksum_error_count, b.rx_checksum_error_count);
    EXPECT_EQ(a.rx_sequence_gap_count, b.rx_sequence_gap_count);
    EXPECT_EQ(a.rx_length_error_count, b.rx_length_error_count);
    EXPECT_EQ(a.rx_state, b.rx_state);
    EXPECT_EQ(a.rx_index, b.rx_index);
    EXPECT_EQ(a.rx_length, b.rx_length);
    EXPECT_EQ(a.rx_last_sequence, b.rx_last_sequence);
    EXPECT_EQ(a.rx_checksum, b.rx_checksum);
    EXPECT_EQ(0, std::memcmp(a.rx_buffer, b.rx_buffer, a.rx_index));
}

class SspTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state_ = std::make_unique<ssp_state_t>();
        // Garbage first, so that ssp_init is seen to set every field.
        std::memset(state_.get(), 0xA5, sizeof(ssp_state_t));
        ssp_init(state_.get(), 1527);
    }

    Bytes Wrap(const Bytes& payload) {
        std::copy(payload.begin(), payload.end(), state_->tx_buffer + 5);
        const uint16_t length = ssp_tx_wrap(state_.get(), static_cast<uint16_t>(payload.size()));
        return Bytes(state_->tx_buffer, state_->tx_buffer + length);
    }

    std::unique_ptr<ssp_state_t> state_;
};

}  // namespace

TEST_F(SspTest, InitClearsCountersStateAndSequences) {
    EXPECT_EQ(state_->tx_frame_count, 0u);
    EXPECT_EQ(state_->rx_good_frame_count, 0u);
    EXPECT_EQ(state_->rx_checksum_error_count, 0u);
    EXPECT_EQ(state_->rx_sequence_gap_count, 0u);
    EXPECT_EQ(state_->rx_length_error_count, 0u);
    EXPECT_EQ(state_->rx_state, 0u);
    EXPECT_EQ(state_->rx_last_sequence, 0u);
    EXPECT_EQ(state_->tx_sequence, 0u);
    EXPECT_EQ(state_->max_payload, 1527u);
}

TEST_F(SspTest, InitClampsTheMaximumPayload) {
    ssp_init(state_.get(), 0xFFFF);
    EXPECT_EQ(state_->max_payload, 1527u);
    ssp_init(state_.get(), 1528);
    EXPECT_EQ(state_->max_payload, 1527u);
    ssp_init(state_.get(), 300);
    EXPECT_EQ(state_->max_payload, 300u);
}

TEST_F(SspTest, WrapsTheWorkedFrames) {
    EXPECT_EQ(Wrap({0x11, 0x06}), (Bytes{0xC1, 0xFB, 0x00, 0x02, 0x00, 0x11, 0x06, 0xC7, 0xE8, 0x09, 0xF4}));
    ssp_init(state_.get(), 1527);
    EXPECT_EQ(Wrap({}), (Bytes{0xC1, 0xFB, 0x00, 0x00, 0x00, 0xC1, 0xFB, 0x07, 0xEF}));
    EXPECT_EQ(state_->tx_frame_count, 1u);
}

TEST_F(SspTest, WrapMatchesTheWireLayoutAndCountsSequencesModulo256) {
    std::mt19937 random(1);
    for (int i = 0; i < 300; ++i) {
        const Bytes payload = RandomBytes(random, static_cast<size_t>(i) * 5);
        EXPECT_EQ(Wrap(payload), MakeFrame(payload, static_cast<uint8_t>(i)));
    }
    EXPECT_EQ(state_->tx_frame_count, 300u);
    EXPECT_EQ(state_->tx_sequence, 300u % 256u);
}

TEST_F(SspTest, WrapLeavesTheTxBufferBehindTheFrameUntouched) {
    std::memset(state_->tx_buffer, 0xEE, sizeof(state_->tx_buffer));
    const uint16_t length = ssp_tx_wrap(state_.get(), 10);
    ASSERT_EQ(length, 19u);
    for (size_t i = length; i < sizeof(state_->tx_buffer); ++i) {
        ASSERT_EQ(state_->tx_buffer[i], 0xEE) << i;
    }
    // A maximal frame fills the buffer exactly.
    EXPECT_EQ(ssp_tx_wrap(state_.get(), 1527), 1536u);
}

TEST_F(SspTest, WrapRefusesAPayloadAboveTheMaximumAndChangesNothing) {
    std::memset(state_->tx_buffer, 0x77, sizeof(state_->tx_buffer));
    EXPECT_EQ(ssp_tx_wrap(state_.get(), 1528), 0u);
    EXPECT_EQ(ssp_tx_wrap(state_.get(), 0xFFFF), 0u);
    EXPECT_EQ(state_->tx_frame_count, 0u);
    EXPECT_EQ(state_->tx_sequence, 0u);
    for (uint8_t b : state_->tx_buffer) {
        ASSERT_EQ(b, 0x77);
    }

    ssp_init(state_.get(), 16);
    EXPECT_EQ(ssp_tx_wrap(state_.get(), 17), 0u);
    EXPECT_EQ(ssp_tx_wrap(state_.get(), 16), 25u);
}

TEST_F(SspTest, ParsesTheWorkedFramesOnTheirLastByte) {
    const Bytes two = {0xC1, 0xFB, 0x00, 0x02, 0x00, 0x11, 0x06, 0xC7, 0xE8, 0x09, 0xF4};
    const auto received = FeedBytes(state_.get(), two);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].payload, (Bytes{0x11, 0x06}));
    EXPECT_EQ(received[0].end_offset, two.size() - 1);
    EXPECT_EQ(state_->rx_good_frame_count, 1u);
}

TEST_F(SspTest, EmptyPayloadCompletesOnTheNinthByte) {
    const Bytes empty = {0xC1, 0xFB, 0x00, 0x00, 0x00, 0xC1, 0xFB, 0x07, 0xEF};
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(ssp_rx_protocol(state_.get(), empty[i]), nullptr) << i;
    }
    const uint8_t* payload = ssp_rx_protocol(state_.get(), empty[8]);
    EXPECT_EQ(payload, state_->rx_buffer + 5);
    EXPECT_EQ(state_->rx_length, 0u);
    EXPECT_EQ(state_->rx_state, 0u);
}

TEST_F(SspTest, AcceptsAMaximalPayload) {
    std::mt19937 random(2);
    const Bytes payload = RandomBytes(random, 1527);
    const auto received = FeedBytes(state_.get(), MakeFrame(payload, 1));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].payload, payload);
    EXPECT_EQ(state_->rx_length_error_count, 0u);
}

TEST_F(SspTest, RejectsLength1528AtTheLowLengthByte) {
    EXPECT_EQ(ssp_rx_protocol(state_.get(), 0xC1), nullptr);
    EXPECT_EQ(ssp_rx_protocol(state_.get(), 0xFB), nullptr);
    EXPECT_EQ(ssp_rx_protocol(state_.get(), 0x05), nullptr);
    EXPECT_EQ(state_->rx_state, 3u);
    EXPECT_EQ(ssp_rx_protocol(state_.get(), 0xF8), nullptr);
    EXPECT_EQ(state_->rx_length_error_count, 1u);
    EXPECT_EQ(state_->rx_state, 0u);
}

TEST_F(SspTest, RejectsAHighLengthByteAboveFiveAtOnce) {
    for (uint8_t high : {0x06, 0x07, 0xFF}) {
        ssp_rx_protocol(state_.get(), 0xC1);
        ssp_rx_protocol(state_.get(), 0xFB);
        EXPECT_EQ(ssp_rx_protocol(state_.get(), high), nullptr);
        EXPECT_EQ(state_->rx_state, 0u);
    }
    EXPECT_EQ(state_->rx_length_error_count, 3u);
}

TEST_F(SspTest, SmallerMaximumLimitsBothLengthBytes) {
    ssp_init(state_.get(), 16);
    std::mt19937 random(3);
    EXPECT_EQ(FeedBytes(state_.get(), MakeFrame(RandomBytes(random, 16), 1)).size(), 1u);
    EXPECT_TRUE(FeedBytes(state_.get(), MakeFrame(RandomBytes(random, 17), 2)).empty());
    EXPECT_EQ(state_->rx_length_error_count, 1u);
    EXPECT_TRUE(FeedBytes(state_.get(), {0xC1, 0xFB, 0x01}).empty());
    EXPECT_EQ(state_->rx_length_error_count, 2u);
}

TEST_F(SspTest, BytesOfAFrameAbandonedForItsLengthAreScannedAgain) {
    // The abandoned header's remaining bytes hold a complete good frame.
    Bytes stream = {0xC1, 0xFB, 0x06};
    const Bytes inner = MakeFrame({0xAB, 0xCD}, 1);
    stream.insert(stream.end(), inner.begin(), inner.end());
    const auto received = FeedBytes(state_.get(), stream);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].payload, (Bytes{0xAB, 0xCD}));
    EXPECT_EQ(state_->rx_length_error_count, 1u);
}

TEST_F(SspTest, ASecondStartByteInPlaceOfTheSecondIsDropped) {
    Bytes stream = {0xC1};
    const Bytes frame = MakeFrame({0x01, 0x02, 0x03}, 1);
    stream.insert(stream.end(), frame.begin(), frame.end());
    EXPECT_TRUE(FeedBytes(state_.get(), stream).empty());
    EXPECT_EQ(state_->rx_good_frame_count, 0u);
    EXPECT_EQ(state_->rx_checksum_error_count, 0u);
    EXPECT_EQ(state_->rx_length_error_count, 0u);
    // The parser is hunting again and takes the next frame.
    EXPECT_EQ(FeedBytes(state_.get(), MakeFrame({0x04}, 2)).size(), 1u);
}

TEST_F(SspTest, StartBytesInsideThePayloadNeedNoEscaping) {
    const Bytes payload = {0xC1, 0xFB, 0x00, 0x00, 0x00, 0xC1, 0xC1, 0xFB};
    const auto received = FeedBytes(state_.get(), MakeFrame(payload, 1));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].payload, payload);
}

TEST_F(SspTest, ReturnsBothOfTwoFramesBackToBack) {
    const Bytes first = MakeFrame({0x10, 0x20}, 1);
    const Bytes second = MakeFrame({0x30}, 2);
    Bytes stream = first;
    stream.insert(stream.end(), second.begin(), second.end());
    const auto received = FeedBytes(state_.get(), stream);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].payload, (Bytes{0x10, 0x20}));
    EXPECT_EQ(received[0].end_offset, first.size() - 1);
    EXPECT_EQ(received[1].payload, (Bytes{0x30}));
    EXPECT_EQ(received[1].end_offset, stream.size() - 1);
    EXPECT_EQ(state_->rx_sequence_gap_count, 0u);
}

TEST_F(SspTest, AFrameMaySpanReads) {
    std::mt19937 random(4);
    const Bytes payload = RandomBytes(random, 200);
    const Bytes frame = MakeFrame(payload, 1);
    for (size_t cut = 1; cut < frame.size(); ++cut) {
        ssp_init(state_.get(), 1527);
        EXPECT_TRUE(
            FeedBytes(state_.get(), Bytes(frame.begin(), frame.begin() + static_cast<long>(cut))).empty());
        const auto received =
            FeedBytes(state_.get(), Bytes(frame.begin() + static_cast<long>(cut), frame.end()));
        ASSERT_EQ(received.size(), 1u) << cut;
        EXPECT_EQ(received[0].payload, payload);
    }
}

TEST_F(SspTest, SequenceGapsAreCountedButNeverDropAFrame) {
    // After ssp_init the expected first number is 1, so 0 counts a gap.
    EXPECT_EQ(FeedBytes(state_.get(), MakeFrame({0x01}, 0)).size(), 1u);
    EXPECT_EQ(state_->rx_sequence_gap_count, 1u);

    EXPECT_EQ(FeedBytes(state_.get(), MakeFrame({0x01}, 255)).size(), 1u);
    EXPECT_EQ(state_->rx_sequence_gap_count, 2u);
    EXPECT_EQ(FeedBytes(state_.get(), MakeFrame({0x01}, 0)).size(), 1u);
    EXPECT_EQ(state_->rx_sequence_gap_count, 2u);  // 255 then 0: no gap

    EXPECT_EQ(FeedBytes(state_.get(), MakeFrame({0x01}, 5)).size(), 1u);
    EXPECT_EQ(state_->rx_sequence_gap_count, 3u);
    EXPECT_EQ(FeedBytes(state_.get(), MakeFrame({0x01}, 7)).size(), 1u);
    EXPECT_EQ(state_->rx_sequence_gap_count, 4u);  // 5 then 7: one gap
    EXPECT_EQ(state_->rx_last_sequence, 7u);
    EXPECT_EQ(state_->rx_good_frame_count, 5u);
}

TEST_F(SspTest, BadChecksumDropsTheFrameAfterTheSequenceTest) {
    std::mt19937 random(5);
    const Bytes payload = RandomBytes(random, 40);
    const Bytes good = MakeFrame(payload, 9);
    for (size_t corrupt : {size_t{5}, size_t{20}, good.size() - 1}) {
        ssp_init(state_.get(), 1527);
        Bytes bad = good;
        bad[corrupt] ^= 0x01;
        EXPECT_TRUE(FeedBytes(state_.get(), bad).empty()) << corrupt;
        EXPECT_EQ(state_->rx_checksum_error_count, 1u);
        EXPECT_EQ(state_->rx_good_frame_count, 0u);
        // The corrupted frame still moved the last sequence and counted a gap.
        EXPECT_EQ(state_->rx_last_sequence, bad[4]);
        EXPECT_EQ(state_->rx_sequence_gap_count, 1u);
        EXPECT_EQ(state_->rx_state, 0u);
    }
}

TEST_F(SspTest, RestartDropsAPartialFrameAndNothingElse) {
    const Bytes frame = MakeFrame({0x01, 0x02, 0x03, 0x04}, 1);
    FeedBytes(state_.get(), Bytes(frame.begin(), frame.begin() + 7));
    EXPECT_EQ(state_->rx_state, 4u);
    ssp_protocol_restart(state_.get());
    EXPECT_EQ(state_->rx_state, 0u);
    EXPECT_EQ(state_->rx_good_frame_count, 0u);
    EXPECT_EQ(state_->rx_checksum_error_count, 0u);
    // The tail of the dropped frame is scanned as stream bytes.
    EXPECT_TRUE(FeedBytes(state_.get(), Bytes(frame.begin() + 7, frame.end())).empty());
    EXPECT_EQ(FeedBytes(state_.get(), frame).size(), 1u);
}

TEST_F(SspTest, AnUnknownReceiveStateFallsBackToHunting) {
    state_->rx_state = 7;
    EXPECT_EQ(ssp_rx_protocol(state_.get(), 0xC1), nullptr);
    EXPECT_EQ(state_->rx_state, 0u);
    state_->rx_state = 0xFFFFFFFF;
    size_t consumed = 0;
    const uint8_t junk[] = {0x00, 0xC1};
    EXPECT_EQ(ssp_rx_protocol_block(state_.get(), junk, sizeof(junk), &consumed), nullptr);
    EXPECT_EQ(consumed, sizeof(junk));
    EXPECT_EQ(state_->rx_state, 1u);
}

TEST_F(SspTest, AMaximumWrittenIntoTheBlockByHandCannotOverrunTheBuffers) {
    state_->max_payload = 0xFFFF;
    EXPECT_EQ(ssp_tx_wrap(state_.get(), 1528), 0u);
    EXPECT_TRUE(FeedBytes(state_.get(), {0xC1, 0xFB, 0x06}).empty());
    EXPECT_TRUE(FeedBytes(state_.get(), {0xC1, 0xFB, 0x05, 0xF8}).empty());
    EXPECT_EQ(state_->rx_length_error_count, 2u);
}

namespace {

// Random junk that cannot open a frame: no 0xC1 0xFB pair, and never a 0xC1
// as its last byte (that would swallow the next frame's 0xC1).
Bytes HarmlessJunk(std::mt19937& random, size_t length) {
    Bytes junk = RandomBytes(random, length);
    for (size_t i = 0; i < junk.size(); ++i) {
        if (junk[i] == 0xC1 && (i + 1 == junk.size() || junk[i + 1] == 0xFB)) {
            junk[i] = 0x00;
        }
    }
    return junk;
}

struct Stream {
    Bytes bytes;
    std::vector<Bytes> good_payloads;
    uint32_t corrupted_frames = 0;
    uint32_t length_errors = 0;
};

// Good frames with junk, corrupted frames and over-long headers in between.
Stream MakeMixedStream(uint32_t seed, int frames) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> length(0, 1527);
    std::uniform_int_distribution<int> junk_length(0, 64);
    Stream stream;
    uint8_t sequence = 1;
    for (int i = 0; i < frames; ++i) {
        const Bytes junk = HarmlessJunk(random, static_cast<size_t>(junk_length(random)));
        stream.bytes.insert(stream.bytes.end(), junk.begin(), junk.end());
        const int what = kind(random);
        if (what == 1) {
            Bytes bad = MakeFrame(RandomBytes(random, static_cast<size_t>(length(random))), sequence++);
            // Flip a bit behind the length field, so the frame keeps its extent.
            std::uniform_int_distribution<size_t> where(4, bad.size() - 1);
            bad[where(random)] ^= 0x10;
            stream.bytes.insert(stream.bytes.end(), bad.begin(), bad.end());
            ++stream.corrupted_frames;
        } else if (what == 2) {
            const Bytes header = {0xC1, 0xFB, 0x05, 0xF8};
            stream.bytes.insert(stream.bytes.end(), header.begin(), header.end());
            ++stream.length_errors;
        }
        const Bytes payload = RandomBytes(random, static_cast<size_t>(length(random)));
        const Bytes frame = MakeFrame(payload, sequence++);
        stream.bytes.insert(stream.bytes.end(), frame.begin(), frame.end());
        stream.good_payloads.push_back(payload);
    }
    return stream;
}

std::vector<Bytes> Payloads(const std::vector<Received>& received) {
    std::vector<Bytes> payloads;
    for (const auto& r : received) {
        payloads.push_back(r.payload);
    }
    return payloads;
}

}  // namespace

TEST_F(SspTest, FindsEveryGoodFrameInAMixedStream) {
    const Stream stream = MakeMixedStream(6, 500);
    const auto received = FeedBytes(state_.get(), stream.bytes);
    EXPECT_EQ(Payloads(received), stream.good_payloads);
    EXPECT_EQ(state_->rx_good_frame_count, stream.good_payloads.size());
    EXPECT_EQ(state_->rx_checksum_error_count, stream.corrupted_frames);
    EXPECT_EQ(state_->rx_length_error_count, stream.length_errors);
    EXPECT_EQ(state_->rx_sequence_gap_count, 0u);
    EXPECT_GT(stream.corrupted_frames, 0u);
    EXPECT_GT(stream.length_errors, 0u);
}

TEST_F(SspTest, BlockFeedingMatchesByteFeedingForAnyReadSizes) {
    const Stream stream = MakeMixedStream(7, 200);
    ssp_state_t* by_byte = state_.get();
    const auto expected = FeedBytes(by_byte, stream.bytes);
    for (const std::vector<size_t>& reads :
         {std::vector<size_t>{1}, {2, 3, 5}, {64}, {1536}, {7, 1000, 1}, {stream.bytes.size()}}) {
        auto by_block = std::make_unique<ssp_state_t>();
        ssp_init(by_block.get(), 1527);
        const auto received = FeedBlocks(by_block.get(), stream.bytes, reads);
        ASSERT_EQ(received.size(), expected.size());
        for (size_t i = 0; i < received.size(); ++i) {
            EXPECT_EQ(received[i].payload, expected[i].payload);
            EXPECT_EQ(received[i].end_offset, expected[i].end_offset);
        }
        ExpectSameState(*by_byte, *by_block);
    }
}

TEST_F(SspTest, SurvivesAnyByteStream) {
    std::mt19937 random(8);
    // Random bytes with start pairs sprinkled in, so that many headers and
    // bodies are entered and abandoned.
    Bytes stream = RandomBytes(random, 1 << 20);
    std::uniform_int_distribution<size_t> where(0, stream.size() - 2);
    for (int i = 0; i < 20000; ++i) {
        const size_t at = where(random);
        stream[at] = 0xC1;
        stream[at + 1] = 0xFB;
    }
    auto by_block = std::make_unique<ssp_state_t>();
    ssp_init(by_block.get(), 1527);
    for (uint8_t byte : stream) {
        const uint8_t* payload = ssp_rx_protocol(state_.get(), byte);
        ASSERT_LE(state_->rx_state, 6u);
        ASSERT_LE(state_->rx_index, 1536u);
        if (payload != nullptr) {
            ASSERT_LE(state_->rx_length, 1527u);
        }
    }
    const uint32_t frames_seen = state_->rx_good_frame_count + state_->rx_checksum_error_count;
    EXPECT_GT(frames_seen, 0u);
    EXPECT_GT(state_->rx_length_error_count, 0u);
    FeedBlocks(by_block.get(), stream, {4096});
    ExpectSameState(*state_, *by_block);
}

TEST_F(SspTest, WrappedFramesParseBackThroughAFreshState) {
    std::mt19937 random(9);
    auto receiver = std::make_unique<ssp_state_t>();
    ssp_init(receiver.get(), 1527);
    Bytes stream;
    std::vector<Bytes> payloads;
    for (int i = 0; i < 50; ++i) {
        payloads.push_back(RandomBytes(random, static_cast<size_t>(i) * 31));
        const Bytes frame = Wrap(payloads.back());
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(Payloads(FeedBytes(receiver.get(), stream)), payloads);
    // Only the first frame (sequence 0, expected 1) counts a gap.
    EXPECT_EQ(receiver->rx_sequence_gap_count, 1u);
}

namespace {

// The receive table transcribed row by row, with the checksum taken word by
// word from its definition; nothing of the unit's own code is used. The
// unit's inline body path, its out-of-line edge handler and its block helper
// must leave the block exactly as this does, byte for byte.
uint32_t ReferenceChecksum(const uint8_t* data, size_t length) {
    uint16_t high = 0;
    uint16_t low = 0;
    for (size_t i = 0; i < length; i += 2) {
        const uint16_t word = static_cast<uint16_t>((data[i] << 8) | (i + 1 < length ? data[i + 1] : 0));
        high = static_cast<uint16_t>(high ^ word);
        low = static_cast<uint16_t>(((low << 1) | (low >> 15)) ^ word);
    }
    return (static_cast<uint32_t>(high) << 16) | low;
}

void ReferenceStore(ssp_state_t* s, uint8_t byte) {
    s->rx_buffer[s->rx_index] = byte;
    s->rx_index = static_cast<uint16_t>(s->rx_index + 1);
}

uint8_t* ReferenceRx(ssp_state_t* s, uint8_t byte) {
    switch (s->rx_state) {
        case 0:
            if (byte == 0xC1) {
                s->rx_buffer[0] = byte;
                s->rx_index = 1;
                s->rx_state = 1;
            } else {
                s->rx_index = 0;
            }
            return nullptr;
        case 1:
            if (byte == 0xFB) {
                ReferenceStore(s, byte);
                s->rx_state = 2;
            } else {
                s->rx_state = 0;
            }
            return nullptr;
        case 2:
            if (byte > (s->max_payload >> 8)) {
                ++s->rx_length_error_count;
                s->rx_state = 0;
            } else {
                ReferenceStore(s, byte);
                s->rx_length = static_cast<uint16_t>(byte * 256);
                s->rx_state = 3;
            }
            return nullptr;
        case 3:
            if (byte > s->max_payload - s->rx_length) {
                ++s->rx_length_error_count;
                s->rx_state = 0;
            } else {
                ReferenceStore(s, byte);
                s->rx_length = static_cast<uint16_t>(s->rx_length + byte);
                s->rx_state = 4;
            }
            return nullptr;
        case 4:
            ReferenceStore(s, byte);
            if (s->rx_index == s->rx_length + 5) {
                s->rx_state = 5;
            }
            return nullptr;
        case 5:
            ReferenceStore(s, byte);
            s->rx_checksum = (s->rx_checksum << 8) | byte;
            if (s->rx_index == s->rx_length + 8) {
                s->rx_state = 6;
            }
            return nullptr;
        case 6: {
            ReferenceStore(s, byte);
            s->rx_checksum = (s->rx_checksum << 8) | byte;
            s->rx_state = 0;
            if (s->rx_buffer[4] != static_cast<uint8_t>(s->rx_last_sequence + 1)) {
                ++s->rx_sequence_gap_count;
            }
            s->rx_last_sequence = s->rx_buffer[4];
            if (ReferenceChecksum(s->rx_buffer, s->rx_length + 5u) != s->rx_checksum) {
                ++s->rx_checksum_error_count;
                return nullptr;
            }
            ++s->rx_good_frame_count;
            return s->rx_buffer + 5;
        }
        default:
            s->rx_state = 0;
            return nullptr;
    }
}

// Every field but the buffers; cheap enough to run after each byte.
::testing::AssertionResult SameFields(const ssp_state_t& a, const ssp_state_t& b) {
    const bool same =
        a.tx_frame_count == b.tx_frame_count && a.rx_good_frame_count == b.rx_good_frame_count &&
        a.rx_checksum_error_count == b.rx_checksum_error_count &&
        a.rx_sequence_gap_count == b.rx_sequence_gap_count &&
        a.rx_length_error_count == b.rx_length_error_count && a.rx_state == b.rx_state &&
        a.rx_index == b.rx_index && a.rx_length == b.rx_length && a.rx_last_sequence == b.rx_last_sequence &&
        a.tx_sequence == b.tx_sequence && a.rx_checksum == b.rx_checksum && a.max_payload == b.max_payload;
    if (same) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "counters " << a.rx_good_frame_count << "/" << b.rx_good_frame_count << " "
           << a.rx_checksum_error_count << "/" << b.rx_checksum_error_count << " " << a.rx_sequence_gap_count
           << "/" << b.rx_sequence_gap_count << " " << a.rx_length_error_count << "/"
           << b.rx_length_error_count << ", state " << a.rx_state << "/" << b.rx_state << ", index "
           << a.rx_index << "/" << b.rx_index << ", length " << a.rx_length << "/" << b.rx_length
           << ", last sequence " << int{a.rx_last_sequence} << "/" << int{b.rx_last_sequence} << ", checksum "
           << a.rx_checksum << "/" << b.rx_checksum;
}

::testing::AssertionResult SameBlock(const ssp_state_t& a, const ssp_state_t& b) {
    ::testing::AssertionResult fields = SameFields(a, b);
    if (!fields) {
        return fields;
    }
    if (std::memcmp(a.rx_buffer, b.rx_buffer, sizeof(a.rx_buffer)) != 0) {
        return ::testing::AssertionFailure() << "rx buffers differ";
    }
    if (std::memcmp(a.tx_buffer, b.tx_buffer, sizeof(a.tx_buffer)) != 0) {
        return ::testing::AssertionFailure() << "tx buffers differ";
    }
    return ::testing::AssertionSuccess();
}

// Bytes that steer the parser: start bytes, length bytes at and around the
// limits, and the rest at random.
uint8_t SteeringByte(std::mt19937& random) {
    static const uint8_t kSteering[] = {0xC1, 0xC1, 0xFB, 0xFB, 0x00, 0x01, 0x05, 0x06, 0xF7, 0xF8, 0xFF};
    std::uniform_int_distribution<int> pick(0, 2 * static_cast<int>(sizeof(kSteering)) - 1);
    const int choice = pick(random);
    if (choice < static_cast<int>(sizeof(kSteering))) {
        return kSteering[choice];
    }
    return static_cast<uint8_t>(random());
}

// A stream for the given maximum: good frames at the limits and in between,
// frames corrupted anywhere (the length field included), frames cut short,
// over-long headers, doubled start bytes and steering junk.
Bytes MakeDifferentialStream(std::mt19937& random, uint16_t max_payload, size_t target_size) {
    std::uniform_int_distribution<int> kind(0, 9);
    Bytes stream;
    uint8_t sequence = 1;
    auto payload_length = [&]() -> size_t {
        switch (random() % 4) {
            case 0:
                return 0;
            case 1:
                return max_payload;
            case 2:
                return random() % (static_cast<size_t>(max_payload) + 1);
            default:
                return random() % (std::min<size_t>(max_payload, 40) + 1);
        }
    };
    auto append = [&stream](const Bytes& bytes) { stream.insert(stream.end(), bytes.begin(), bytes.end()); };
    while (stream.size() < target_size) {
        // Mostly the expected sequence number, sometimes a jump.
        const uint8_t frame_sequence = random() % 5 == 0 ? static_cast<uint8_t>(random()) : sequence;
        sequence = static_cast<uint8_t>(frame_sequence + 1);
        Bytes frame = MakeFrame(RandomBytes(random, payload_length()), frame_sequence);
        switch (kind(random)) {
            case 0:
            case 1:
            case 2:
                append(frame);
                break;
            case 3:  // one byte flipped anywhere, the length field included
                frame[random() % frame.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
                append(frame);
                break;
            case 4:  // cut short, then whatever follows
                frame.resize(random() % frame.size());
                append(frame);
                break;
            case 5: {  // a length one above the maximum, split at either byte
                const unsigned length = max_payload + 1u;
                append({0xC1, 0xFB, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
                break;
            }
            case 6:  // a doubled start byte in front of a good frame
                stream.push_back(0xC1);
                append(frame);
                break;
            case 7:  // a length field above anything
                append({0xC1, 0xFB, static_cast<uint8_t>(random()), static_cast<uint8_t>(random())});
                break;
            default: {
                const size_t junk = random() % 48;
                for (size_t i = 0; i < junk; ++i) {
                    stream.push_back(SteeringByte(random));
                }
                break;
            }
        }
    }
    return stream;
}

}  // namespace

TEST(SspDifferential, ByteAndBlockFeedingMatchThePlainTableOnRandomStreams) {
    const uint16_t maxima[] = {1527, 0, 1, 255, 256, 257, 300, 1280, 1526};
    uint32_t good = 0;
    uint32_t checksum_errors = 0;
    uint32_t gaps = 0;
    uint32_t length_errors = 0;
    for (uint32_t seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed);
        std::mt19937 random(seed);
        const uint16_t requested = seed % 10 == 0 ? static_cast<uint16_t>(random()) : maxima[seed % 9];
        const Bytes stream = MakeDifferentialStream(random, std::min<uint16_t>(requested, 1527), 12000);

        auto reference = std::make_unique<ssp_state_t>();
        auto by_byte = std::make_unique<ssp_state_t>();
        auto by_block = std::make_unique<ssp_state_t>();
        for (ssp_state_t* s : {reference.get(), by_byte.get(), by_block.get()}) {
            std::memset(s, 0x5A, sizeof(*s));
            ssp_init(s, requested);
        }
        ASSERT_EQ(reference->max_payload, std::min<uint16_t>(requested, 1527));
        // Both tx buffers stay as ssp_init left them; the reference never writes one.

        size_t offset = 0;
        while (offset < stream.size()) {
            // Now and then the read boundary also restarts the parser or finds
            // a state value outside the table, in all three blocks alike.
            const unsigned event = random() % 64;
            if (event == 0) {
                for (ssp_state_t* s : {reference.get(), by_byte.get(), by_block.get()}) {
                    ssp_protocol_restart(s);
                }
            } else if (event == 1) {
                const uint32_t stray = random() % 2 == 0 ? 7u : 0xFFFFFFFFu;
                reference->rx_state = by_byte->rx_state = by_block->rx_state = stray;
            }
            const size_t read = std::min(stream.size() - offset, static_cast<size_t>(1 + random() % 2000));
            const size_t end = offset + read;
            while (offset < end) {
                size_t consumed = 0;
                const uint8_t* block_payload =
                    ssp_rx_protocol_block(by_block.get(), stream.data() + offset, end - offset, &consumed);
                ASSERT_GT(consumed, 0u);
                ASSERT_LE(consumed, end - offset);
                for (size_t i = 0; i < consumed; ++i) {
                    const uint8_t byte = stream[offset + i];
                    const uint8_t* expected = ReferenceRx(reference.get(), byte);
                    const uint8_t* actual = ssp_rx_protocol(by_byte.get(), byte);
                    ASSERT_EQ(expected == nullptr, actual == nullptr) << "at byte " << offset + i;
                    ASSERT_TRUE(SameFields(*reference, *by_byte)) << "at byte " << offset + i;
                    if (expected != nullptr) {
                        ASSERT_EQ(actual, by_byte->rx_buffer + 5);
                        ASSERT_EQ(0, std::memcmp(expected, actual, reference->rx_length));
                    }
                    // The block helper stops on the byte that completes a good
                    // frame, and only there.
                    const bool last = i + 1 == consumed;
                    ASSERT_EQ(expected != nullptr, last && block_payload != nullptr)
                        << "at byte " << offset + i;
                }
                offset += consumed;
                if (block_payload != nullptr) {
                    ASSERT_EQ(block_payload, by_block->rx_buffer + 5);
                    ASSERT_EQ(0, std::memcmp(block_payload, reference->rx_buffer + 5, reference->rx_length));
                }
                ASSERT_TRUE(SameBlock(*reference, *by_block)) << "after byte " << offset;
            }
            ASSERT_TRUE(SameBlock(*reference, *by_byte)) << "after byte " << offset;
        }
        good += reference->rx_good_frame_count;
        checksum_errors += reference->rx_checksum_error_count;
        gaps += reference->rx_sequence_gap_count;
        length_errors += reference->rx_length_error_count;
    }
    // The streams reached every outcome the table has.
    EXPECT_GT(good, 1000u);
    EXPECT_GT(checksum_errors, 1000u);
    EXPECT_GT(gaps, 1000u);
    EXPECT_GT(length_errors, 1000u);
}
