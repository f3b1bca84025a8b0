// Any update string, program name and sequences, as an engine finds them in
// the shared block: deciding whether to reload reads nothing past them.
#include "protocol/SharedBlock.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using protocol::SharedBlock;
    if (size < 12)
        return 0;
    SharedBlock::UpdateView view;
    view.extended = data[0] & 1;
    std::memcpy(&view.floor, data + 1, 4);
    uint32_t seen;
    std::memcpy(&seen, data + 5, 4);
    const size_t nameLength = std::min<size_t>(data[9] % 64, size - 12);
    const std::string exeName(reinterpret_cast<const char*>(data + 12), nameLength);
    const size_t rest = size - 12 - nameLength;
    const size_t namesLength = std::min(rest, SharedBlock::kUpdateStringSize - 1);
    std::memcpy(view.names, data + 12 + nameLength, namesLength);
    view.names[namesLength] = '\0';
    for (size_t i = 0; i < SharedBlock::kMaxWords; ++i)
        view.wordSequences[i] = static_cast<uint32_t>(i * data[10]);
    view.relayBeat = data[11];
    SharedBlock::IsDue(view, exeName, seen, 1000);
    SharedBlock::NamesWord(view.names, exeName, data[10]);
    return 0;
}
