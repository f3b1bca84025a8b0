#include "panel/core/ApplicationEditing.h"

#include "panel/core/PanelConstants.h"
#include "panel/core/RuleChecks.h"
#include "rules/RulesFormat.h"

#include <algorithm>
#include <numeric>

namespace panel {

ApplicationEditing::ApplicationEditing(PanelCore& core, std::string name, int level)
    : core_(core), name_(std::move(name)), level_(level)
{
    if (const rules::Application* app = Application()) {
        saved_ = *app;
        last_ = *app;
        origin_.resize(app->rules.size());
        std::iota(origin_.begin(), origin_.end(), 0L);
    }
}

bool ApplicationEditing::IsSystem() const { return name_ == rules::rules_format::kGeneralApp; }

const rules::Application* ApplicationEditing::Application() const { return core_.Rules().Find(name_); }

std::optional<rules::Permission> ApplicationEditing::DefaultToShow(rules::Direction direction) const
{
    return core_.DefaultToShow(name_, direction);
}

std::vector<std::pair<std::string, int>> ApplicationEditing::PortNames() const
{
    return LoadPortsFile(core_.Settings().VRNFolder + kPortsFileName);
}

void ApplicationEditing::NoteOthers()
{
    const rules::Application* app = Application();
    if (!app || !last_)
        return;
    othersRules_ = othersRules_ || app->rules != last_->rules;
    othersIncoming_ = othersIncoming_ || app->incoming != last_->incoming;
    othersOutgoing_ = othersOutgoing_ || app->outgoing != last_->outgoing;
}

void ApplicationEditing::Remember()
{
    if (const rules::Application* app = Application())
        last_ = *app;
}

void ApplicationEditing::FollowSystem(bool follow)
{
    rules::Application* app = core_.Rules().Find(name_);
    if (!app || IsSystem())
        return;
    NoteOthers();
    if (follow) {
        app->incoming.reset();
        app->outgoing.reset();
    } else {
        app->incoming = DefaultToShow(rules::Direction::kIncoming);
        app->outgoing = DefaultToShow(rules::Direction::kOutgoing);
    }
    Remember();
}

bool ApplicationEditing::SwitchRule(size_t rule, bool inForce)
{
    NoteOthers();
    if (rule < origin_.size() && origin_[rule] >= 0 && saved_)
        saved_->rules[static_cast<size_t>(origin_[rule])].inForce = inForce;
    const bool done = core_.SetRuleInForce(name_, rule, inForce);
    Remember();
    return done;
}

bool ApplicationEditing::MoveRule(size_t rule, size_t to)
{
    NoteOthers();
    if (!core_.MoveRule(name_, rule, to))
        return false;
    if (rule < origin_.size() && to < origin_.size())
        std::swap(origin_[rule], origin_[to]);
    Remember();
    return true;
}

bool ApplicationEditing::RemoveRule(size_t rule)
{
    NoteOthers();
    if (!core_.RemoveRule(name_, rule))
        return false;
    if (rule < origin_.size())
        origin_.erase(origin_.begin() + static_cast<long>(rule));
    Remember();
    return true;
}

bool ApplicationEditing::PutRule(std::optional<size_t> replaced, rules::Rule rule)
{
    NoteOthers();
    if (!core_.PutRule(name_, replaced, std::move(rule)))
        return false;
    if (replaced && *replaced < origin_.size())
        origin_.erase(origin_.begin() + static_cast<long>(*replaced));
    origin_.push_back(-1);
    Remember();
    return true;
}

bool ApplicationEditing::Accept(const ChosenDefaults& chosen, bool ticked)
{
    if (IsSystem())
        core_.SetMode(ticked ? SecurityMode::kCustom : SecurityMode::kNormal);
    return core_.ApplyDefaults(name_, chosen, !IsSystem() && ticked, level_);
}

bool ApplicationEditing::Cancel()
{
    const rules::Application* now = Application();
    if (!saved_ || !now)
        return false;
    // Only what this window changed goes back: what another writer changed
    // meanwhile (an alert's answer, zel-rules, the file edited) is theirs.
    NoteOthers();
    rules::Application restored = *now;
    if (!othersRules_)
        restored.rules = saved_->rules;
    if (!othersIncoming_)
        restored.incoming = saved_->incoming;
    if (!othersOutgoing_)
        restored.outgoing = saved_->outgoing;
    return core_.RestoreApplication(restored);
}

}  // namespace panel
