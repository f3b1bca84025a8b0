#include "panel/core/RulesStore.h"

#include "os/Files.h"
#include "os/Processes.h"
#include "os/hooksafe/LockFiles.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/OutsideChanges.h"
#include "rules/DocumentReader.h"
#include "rules/DocumentWriter.h"
#include "rules/RulesFile.h"
#include "rules/RulesFormat.h"
#include "text/Strings.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace panel {

namespace rf = rules::rules_format;

namespace {

// A file that does not parse is the user's data: kept under a name of its
// own beside it. Empty when that is done, else why not.
std::string KeepBadFile(const std::string& from, const std::string& path)
{
    std::string kept = path + ".bad";
    struct stat st {};
    for (int n = 2; ::lstat(kept.c_str(), &st) == 0 && n < 1000; ++n)
        kept = path + ".bad." + std::to_string(n);
    if (::rename(from.c_str(), kept.c_str()) == 0) {
        WriteErrLog("AppBuffer : LoadRules", "the rules file does not parse; it is kept as " + kept);
        return {};
    }
    return "it cannot be kept aside as " + kept + " (" + std::strerror(errno) + ")";
}

// The file a save or a default replaces: a link's target, so that a rules
// file kept elsewhere through a link stays a link. Empty (logged) when the
// link leads nowhere: the link is never written over.
std::string FileBehind(const std::string& path, const char* label)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real))
        return real;
    WriteErrLogErrno(label, "the rules file " + path + " is a link that leads nowhere; it is left as it is", errno);
    return {};
}

// Writers of the rules file (the panel, zel-rules) take turns: each one's
// look at the file and its replacement are one step, so that none writes
// over a change another made in between. The turn is a lock file beside
// the file, removed by its holder when done: one found removed after its
// lock was taken is another writer's past turn, and is taken anew.
class WritersTurn {
public:
    WritersTurn(const std::string& file, int waitMs)
        : path_(file.substr(0, file.rfind('/') + 1) + "." + std::string(text::FileNamePart(file)) + ".lock")
    {
        for (int waited = 0;; waited += 10) {
            fd_ = os::HoldLockFile(path_.c_str());
            if (fd_ >= 0) {
                struct stat held {}, named {};
                if (::fstat(fd_, &held) == 0 && ::stat(path_.c_str(), &named) == 0 && held.st_ino == named.st_ino
                    && held.st_dev == named.st_dev)
                    return;
                ::close(fd_);
                fd_ = -1;
                busy_ = true;
            } else {
                busy_ = errno == EAGAIN || errno == EACCES;
                if (!busy_)
                    return;
            }
            if (waited >= waitMs)
                return;
            ::usleep(10000);
        }
    }
    ~WritersTurn()
    {
        if (fd_ >= 0) {
            ::unlink(path_.c_str());
            ::close(fd_);
        }
    }
    WritersTurn(const WritersTurn&) = delete;
    WritersTurn& operator=(const WritersTurn&) = delete;
    bool Held() const { return fd_ >= 0; }
    // Not held because another writer had it all the time waited.
    bool Busy() const { return busy_; }

private:
    std::string path_;
    int fd_ = -1;
    bool busy_ = false;
};

// What the engine does not read as the document looks: told, one line each.
void LogProblems(const rules::Document& document)
{
    for (const std::string& problem : document.Problems())
        WriteErrLog("AppBuffer : LoadRules", "the rules file's " + problem);
}

}  // namespace

bool RulesStore::LoadText(std::string_view text)
{
    auto document = rules::ReadDocument(text);
    if (!document)
        return false;
    document_ = std::move(*document);
    return true;
}

