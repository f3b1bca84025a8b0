#include "protocol/AwayDecisions.h"

#include "os/Paths.h"
#include "protocol/DecisionList.h"
#include "text/Strings.h"

namespace protocol::away {

namespace {

namespace list = decision_list;

constexpr const char* kFileName = "away-decisions";
constexpr int kFields = 3 + list::kPeerFields;
constexpr list::Limits kLimits {kMaxBytes, false, false};

std::vector<Decision> ParseAll(std::string_view text)
{
    std::vector<Decision> decisions;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        if (auto decision = ParseLine(text.substr(start, end - start)))
            decisions.push_back(std::move(*decision));
    return decisions;
}

}  // namespace

std::string ListPath() { return os::RuntimePath(kFileName); }

std::string FormatLine(const Decision& decision)
{
    std::string line = std::to_string(static_cast<long long>(decision.time));
    list::AddPeerFields(line, decision);
    list::AddField(line, std::to_string(decision.pid));
    list::AddField(line, decision.path);
    line += '\n';
    return line;
}

std::optional<Decision> ParseLine(std::string_view line)
{
    std::string_view fields[kFields];
    Decision decision;
    if (!list::SplitFields(line, fields, kFields) || !list::IsNumber(fields[0])
        || !list::ParsePeerFields(fields + 1, decision) || !list::IsNumber(fields[8]))
        return std::nullopt;
    decision.time = static_cast<std::time_t>(text::ParseDecimal(fields[0]));
    decision.pid = static_cast<pid_t>(text::ParseDecimal(fields[8]));
    decision.path = text::UnescapeLine(fields[9]);
    return decision;
}

bool Append(const std::string& path, const Decision& decision)
{
    return list::Append(path, FormatLine(decision), kLimits);
}

std::vector<Decision> ReadAll(const std::string& path)
{
    return ParseAll(list::Read(path, kLimits).value_or(""));
}

bool Remove(const std::string& path, const std::function<bool(const Decision&)>& drop)
{
    return list::Rewrite(path, kLimits, [&drop](const std::string& text) {
        std::string kept;
        for (const Decision& decision : ParseAll(text))
            if (!drop(decision))
                kept += FormatLine(decision);
        return kept;
    });
}

}  // namespace protocol::away
