#include "backstop/PinnedRules.h"

#include <bpf/bpf.h>
#include <cerrno>
#include <cstring>
#include <functional>
#include <unistd.h>
#include <vector>

namespace backstop {

namespace {

// A pinned map, open while this lives.
class PinnedMap {
public:
    explicit PinnedMap(const std::string& path) : fd_(bpf_obj_get(path.c_str())) {}
    ~PinnedMap()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    PinnedMap(const PinnedMap&) = delete;
    PinnedMap& operator=(const PinnedMap&) = delete;
    int Fd() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

// Writes count keys and values, many in one call where the kernel can.
template <typename Key, typename Value>
bool WriteAll(int fd, const std::vector<Key>& keys, const std::vector<Value>& values)
{
    size_t done = 0;
    while (done < keys.size()) {
        __u32 count = static_cast<__u32>(std::min<size_t>(keys.size() - done, 4096));
        if (bpf_map_update_batch(fd, &keys[done], &values[done], &count, nullptr) != 0)
            break; // not taken in batches here: one by one below
        done += count;
    }
    for (; done < keys.size(); ++done)
        if (bpf_map_update_elem(fd, &keys[done], &values[done], BPF_ANY) != 0)
            return false;
    return true;
}

// The keys of a hash map of the rules that belong to a generation.
template <typename Key, typename Belongs>
std::vector<Key> KeysOf(int fd, Belongs belongs)
{
    std::vector<Key> found;
    Key current {}, next {};
    bool first = true;
    // Bounded: the map holds at most this many.
    for (int i = 0; i < 4 * ZEL_RULES_LISTS && bpf_map_get_next_key(fd, first ? nullptr : &current, &next) == 0; ++i) {
        if (belongs(next))
            found.push_back(next);
        current = next;
        first = false;
    }
    return found;
}

bool ReadState(int fd, zel_rules_state& state)
{
    const __u32 key = 0;
    return bpf_map_lookup_elem(fd, &key, &state) == 0;
}

bool WriteState(int fd, const zel_rules_state& state)
{
    const __u32 key = 0;
    return bpf_map_update_elem(fd, &key, &state, BPF_ANY) == 0;
}

}  // namespace

bool PinnedRules::Put(const CompiledRules& rules, std::string& error) const
{
    const PinnedMap state(Path("rules_state")), programs(Path("programs")), lists(Path("lists")),
        intervals(Path("intervals")), intervals6(Path("intervals6")), bound(Path("bound"));
    zel_rules_state current {};
    if (!state || !programs || !lists || !intervals || !intervals6 || !bound || !ReadState(state.Fd(), current)) {
        error = "the rules' maps are not pinned in " + folder_;
        return false;
    }
    const unsigned target = (current.generation & 1) ^ 1;
    // The generation being written is looked up for bound files while it is
    // made (nothing reads it yet; a torn read of the state then errs on looking).
    current.bound_in |= ZEL_RULES_BOUND_IN(target);
    if (!WriteState(state.Fd(), current)) {
        error = std::string("cannot prepare the rules' state: ") + std::strerror(errno);
        return false;
    }
    // What the generation held a change ago goes first: no decision reads it now.
    for (const auto& key : KeysOf<zel_rules_program_key>(programs.Fd(), [&](const auto& k) { return k.generation == target; }))
        bpf_map_delete_elem(programs.Fd(), &key);
    for (const auto& key : KeysOf<zel_rules_list_key>(lists.Fd(), [&](const auto& k) { return ZEL_RULES_LIST_GENERATION(k.port) == target; }))
        bpf_map_delete_elem(lists.Fd(), &key);
    for (const auto& key : KeysOf<zel_rules_bound_key>(bound.Fd(), [&](const auto& k) { return k.generation == target; }))
        bpf_map_delete_elem(bound.Fd(), &key);

    const __u32 base = target * ZEL_RULES_INTERVALS, base6 = target * ZEL_RULES_INTERVALS6;
    const auto placesFrom = [](__u32 from, size_t count) {
        std::vector<__u32> places(count);
        for (size_t i = 0; i < count; ++i)
            places[i] = from + static_cast<__u32>(i);
        return places;
    };
    // Offsets into the generation's halves of the interval maps.
    const auto placed = [&](zel_rules_list list) {
        if (list.count > 0)
            list.offset += base;
        if (list.count6 > 0)
            list.offset6 += base6;
        return list;
    };
    std::vector<zel_rules_list_key> listKeys;
    std::vector<zel_rules_list> listValues;
    for (const CompiledRules::List& list : rules.lists) {
        listKeys.push_back({list.program, list.incoming ? ZEL_RULES_LIST_IN(list.port, target)
                                                        : ZEL_RULES_LIST_PORT(list.port, target)});
        listValues.push_back(placed(list.list));
    }
    std::vector<zel_rules_program_key> programKeys;
    std::vector<zel_rules_program> programValues;
    for (const CompiledRules::Program& program : rules.programs) {
        programKeys.push_back({program.hash, target, 0});
        programValues.push_back({program.index, program.outgoing, placed(program.every), program.incoming,
                                 program.general, placed(program.everyIn)});
    }
    std::vector<zel_rules_bound_key> boundKeys;
    std::vector<zel_rules_bound> boundValues;
    for (const CompiledRules::Bound& entry : rules.bound) {
        boundKeys.push_back(entry.key);
        boundKeys.back().generation = target;
        boundValues.push_back(entry.file);
    }
    if (!WriteAll(intervals.Fd(), placesFrom(base, rules.intervals.size()), rules.intervals)
        || !WriteAll(intervals6.Fd(), placesFrom(base6, rules.intervals6.size()), rules.intervals6)
        || !WriteAll(lists.Fd(), listKeys, listValues) || !WriteAll(programs.Fd(), programKeys, programValues)
        || !WriteAll(bound.Fd(), boundKeys, boundValues)) {
        error = std::string("cannot write the rules into the kernel's maps: ") + std::strerror(errno);
        return false;
    }
    // In force from here on. The state is read again: only this writer
    // changes the generation, but Block All may have been set meanwhile.
    ReadState(state.Fd(), current);
    current.generation = target;
    current.loaded = 1;
    if (rules.bound.empty())
        current.bound_in &= ~ZEL_RULES_BOUND_IN(target);
    else
        current.bound_in |= ZEL_RULES_BOUND_IN(target);
    if (!WriteState(state.Fd(), current)) {
        error = std::string("cannot put the rules in force: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool PinnedRules::ChangeState(const std::function<void(zel_rules_state&)>& change, const char* what,
                              std::string& error) const
{
    const PinnedMap state(Path("rules_state"));
    zel_rules_state current {};
    if (!state || !ReadState(state.Fd(), current)) {
        error = "the rules' state is not pinned in " + folder_;
        return false;
    }
    change(current);
    if (!WriteState(state.Fd(), current)) {
        error = std::string("cannot write ") + what + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool PinnedRules::SetBlockAll(bool on, std::string& error) const
{
    return ChangeState([on](zel_rules_state& state) { state.block_all = on ? 1 : 0; }, "Block All", error);
}

bool PinnedRules::SetRecordGeneral(bool on, std::string& error) const
{
    return ChangeState([on](zel_rules_state& state) { state.record_general = on ? 1 : 0; },
                       "whether the general settings' passes are told", error);
}

bool PinnedRules::SetOwnAddress(unsigned address, std::string& error) const
{
    return ChangeState([address](zel_rules_state& state) { state.own_address = address; }, "this computer's address",
                       error);
}

bool PinnedRules::Read(State& state) const
{
    const PinnedMap stateMap(Path("rules_state")), programs(Path("programs"));
    zel_rules_state current {};
    if (!stateMap || !programs || !ReadState(stateMap.Fd(), current))
        return false;
    state.loaded = current.loaded != 0;
    state.blockAll = current.block_all != 0;
    const unsigned generation = current.generation & 1;
    state.programs = state.loaded ? static_cast<unsigned>(
                         KeysOf<zel_rules_program_key>(programs.Fd(), [&](const auto& k) { return k.generation == generation; })
                             .size())
                                  : 0;
    if (const PinnedMap bound(Path("bound")); bound && state.loaded)
        state.bound = static_cast<unsigned>(
            KeysOf<zel_rules_bound_key>(bound.Fd(), [&](const auto& k) { return k.generation == generation; }).size());
    return true;
}

}  // namespace backstop
