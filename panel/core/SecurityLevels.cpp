#include "panel/core/SecurityLevels.h"

#include "panel/core/ErrorLog.h"
#include "panel/core/RuleDescription.h"
#include "panel/core/SettingValues.h"
#include "text/Translate.h"

namespace panel {

namespace {

constexpr SecurityLevel kLevels[kPresetLevels] = {
    {rules::Permission::kDeny, rules::Permission::kAsk, ZEL_TEXT_NOOP("SecurityLevels", "Status : High security "),
     ZEL_TEXT_NOOP("SecurityLevels",
                   "This status will block all the incoming network and will ask for permission for any "
                   "outgoing application."),
     255},
    {rules::Permission::kAsk, rules::Permission::kPermit, ZEL_TEXT_NOOP("SecurityLevels", "Status : Normal security "),
     ZEL_TEXT_NOOP("SecurityLevels",
                   "This status will ask user permission for all the incoming network and will allow any "
                   "outgoing application."),
     65535},
    {rules::Permission::kPermit, rules::Permission::kPermit, ZEL_TEXT_NOOP("SecurityLevels", "Status : Low security "),
     ZEL_TEXT_NOOP("SecurityLevels", "This status will allow any outgoing and incoming network."), 32768},
};

constexpr const char* kLevelNames[kPresetLevels] = {ZEL_TEXT_NOOP("SecurityLevels", "HIGH"),
                                                    ZEL_TEXT_NOOP("SecurityLevels", "NORMAL"),
                                                    ZEL_TEXT_NOOP("SecurityLevels", "LOW")};
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
    return InfoText(text::Tr("SecurityLevels", level.title), text::Tr("SecurityLevels", level.description));
}

SecurityDisplay DescribeSecurity(SecurityMode mode, std::optional<rules::Permission> generalIncoming,
                                 std::optional<rules::Permission> generalOutgoing, const std::string& securityStatus)
{
    SecurityDisplay display;
    if (mode == SecurityMode::kNormal) {
        for (int slider = 0; slider < kPresetLevels; ++slider) {
            if (generalIncoming == kLevels[slider].incoming) {
                display.level = slider;
                display.infoText = LevelInfoText(slider);
                display.comboText = text::Tr("SecurityLevels", kLevelNames[slider]);
                display.comboTag = std::to_string(slider);
                display.comboBack = kLevels[slider].colour;
            }
        }
    } else {
        const auto word = [](std::optional<rules::Permission> permission) {
            return permission ? ShownWord(*permission) : std::string();
        };
        display.custom = true;
        display.infoText = InfoText(text::Tr("SecurityLevels", "Status : Custom security "),
                                    text::Arg(text::Tr("SecurityLevels", "Current security : %1 for the "
                                                                                 "incoming data and %2 for the "
                                                                                 "outgoing data."),
                                                  {word(generalIncoming), word(generalOutgoing)}));
        display.comboText = text::Tr("SecurityLevels", "CUSTOM");
        display.comboTag = "3";
        display.comboBack = kCustomColour;
    }
    if (const auto pressed = TextToInteger(securityStatus); !pressed) {
        WriteErrLog("setSecurity : SetMainInfoText", "SecurityStatus \"" + securityStatus + "\" is not a number");
    } else if (*pressed == 0) {
        display.blockAll = true;
        display.infoColour = kBlockAllColour;
        display.infoText = InfoText(text::Tr("SecurityLevels", "Status : BLOCK ALL NETWORK "),
                                    text::Tr("SecurityLevels", "Current security will prevent any incoming "
                                                                   "or outgoing network traffic."));
        display.comboText = text::Tr("SecurityLevels", "BLOCK ALL");
        display.comboTag = "4";
        display.comboBack = kBlockAllColour;
        display.comboEnabled = false;
    }
    return display;
}

}  // namespace panel
