// What every fuzz target shares: a forward reader over the input, the machine's lifecycle around one
// input, and the platform-level invariants that end it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "winsim/sim.h"

namespace fuzz {

// Reads the input front to back; past its end every read gives zeros or nothing, so that any prefix of
// an input is an input too.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t U16() { return Byte() | static_cast<uint32_t>(Byte()) << 8; }
    uint32_t U32() { return U16() | U16() << 16; }
    std::vector<uint8_t> Bytes(size_t count) {
        size_t take = count < size_ - at_ ? count : size_ - at_;
        if (at_ >= size_) take = 0;
        std::vector<uint8_t> out(data_ + at_, data_ + at_ + take);
        at_ += take;
        return out;
    }
    // A chunk with a one-byte length in front.
    std::vector<uint8_t> Chunk8() { return Bytes(Byte()); }
    // A chunk with a two-byte little-endian length in front, at most `limit` bytes.
    std::vector<uint8_t> Chunk16(size_t limit) {
        size_t length = U16();
        return Bytes(length < limit ? length : limit);
    }
    std::vector<uint8_t> Rest() { return Bytes(size_ - at_); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// UTF-16 code units from little-endian byte pairs (an odd last byte is dropped), NULs and all.
std::u16string Utf16(const std::vector<uint8_t>& bytes);

// Reports a broken invariant with the machine's last calls and aborts, so that the fuzzer keeps the input.
[[noreturn]] void Fail(const std::string& what);
inline void Check(bool holds, const char* what) {
    if (!holds) Fail(what);
}

// A fresh machine for one input.
void Begin();
// Nothing left open, no misuse of the platform; then the machine is emptied again.
void End();

}  // namespace fuzz
