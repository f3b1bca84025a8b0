// The control panel's core: what the windows (and a command-line tool) do
// to the rules, saved and then published; the system settings' levels.
#include "panel/core/ApplicationEditing.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/PanelCore.h"
#include "panel/core/SecurityLevels.h"

#include "tests/Sandbox.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

using panel::ChosenDefaults;
using panel::PanelCore;
using rules::Direction;
using rules::Permission;
using testing_support::ReadText;
using testing_support::Sandbox;

namespace {

constexpr const char* kRules =
    "<APPLICATIONS>"
    "<APPLICATION><EXENAME>NOTEPAD</EXENAME><DESCRIPTION>TEXT EDITOR</DESCRIPTION><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF>"
    "<RULES><RULE><RULENAME>one</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE>"
    "</RULE><RULE><RULENAME>two</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE>"
    "</RULE><RULE><RULENAME>three</RULENAME><DIRECTION>INCOMING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE>"
    "</RULE></RULES></APPLICATION>"
    "<APPLICATION><EXENAME>PAD</EXENAME><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>SSHD</EXENAME><ISSERVICE>1</ISSERVICE><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION>"
    "</APPLICATIONS>";

// A panel's core loaded from the rules above, publishing into a list; each
// publication notes whether the file said what the rules held then.
class PanelApply : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox.WriteRules(kRules);
        sandbox.SetSetting("SecurityMode", "Normal");
        sandbox.SetSetting("ApplySettings", "False");
        sandbox.SetSetting("ErrLogs", sandbox.logs);
        core.LoadSettings(std::time(nullptr));
        core.LoadRules();
        core.Updates().SetPublisher([this](const std::string& text) {
            published.push_back(text);
            savedFirst = savedFirst && ReadText(sandbox.rulesFile) == core.Rules().Text();
        });
    }
    void TearDown() override { panel::TheErrorLog().Close(); }
    const rules::Application& App(const char* name) { return *core.Rules().Find(name); }
    std::vector<std::string> RuleNames(const char* name)
    {
        std::vector<std::string> names;
        for (const rules::Rule& rule : App(name).rules)
            names.push_back(rule.name);
        return names;
    }

    Sandbox sandbox;
    PanelCore core;
    std::vector<std::string> published;
    bool savedFirst = true;
};

}  // namespace

TEST_F(PanelApply, UpdateListComparesWholeNames)
{
    panel::UpdateList& list = core.Updates();
    list.Add("NOTEPAD");
    list.Add("pad"); // a part of NOTEPAD, still a name of its own
    list.Add("NOTEPAD");
    EXPECT_EQ(list.Text(), " NOTEPAD PAD");
    list.Remove("PAD");
    EXPECT_EQ(list.Text(), " NOTEPAD");
    list.Add("unknown.bin"); // not in the rules: published as given, upper case
    list.Add("ANY");         // never listed
    EXPECT_EQ(list.Text(), " NOTEPAD UNKNOWN.BIN");
    // Published every time a name is given, changed or not ("ANY" is none).
    EXPECT_EQ(published, (std::vector<std::string> {" NOTEPAD", " NOTEPAD PAD", " NOTEPAD PAD", " NOTEPAD",
                                                    " NOTEPAD UNKNOWN.BIN"}));
}

TEST_F(PanelApply, ApplyingAnApplicationStoresItsDefaultsSavesAndThenPublishes)
{
    const struct {
        const char* app;
        ChosenDefaults chosen;
        bool followSystem;
        std::optional<Permission> in;
        std::optional<Permission> out;
    } cases[] = {
        {"PAD", {Permission::kDeny, Permission::kAsk}, false, Permission::kDeny, Permission::kAsk},
        {"PAD", {Permission::kDeny, {}}, false, Permission::kDeny, {}},         // one group only: the other none
        {"PAD", {}, false, Permission::kAsk, Permission::kAsk},                 // nothing chosen: the general defaults
        {"SSHD", {}, false, Permission::kDeny, Permission::kDeny},              // ... where a service cannot be asked
        {"NOTEPAD", {Permission::kPermit, Permission::kPermit}, true, {}, {}}, // follows the system settings
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(core.ApplyDefaults(c.app, c.chosen, c.followSystem, 1)) << c.app;
        EXPECT_EQ(App(c.app).incoming, c.in) << c.app;
        EXPECT_EQ(App(c.app).outgoing, c.out) << c.app;
    }
    EXPECT_EQ(core.Updates().Text(), " PAD SSHD NOTEPAD");
    EXPECT_TRUE(savedFirst);
    EXPECT_NE(ReadText(sandbox.rulesFile).find("<EXENAME>SSHD</EXENAME><ISSERVICE>1</ISSERVICE><INDEF>DENY</INDEF>"),
              std::string::npos);
    EXPECT_FALSE(core.ApplyDefaults("GONE", {Permission::kDeny, Permission::kDeny}, false, 1));
    EXPECT_FALSE(core.ApplyDefaults("pad", {Permission::kDeny, Permission::kDeny}, false, 1)); // names are exact
    EXPECT_EQ(core.Updates().Text(), " PAD SSHD NOTEPAD");
}

