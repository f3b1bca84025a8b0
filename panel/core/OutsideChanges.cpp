#include "panel/core/OutsideChanges.h"

#include "panel/core/ErrorLog.h"
#include "panel/core/PanelCore.h"
#include "rules/DocumentReader.h"
#include "rules/RulesFile.h"
#include "rules/RulesFormat.h"

#include <algorithm>

namespace panel {

std::vector<std::string> ChangedEntries(const rules::Document& before, const rules::Document& after)
{
    std::vector<std::string> changed;
    // Entries are compared by their keys; the engines are told by name.
    const auto look = [&](const rules::Document& one, const rules::Document& other) {
        for (const rules::Application& app : one.applications) {
            if (!app.name || std::find(changed.begin(), changed.end(), *app.name) != changed.end())
                continue;
            const rules::Application* counterpart = other.Find(app.Key());
            if (!counterpart || !(*counterpart == *one.Find(app.Key())))
                changed.push_back(*app.name);
        }
    };
    look(before, after);
    look(after, before);
    if (changed.empty() && !(before == after))
        changed.emplace_back(rules::rules_format::kGeneralApp);
    return changed;
}

std::optional<RulesStore::LoadResult> OutsideChanges::Take(PanelCore& core)
{
    const os::FileStamp stamp = os::StampOf(core.Settings().XmlFilePath);
    // The first look only learns the file the panel loaded at its start.
    if (!looked_ || stamp == stamp_) {
        looked_ = true;
        stamp_ = stamp;
        return std::nullopt;
    }
    stamp_ = stamp;
    // Another writer's file that is gone or does not parse is not taken:
    // loading it as at the start would put it aside and write the defaults
    // over the rules in force, maybe while that writer is still at work.
    // The rules held stay, and so does the file, until it reads again.
    const std::string& path = core.Settings().XmlFilePath;
    const rules::rules_file::Contents contents = rules::rules_file::Read(path);
    std::string problem = contents.status.Missing() ? "it is missing" : "";
    if (contents.status.Read() && !rules::ReadDocument(contents.text, &problem))
        problem = "it does not parse (" + problem + ")";
    if (!problem.empty()) {
        WriteErrLog("OutsideChanges : Take", "the rules file " + path + " was changed by another program and " + problem
                                                 + "; the rules in force stay until it is mended");
        return std::nullopt;
    }
    const rules::Document held = core.Rules().Document();
    const bool wasReadable = core.RulesReadable();
    const RulesStore::LoadResult loaded = core.LoadRules();
    // A load may write the defaults in place of the file: its stamp then is that.
    stamp_ = os::StampOf(core.Settings().XmlFilePath);
    if (loaded.outcome == RulesStore::LoadOutcome::kUnreadable)
        return wasReadable ? std::optional(loaded) : std::nullopt;
    if (wasReadable && held == core.Rules().Document())
        return std::nullopt;
    for (const std::string& name : ChangedEntries(held, core.Rules().Document()))
        core.PublishChange(name);
    return loaded;
}

}  // namespace panel
