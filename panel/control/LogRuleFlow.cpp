#include "panel/control/LogRuleFlow.h"

#include "panel/core/ErrorLog.h"
#include "panel/core/PanelConstants.h"
#include "panel/core/RuleChecks.h"

namespace panel {

std::optional<rules::Application> LogRuleFlow::ProgramOf(const char* label, const std::optional<LogRow>& selected)
{
    if (!core_.Selected().Shows(Selection::View::kLog) || !selected) {
        WriteErrLog(label, "no log row is selected");
        return std::nullopt;
    }
    return EntryFor(label, *selected);
}

std::optional<rules::Application> LogRuleFlow::EntryFor(const char* label, const LogRow& row)
{
    // The machine's rules decided a system service's record; an entry in
    // the user's rules would change nothing for it, and mislead.
    if (row.machine) {
        WriteErrLog(label, "the row is a system service's: its rules are the machine's");
        return std::nullopt;
    }
    if (!core_.RulesReadable())
        return std::nullopt; // the window says why
    return ApplicationFromLog(row.application, row.path, row.service,
                              core_.GeneralDefault(rules::Direction::kIncoming),
                              core_.GeneralDefault(rules::Direction::kOutgoing), core_.ServiceManager());
}

std::optional<std::string> LogRuleFlow::AddProgram(const std::optional<LogRow>& selected)
{
    const std::optional<rules::Application> app = ProgramOf("AddNewRightclick : AddNewLogMnu_Click", selected);
    if (!app)
        return std::nullopt;
    core_.AddApplication(*app);
    return app->Key();
}

std::optional<std::string> LogRuleFlow::MakeRule(const std::optional<LogRow>& selected)
{
    const std::optional<rules::Application> made = ProgramOf("LogRowMenu : MakeRuleFromLog", selected);
    if (!made)
        return std::nullopt;
    return Edit(*made, *selected, RuleFromLog(*selected));
}

std::optional<std::string> LogRuleFlow::MakeRuleFor(const LogRow& row, const rules::Rule& rule)
{
    const std::optional<rules::Application> made = EntryFor("ConnectionMenu : Block", row);
    if (!made)
        return std::nullopt;
    return Edit(*made, row, rule);
}

std::optional<std::string> LogRuleFlow::Edit(const rules::Application& made, const LogRow& row, const rules::Rule& rule)
{
    // The entry the engine reads for the row's program, if it has one: by
    // its key, since the rules may be read again while the editor is open.
    const rules::Application* known
        = core_.Rules().Document().FindFor(*made.name, made.IsBound() ? made.path : std::string());
    const std::string key = known ? known->Key() : made.Key();
    const bool isNew = !known;
    RuleFromLogInput input;
    input.description = known && !known->description.empty() ? known->description : made.description;
    input.path = row.path;
    input.rule = rule;
    input.portNames = LoadPortsFile(core_.Settings().VRNFolder + kPortsFileName);
    const std::optional<rules::Rule> edited = editor_(input);
    if (!edited)
        return std::nullopt;
    // Nothing is added until the rule is: a cancelled editor leaves the rules as they were.
    if (isNew && !core_.Rules().Find(key))
        core_.AddApplication(made);
    core_.PutFirstRule(key, *edited);
    return key;
}

}  // namespace panel
