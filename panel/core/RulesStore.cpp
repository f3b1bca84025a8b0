#include "core/RulesStore.h"

#include "core/ErrorLog.h"
#include "core/OutsideChanges.h"
#include "platform/Files.h"
#include "platform/Processes.h"
#include "platform/RulesFile.h"
#include "platform/RulesFormat.h"
#include "platform/Text.h"
#include "rules/DocumentReader.h"
#include "rules/DocumentWriter.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace panel {

namespace rf = platform::rules_format;

namespace {

// A file that does not parse is the user's data: kept under a name of its
// own beside it. Empty when that is done, else why not.
std::string KeepBadFile(const std::string& path)
{
    std::string kept = path + ".bad";
    struct stat st {};
    for (int n = 2; ::lstat(kept.c_str(), &st) == 0 && n < 1000; ++n)
        kept = path + ".bad." + std::to_string(n);
    if (::rename(path.c_str(), kept.c_str()) == 0) {
        WriteErrLog("AppBuffer : LoadRules", "the rules file does not parse; it is kept as " + kept);
        return {};
    }
    return "it cannot be kept aside as " + kept + " (" + std::strerror(errno) + "), so no default rules are written";
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
    platform::rules_file::Contents contents = platform::rules_file::Read(fileToLoad);
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
            platform::MakeDirectories(fileToLoad.substr(0, slash));
    } else {
        target = FileBehind(fileToLoad, label);
        if (target.empty())
            return refuse("it does not parse (" + why + "), and it is a link that leads nowhere");
        WriteErrLog(label, fileToLoad + ": " + why);
        if (const std::string notKept = KeepBadFile(target); !notKept.empty())
            return refuse("it does not parse (" + why + "); " + notKept);
    }
    if (!platform::WriteFileAtomically(target, rf::kDefaultRulesDocument))
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
    onFileStamp_ = platform::StampOf(path);
    onFileKnown_ = true;
}

void RulesStore::TakeOutsideDocument(rules::Document outside)
{
    // The entries changed here, by key: each goes into the file's document
    // as it is here (in its place there, or where a new one goes), or
    // leaves it when it was removed here.
    std::vector<std::string> keys;
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
        rules::Application* there = outside.Find(key);
        if (here && there)
            *there = *here;
        else if (here)
            outside.Add(*here);
        else if (there)
            outside.Remove(static_cast<size_t>(outside.IndexOf(*there)));
    }
    document_ = std::move(outside);
}

bool RulesStore::Save(const std::string& filePath, std::vector<std::string>* changedOutside)
{
    const char* label = "AppBuffer : SaveRulesToXmlFile";
    if (!readProblem_.empty()) {
        WriteErrLog(label, "the rules file " + filePath + " could not be read (" + readProblem_
                               + "); nothing is written over it until it has been");
        return false;
    }
    if (onFileKnown_ && !(platform::StampOf(filePath) == onFileStamp_)) {
        platform::rules_file::Contents contents = platform::rules_file::Read(filePath);
        if (auto outside = contents.status.Read() ? rules::ReadDocument(contents.text) : std::nullopt) {
            if (changedOutside)
                *changedOutside = ChangedEntries(onFile_, *outside);
            TakeOutsideDocument(std::move(*outside));
        }
    }
    const std::string document = Text();
    if (document.size() > rf::kMaxRulesFileBytes) {
        WriteErrLog(label, "the rules would be larger than the limit of "
                               + std::to_string(rf::kMaxRulesFileBytes >> 20) + " MB; they are not written");
        return false;
    }
    platform::rules_file::Markup markup;
    markup.Add(document);
    if (markup.Over()) {
        WriteErrLog(label, "the rules would hold more than the limit of " + std::to_string(rf::kMaxRulesFileElements)
                               + " elements; they are not written");
        return false;
    }
    const std::string target = FileBehind(filePath, label);
    if (target.empty())
        return false;
    struct stat st {};
    const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    if (platform::WriteFileAtomically(target, document, mode)) {
        KnowFile(filePath);
        return true;
    }
    WriteErrLogErrno("AppBuffer : SaveRulesToXmlFile", "cannot write " + target, errno);
    return false;
}

void BindToPath(rules::Application& application)
{
    if (!rules::IsPathKey(application.path))
        return;
    application.name = platform::processes::CarrierExeName(application.path);
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
    if (description.empty() || platform::EqualsNoCase(description, rf::kGeneralApp)
        || platform::EqualsNoCase(description, rf::kGeneralAppDescription))
        return std::string(programName);
    return std::string(description);
}

}  // namespace panel
