#include "settings/Security.h"

#include "settings/GeneralMdl.h"
#include "settings/SaveChanges.h"

namespace panel {

namespace {

constexpr SecurityLevel kLevels[kPresetLevels] = {
    {"DENY", "ASK", "Status : High security ",
     "This status will block all the incoming network and will ask for permission for any outgoing application.",
     255},
    {"ASK", "PERMIT", "Status : Normal security ",
     "This status will ask user permission for all the incoming network and will permit any outgoing application.",
     65535},
    {"PERMIT", "PERMIT", "Status : Low security ", "This status will permit any outgoing and icoming network.", 32768},
};

constexpr const char* kLevelNames[kPresetLevels] = {"HIGH", "NORMAL", "LOW"};
constexpr uint32_t kCustomColour = 0x80C0FF;
constexpr uint32_t kBlockAllColour = 255;

std::string InfoText(const std::string& title, const std::string& description)
{
    return title + "\n\n\n" + description;
}

}  // namespace

const SecurityLevel& PresetLevel(int slider) { return kLevels[slider < 0 ? 0 : slider >= kPresetLevels ? kPresetLevels - 1 : slider]; }

std::string LevelInfoText(int slider)
{
    const SecurityLevel& level = PresetLevel(slider);
    return InfoText(level.title, level.description);
}

SecurityDisplay SetMainInfoText(const PanelState& state)
{
    SecurityDisplay display;
    if (state.Settings.SecurityMode == state.AppConsts.NormalSec) {
        for (int slider = 0; slider < kPresetLevels; ++slider) {
            if (state.GenAppInDef == kLevels[slider].inDef) {
                display.level = slider;
                display.infoText = LevelInfoText(slider);
                display.comboText = kLevelNames[slider];
                display.comboTag = std::to_string(slider);
                display.comboBack = kLevels[slider].colour;
            }
        }
    } else {
        display.custom = true;
        display.infoText = InfoText("Status : Custom security ", "Current security " + state.GenAppInDef
                                        + " network for the incoming data and " + state.GenAppOutDef
                                        + " network for the outgoing data.");
        display.comboText = "CUSTOM";
        display.comboTag = "3";
        display.comboBack = kCustomColour;
    }
    if (const auto pressed = TextToInteger(state.Settings.SecurityStatus); !pressed) {
        WriteErrLog("setSecurity : SetMainInfoText",
                    "SecurityStatus \"" + state.Settings.SecurityStatus + "\" is not a number");
    } else if (*pressed == 0) {
        display.blockAll = true;
        display.infoColour = kBlockAllColour;
        display.infoText = InfoText("Status : BLOCK ALL NETWORK ",
                                    "Current security will prevent any incoming or outgoing netwrok traffic.");
        display.comboText = "BLOCK ALL";
        display.comboTag = "4";
        display.comboBack = kBlockAllColour;
        display.comboEnabled = false;
    }
    return display;
}

void ApplyNewSecurityToRule(PanelState& state, const std::string& exeName, bool applyToAll, const std::string& inDef,
                            const std::string& outDef)
{
    const AppRecord app = state.CurrBuffer.GetAppFromBuffer(exeName);
    if (!app) {
        WriteErrLog("setSecurity : ApplyNewSecurityToRule", exeName + " is not in the rules");
        return;
    }
    app->InDef = inDef;
    app->OutDef = outDef;
    if (exeName == state.AppConsts.GENERAL_APP && !inDef.empty() && !outDef.empty()) {
        state.GenAppInDef = inDef;
        state.GenAppOutDef = outDef;
    }
    if (applyToAll)
        ChangeAllAppDefault(state, inDef, outDef);
}

void ChangeAllAppDefault(PanelState& state, const std::string& inDef, const std::string& outDef)
{
    for (const AppRecord& app : state.CurrBuffer.AllRules) {
        if (app->ExeName == state.AppConsts.GENERAL_APP)
            continue;
        app->InDef = inDef;
        app->OutDef = outDef;
        UpdateAppChanges(state, app->ExeName, 1);
    }
}

}  // namespace panel
