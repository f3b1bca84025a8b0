#pragma once

#include "panel/core/LogReader.h"
#include "panel/core/PanelCore.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace panel {

// What the rule editor is given for a rule made from a log row.
struct RuleFromLogInput {
    std::string description; // the program's, as its node shows it
    std::string path;        // the row's program file (its icon)
    rules::Rule rule;        // the rule to start from
    std::vector<std::pair<std::string, int>> portNames;
};

// A program or a rule made from the selected row of a traffic log.
class LogRuleFlow {
public:
    // The rule editor as the window shows it; nothing when cancelled.
    using Editor = std::function<std::optional<rules::Rule>(const RuleFromLogInput&)>;

    LogRuleFlow(PanelCore& core, Editor editor) : core_(core), editor_(std::move(editor)) {}

    // Each returns the key of the application to show; nothing (and why in
    // the error log) when no log row is selected or the rules cannot be
    // changed, or the editor was cancelled.
    // The row's program as a new entry.
    std::optional<std::string> AddProgram(const std::optional<LogRow>& selected);
    // The rule editor with a rule for the row; OK puts it first among the
    // program's rules (adding the program when it has no entry yet).
    std::optional<std::string> MakeRule(const std::optional<LogRow>& selected);
    // The same for a rule made elsewhere (a live connection's) for the
    // program of row (its application, path and service).
    std::optional<std::string> MakeRuleFor(const LogRow& row, const rules::Rule& rule);

private:
    std::optional<rules::Application> ProgramOf(const char* label, const std::optional<LogRow>& selected);
    std::optional<rules::Application> EntryFor(const char* label, const LogRow& row);
    std::optional<std::string> Edit(const rules::Application& made, const LogRow& row, const rules::Rule& rule);

    PanelCore& core_;
    Editor editor_;
};

}  // namespace panel