RulesStore::LoadResult RulesStore::Load(const std::string& fileToLoad)
{
    const char* label = "AppBuffer : LoadRules";
    rules::rules_file::Contents contents = rules::rules_file::Read(fileToLoad);
    std::string problem;
    if (contents.status.Read()) {
        if (auto document = rules::ReadDocument(contents.text, &problem)) {
            document_ = std::move(*document);
            readProblem_.clear();
            LogProblems(document_);
            onFile_ = document_;
            onFileStamp_ = contents.stamp;
            onFileKnown_ = true;
            return {LoadOutcome::kLoaded, {}};
        }
    } else if (!contents.status.Missing()) {
        // Not read: neither the file nor the rules in force are touched,
        // and nothing is written until it has been read.
        const std::string reason = contents.status.Reason();
        // Once per reason: the file is tried again every few seconds.
        if (reason != readProblem_)
            WriteErrLog(label, "the rules file " + fileToLoad + " cannot be read: " + reason
                                   + "; it is left as it is and read again later");
        readProblem_ = reason;
        return {LoadOutcome::kUnreadable, contents.status.ShownReason()};
    }
    // Missing, or read whole and not a rules document: the defaults, once
    // what is there is kept aside. What cannot be done is told once per
    // reason: the file is tried again every few seconds.
    const bool missing = contents.status.Missing();
    const std::string why = missing ? contents.status.Reason() : problem;
    contents = {};
    const auto refuse = [&](const std::string& reason) {
        if (reason != readProblem_)
            WriteErrLog(label, "the rules file " + fileToLoad + ": " + reason);
        readProblem_ = reason;
        return LoadResult {LoadOutcome::kUnreadable, reason};
    };
    std::string target = fileToLoad;
    if (missing) {
        const size_t slash = fileToLoad.rfind('/');
        if (slash != std::string::npos && slash > 0)
            os::MakeDirectories(fileToLoad.substr(0, slash));
    } else {
        target = FileBehind(fileToLoad, label);
        if (target.empty())
            return refuse("it does not parse (" + why + "), and it is a link that leads nowhere");
        WriteErrLog(label, fileToLoad + ": " + why);
        if (const std::string notKept = KeepBadFile(target, target); !notKept.empty())
            return refuse("it does not parse (" + why + "); " + notKept + ", so no default rules are written");
    }
    if (!os::WriteFileAtomically(target, rf::kDefaultRulesDocument))
        return refuse(why + ", and the default rules cannot be written to " + target + ": " + std::strerror(errno));
    if (missing)
        WriteErrLog(label, fileToLoad + ": " + why + "; the default rules are written");
    if (LoadText(rf::kDefaultRulesDocument))
        readProblem_.clear();
    KnowFile(fileToLoad);
    return {missing ? LoadOutcome::kCreated : LoadOutcome::kReplacedBad, why};
}

std::string RulesStore::Text() const { return rules::WriteDocument(document_); }

void RulesStore::KnowFile(const std::string& path)
{
    onFile_ = document_;
    onFileStamp_ = os::StampOf(path);
    onFileKnown_ = true;
}

std::vector<std::string> RulesStore::TakeOutsideDocument(rules::Document outside)
{
    // The entries changed here, by key: each goes into the file's document
    // as it is here (in its place there, or where a new one goes), or
    // leaves it when it was removed here. An entry the other writer changed
    // too gets the changes of both, part by part; where both changed the
    // same part, or one removed what the other changed, the file's stays
    // (the other writer's change is in force already and was reported done)
    // and the entry is named for the user to make the change again.
    std::vector<std::string> keys;
    std::vector<std::string> conflicts;
    const auto note = [&keys](const rules::Application& app) {
        if (app.name && std::find(keys.begin(), keys.end(), app.Key()) == keys.end())
            keys.push_back(app.Key());
    };
    for (const rules::Application& app : document_.applications)
        if (const rules::Application* before = onFile_.Find(app.Key()); !before || !(*before == app))
            note(app);
    for (const rules::Application& app : onFile_.applications)
        if (!document_.Find(app.Key()))
            note(app);
    for (const std::string& key : keys) {
        const rules::Application* here = document_.Find(key);
        const rules::Application* base = onFile_.Find(key);
        rules::Application* there = outside.Find(key);
        const bool changedThere = base ? !there || !(*there == *base) : there != nullptr;
        if (here && there && *here == *there)
            continue;
        if (!changedThere) {
            if (here && there)
                *there = *here;
            else if (here)
                outside.Add(*here);
            else if (there)
                outside.Remove(static_cast<size_t>(outside.IndexOf(*there)));
            continue;
        }
        bool clash = !here || !there || !base;
        const auto merge = [&](auto member) {
            if (clash || here->*member == base->*member || here->*member == there->*member)
                return;
            if (there->*member == base->*member)
                there->*member = here->*member;
            else
                clash = true;
        };
        merge(&rules::Application::description);
        merge(&rules::Application::fileHash);
        merge(&rules::Application::service);
        merge(&rules::Application::incoming);
        merge(&rules::Application::outgoing);
        merge(&rules::Application::rules);
        merge(&rules::Application::timed);
        if (clash)
            conflicts.push_back((here ? here : there ? there : base)->name.value_or(key));
    }
    document_ = std::move(outside);
    return conflicts;
}

