#pragma once

#include <atomic>
#include <climits>
#include <cstddef>

namespace hook {

// Zeroed pages that a program never touches cost nothing: what the hook
// keeps per descriptor or per name is made when it is first needed, so that
// a program without sockets never has any.
void* MapZeroed(size_t size);
void Unmap(void* memory, size_t size);

// The slot's T, made zeroed by the first caller and never given back (other
// threads may be reading it); null when no memory could be had.
template <typename T>
T* MapOnce(std::atomic<T*>& slot)
{
    if (T* existing = slot.load(std::memory_order_acquire))
        return existing;
    T* made = static_cast<T*>(MapZeroed(sizeof(T)));
    if (!made)
        return nullptr;
    T* expected = nullptr;
    if (slot.compare_exchange_strong(expected, made, std::memory_order_acq_rel))
        return made;
    Unmap(made, sizeof(T)); // another thread made it first
    return expected;
}

// What the hook keeps per descriptor, for descriptors of any number, in
// blocks of kDescriptorsPerBlock numbers, each made when a number in it is
// first kept. The first block, the numbers nearly every program uses, is
// found with one load; those past it (a program whose limit of open files
// is higher) through a directory made with the first of them.
constexpr unsigned kDescriptorsPerBlock = 65536;

template <typename Block>
class DescriptorBlocks {
public:
    static constexpr unsigned kBlocks = static_cast<unsigned>(INT_MAX) / kDescriptorsPerBlock + 1;

    // fd's block, null when none was made (or fd is negative); at: fd's place in it.
    Block* Existing(int fd, unsigned& at) const
    {
        at = static_cast<unsigned>(fd) % kDescriptorsPerBlock;
        if (static_cast<unsigned>(fd) < kDescriptorsPerBlock)
            return first_.load(std::memory_order_acquire);
        return fd < 0 ? nullptr : Numbered(static_cast<unsigned>(fd) / kDescriptorsPerBlock);
    }
    // Made when needed: null only for a negative fd or when no memory could be had.
    Block* Made(int fd, unsigned& at)
    {
        if (Block* block = Existing(fd, at))
            return block;
        if (fd < 0)
            return nullptr;
        if (static_cast<unsigned>(fd) < kDescriptorsPerBlock)
            return MapOnce(first_);
        Directory* directory = MapOnce(further_);
        return directory ? MapOnce(directory->blocks[static_cast<unsigned>(fd) / kDescriptorsPerBlock]) : nullptr;
    }
    // Block number index (of numbers index * kDescriptorsPerBlock and up), null when not made.
    Block* Numbered(unsigned index) const
    {
        if (index == 0)
            return first_.load(std::memory_order_acquire);
        const Directory* directory = further_.load(std::memory_order_acquire);
        return directory && index < kBlocks ? directory->blocks[index].load(std::memory_order_acquire) : nullptr;
    }
    // The first block made at or past index, into index; false when none.
    bool NextMade(unsigned& index) const
    {
        if (index == 0 && first_.load(std::memory_order_acquire))
            return true;
        const Directory* directory = further_.load(std::memory_order_acquire);
        for (index = index == 0 ? 1 : index; directory && index < kBlocks; ++index)
            if (directory->blocks[index].load(std::memory_order_acquire))
                return true;
        return false;
    }

private:
    struct Directory {
        std::atomic<Block*> blocks[kBlocks]; // [0] unused: the first block is first_
    };
    std::atomic<Block*> first_ {nullptr};
    std::atomic<Directory*> further_ {nullptr};
};

}  // namespace hook
