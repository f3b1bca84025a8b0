#pragma once

#include "backstop/backstop.h"

#include <functional>
#include <string>
#include <vector>

namespace backstop {

// One covered user's backstop as the kernel holds it: its kernel programs,
// attached and pinned, with their maps, in a folder of its own on the BPF
// file system, so that the verdict outlives the service. The folder holds
// a fixed set of names; only objects under those names that are the
// backstop's own (by kind and kernel name) are ever touched, whatever else
// the folder holds. Callers hold the folder's lock (the parent folder's,
// see zel-backstop.cpp) around Attach, SetMode and Remove.
class PinnedBackstop {
public:
    enum class State {
        kNone,    // nothing of it pinned
        kPartial, // some of it: a start or stop that did not finish
        kWhole,   // all of it, with a verdict in force
    };
    struct Look {
        State state = State::kNone;
        bool configured = false;         // its configuration is pinned and read:
        zel_backstop_config settings {}; // this
        std::vector<std::string> foreign; // its names, held by something not the backstop's
    };
    struct Removal {
        int removed = 0;                 // pins taken away
        std::vector<std::string> failed; // pins that could not be, with why
        bool folderKept = false;         // the folder holds others' files
        int programsLeft = 0;            // programs the kernel still held when the wait ended
    };

    explicit PinnedBackstop(std::string folder) : folder_(std::move(folder)) {}
    const std::string& Folder() const { return folder_; }

    Look Inspect() const;
    // What is done when everything is pinned, before the verdict is put in
    // force (the rules written); false (error says why) fails the attach.
    using Prepare = std::function<bool(std::string& error)>;
    // Loads, attaches to the cgroup and pins everything for the users the
    // settings name, learns the programs of the processes that run already,
    // prepares, then puts the verdict (settings.mode) in force; on any
    // failure takes away all it made and says in error why, and whether
    // anything is left. The folder holds nothing of the backstop's beforehand.
    bool Attach(const zel_backstop_config& settings, const std::string& cgroup, const Prepare& prepare,
                std::string& error) const;
    // The verdict (and the users) of a whole backstop, which must be of
    // settings.uid already.
    bool SetMode(const zel_backstop_config& settings, std::string& error) const;
    // Turns the verdict off, then unpins everything of the backstop's (and
    // the folder, when nothing else is in it) and waits for the kernel to
    // let the programs go.
    Removal Remove() const;
    int AttachedCount() const;
    int RegisteredCount() const;

private:
    std::string Path(const char* name) const { return folder_ + "/" + name; }
    // Removes what a failed Attach made; says in error what is left.
    void Undo(std::string& error) const;

    std::string folder_;
};

}  // namespace backstop
