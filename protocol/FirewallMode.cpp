#include "protocol/FirewallMode.h"

#include "protocol/DecisionList.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"
#include "text/Strings.h"

#include <string>

namespace protocol::mode {

namespace {

using registry::kSettingsKey;
using registry::RootKey;

struct Named {
    Mode mode;
    std::string_view word;
};

constexpr Named kWords[] = {
    {Mode::kAsk, "ask"},
    {Mode::kQuietAllow, "quiet-allow"},
    {Mode::kQuietBlock, "quiet-block"},
    {Mode::kLearn, "learn"},
};

constexpr std::time_t kMostLearnSeconds = std::time_t {settings::kMaxLearnDays} * 24 * 60 * 60;

}  // namespace

std::string_view Word(Mode mode)
{
    for (const Named& named : kWords)
        if (named.mode == mode)
            return named.word;
    return "ask";
}

std::optional<Mode> Parse(std::string_view word)
{
    word = text::TrimBlanks(word);
    for (const Named& named : kWords)
        if (named.word == word)
            return named.mode;
    return std::nullopt;
}

Reader::Reader()
    : mode_(RootKey::LocalMachine, kSettingsKey, settings::kFirewallMode),
      until_(RootKey::LocalMachine, kSettingsKey, settings::kLearnUntil)
{
}

State Reader::Read() const
{
    State state;
    state.mode = Parse(mode_.Read().value_or("")).value_or(Mode::kAsk);
    if (state.mode == Mode::kLearn) {
        const std::string text(text::TrimBlanks(until_.Read().value_or("")));
        if (decision_list::IsNumber(text))
            state.learnUntil = static_cast<std::time_t>(text::ParseDecimal(text));
    }
    return state;
}

void Reader::LockForFork() const
{
    mode_.LockForFork();
    until_.LockForFork();
}

void Reader::UnlockAfterFork() const
{
    until_.UnlockAfterFork();
    mode_.UnlockAfterFork();
}

State Read() { return Reader().Read(); }

bool Write(const State& state)
{
    return registry::SetString(RootKey::LocalMachine, kSettingsKey, settings::kLearnUntil,
                               std::to_string(static_cast<long long>(state.learnUntil)))
        && registry::SetString(RootKey::LocalMachine, kSettingsKey, settings::kFirewallMode, Word(state.mode));
}

Mode Effective(const State& state, std::time_t now)
{
    if (state.mode != Mode::kLearn)
        return state.mode;
    return now < state.learnUntil && state.learnUntil - now <= kMostLearnSeconds ? Mode::kLearn : Mode::kAsk;
}

bool LearningOver(const State& state, std::time_t now)
{
    return state.mode == Mode::kLearn && Effective(state, now) != Mode::kLearn;
}

}  // namespace protocol::mode
