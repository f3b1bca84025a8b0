#include "core/ApplicationEditing.h"

#include "core/PanelConstants.h"
#include "core/RuleChecks.h"
#include "platform/RulesFormat.h"

#include <algorithm>
#include <numeric>

namespace panel {

ApplicationEditing::ApplicationEditing(PanelCore& core, std::string name, int level)
    : core_(core), name_(std::move(name)), level_(level)
{
    if (const rules::Application* app = Application()) {
        saved_ = *app;
        origin_.resize(app->rules.size());
        std::iota(origin_.begin(), origin_.end(), 0L);
    }
}

bool ApplicationEditing::IsSystem() const { return name_ == platform::rules_format::kGeneralApp; }

const rules::Application* ApplicationEditing::Application() const { return core_.Rules().Find(name_); }

std::optional<rules::Permission> ApplicationEditing::DefaultToShow(rules::Direction direction) const
{
    return core_.DefaultToShow(name_, direction);
}

std::vector<std::pair<std::string, int>> ApplicationEditing::PortNames() const
{
    return LoadPortsFile(core_.Settings().VRNFolder + kPortsFileName);
}

void ApplicationEditing::FollowSystem(bool follow)
{
    rules::Application* app = core_.Rules().Find(name_);
    if (!app || IsSystem())
        return;
    if (follow) {
        app->incoming.reset();
        app->outgoing.reset();
    } else {
        app->incoming = DefaultToShow(rules::Direction::kIncoming);
        app->outgoing = DefaultToShow(rules::Direction::kOutgoing);
    }
}

bool ApplicationEditing::SwitchRule(size_t rule, bool inForce)
{
    if (rule < origin_.size() && origin_[rule] >= 0 && saved_)
        saved_->rules[static_cast<size_t>(origin_[rule])].inForce = inForce;
    return core_.SetRuleInForce(name_, rule, inForce);
}

bool ApplicationEditing::MoveRule(size_t rule, size_t to)
{
    if (!core_.MoveRule(name_, rule, to))
        return false;
    if (rule < origin_.size() && to < origin_.size())
        std::swap(origin_[rule], origin_[to]);
    return true;
}

bool ApplicationEditing::RemoveRule(size_t rule)
{
    if (!core_.RemoveRule(name_, rule))
        return false;
    if (rule < origin_.size())
        origin_.erase(origin_.begin() + static_cast<long>(rule));
    return true;
}

bool ApplicationEditing::PutRule(std::optional<size_t> replaced, rules::Rule rule)
{
    if (!core_.PutRule(name_, replaced, std::move(rule)))
        return false;
    if (replaced && *replaced < origin_.size())
        origin_.erase(origin_.begin() + static_cast<long>(*replaced));
    origin_.push_back(-1);
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
    if (!saved_)
        return false;
    return core_.RestoreApplication(*saved_);
}

}  // namespace panel