TEST_F(PanelApply, PresetLevelGoesToTheGeneralApplicationAndWithTheOptionToAll)
{
    ASSERT_TRUE(core.ApplyDefaults("ANY", {}, false, 1));
    EXPECT_EQ(App("ANY").incoming, Permission::kAsk);
    EXPECT_EQ(App("ANY").outgoing, Permission::kPermit);
    EXPECT_EQ(core.GeneralDefault(Direction::kOutgoing), Permission::kPermit);
    EXPECT_EQ(App("PAD").incoming, Permission::kPermit); // others keep theirs
    EXPECT_EQ(core.Updates().Text(), "");                // nothing published for "ANY" but running programs

    core.Settings().ApplySettingsMode = true;
    ASSERT_TRUE(core.ApplyDefaults("ANY", {}, false, 0));
    for (const char* name : {"ANY", "NOTEPAD", "PAD", "SSHD"}) {
        EXPECT_EQ(App(name).incoming, Permission::kDeny) << name;
        EXPECT_EQ(App(name).outgoing, Permission::kAsk) << name;
    }
    EXPECT_EQ(core.Updates().Text(), " NOTEPAD PAD SSHD");
    EXPECT_TRUE(savedFirst);

    // Custom: the chosen buttons, not the level.
    core.Settings().ApplySettingsMode = false;
    core.SetMode(panel::SecurityMode::kCustom);
    ASSERT_TRUE(core.ApplyDefaults("ANY", {Permission::kPermit, Permission::kDeny}, false, 0));
    EXPECT_EQ(core.GeneralDefault(Direction::kIncoming), Permission::kPermit);
    EXPECT_EQ(core.GeneralDefault(Direction::kOutgoing), Permission::kDeny);
    // The menu's preset: the system settings alone, "Normal" mode again.
    core.ApplyPreset(2);
    EXPECT_EQ(App("ANY").incoming, Permission::kPermit);
    EXPECT_EQ(App("ANY").outgoing, Permission::kPermit);
    EXPECT_EQ(App("PAD").outgoing, Permission::kAsk);
    EXPECT_EQ(core.Mode(), panel::SecurityMode::kNormal);
}

TEST_F(PanelApply, TheOtherGroupShowsTheInheritedDefault)
{
    EXPECT_EQ(core.DefaultToShow("PAD", Direction::kOutgoing), Permission::kAsk);
    EXPECT_EQ(core.DefaultToShow("SSHD", Direction::kOutgoing), Permission::kDeny); // a service is not asked
    core.ApplyDefaults("ANY", {}, false, 1);
    EXPECT_EQ(core.DefaultToShow("PAD", Direction::kIncoming), Permission::kAsk);
    EXPECT_EQ(core.DefaultToShow("PAD", Direction::kOutgoing), Permission::kPermit);
}

TEST_F(PanelApply, StatusTextFollowsModeDefaultsAndBlockAll)
{
    const struct {
        panel::SecurityMode mode;
        Permission in;
        Permission out;
        const char* status;
        std::optional<int> level;
        const char* combo;
        const char* startsWith;
    } cases[] = {
        {panel::SecurityMode::kNormal, Permission::kDeny, Permission::kPermit, "1", 0, "HIGH",
         "Status : High security \n\n\nThis status will block all"},
        {panel::SecurityMode::kNormal, Permission::kAsk, Permission::kPermit, "1", 1, "NORMAL",
         "Status : Normal security \n\n\nThis status will ask"},
        {panel::SecurityMode::kNormal, Permission::kPermit, Permission::kPermit, "1", 2, "LOW",
         "Status : Low security \n\n\nThis status will allow any outgoing and incoming network."},
        {panel::SecurityMode::kCustom, Permission::kAsk, Permission::kDeny, "1", std::nullopt, "CUSTOM",
         "Status : Custom security \n\n\nCurrent security : Ask for the incoming data and Block for the outgoing data."},
        {panel::SecurityMode::kNormal, Permission::kAsk, Permission::kPermit, "0", 1, "BLOCK ALL",
         "Status : BLOCK ALL NETWORK \n\n\nCurrent security will prevent any incoming or outgoing network traffic."},
    };
    for (const auto& c : cases) {
        const panel::SecurityDisplay display = panel::DescribeSecurity(c.mode, c.in, c.out, c.status);
        EXPECT_EQ(display.level, c.level) << c.combo;
        EXPECT_EQ(display.comboText, c.combo);
        EXPECT_EQ(display.infoText.rfind(c.startsWith, 0), 0u) << display.infoText;
        EXPECT_EQ(display.comboEnabled, std::string(c.status) != "0");
    }
}