bool RulesStore::Save(const std::string& filePath, std::vector<std::string>* changedOutside)
{
    const char* label = "AppBuffer : SaveRulesToXmlFile";
    if (!readProblem_.empty()) {
        WriteErrLog(label, "the rules file " + filePath + " could not be read (" + readProblem_
                               + "); nothing is written over it until it has been");
        return false;
    }
    const std::string target = FileBehind(filePath, label);
    if (target.empty())
        return false;
    const WritersTurn turn(target, turnWaitMs);
    if (!turn.Held()) {
        if (turn.Busy())
            WriteErrLog(label, "another program is writing the rules file " + filePath
                                   + "; nothing is written now, the change goes with the next save");
        else
            WriteErrLogErrno(label, "cannot write " + target, errno);
        return false;
    }
    if (changedOutside)
        changedOutside->clear();
    const auto takeIn = [&](rules::Document outside) {
        if (changedOutside)
            for (std::string& name : ChangedEntries(onFile_, outside))
                changedOutside->push_back(std::move(name));
        for (const std::string& name : TakeOutsideDocument(std::move(outside)))
            WriteErrLog(label, name + " was changed here and by another program at once, in the same part: the other "
                                      "program's change is kept and this one is not saved; make it again");
    };
    if (onFileKnown_ && !(os::StampOf(filePath) == onFileStamp_)) {
        rules::rules_file::Contents contents = rules::rules_file::Read(filePath);
        if (auto outside = contents.status.Read() ? rules::ReadDocument(contents.text) : std::nullopt)
            takeIn(std::move(*outside));
    }
    struct stat st {};
    const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    // A writer that takes no turn (an editor, a script) may still replace
    // the file between the look and the replacement: the file replaced is
    // looked at, and what another writer put there is taken in and written
    // again with this save's change, never lost.
    for (int round = 0; round < 5; ++round) {
        const std::string document = Text();
        if (document.size() > rf::kMaxRulesFileBytes) {
            WriteErrLog(label, "the rules would be larger than the limit of "
                                   + std::to_string(rf::kMaxRulesFileBytes >> 20) + " MB; they are not written");
            return false;
        }
        rules::rules_file::Markup markup;
        markup.Add(document);
        if (markup.Over()) {
            WriteErrLog(label, "the rules would hold more than the limit of "
                                   + std::to_string(rf::kMaxRulesFileElements) + " elements; they are not written");
            return false;
        }
        if (beforeReplace)
            beforeReplace();
        std::string displaced;
        os::FileStamp written;
        if (!os::ExchangeFile(target, document, mode, displaced, written)) {
            WriteErrLogErrno(label, "cannot write " + target, errno);
            return false;
        }
        const bool expected = displaced.empty() || !onFileKnown_ || os::StampOf(displaced) == onFileStamp_;
        std::optional<rules::Document> slipped;
        if (!expected) {
            const rules::rules_file::Contents contents = rules::rules_file::Read(displaced);
            slipped = contents.status.Read() ? rules::ReadDocument(contents.text) : std::nullopt;
        }
        if (!displaced.empty() && (expected || slipped)) {
            ::unlink(displaced.c_str());
        } else if (!displaced.empty()) {
            // Another writer's file that does not parse is kept, as a bad one at a load is.
            const std::string notKept = KeepBadFile(displaced, target);
            WriteErrLog(label, "another program replaced the rules file " + filePath
                                   + " during a save with one that does not parse"
                                   + (notKept.empty() ? std::string() : "; " + notKept));
        }
        rules::Document wrote = document_;
        if (slipped)
            takeIn(std::move(*slipped));
        onFile_ = std::move(wrote);
        onFileStamp_ = written;
        onFileKnown_ = true;
        if (!slipped)
            return true;
    }
    WriteErrLog(label, "the rules file " + filePath + " keeps being replaced by another program; the last save holds "
                           "every change taken in, and it is written again with the next one");
    return false;
}

void BindToPath(rules::Application& application)
{
    if (!rules::IsPathKey(application.path))
        return;
    application.name = rules::rules_format::CarrierExeName(application.path);
    application.byPath = true;
}

std::string RealFilePath(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return path;
    std::string resolved(real);
    std::free(real);
    return resolved;
}

std::string ProgramDescription(std::string_view description, std::string_view programName)
{
    if (description.empty() || text::EqualsNoCase(description, rf::kGeneralApp)
        || text::EqualsNoCase(description, rf::kGeneralAppDescription))
        return std::string(programName);
    return std::string(description);
}

}  // namespace panel
