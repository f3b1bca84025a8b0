#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The block "ZELMappingObject" through which engines and the interceptor
// coordinate. The byte layout is fixed; counters are changed atomically
// because several processes map the same bytes.
class SharedBlock {
public:
    static constexpr const char* kName = "ZELMappingObject";
    static constexpr size_t kUpdateStringOffset = 0;
    static constexpr size_t kUpdateStringSize = 512;
    static constexpr size_t kCounterAOffset = 512;
    static constexpr size_t kCounterBOffset = 516;
    static constexpr size_t kAckSlots = 256;
    static constexpr size_t kAckCountOffset = 1544;
    static constexpr size_t kSize = 1548;
    // Slot n (1..256) lies at 516 + 4n.
    static constexpr size_t AckSlotOffset(size_t n) { return 516 + 4 * n; }

    SharedBlock() = default;
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;
    SharedBlock(SharedBlock&& other) noexcept;
    SharedBlock& operator=(SharedBlock&& other) noexcept;
    ~SharedBlock();

    // The file of the block in the runtime folder.
    static std::string DefaultPath();
    // Opens an existing block (the engine's way); an empty handle on failure.
    static SharedBlock Open(const std::string& path);
    // Creates the block, or opens and resizes an existing one (the interceptor's way).
    static SharedBlock Create(const std::string& path);

    explicit operator bool() const { return base_ != nullptr; }

    // Copies the update string with its NUL into a 512-byte buffer. The last
    // byte is always NUL, whatever the block holds.
    void CopyUpdateString(char* buffer) const;
    // Replaces the update string, cut to 511 characters.
    void SetUpdateString(const std::string& text);

    void AddTraffic(bool counterA, uint32_t byteCount);
    uint32_t CounterA() const;
    uint32_t CounterB() const;
    // Reads a counter and sets it to zero in one step.
    uint32_t TakeCounterA();
    uint32_t TakeCounterB();

    // Increments the count and stores pid in the slot the new count names.
    // Counts past 256 store nothing: no write lands beyond the last slot.
    void PostAcknowledgement(uint32_t pid);
    int32_t AcknowledgementCount() const;
    uint32_t AcknowledgementSlot(size_t n) const;
    void ResetAcknowledgements();
    // The process ids acknowledged since the last call, with the count set
    // back to zero in the same step so that none is lost or counted twice.
    std::vector<uint32_t> TakeAcknowledgements();

private:
    unsigned char* base_ = nullptr;
};

}  // namespace platform
