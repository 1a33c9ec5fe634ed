#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace klv::zip {

// Bounds-checked little-endian reads over a byte span. Reading past the end yields zeros and
// marks the reader as short; callers check Ok() once after a group of reads.
class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> bytes, std::size_t offset = 0)
        : bytes_(bytes), pos_(offset) {}

    std::uint8_t U8() { return static_cast<std::uint8_t>(Take(1)); }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Take(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Take(4)); }
    std::uint64_t U64() { return Take(8); }
    std::string Bytes(std::size_t n) {
        if (n > Remaining()) {
            ok_ = false;
            pos_ = bytes_.size();
            return {};
        }
        std::string out(reinterpret_cast<const char*>(bytes_.data() + pos_), n);
        pos_ += n;
        return out;
    }
    void Skip(std::size_t n) {
        if (n > Remaining()) {
            ok_ = false;
            pos_ = bytes_.size();
        } else {
            pos_ += n;
        }
    }
    std::size_t Remaining() const { return bytes_.size() - pos_; }
    std::size_t Position() const { return pos_; }
    bool Ok() const { return ok_; }

  private:
    std::uint64_t Take(std::size_t n) {
        if (n > Remaining()) {
            ok_ = false;
            pos_ = bytes_.size();
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v |= static_cast<std::uint64_t>(bytes_[pos_ + i]) << (8 * i);
        pos_ += n;
        return v;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t pos_;
    bool ok_ = true;
};

// Little-endian writes into a record being built.
inline void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutU64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace klv::zip
