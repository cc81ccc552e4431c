#pragma once
// Helpers shared by the report record codecs: bounds-checked texts and lists
// of fixed-size sub-records. Decoders of outside bytes use these so that a
// count or a text never runs past the end of the buffer.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/byte_order.h"
#include "protocol/packets/signal_strength.h"
#include "protocol/packets/signal_strength_packet.h"

namespace derazud_codec {

// Results of the helpers below, beside a byte count.
constexpr int kRefused = -1;  // would run past the buffer or a count is out of range
constexpr int kNoMemory = -2;

// A text travels as its bytes, a terminating zero and three bytes that are
// neither written nor read.
constexpr int kTextTrailer = 3;

inline int TextSize(const char* text) {
    return static_cast<int>((text == nullptr ? 0 : std::strlen(text)) + 1 + kTextTrailer);
}

// Reads one text into a heap copy owned by *text. The zero and the skipped
// bytes must lie inside the buffer.
inline int ReadText(const uint8_t* buffer, int length, char** text) {
    *text = nullptr;
    if (length < 1 + kTextTrailer) {
        return kRefused;
    }
    const void* zero = std::memchr(buffer, 0, static_cast<size_t>(length - kTextTrailer));
    if (zero == nullptr) {
        return kRefused;
    }
    const auto size = static_cast<size_t>(static_cast<const uint8_t*>(zero) - buffer) + 1;
    auto* copy = static_cast<char*>(std::malloc(size));
    if (copy == nullptr) {
        return kNoMemory;
    }
    std::memcpy(copy, buffer, size);
    *text = copy;
    return static_cast<int>(size) + kTextTrailer;
}

// A null text is written as the empty text.
inline int WriteText(uint8_t* buffer, const char* text) {
    const size_t size = (text == nullptr ? 0 : std::strlen(text)) + 1;
    if (text == nullptr) {
        buffer[0] = 0;
    } else {
        std::memcpy(buffer, text, size);
    }
    return static_cast<int>(size) + kTextTrailer;
}

// The number of sub-records a list record holds: a count below 1 means none,
// and a positive count with no array is written as 0.
template <typename Count, typename Item>
inline int ItemsPresent(Count count, const Item* items) {
    return count > 0 && items != nullptr ? static_cast<int>(count) : 0;
}

template <typename Count, typename Item>
inline Count CountToWrite(Count count, const Item* items) {
    return count > 0 && items == nullptr ? Count(0) : count;
}

// Decodes `count` fixed-size sub-records into a fresh array. Refuses a list
// that would run past `length` before allocating anything.
template <typename Item, typename DecodeOne>
inline int ReadList(const uint8_t* buffer, int length, int count, int item_size, Item** items,
                    DecodeOne decode_one) {
    *items = nullptr;
    if (count < 1) {
        return 0;
    }
    if (static_cast<int64_t>(count) * item_size > length) {
        return kRefused;
    }
    auto* array = static_cast<Item*>(std::calloc(static_cast<size_t>(count), sizeof(Item)));
    if (array == nullptr) {
        return kNoMemory;
    }
    int offset = 0;
    for (int i = 0; i < count; ++i) {
        offset += decode_one(&array[i], buffer + offset);
    }
    *items = array;
    return offset;
}

template <typename Item, typename EncodeOne>
inline int WriteList(uint8_t* buffer, int count, const Item* items, EncodeOne encode_one) {
    int offset = 0;
    for (int i = 0; i < count; ++i) {
        offset += encode_one(buffer + offset, &items[i]);
    }
    return offset;
}

// A list record: a head of head_size bytes holding the count, then the
// sub-records. read_head decodes the head's fields and returns the count; on
// refusal the record is left with count 0 and no array, and 0 is returned
// when memory ran out.
template <typename Count, typename Item, typename ReadHead, typename DecodeOne>
inline int ReadListRecord(const uint8_t* buffer, int length, int head_size, Count* count, Item** items,
                          int item_size, ReadHead read_head, DecodeOne decode_one) {
    *items = nullptr;
    if (length < head_size) {
        *count = 0;
        return kRefused;
    }
    *count = read_head();
    const int read = ReadList(buffer + head_size, length - head_size, *count, item_size, items, decode_one);
    if (read < 0) {
        *count = 0;
        return read == kNoMemory ? 0 : kRefused;
    }
    return head_size + read;
}

// write_head writes the head's fields with the count it is given.
template <typename Count, typename Item, typename WriteHead, typename EncodeOne>
inline int WriteListRecord(uint8_t* buffer, int head_size, Count count, const Item* items,
                           WriteHead write_head, EncodeOne encode_one) {
    write_head(CountToWrite(count, items));
    return head_size + WriteList(buffer + head_size, ItemsPresent(count, items), items, encode_one);
}

template <typename Item>
inline void FreeList(Item** items) {
    std::free(*items);
    *items = nullptr;
}

inline void FreeText(char** text) {
    std::free(*text);
    *text = nullptr;
}

// What a link appends to a report it received: the 40-bit receive time,
// `gap` bytes that are neither written nor read, the six signal values and a
// u32. The caller has checked that ReceptionSize(gap) bytes are there.
inline int ReceptionSize(int gap) {
    return 5 + gap + 12 + 4;
}

inline int ReadReception(const uint8_t* buffer, int gap, uint64_t* receive_time,
                         signal_strength_t* signal_strength, uint32_t* network_time) {
    *receive_time = wire::read_be40(buffer);
    SignalStrength_FromBuff(buffer + 5 + gap, signal_strength);
    *network_time = wire::read_be32(buffer + 5 + gap + 12);
    return ReceptionSize(gap);
}

inline int WriteReception(uint8_t* buffer, int gap, uint64_t receive_time,
                          const signal_strength_t* signal_strength, uint32_t network_time) {
    wire::write_be40(buffer, receive_time);
    SignalStrength_ToBuff(buffer + 5 + gap, signal_strength);
    wire::write_be32(buffer + 5 + gap + 12, network_time);
    return ReceptionSize(gap);
}

}  // namespace derazud_codec
