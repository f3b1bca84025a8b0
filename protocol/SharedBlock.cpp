#include "protocol/SharedBlock.h"

#include "os/Paths.h"
#include "os/hooksafe/Descriptors.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace protocol {

namespace {

template <typename T>
std::atomic_ref<T> At(unsigned char* base, size_t offset)
{
    return std::atomic_ref<T>(*reinterpret_cast<T*>(base + offset));
}

unsigned char* Map(int fd, size_t length)
{
    void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
}

// The word (0-based name of the string) the character at position p belongs to.
size_t WordAt(std::string_view names, size_t p)
{
    const size_t blanks = static_cast<size_t>(std::count(names.begin(), names.begin() + static_cast<long>(p), ' '));
    return blanks == 0 ? 0 : blanks - 1;
}

}  // namespace

SharedBlock::SharedBlock(SharedBlock&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)), length_(std::exchange(other.length_, 0))
{
}

SharedBlock& SharedBlock::operator=(SharedBlock&& other) noexcept
{
    if (this != &other) {
        if (base_)
            ::munmap(base_, length_);
        base_ = std::exchange(other.base_, nullptr);
        length_ = std::exchange(other.length_, 0);
    }
    return *this;
}

SharedBlock::~SharedBlock()
{
    if (base_)
        ::munmap(base_, length_);
}

std::string SharedBlock::DefaultPath() { return os::RuntimePath(kName); }

SharedBlock SharedBlock::Open(const std::string& path)
{
    SharedBlock block;
    if (path.empty())
        return block;
    const int fd = os::OpenRegularFile(path.c_str(), O_RDWR, 0, false);
    if (fd < 0)
        return block;
    struct stat st {};
    // A block that is still being sized would fault on access: leave it for the next try.
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && static_cast<size_t>(st.st_size) >= kSize) {
        const size_t length = static_cast<size_t>(st.st_size) >= kExtendedSize ? kExtendedSize : kSize;
        if ((block.base_ = Map(fd, length)))
            block.length_ = length;
    }
    ::close(fd);
    return block;
}

SharedBlock SharedBlock::Create(const std::string& path)
{
    SharedBlock block;
    if (path.empty())
        return block;
    const int fd = os::OpenRegularFile(path.c_str(), O_RDWR | O_CREAT, 0600, false);
    if (fd < 0)
        return block;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid()
        && (static_cast<size_t>(st.st_size) >= kExtendedSize || ::ftruncate(fd, kExtendedSize) == 0)) {
        if ((block.base_ = Map(fd, kExtendedSize)))
            block.length_ = kExtendedSize;
    }
    ::close(fd);
    return block;
}

void SharedBlock::CopyUpdateString(char* buffer) const
{
    // Byte by byte through relaxed atomics: the writer may change the text meanwhile.
    for (size_t i = 0; i + 1 < kUpdateStringSize; ++i) {
        const char c = static_cast<char>(At<unsigned char>(base_, kUpdateStringOffset + i).load(std::memory_order_relaxed));
        buffer[i] = c;
        if (c == '\0')
            return;
    }
    buffer[kUpdateStringSize - 1] = '\0';
}

void SharedBlock::SetUpdateString(const std::string& text)
{
    const size_t n = std::min(text.size(), kUpdateStringSize - 1);
    // Terminate first so that a reader never runs into stale bytes past the new end.
    At<unsigned char>(base_, kUpdateStringOffset + n).store(0, std::memory_order_release);
    for (size_t i = 0; i < n; ++i)
        At<unsigned char>(base_, kUpdateStringOffset + i).store(static_cast<unsigned char>(text[i]), std::memory_order_release);
}

uint32_t SharedBlock::Sequence() const
{
    return HasExtension() ? At<uint32_t>(base_, kSequenceOffset).load(std::memory_order_acquire) : 0;
}

bool SharedBlock::ReadUpdate(UpdateView& view) const
{
    view.extended = HasExtension();
    if (!view.extended) {
        CopyUpdateString(view.names);
        return true;
    }
    const uint32_t before = At<uint32_t>(base_, kSequenceOffset).load(std::memory_order_acquire);
    if (before & 1u)
        return false;
    // Acquire loads throughout: the second look at the sequence cannot come
    // before any of them, so a write under way meanwhile is always noticed.
    for (size_t i = 0; i + 1 < kUpdateStringSize; ++i) {
        view.names[i] = static_cast<char>(At<unsigned char>(base_, kUpdateStringOffset + i).load(std::memory_order_acquire));
        if (view.names[i] == '\0')
            break;
    }
    view.names[kUpdateStringSize - 1] = '\0';
    view.floor = At<uint32_t>(base_, kFloorOffset).load(std::memory_order_acquire);
    view.relayBeat = At<uint32_t>(base_, kRelayBeatOffset).load(std::memory_order_acquire);
    for (size_t i = 0; i < kMaxWords; ++i)
        view.wordSequences[i] = At<uint32_t>(base_, kWordSequencesOffset + 4 * i).load(std::memory_order_acquire);
    view.sequence = At<uint32_t>(base_, kSequenceOffset).load(std::memory_order_relaxed);
    return view.sequence == before;
}