// Each change of an application's rules or entry is saved, then published;
// a new entry goes before the system settings, where the engine reads it.
TEST_F(PanelApply, RulesAndEntriesChangeSaveAndPublish)
{
    ASSERT_TRUE(core.SetRuleInForce("NOTEPAD", 1, false));
    EXPECT_EQ(App("NOTEPAD").rules[1].inForce, false);
    ASSERT_TRUE(core.MoveRule("NOTEPAD", 0, 2));
    EXPECT_EQ(RuleNames("NOTEPAD"), (std::vector<std::string> {"three", "two", "one"}));
    EXPECT_FALSE(core.MoveRule("NOTEPAD", 0, 3)); // no rule 4: left as it was
    rules::Rule edited = App("NOTEPAD").rules[0];
    edited.name = "three, edited";
    ASSERT_TRUE(core.PutRule("NOTEPAD", 0, edited)); // the edited rule goes last
    EXPECT_EQ(RuleNames("NOTEPAD"), (std::vector<std::string> {"two", "one", "three, edited"}));
    ASSERT_TRUE(core.RemoveRule("NOTEPAD", 1));
    EXPECT_FALSE(core.RemoveRule("NOTEPAD", 5));
    EXPECT_EQ(RuleNames("NOTEPAD"), (std::vector<std::string> {"two", "three, edited"}));
    ASSERT_TRUE(core.SetDefault("PAD", Direction::kOutgoing, Permission::kDeny));
    EXPECT_EQ(App("PAD").outgoing, Permission::kDeny);

    const rules::Application wget = core.NewApplication("WGET", "", "/usr/bin/wget", true);
    EXPECT_EQ(wget.description, "WGET");
    EXPECT_EQ(wget.incoming, Permission::kDeny); // the general ASK, for a service
    ASSERT_TRUE(core.AddApplication(wget));
    EXPECT_FALSE(core.AddApplication(wget)); // once
    const auto& apps = core.Rules().Document().applications;
    EXPECT_EQ(apps[apps.size() - 2].name, "WGET");
    ASSERT_TRUE(core.RemoveApplication("PAD"));
    EXPECT_FALSE(core.Rules().Find("PAD"));
    EXPECT_EQ(core.Updates().Text(), " NOTEPAD PAD WGET");
    EXPECT_TRUE(savedFirst);
    EXPECT_EQ(ReadText(sandbox.rulesFile), core.Rules().Text());
}

