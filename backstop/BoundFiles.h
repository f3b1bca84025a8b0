#pragma once

#include "backstop/RulesCompiler.h"

#include <map>
#include <string>

namespace backstop {

// The files entries are bound to, as the kernel knows them: the folder's and
// the file's inode and device (the device as the kernel numbers its file
// system, found through the file's mount, which is not always what stat
// says), the file's change time, and its digest when a content check asks.
// Looked at by the reader of a user's rules, as that user.
class BoundFiles {
public:
    // A change younger than this may still be followed by a write the change
    // time does not show (it moves in steps of a clock tick): the digest of
    // such a file is not trusted until it has settled.
    static constexpr long long kSettleNs = 2'000'000'000LL;

    RulesCompiler::FileFacts LookUp(const std::string& path, bool digest);

private:
    // The kernel's device number of the mount with this id; 0 when unknown.
    unsigned DeviceOfMount(unsigned long long mountId);

    std::map<unsigned long long, unsigned> devices_;
    bool mountsRead_ = false;
};

}  // namespace backstop