uint32_t SharedBlock::PublishUpdate(const std::string& names, const std::vector<uint32_t>& wordSequences,
                                    uint32_t floor)
{
    if (!HasExtension()) {
        SetUpdateString(names);
        return 0;
    }
    auto sequence = At<uint32_t>(base_, kSequenceOffset);
    const uint32_t before = sequence.load(std::memory_order_relaxed) & ~1u;
    const uint32_t after = before + 2;
    // Release stores throughout: none of them can come before the odd sequence.
    sequence.store(before + 1, std::memory_order_relaxed);
    SetUpdateString(names);
    At<uint32_t>(base_, kFloorOffset).store(floor, std::memory_order_release);
    for (size_t i = 0; i < kMaxWords; ++i) {
        const uint32_t word = i < wordSequences.size() ? (wordSequences[i] ? wordSequences[i] : after) : 0;
        At<uint32_t>(base_, kWordSequencesOffset + 4 * i).store(word, std::memory_order_release);
    }
    sequence.store(after, std::memory_order_release);
    return after;
}

uint32_t SharedBlock::Publish(const std::string& names)
{
    const size_t words = static_cast<size_t>(std::count(names.begin(), names.end(), ' '));
    UpdateView view;
    const uint32_t floor = ReadUpdate(view) ? view.floor : 0;
    return PublishUpdate(names, std::vector<uint32_t>(std::min(words, kMaxWords), 0), floor);
}

void SharedBlock::StampRelay(uint32_t tickCount)
{
    if (HasExtension())
        At<uint32_t>(base_, kRelayBeatOffset).store(tickCount, std::memory_order_relaxed);
}

bool SharedBlock::NamesWord(std::string_view names, std::string_view exeName, size_t word)
{
    if (exeName.empty())
        return false;
    for (size_t at = names.find(exeName); at != std::string_view::npos; at = names.find(exeName, at + 1))
        if (WordAt(names, at) <= word && word <= WordAt(names, at + exeName.size() - 1))
            return true;
    return false;
}

bool SharedBlock::RelayStopped(const UpdateView& view, uint32_t now)
{
    // A beat of 0: no relay stamps this block (one made by hand); its string counts.
    // Signed: the relay may have stamped a beat after this process read the
    // clock, and that beat is a little "ahead" of now, not ages behind it.
    return view.extended && view.relayBeat != 0
        && static_cast<int32_t>(now - view.relayBeat) > static_cast<int32_t>(kRelayBeatLimitMs);
}

bool SharedBlock::IsDue(const UpdateView& view, std::string_view exeName, uint32_t seen, uint32_t now)
{
    const std::string_view names(view.names);
    if (exeName.empty())
        return false;
    if (!view.extended)
        return names.find(exeName) != std::string_view::npos;
    if (SequenceAfter(view.floor, seen))
        return true;
    if (RelayStopped(view, now))
        return false;
    for (size_t at = names.find(exeName); at != std::string_view::npos; at = names.find(exeName, at + 1)) {
        const size_t last = std::min(WordAt(names, at + exeName.size() - 1), kMaxWords - 1);
        for (size_t word = WordAt(names, at); word <= last; ++word)
            if (SequenceAfter(view.wordSequences[word], seen))
                return true;
    }
    return false;
}

void SharedBlock::AddTraffic(bool counterA, uint32_t byteCount)
{
    At<uint32_t>(base_, counterA ? kCounterAOffset : kCounterBOffset).fetch_add(byteCount, std::memory_order_relaxed);
}

uint32_t SharedBlock::CounterA() const { return At<uint32_t>(base_, kCounterAOffset).load(); }
uint32_t SharedBlock::CounterB() const { return At<uint32_t>(base_, kCounterBOffset).load(); }
uint32_t SharedBlock::TakeCounterA() { return At<uint32_t>(base_, kCounterAOffset).exchange(0); }
uint32_t SharedBlock::TakeCounterB() { return At<uint32_t>(base_, kCounterBOffset).exchange(0); }

void SharedBlock::PostAcknowledgement(uint32_t pid)
{
    const int32_t n = At<int32_t>(base_, kAckCountOffset).fetch_add(1) + 1;
    if (n >= 1 && static_cast<size_t>(n) <= kAckSlots)
        At<uint32_t>(base_, AckSlotOffset(static_cast<size_t>(n))).store(pid);
}

int32_t SharedBlock::AcknowledgementCount() const { return At<int32_t>(base_, kAckCountOffset).load(); }

uint32_t SharedBlock::AcknowledgementSlot(size_t n) const
{
    if (n < 1 || n > kAckSlots)
        return 0;
    return At<uint32_t>(base_, AckSlotOffset(n)).load();
}

std::vector<uint32_t> SharedBlock::TakeAcknowledgements()
{
    std::vector<uint32_t> pids;
    const int32_t n = At<int32_t>(base_, kAckCountOffset).exchange(0);
    const size_t slots = n < 0 ? 0 : std::min(static_cast<size_t>(n), kAckSlots);
    for (size_t i = 1; i <= slots; ++i) {
        auto slot = At<uint32_t>(base_, AckSlotOffset(i));
        // The slot is stored just after the count was raised: wait briefly for it.
        uint32_t pid = slot.exchange(0);
        for (int spin = 0; pid == 0 && spin < 1000; ++spin) {
            ::usleep(1);
            pid = slot.exchange(0);
        }
        if (pid != 0)
            pids.push_back(pid);
    }
    return pids;
}

void SharedBlock::ResetAcknowledgements()
{
    for (size_t n = 1; n <= kAckSlots; ++n)
        At<uint32_t>(base_, AckSlotOffset(n)).store(0);
    At<int32_t>(base_, kAckCountOffset).store(0);
}

}  // namespace protocol
