#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace os {

// SHA-256 (FIPS 180-4), fed in pieces: what an entry's content check
// compares a program's file with. Small and allocation-free, since the
// engine carries it into every program.
class Sha256 {
public:
    Sha256();
    void Add(const void* data, size_t size);
    // The digest of everything added; the object is spent afterwards.
    std::array<uint8_t, 32> Finish();

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> pending_ {};
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

// The content check's text: "sha256:" and 64 lower-case hex digits, of a
// digest or of data.
std::string DigestText(const std::array<uint8_t, 32>& digest);
std::string DigestText(std::string_view data);
// The same for the file at path, read through a descriptor that never
// waits (a FIFO in its place gives no digest); empty when it cannot be read
// whole as a regular file.
std::string FileDigestText(const std::string& path);

}  // namespace os
