#include "panel/control/WizardFlow.h"

#include "panel/core/ProcessList.h"

namespace panel {

void WizardFlow::SetDefaults(std::optional<rules::Permission> incoming, std::optional<rules::Permission> outgoing)
{
    incoming_ = incoming ? incoming : core_.GeneralDefault(rules::Direction::kIncoming);
    outgoing_ = outgoing ? outgoing : core_.GeneralDefault(rules::Direction::kOutgoing);
}

void WizardFlow::UseGeneralDefaults() { SetDefaults(std::nullopt, std::nullopt); }

std::optional<std::string> WizardFlow::Run()
{
    if (!core_.RulesReadable())
        return std::nullopt;
    WizardInput input;
    const std::string procRoot = core_.ProcRoot();
    input.runningPrograms = [procRoot](bool showSystem) {
        return GetWindowsProcess("\n", true, showSystem, procRoot, true);
    };
    input.hasEntry = [this](const std::string& name, const std::string& path) {
        return core_.Rules().Document().FindFor(name, path) != nullptr;
    };
    input.incoming = incoming_;
    input.outgoing = outgoing_;
    std::optional<rules::Application> made = wizard_(std::move(input));
    if (!made)
        return std::nullopt;
    const std::string key = made->Key();
    core_.AddApplication(std::move(*made));
    return key;
}

}  // namespace panel
