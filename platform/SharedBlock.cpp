#include "platform/SharedBlock.h"

#include "platform/Paths.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

template <typename T>
std::atomic_ref<T> At(unsigned char* base, size_t offset)
{
    return std::atomic_ref<T>(*reinterpret_cast<T*>(base + offset));
}

unsigned char* Map(int fd)
{
    void* p = ::mmap(nullptr, SharedBlock::kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
}

}  // namespace

SharedBlock::SharedBlock(SharedBlock&& other) noexcept : base_(std::exchange(other.base_, nullptr)) {}

SharedBlock& SharedBlock::operator=(SharedBlock&& other) noexcept
{
    if (this != &other) {
        if (base_)
            ::munmap(base_, kSize);
        base_ = std::exchange(other.base_, nullptr);
    }
    return *this;
}

SharedBlock::~SharedBlock()
{
    if (base_)
        ::munmap(base_, kSize);
}

std::string SharedBlock::DefaultPath() { return RuntimeDir() + "/" + kName; }

SharedBlock SharedBlock::Open(const std::string& path)
{
    SharedBlock block;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return block;
    struct stat st {};
    // A block that is still being sized would fault on access: leave it for the next try.
    if (::fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) >= kSize)
        block.base_ = Map(fd);
    ::close(fd);
    return block;
}

SharedBlock SharedBlock::Create(const std::string& path)
{
    SharedBlock block;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return block;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && (static_cast<size_t>(st.st_size) >= kSize || ::ftruncate(fd, kSize) == 0))
        block.base_ = Map(fd);
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
    At<unsigned char>(base_, kUpdateStringOffset + n).store(0, std::memory_order_relaxed);
    for (size_t i = 0; i < n; ++i)
        At<unsigned char>(base_, kUpdateStringOffset + i).store(static_cast<unsigned char>(text[i]), std::memory_order_release);
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

}  // namespace platform