// The advanced window's editing: Cancel puts the application back as it
// was, with its order and rules, and keeps the switches the user changed
// (they were saved at once).
TEST_F(PanelApply, CancelledEditingPutsTheApplicationBackKeepingTheSwitches)
{
    panel::ApplicationEditing editing(core, "NOTEPAD", 1);
    editing.FollowSystem(true);
    EXPECT_FALSE(App("NOTEPAD").incoming);
    ASSERT_TRUE(editing.MoveRule(0, 1));
    ASSERT_TRUE(editing.SwitchRule(0, false)); // "two", now first
    ASSERT_TRUE(editing.RemoveRule(2));
    rules::Rule added;
    added.name = "added";
    ASSERT_TRUE(editing.PutRule(std::nullopt, added));
    EXPECT_EQ(RuleNames("NOTEPAD"), (std::vector<std::string> {"two", "one", "added"}));
    ASSERT_TRUE(editing.Cancel());
    EXPECT_EQ(RuleNames("NOTEPAD"), (std::vector<std::string> {"one", "two", "three"}));
    EXPECT_EQ(App("NOTEPAD").rules[1].inForce, false);
    EXPECT_EQ(App("NOTEPAD").incoming, Permission::kAsk);
    EXPECT_EQ(ReadText(sandbox.rulesFile), core.Rules().Text());

    // Another writer meanwhile (an alert's answer, zel-rules): what it
    // changed stays; what the window changed goes back where nobody else
    // touched it.
    {
        panel::ApplicationEditing theirsToo(core, "NOTEPAD", 1);
        ASSERT_TRUE(theirsToo.RemoveRule(0));
        ASSERT_TRUE(core.SetDefault("NOTEPAD", Direction::kIncoming, Permission::kDeny));
        ASSERT_TRUE(theirsToo.Cancel());
        EXPECT_EQ(RuleNames("NOTEPAD"), (std::vector<std::string> {"one", "two", "three"}));
        EXPECT_EQ(App("NOTEPAD").incoming, Permission::kDeny);
    }
    {
        panel::ApplicationEditing mixed(core, "NOTEPAD", 1);
        ASSERT_TRUE(mixed.RemoveRule(2));
        rules::Rule theirs;
        theirs.name = "theirs";
        ASSERT_TRUE(core.PutRule("NOTEPAD", std::nullopt, theirs));
        ASSERT_TRUE(mixed.MoveRule(0, 1));
        ASSERT_TRUE(mixed.Cancel());
        EXPECT_EQ(RuleNames("NOTEPAD"), (std::vector<std::string> {"two", "one", "theirs"}));
        EXPECT_EQ(ReadText(sandbox.rulesFile), core.Rules().Text());
    }

    // OK: the chosen defaults; "Apply system rules" ticked, none of its own.
    panel::ApplicationEditing again(core, "NOTEPAD", 1);
    ASSERT_TRUE(again.Accept({Permission::kDeny, Permission::kPermit}, false));
    EXPECT_EQ(App("NOTEPAD").outgoing, Permission::kPermit);
    ASSERT_TRUE(again.Accept({}, true));
    EXPECT_FALSE(App("NOTEPAD").outgoing);
    // The system settings: the check box is "Apply custom settings".
    panel::ApplicationEditing system(core, "ANY", 2);
    ASSERT_TRUE(system.Accept({Permission::kDeny, Permission::kAsk}, true));
    EXPECT_EQ(core.Mode(), panel::SecurityMode::kCustom);
    EXPECT_EQ(App("ANY").incoming, Permission::kDeny);
    ASSERT_TRUE(system.Accept({}, false));
    EXPECT_EQ(core.Mode(), panel::SecurityMode::kNormal);
    EXPECT_EQ(App("ANY").incoming, Permission::kPermit); // the level given: Low
}

// Every change is announced once it is made (saved, for the rules), to
// those subscribed then; a setting set to what it is is no change.
TEST_F(PanelApply, ChangesAreAnnouncedAfterTheyAreMade)
{
    using Kind = panel::Change::Kind;
    std::vector<std::pair<Kind, std::string>> heard;
    bool saved = true;
    panel::ChangeFeed::Subscription subscription = core.Changes().Subscribe([&](const panel::Change& change) {
        heard.emplace_back(change.kind, change.name);
        saved = saved && ReadText(sandbox.rulesFile) == core.Rules().Text();
    });
    const struct {
        std::function<void()> change;
        std::vector<std::pair<Kind, std::string>> announced;
    } cases[] = {
        {[&] { core.SetRuleInForce("NOTEPAD", 0, false); }, {{Kind::kApplicationChanged, "NOTEPAD"}}},
        {[&] { core.SetDefault("PAD", Direction::kIncoming, Permission::kDeny); }, {{Kind::kApplicationChanged, "PAD"}}},
        {[&] { core.RemoveApplication("SSHD"); }, {{Kind::kApplicationChanged, "SSHD"}}},
        {[&] { core.RemoveApplication("SSHD"); }, {}}, // not there: nothing changed
        {[&] { core.ApplyDefaults("ANY", {}, false, 1); }, {{Kind::kApplicationChanged, "ANY"}}},
        {[&] { core.SetMode(panel::SecurityMode::kCustom); }, {{Kind::kSettingChanged, "SecurityMode"}}},
        {[&] { core.SetMode(panel::SecurityMode::kCustom); }, {}},
        {[&] { core.ApplyPreset(2); },
         {{Kind::kSettingChanged, "SecurityMode"}, {Kind::kApplicationChanged, "ANY"}}},
        {[&] { core.SetBlockAll(true); }, {{Kind::kSettingChanged, "SecurityStatus"}}},
        {[&] { core.LoadRules(); }, {{Kind::kRulesReplaced, ""}}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        heard.clear();
        cases[i].change();
        EXPECT_EQ(heard, cases[i].announced) << "case " << i;
    }
    EXPECT_TRUE(saved);
    subscription.Cancel();
    heard.clear();
    core.SetBlockAll(false);
    EXPECT_TRUE(heard.empty());
}
