#include "backstop/RulesFollower.h"

#include "backstop/FolderLock.h"
#include "backstop/RulesCompiler.h"
#include "backstop/ServicesRules.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <optional>
#include <set>
#include <sys/inotify.h>
#include <unistd.h>

namespace backstop {

namespace {

bool SameBound(const std::vector<CompiledRules::Bound>& a, const std::vector<CompiledRules::Bound>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

RulesFollower::RulesFollower(std::string pinFolder, UserSettings settings, std::string lockFolder)
    : rules_(std::move(pinFolder)), settings_(std::move(settings)), lockFolder_(std::move(lockFolder)),
      notify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
}

RulesFollower::~RulesFollower()
{
    if (notify_ >= 0)
        ::close(notify_);
}

void RulesFollower::Say(const std::string& topic, const std::string& text)
{
    std::string& last = said_[topic];
    if (last == text)
        return;
    last = text;
    if (text.empty())
        return; // nothing to say: the next word on the topic is news again
    std::printf("zel-backstop: uid %u: %s\n", static_cast<unsigned>(settings_.Uid()), text.c_str());
    std::fflush(stdout);
}

CompiledRules RulesFollower::NoFile() const
{
    if (!settings_.IsMachine())
        return RulesCompiler::NoRules();
    std::string error;
    return RulesCompiler::Compile(kServicesRulesDocument, error, {true, {}}).value_or(RulesCompiler::NoRules());
}

void RulesFollower::Watch(const std::string& keyFolder, const std::string& rulesFolder)
{
    if (notify_ < 0)
        return;
    std::set<std::string> wanted(boundFolders_.begin(), boundFolders_.end());
    for (const std::string& folder : {keyFolder, rulesFolder})
        if (!folder.empty())
            wanted.insert(folder);
    for (auto watch = watches_.begin(); watch != watches_.end();) {
        if (wanted.count(watch->first) == 0) {
            ::inotify_rm_watch(notify_, watch->second);
            watch = watches_.erase(watch);
        } else {
            ++watch;
        }
    }
    // The folders only: the panel replaces the files in them by rename; a
    // bound file written in place changes its contents (IN_MODIFY).
    constexpr uint32_t kChanges = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_ATTRIB
        | IN_DELETE_SELF | IN_MOVE_SELF | IN_MODIFY | IN_ONLYDIR;
    for (const std::string& folder : wanted) {
        if (watches_.count(folder) != 0)
            continue;
        const int watch = ::inotify_add_watch(notify_, folder.c_str(), kChanges);
        if (watch >= 0)
            watches_[folder] = watch;
    }
}

void RulesFollower::Step(std::chrono::steady_clock::time_point now)
{
    if (notify_ >= 0) {
        alignas(inotify_event) char buffer[4096];
        bool changed = false;
        for (int i = 0; i < 64; ++i) {
            const ssize_t n = ::read(notify_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            changed = true;
            // A bound file's folder: its file may be another, or changed.
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                for (const auto& [folder, watch] : watches_)
                    if (watch == event->wd
                        && std::find(boundFolders_.begin(), boundFolders_.end(), folder) != boundFolders_.end())
                        path_.clear();
                if (event->mask & IN_Q_OVERFLOW)
                    path_.clear();
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        if (changed && due_ > now + kSettle)
            due_ = std::max(now + kSettle, lookedAt_ + kLookAtMost);
    }
    if (recheckAt_ && now >= *recheckAt_) {
        recheckAt_.reset();
        path_.clear(); // a bound file settled: compiled again, its digest trusted now
        due_ = now;
    }
    if (now < due_)
        return;
    due_ = now + kLookEvery;
    if (recheckAt_)
        due_ = std::min(due_, *recheckAt_);
    lookedAt_ = now;
    std::string error;
    Refresh(error);
}

bool RulesFollower::Refresh(std::string& error)
{
    const UserSettings::Look look = settings_.Read(stamp_, path_);
    if (!look.done) {
        error = "cannot read the settings: " + look.why;
        Say("settings", error + "; the rules in force stay");
        return false;
    }
    Say("settings", "");
    Watch(look.keyFolder, FolderOf(look.rulesPath));
    // Writers of the maps one at a time; a start or stop holds the lock only
    // briefly, so a look that finds it held comes again soon.
    std::optional<FolderLock> lock;
    if (!lockFolder_.empty()) {
        lock.emplace(lockFolder_, FolderLock::Mode::kExclusive, 1);
        if (!*lock) {
            error = lock->Error();
            due_ = std::min(due_, std::chrono::steady_clock::now() + std::chrono::milliseconds(100));
            return false;
        }
    }
    bool put = true;
    if (!blockAllKnown_ || look.blockAll != blockAll_) {
        if (rules_.SetBlockAll(look.blockAll, error)) {
            blockAllKnown_ = true;
            blockAll_ = look.blockAll;
            Say("block", look.blockAll ? "Block All is on: every connection of its unhooked programs is refused"
                                       : "Block All is off");
        } else {
            put = false;
        }
    }
    switch (look.rules) {
    case UserSettings::Rules::kUnchanged:
        break;
    case UserSettings::Rules::kMissing:
        if (source_ != Source::kNoFile) {
            if (rules_.Put(NoFile(), error)) {
                source_ = Source::kNoFile;
                path_.clear();
                stamp_ = {};
                boundFolders_.clear();
                Say("rules", "no rules file" + (look.rulesPath.empty() ? std::string() : " at " + look.rulesPath)
                                 + (settings_.IsMachine() ? ": every service is permitted and recorded"
                                                          : ": every program is asked"));
            } else {
                put = false;
            }
        }
        break;
    case UserSettings::Rules::kUnreadable:
        error = "the rules file " + look.rulesPath + " cannot be read as the user (" + look.why + ")";
        Say("rules", error + "; the rules in force stay");
        put = false;
        break;
    case UserSettings::Rules::kRefused:
        error = "the rules file " + look.rulesPath + " is not used: " + look.why;
        Say("rules", error + "; the rules in force stay");
        // Not read again until it changes.
        path_ = look.rulesPath;
        stamp_ = look.stamp;
        put = false;
        break;
    case UserSettings::Rules::kRead: {
        const CompiledRules& compiled = look.compiled;
        if (look.boundFolders != boundFolders_) {
            boundFolders_ = look.boundFolders;
            Watch(look.keyFolder, FolderOf(look.rulesPath));
        }
        // A bound file that changed just now is looked at again once it has
        // settled: meanwhile its entries' permits are questions.
        if (look.unsettled)
            recheckAt_ = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        const size_t own = compiled.programs.size() - 1;
        const std::string inForce = "the rules of " + look.rulesPath + " are in force: " + std::to_string(own)
            + (own == 1 ? " application" : " applications") + " with rules of its own and every other"
            + " program by the general ones, " + std::to_string(compiled.intervals.size()) + " address intervals";
        if (source_ == Source::kFile && look.textHash == textHash_ && SameBound(look.compiled.bound, bound_)
            && look.unsettled == unsettled_) {
            path_ = look.rulesPath; // written again, the same
            stamp_ = look.stamp;
            Say("rules", inForce);
            break;
        }
        if (!rules_.Put(compiled, error)) {
            put = false;
            break;
        }
        source_ = Source::kFile;
        path_ = look.rulesPath;
        stamp_ = look.stamp;
        textHash_ = look.textHash;
        bound_ = look.compiled.bound;
        unsettled_ = look.unsettled;
        Say("rules", inForce);
        break;
    }
    }
    return put;
}

}  // namespace backstop
