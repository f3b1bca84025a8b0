#include "settings/GeneralMdl.h"
#include "settings/PanelState.h"
#include "settings/SaveChanges.h"
#include "settings/Security.h"

#include "Sandbox.h"

#include <gtest/gtest.h>

using panel::ChosenDefaults;
using panel::PanelState;
using testing_support::ReadText;
using testing_support::Sandbox;

namespace {

constexpr const char* kRules =
    "<APPLICATIONS>"
    "<APPLICATION><EXENAME>NOTEPAD</EXENAME><DESCRIPTION>TEXT EDITOR</DESCRIPTION><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>PAD</EXENAME><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>SSHD</EXENAME><ISSERVICE>1</ISSERVICE><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION>"
    "</APPLICATIONS>";

// A panel's state loaded from the rules above, publishing into a list.
class PanelApply : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox.WriteRules(kRules);
        sandbox.SetSetting("SecurityMode", "Normal");
        sandbox.SetSetting("ApplySettings", "False");
        sandbox.SetSetting("ErrLogs", sandbox.logs);
        state.LoadSettings(std::time(nullptr));
        state.LoadBuffer();
        state.PublishUpdateList = [this](const std::string& text) { published.push_back(text); };
    }
    void TearDown() override { panel::TheErrorLog().Close(); }
    panel::XmlStrRules& App(const char* name) { return *state.CurrBuffer.GetAppFromBuffer(name); }

    Sandbox sandbox;
    PanelState state;
    std::vector<std::string> published;
};

}  // namespace

TEST_F(PanelApply, UpdateListComparesWholeNames)
{
    panel::UpdateAppChanges(state, "NOTEPAD", 1);
    panel::UpdateAppChanges(state, "pad", 1); // a part of NOTEPAD, still a name of its own
    panel::UpdateAppChanges(state, "Text editor", 1); // NOTEPAD again, by its description
    EXPECT_EQ(state.Pic2WindowText, " NOTEPAD PAD");
    panel::UpdateAppChanges(state, "PAD", 0);
    EXPECT_EQ(state.Pic2WindowText, " NOTEPAD");
    panel::UpdateAppChanges(state, "unknown.bin", 1); // not in the rules: published as given, upper case
    panel::UpdateAppChanges(state, "ANY", 1);          // never listed
    EXPECT_EQ(state.Pic2WindowText, " NOTEPAD UNKNOWN.BIN");
    // Published every time, changed or not.
    EXPECT_EQ(published, (std::vector<std::string> {" NOTEPAD", " NOTEPAD PAD", " NOTEPAD PAD", " NOTEPAD",
                                                    " NOTEPAD UNKNOWN.BIN"}));
}

TEST_F(PanelApply, ApplyingAnApplicationStoresItsDefaultsPublishesOnceAndSaves)
{
    struct Case {
        const char* app;
        ChosenDefaults chosen;
        bool clear;
        const char* in;
        const char* out;
    } cases[] = {
        {"PAD", {"DENY", "ASK"}, false, "DENY", "ASK"},
        {"PAD", {"DENY", ""}, false, "DENY", ""},    // one group only: the other stays empty
        {"PAD", {"", ""}, false, "ASK", "ASK"},      // nothing chosen: the general defaults
        {"SSHD", {"", ""}, false, "DENY", "DENY"},   // ... where a service cannot be asked
        {"NOTEPAD", {"PERMIT", "PERMIT"}, true, "", ""}, // follows the system settings
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(panel::SaveNewSettings(state, c.app, c.chosen, c.clear, 1)) << c.app;
        EXPECT_EQ(App(c.app).InDef, c.in) << c.app;
        EXPECT_EQ(App(c.app).OutDef, c.out) << c.app;
    }
    EXPECT_EQ(state.Pic2WindowText, " PAD SSHD NOTEPAD");
    EXPECT_NE(ReadText(sandbox.rulesFile).find("<EXENAME>SSHD</EXENAME><ISSERVICE>1</ISSERVICE><INDEF>DENY</INDEF>"),
              std::string::npos);
    EXPECT_FALSE(panel::SaveNewSettings(state, "GONE", {"DENY", "DENY"}, false, 1));
    EXPECT_EQ(state.Pic2WindowText, " PAD SSHD NOTEPAD");
}

