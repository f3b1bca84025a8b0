#include "tools/rules/LoadedRules.h"

#include "backstop/ServicesRules.h"
#include "os/Clock.h"
#include "panel/core/OutsideChanges.h"
#include "panel/core/PanelSettings.h"
#include "protocol/CarrierRegistry.h"
#include "protocol/PanelMessages.h"
#include "protocol/SharedBlock.h"
#include "protocol/Windows.h"
#include "rules/DocumentReader.h"
#include "rules/DocumentWriter.h"
#include "rules/RulesFile.h"
#include "rules/RulesFormat.h"
#include "text/Translate.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tools::zel_rules {

namespace {

namespace rf = rules::rules_format;
using text::Arg;
using text::Tr;

// The programs running under the firewall whose engines must read the
// rules again for these entries.
std::vector<std::string> EnginesConcerned(const std::vector<std::string>& entries)
{
    std::vector<std::string> names;
    for (const protocol::carriers::CarrierRecord& carrier : protocol::carriers::ListCarriers())
        for (const std::string& entry : entries)
            if (carrier.alive && (entry == rf::kGeneralApp || rf::EntryApplies(entry, carrier.exeName)))
                names.push_back(carrier.exeName);
    return names;
}

// While the panel runs, it takes the change from the file and publishes it,
// and its interceptor process hands it to the engines: waited for (a few
// seconds at most), so that a program's next connection after this command
// is decided by the new rules. Without the panel nothing is waiting for it:
// the panel tells the running programs when it starts.
void WaitForEngines(const std::vector<std::string>& entries, uint32_t before)
{
    if (protocol::windows::FindWindow(protocol::kMainWindowTitle).empty())
        return;
    protocol::SharedBlock block = protocol::SharedBlock::Open(protocol::SharedBlock::DefaultPath());
    if (!block || !block.HasExtension())
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::vector<std::string> waiting = EnginesConcerned(entries);
    while (!waiting.empty() && std::chrono::steady_clock::now() < deadline) {
        protocol::SharedBlock::UpdateView view;
        if (block.ReadUpdate(view)) {
            if (protocol::SharedBlock::RelayStopped(view, os::GetTickCount()))
                return;
            std::erase_if(waiting, [&](const std::string& name) {
                return protocol::SharedBlock::IsDue(view, name, before, os::GetTickCount());
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// The services' rules written whole in place of the file: root's, readable
// by all (what decides the services is no secret, and the panel of every
// administrator shows it), in a folder only root writes; the services'
// backstop reads nothing else. false (errno) when not written.
bool SaveServices(const rules::Document& document, const std::string& path)
{
    const std::string text = rules::WriteDocument(document);
    if (text.size() > rf::kMaxRulesFileBytes) {
        errno = EFBIG;
        return false;
    }
    ::umask(022);
    if (const size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0)
        os::MakeDirectories(path.substr(0, slash));
    return os::WriteFileAtomically(path, text, 0644, true);
}

int NotWritten(const std::string& path)
{
    const std::string reason = std::strerror(errno ? errno : EIO);
    return Fail(kFailed, Arg(Tr("zel-rules", "the rules file %1 could not be written (%2); it is left as it was"),
                             {path, reason}));
}

}  // namespace

int Load(const Target& target, LoadedRules& rules, bool missingIsEmpty)
{
    if (target.services)
        rules.core.Settings().XmlFilePath = target.path;
    else
        panel::GetFilesFromReg(rules.core.Settings());
    const std::string& path = rules.core.Settings().XmlFilePath;
    if (path.empty())
        return Fail(kFailed, Tr("zel-rules", "the rules file is not set (the setting RulesFile; has zel-setup been run?)"));
    const rules::rules_file::Contents contents = rules::rules_file::Read(path);
    rules.stamp = contents.stamp;
    if (contents.status.Missing())
        return rules.core.Rules().LoadText(missingIsEmpty    ? std::string("<APPLICATIONS></APPLICATIONS>")
                                           : target.services ? std::string(backstop::kServicesRulesDocument)
                                                             : std::string(rf::kDefaultRulesDocument))
            ? 0
            : Fail(kFailed, Tr("zel-rules", "the default rules do not parse"));
    if (!contents.status.Read())
        return Fail(kFailed, Arg(Tr("zel-rules", "cannot read the rules file %1: %2"), {path, contents.status.ShownReason()}));
    std::string problem;
    auto document = rules::ReadDocument(contents.text, &problem);
    if (!document)
        return Fail(kFailed, Arg(Tr("zel-rules", "the rules file %1 does not parse: %2"), {path, problem}));
    rules.core.Rules().Document() = std::move(*document);
    return 0;
}

int Change(const Target& target, const std::function<int(LoadedRules&)>& change, bool missingIsEmpty)
{
    // Whatever the services' rules permit, every service may do.
    if (target.services && ::geteuid() != 0)
        return Fail(kFailed, Tr("zel-rules", "must be run as root to change the system services' rules"));
    for (int attempt = 0; attempt < 5; ++attempt) {
        LoadedRules rules;
        if (const int status = Load(target, rules, missingIsEmpty))
            return status;
        const rules::Document before = rules.core.Rules().Document();
        if (const int status = change(rules))
            return status;
        const std::vector<std::string> changed = panel::ChangedEntries(before, rules.core.Rules().Document());
        if (changed.empty())
            return 0;
        if (!(os::StampOf(rules.core.Settings().XmlFilePath) == rules.stamp))
            continue;
        const std::string& path = rules.core.Settings().XmlFilePath;
        if (target.services) {
            // No panel takes it: the services' backstop follows the file.
            errno = 0;
            return SaveServices(rules.core.Rules().Document(), path) ? 0 : NotWritten(path);
        }
        protocol::SharedBlock block = protocol::SharedBlock::Open(protocol::SharedBlock::DefaultPath());
        const uint32_t sequence = block ? block.Sequence() : 0;
        if (const size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0)
            os::MakeDirectories(path.substr(0, slash));
        errno = 0;
        if (!rules.core.Save())
            return NotWritten(path);
        WaitForEngines(changed, sequence);
        return 0;
    }
    return Fail(kFailed, Tr("zel-rules", "the rules file keeps changing; nothing was changed"));
}

}  // namespace tools::zel_rules
