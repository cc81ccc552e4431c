#pragma once
// Unaligned, explicit-byte-order access to wire buffers. Every codec reads and
// writes through these helpers: no casts of unaligned pointers, no reliance on
// the host byte order.

#include <cstdint>
#include <cstring>

namespace wire {

inline uint8_t read_u8(const uint8_t* p) { return p[0]; }

inline uint16_t read_be16(const uint8_t* p) {
    return static_cast<uint16_t>((static_cast<uint16_t>(p[0]) << 8) | p[1]);
}

inline uint32_t read_be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// Device timestamps are 40 bits wide and travel in 5 bytes, most significant first.
inline uint64_t read_be40(const uint8_t* p) {
    return (static_cast<uint64_t>(p[0]) << 32) | (static_cast<uint64_t>(p[1]) << 24) |
           (static_cast<uint64_t>(p[2]) << 16) | (static_cast<uint64_t>(p[3]) << 8) |
           static_cast<uint64_t>(p[4]);
}

inline uint64_t read_be64(const uint8_t* p) {
    return (static_cast<uint64_t>(read_be32(p)) << 32) | read_be32(p + 4);
}

inline int16_t read_be16s(const uint8_t* p) { return static_cast<int16_t>(read_be16(p)); }
inline int32_t read_be32s(const uint8_t* p) { return static_cast<int32_t>(read_be32(p)); }

inline void write_u8(uint8_t* p, uint8_t v) { p[0] = v; }

inline void write_be16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

inline void write_be32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// Only the low 40 bits of the value are written.
inline void write_be40(uint8_t* p, uint64_t v) {
    p[0] = static_cast<uint8_t>(v >> 32);
    p[1] = static_cast<uint8_t>(v >> 24);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 8);
    p[4] = static_cast<uint8_t>(v);
}

inline void write_be64(uint8_t* p, uint64_t v) {
    write_be32(p, static_cast<uint32_t>(v >> 32));
    write_be32(p + 4, static_cast<uint32_t>(v));
}

inline void write_be16s(uint8_t* p, int16_t v) { write_be16(p, static_cast<uint16_t>(v)); }
inline void write_be32s(uint8_t* p, int32_t v) { write_be32(p, static_cast<uint32_t>(v)); }

inline uint16_t read_le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (static_cast<uint16_t>(p[1]) << 8));
}

inline uint32_t read_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t read_le64(const uint8_t* p) {
    return static_cast<uint64_t>(read_le32(p)) | (static_cast<uint64_t>(read_le32(p + 4)) << 32);
}

inline void write_le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void write_le32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void write_le64(uint8_t* p, uint64_t v) {
    write_le32(p, static_cast<uint32_t>(v));
    write_le32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Reinterprets the bytes of a trivially copyable value (memcpy, no aliasing).
template <typename To, typename From>
inline To bit_cast(const From& from) {
    static_assert(sizeof(To) == sizeof(From), "bit_cast needs equal sizes");
    To to;
    std::memcpy(&to, &from, sizeof(To));
    return to;
}

}  // namespace wire