TEST_F(PanelApply, PresetLevelGoesToTheGeneralApplicationAndWithTheOptionToAll)
{
    ASSERT_TRUE(panel::SaveNewSettings(state, "ANY", {}, false, 1));
    EXPECT_EQ(App("ANY").InDef, "ASK");
    EXPECT_EQ(App("ANY").OutDef, "PERMIT");
    EXPECT_EQ(state.GenAppOutDef, "PERMIT");
    EXPECT_EQ(App("PAD").InDef, "PERMIT"); // others keep theirs
    EXPECT_EQ(state.Pic2WindowText, "");   // nothing published for "ANY"
    EXPECT_EQ(state.LastSecurityConfig, 1);

    state.Settings.ApplySettingsMode = true;
    ASSERT_TRUE(panel::SaveNewSettings(state, "ANY", {}, false, 0));
    for (const char* name : {"ANY", "NOTEPAD", "PAD", "SSHD"}) {
        EXPECT_EQ(App(name).InDef, "DENY") << name;
        EXPECT_EQ(App(name).OutDef, "ASK") << name;
    }
    EXPECT_EQ(state.Pic2WindowText, " NOTEPAD PAD SSHD");

    // Custom: the chosen buttons, not the slider.
    state.Settings.ApplySettingsMode = false;
    state.Settings.SecurityMode = "Custom";
    ASSERT_TRUE(panel::SaveNewSettings(state, "ANY", {"PERMIT", "DENY"}, false, 0));
    EXPECT_EQ(state.GenAppInDef, "PERMIT");
    EXPECT_EQ(state.GenAppOutDef, "DENY");
}

TEST_F(PanelApply, TheOtherGroupShowsTheInheritedDefault)
{
    state.GenAppInDef = "ASK";
    state.GenAppOutDef = "PERMIT";
    EXPECT_EQ(panel::SetPermissionAfterSystemSettings(state, "IN", "", "PAD"), "PERMIT");
    EXPECT_EQ(panel::SetPermissionAfterSystemSettings(state, "OUT", "", "PAD"), "ASK");
    EXPECT_EQ(panel::SetPermissionAfterSystemSettings(state, "OUT", "", "SSHD"), "DENY"); // a service is not asked
    EXPECT_EQ(panel::SetPermissionAfterSystemSettings(state, "OUT", "PERMIT", "PAD"), "");
}

TEST_F(PanelApply, StatusTextFollowsModeDefaultsAndBlockAll)
{
    struct Case {
        const char* mode;
        const char* in;
        const char* out;
        const char* status;
        std::optional<int> level;
        const char* combo;
        const char* startsWith;
    } cases[] = {
        {"Normal", "DENY", "PERMIT", "1", 0, "HIGH", "Status : High security \n\n\nThis status will block all"},
        {"Normal", "ASK", "PERMIT", "1", 1, "NORMAL", "Status : Normal security \n\n\nThis status will ask"},
        {"Normal", "PERMIT", "PERMIT", "1", 2, "LOW", "Status : Low security \n\n\nThis status will permit"},
        {"Custom", "ASK", "DENY", "1", std::nullopt, "CUSTOM",
         "Status : Custom security \n\n\nCurrent security ASK network for the incoming data and DENY network for the outgoing data."},
        {"Normal", "ASK", "PERMIT", "0", 1, "BLOCK ALL",
         "Status : BLOCK ALL NETWORK \n\n\nCurrent security will prevent any incoming or outgoing netwrok traffic."},
    };
    for (const Case& c : cases) {
        state.Settings.SecurityMode = c.mode;
        state.GenAppInDef = c.in;
        state.GenAppOutDef = c.out;
        state.Settings.SecurityStatus = c.status;
        const panel::SecurityDisplay display = panel::SetMainInfoText(state);
        EXPECT_EQ(display.level, c.level) << c.combo;
        EXPECT_EQ(display.comboText, c.combo);
        EXPECT_EQ(display.infoText.rfind(c.startsWith, 0), 0u) << display.infoText;
        EXPECT_EQ(display.comboEnabled, std::string(c.status) != "0");
    }
}
