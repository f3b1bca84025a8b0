#include "panel/core/TimedAnswers.h"

#include "panel/core/ErrorLog.h"
#include "panel/core/PanelCore.h"
#include "text/Translate.h"

#include <algorithm>

namespace panel {

std::vector<TimedEntry> ListTimedAnswers(const PanelCore& core)
{
    std::vector<TimedEntry> entries;
    for (const rules::Application& app : core.Rules().Document().applications)
        if (app.name)
            for (const rules::TimedAnswer& answer : app.timed)
                entries.push_back({*app.name, app.Key(), app.description, answer});
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TimedEntry& a, const TimedEntry& b) { return a.answer.until < b.answer.until; });
    return entries;
}

std::optional<int64_t> NextAnswerEnd(const PanelCore& core)
{
    std::optional<int64_t> next;
    for (const rules::Application& app : core.Rules().Document().applications)
        for (const rules::TimedAnswer& answer : app.timed)
            if (!next || answer.until < *next)
                next = answer.until;
    return next;
}

namespace {

// Saved first: a program told of its change reads the new file.
bool SaveAndTell(PanelCore& core, const std::vector<std::string>& changed, const char* caller)
{
    if (!core.Save()) {
        WriteErrLog(caller, "the rules cannot be saved; the timed answers stay in the file until they can");
        return false;
    }
    for (const std::string& name : changed)
        core.Updates().Add(name);
    for (const std::string& name : changed)
        core.Changes().Announce({Change::Kind::kApplicationChanged, name});
    return true;
}

}  // namespace

bool EndTimedAnswer(PanelCore& core, const TimedEntry& entry)
{
    rules::Application* app = core.Rules().Find(entry.key);
    if (!app)
        return false;
    const auto found = std::find(app->timed.begin(), app->timed.end(), entry.answer);
    if (found == app->timed.end())
        return false;
    app->timed.erase(found);
    return SaveAndTell(core, {entry.exeName}, "TimedAnswers : EndTimedAnswer");
}

int RemoveEndedAnswers(PanelCore& core, int64_t now)
{
    std::vector<std::string> changed;
    int removed = 0;
    for (rules::Application& app : core.Rules().Document().applications) {
        const size_t ended = std::erase_if(app.timed, [now](const rules::TimedAnswer& answer) { return answer.EndedAt(now); });
        if (ended == 0)
            continue;
        removed += static_cast<int>(ended);
        if (app.name && std::find(changed.begin(), changed.end(), *app.name) == changed.end())
            changed.push_back(*app.name);
    }
    if (removed > 0)
        SaveAndTell(core, changed, "TimedAnswers : RemoveEndedAnswers");
    return removed;
}

std::string DescribeAnswer(const rules::TimedAnswer& answer)
{
    using text::Arg;
    using text::Tr;
    const bool outgoing = answer.direction == rules::Direction::kOutgoing;
    const bool allow = answer.permission == rules::Permission::kPermit;
    const std::string action = outgoing
        ? (allow ? Tr("TimedAnswers", "Allow outgoing") : Tr("TimedAnswers", "Block outgoing"))
        : (allow ? Tr("TimedAnswers", "Allow incoming") : Tr("TimedAnswers", "Block incoming"));
    const std::string peer = !answer.host.empty() ? answer.host : answer.address;
    const std::string port = std::to_string(answer.port);
    if (!peer.empty() && answer.port)
        return Arg(outgoing ? Tr("TimedAnswers", "%1 to %2, port %3") : Tr("TimedAnswers", "%1 from %2, port %3"),
                   {action, peer, port});
    if (!peer.empty())
        return Arg(outgoing ? Tr("TimedAnswers", "%1 to %2, any port") : Tr("TimedAnswers", "%1 from %2, any port"),
                   {action, peer});
    if (answer.port)
        return Arg(outgoing ? Tr("TimedAnswers", "%1 on port %2, any host") : Tr("TimedAnswers", "%1 on port %2, any peer"),
                   {action, port});
    return Arg(Tr("TimedAnswers", "%1, any connection"), {action});
}

std::string TimeLeftText(int64_t secondsLeft)
{
    using text::Arg;
    using text::Tr;
    if (secondsLeft <= 0)
        return Tr("TimedAnswers", "ended");
    if (secondsLeft < 60)
        return Arg(Tr("TimedAnswers", "%1 s"), {std::to_string(secondsLeft)});
    const int64_t minutes = (secondsLeft + 59) / 60;
    if (minutes < 60)
        return Arg(Tr("TimedAnswers", "%1 min"), {std::to_string(minutes)});
    const int64_t rest = minutes % 60;
    return Arg(Tr("TimedAnswers", "%1 h %2 min"),
               {std::to_string(minutes / 60), (rest < 10 ? "0" : "") + std::to_string(rest)});
}

std::string TimeLeftText(const rules::TimedAnswer& answer, int64_t now)
{
    using text::Arg;
    using text::Tr;
    const std::string left = TimeLeftText(answer.until - now);
    if (answer.EndedAt(now) || !answer.LongerThanAllowedAt(now))
        return left;
    return Arg(answer.permission == rules::Permission::kPermit
                   ? Tr("TimedAnswers", "%1 (longer than any answer may last: it allows nothing)")
                   : Tr("TimedAnswers", "%1 (longer than any answer may last)"),
               {left});
}

}  // namespace panel
