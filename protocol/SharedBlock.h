#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace protocol {

// The block "ZELMappingObject" through which engines and the interceptor
// coordinate. The documented bytes keep their fixed layout; counters are
// changed atomically because several processes map the same bytes.
//
// After the documented bytes the interceptor keeps, for the update string,
// when each name in it was published, so that an engine reloads once for
// each change however long it stayed idle, and never again for a change it
// has taken:
//   1548 sequence: even, raised by 2 with every write of the string (odd
//        while a write is under way)
//   1552 floor: changes up to this sequence were taken off the string for
//        room; an engine that has not seen that sequence reloads
//   1556 relay beat: the interceptor's tick count, renewed several times a
//        second; a string whose beat stopped is left from an interceptor
//        that ended and names nothing
//   1564 word sequences: for the n-th name of the string, the sequence at
//        which it was published
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

    static constexpr size_t kSequenceOffset = 1548;
    static constexpr size_t kFloorOffset = 1552;
    static constexpr size_t kRelayBeatOffset = 1556;
    static constexpr size_t kWordSequencesOffset = 1564;
    static constexpr size_t kMaxWords = 256;
    static constexpr size_t kExtendedSize = 4096;
    static constexpr uint32_t kRelayBeatLimitMs = 2000;

    // A consistent copy of the update string and its bookkeeping.
    struct UpdateView {
        char names[kUpdateStringSize] = {};
        bool extended = false; // false: a block with the documented bytes only
        uint32_t sequence = 0;
        uint32_t floor = 0;
        uint32_t relayBeat = 0;
        uint32_t wordSequences[kMaxWords] = {};
    };

    SharedBlock() = default;
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;
    SharedBlock(SharedBlock&& other) noexcept;
    SharedBlock& operator=(SharedBlock&& other) noexcept;
    ~SharedBlock();

    // The file of the block in the runtime folder; empty when that folder is
    // not safe to use.
    static std::string DefaultPath();
    // Opens an existing block (the engine's way); an empty handle on failure.
    // Only a regular file of ours, reached without a symbolic link and at
    // least as large as the layout, is mapped: a shrunken or foreign block
    // would make every access fault.
    static SharedBlock Open(const std::string& path);
    // Creates the block, or opens and grows an existing one of ours (the
    // interceptor's way).
    static SharedBlock Create(const std::string& path);

    explicit operator bool() const { return base_ != nullptr; }
    bool HasExtension() const { return length_ >= kExtendedSize; }

    // Copies the update string with its NUL into a 512-byte buffer. The last
    // byte is always NUL, whatever the block holds.
    void CopyUpdateString(char* buffer) const;
    // Replaces the update string, cut to 511 characters, without any bookkeeping.
    void SetUpdateString(const std::string& text);

    // The sequence of the last write of the string (0 without the extension).
    uint32_t Sequence() const;
    // False while a write is under way (try again later).
    bool ReadUpdate(UpdateView& view) const;
    // The interceptor's write: the names (each preceded by a blank), the
    // sequence each was published at (a sequence of 0 stands for this
    // write's own), the floor. Returns this write's sequence.
    uint32_t PublishUpdate(const std::string& names, const std::vector<uint32_t>& wordSequences, uint32_t floor);
    // Every name published now.
    uint32_t Publish(const std::string& names);
    void StampRelay(uint32_t tickCount);

    // Whether an engine of exeName that has seen every write up to seen must
    // load its rules again. now: the tick count, to tell a stopped relay.
    static bool IsDue(const UpdateView& view, std::string_view exeName, uint32_t seen, uint32_t now);
    // Whether an occurrence of exeName in names touches the word-th name.
    static bool NamesWord(std::string_view names, std::string_view exeName, size_t word);
    // The update string an engine should go by: empty when its relay stopped.
    static bool RelayStopped(const UpdateView& view, uint32_t now);

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
    size_t length_ = 0;
};

// a comes after b in a sequence that wraps around.
inline bool SequenceAfter(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) > 0; }

}  // namespace protocol
