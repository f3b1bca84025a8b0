#include "settings/SaveChanges.h"

#include "settings/GeneralMdl.h"
#include "settings/Security.h"
#include "editing/ProcessList.h"
#include "platform/Text.h"

#include <sstream>
#include <vector>

namespace panel {

namespace {

std::vector<std::string> Names(const std::string& list)
{
    std::vector<std::string> names;
    std::istringstream words(list);
    for (std::string word; words >> word;)
        names.push_back(word);
    return names;
}

std::string ForService(const PanelState& state, const std::string& exeName, std::string def)
{
    if (def == state.AppConsts.ASK && state.CurrBuffer.GetIsService(exeName) == 1)
        return state.AppConsts.DENY;
    return def;
}

}  // namespace

bool SaveNewSettings(PanelState& state, const std::string& exeName, const ChosenDefaults& chosen, bool clearOwnDefaults,
                     int sliderValue)
{
    const ConstForApp& words = state.AppConsts;
    if (exeName != words.GENERAL_APP) {
        const AppRecord app = state.CurrBuffer.GetAppFromBuffer(exeName);
        if (!app) {
            WriteErrLog("SaveChanges : SaveNewSettings", exeName + " is not in the rules");
            return false;
        }
        std::string inDef, outDef;
        if (!clearOwnDefaults) {
            inDef = chosen.inDef;
            outDef = chosen.outDef;
            if (inDef.empty() && outDef.empty()) {
                inDef = ForService(state, exeName, state.GenAppInDef);
                outDef = ForService(state, exeName, state.GenAppOutDef);
            }
        }
        app->InDef = inDef;
        app->OutDef = outDef;
    } else if (state.Settings.SecurityMode == words.NormalSec) {
        std::string inDef, outDef;
        if (sliderValue >= 0 && sliderValue < kPresetLevels) {
            inDef = PresetLevel(sliderValue).inDef;
            outDef = PresetLevel(sliderValue).outDef;
        }
        ApplyNewSecurityToRule(state, words.GENERAL_APP, state.Settings.ApplySettingsMode, inDef, outDef);
        // Every running program follows the system settings it has no own entry against.
        UpdateLspWithRelatedProcList(state, false, true, state.ProcRoot, std::time(nullptr));
        state.LastSecurityConfig = sliderValue;
    } else {
        ApplyNewSecurityToRule(state, words.GENERAL_APP, state.Settings.ApplySettingsMode, chosen.inDef, chosen.outDef);
        UpdateLspWithRelatedProcList(state, false, true, state.ProcRoot, std::time(nullptr));
    }
    UpdateAppChanges(state, exeName, 1);
    return state.SaveAndLoad();
}

void UpdateAppChanges(PanelState& state, const std::string& exeName, int mode)
{
    if (exeName == state.AppConsts.GENERAL_APP)
        return;
    std::string key = platform::ToUpper(state.CurrBuffer.GetExeName(exeName));
    if (key.empty())
        key = platform::ToUpper(exeName);
    std::vector<std::string> names = Names(state.Pic2WindowText);
    if (mode == 1) {
        bool listed = false;
        for (const std::string& name : names)
            listed = listed || platform::EqualsNoCase(name, key);
        if (!listed && !key.empty())
            state.Pic2WindowText += " " + key;
    } else {
        // Whole names only: taking PAD off must leave NOTEPAD as it is.
        std::string kept;
        for (const std::string& name : names)
            if (name != key)
                kept += " " + name;
        state.Pic2WindowText = kept;
    }
    if (state.PublishUpdateList)
        state.PublishUpdateList(state.Pic2WindowText);
}

void PublishChange(PanelState& state, const std::string& exeName)
{
    if (exeName == state.AppConsts.GENERAL_APP)
        UpdateLspWithRelatedProcList(state, false, true, state.ProcRoot, std::time(nullptr));
    else
        UpdateAppChanges(state, exeName, 1);
}

std::string SetPermissionAfterSystemSettings(const PanelState& state, const std::string& direction,
                                             const std::string& otherGroupSelection, const std::string& exeName)
{
    if (!otherGroupSelection.empty())
        return {};
    const std::string def = direction == state.AppConsts.OutDirection ? state.GenAppInDef : state.GenAppOutDef;
    return ForService(state, exeName, def);
}

}  // namespace panel
