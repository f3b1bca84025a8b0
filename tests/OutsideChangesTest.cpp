// Changes another program makes to the rules file while the panel holds its
// copy: which entries changed, and the panel taking them and publishing
// their programs, never its own saves again.
#include "core/ErrorLog.h"
#include "core/OutsideChanges.h"
#include "core/PanelCore.h"
#include "rules/DocumentReader.h"

#include "Sandbox.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using testing_support::RulesDocument;
using testing_support::Sandbox;

namespace {

std::string Entry(const std::string& name, const std::string& in, const std::string& out = "ASK")
{
    return "<APPLICATION><EXENAME>" + name + "</EXENAME><INDEF>" + in + "</INDEF><OUTDEF>" + out
        + "</OUTDEF></APPLICATION>";
}

rules::Document Read(const std::string& applications) { return *rules::ReadDocument(RulesDocument(applications)); }

const std::string kBase = Entry("NOTEPAD", "ASK") + Entry("PAD", "PERMIT") + Entry("ANY", "ASK");

struct ChangeCase {
    const char* what;
    std::string after;
    std::vector<std::string> changed;
};

TEST(ChangedEntries, NamesTheEntriesThatDiffer)
{
    const ChangeCase cases[] = {
        {"nothing", kBase, {}},
        {"a default", Entry("NOTEPAD", "DENY") + Entry("PAD", "PERMIT") + Entry("ANY", "ASK"), {"NOTEPAD"}},
        {"an entry added", kBase + Entry("CURL", "DENY"), {"CURL"}},
        {"an entry removed", Entry("NOTEPAD", "ASK") + Entry("ANY", "ASK"), {"PAD"}},
        {"the system settings", Entry("NOTEPAD", "ASK") + Entry("PAD", "PERMIT") + Entry("ANY", "DENY"), {"ANY"}},
        {"the order alone", Entry("PAD", "PERMIT") + Entry("NOTEPAD", "ASK") + Entry("ANY", "ASK"), {"ANY"}},
    };
    for (const ChangeCase& c : cases)
        EXPECT_EQ(panel::ChangedEntries(Read(kBase), Read(c.after)), c.changed) << c.what;
}

class OutsideChanges : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox.WriteRules(RulesDocument(kBase));
        sandbox.SetSetting("ErrLogs", sandbox.logs);
        core.LoadSettings(std::time(nullptr));
        core.LoadRules();
        core.Updates().SetPublisher([this](const std::string& text) { published.push_back(text); });
        EXPECT_FALSE(changes.Take(core)); // the first look learns the file
    }
    void TearDown() override { panel::TheErrorLog().Close(); }

    Sandbox sandbox;
    panel::PanelCore core;
    panel::OutsideChanges changes;
    std::vector<std::string> published;
};

TEST_F(OutsideChanges, AnotherWritersChangeIsTakenAndItsProgramsPublished)
{
    sandbox.WriteRules(RulesDocument(Entry("NOTEPAD", "ASK") + Entry("PAD", "DENY") + Entry("ANY", "ASK")
                                     + Entry("CURL", "DENY")));
    const auto loaded = changes.Take(core);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->outcome, panel::RulesStore::LoadOutcome::kLoaded);
    EXPECT_EQ(core.Rules().Find("PAD")->incoming, rules::Permission::kDeny);
    ASSERT_TRUE(core.Rules().Find("CURL"));
    EXPECT_EQ(core.Updates().Text(), " PAD CURL");
    // Looked at again without a change: nothing.
    EXPECT_FALSE(changes.Take(core));
}

TEST_F(OutsideChanges, ThePanelsOwnSaveIsNotTakenAgain)
{
    core.Rules().Find("PAD")->incoming = rules::Permission::kDeny;
    ASSERT_TRUE(core.Save());
    EXPECT_FALSE(changes.Take(core));
    EXPECT_TRUE(published.empty());
    // A later change of another writer still is.
    sandbox.WriteRules(RulesDocument(Entry("NOTEPAD", "DENY") + Entry("PAD", "DENY") + Entry("ANY", "ASK")));
    ASSERT_TRUE(changes.Take(core));
    EXPECT_EQ(core.Updates().Text(), " NOTEPAD");
}

// Another writer's file that is gone or does not parse (maybe half-way
// through its work) is not taken: the rules in force stay, nothing is put
// aside or written in its place, and the file is taken once it is mended.
TEST_F(OutsideChanges, AFileThatIsGoneOrDoesNotParseLeavesTheRulesInForce)
{
    const std::function<void()> breakings[] = {
        [&] { sandbox.WriteRules("<APPLICATIONS><APPLICATION>"); },
        [&] { ASSERT_EQ(::unlink(sandbox.rulesFile.c_str()), 0); },
    };
    for (const auto& breakIt : breakings) {
        breakIt();
        const std::string left = testing_support::ReadText(sandbox.rulesFile);
        EXPECT_FALSE(changes.Take(core));
        ASSERT_TRUE(core.Rules().Find("PAD"));
        EXPECT_EQ(core.Rules().Find("PAD")->incoming, rules::Permission::kPermit);
        EXPECT_EQ(testing_support::ReadText(sandbox.rulesFile), left);
        EXPECT_FALSE(std::filesystem::exists(sandbox.rulesFile + ".bad"));
        EXPECT_TRUE(published.empty());
        sandbox.WriteRules(RulesDocument(kBase));
        EXPECT_FALSE(changes.Take(core)); // mended as it was: nothing changed
    }
    sandbox.WriteRules(RulesDocument(Entry("NOTEPAD", "ASK") + Entry("PAD", "DENY") + Entry("ANY", "ASK")));
    ASSERT_TRUE(changes.Take(core));
    EXPECT_EQ(core.Updates().Text(), " PAD");
}

}  // namespace

// The panel saves its own change before it has taken another writer's: the
// other writer's entries are kept (never written over), the panel's change
// goes in with them, and both writers' programs are told.
TEST_F(OutsideChanges, APanelSaveBeforeTheTakeKeepsTheOtherWritersChange)
{
    sandbox.WriteRules(RulesDocument(Entry("NOTEPAD", "ASK") + Entry("PAD", "DENY") + Entry("ANY", "ASK")
                                     + Entry("CURL", "DENY")));
    core.Rules().Find("NOTEPAD")->incoming = rules::Permission::kPermit;
    core.Rules().Document().Add(*Read(Entry("WGET", "DENY")).Find("WGET"));
    ASSERT_TRUE(core.Save());
    const rules::Document saved = *rules::ReadDocument(testing_support::ReadText(sandbox.rulesFile));
    EXPECT_EQ(saved, core.Rules().Document());
    EXPECT_EQ(saved.Find("NOTEPAD")->incoming, rules::Permission::kPermit); // the panel's
    EXPECT_EQ(saved.Find("PAD")->incoming, rules::Permission::kDeny);       // the other writer's
    ASSERT_TRUE(saved.Find("CURL"));
    ASSERT_TRUE(saved.Find("WGET"));
    EXPECT_LT(saved.IndexOf(*saved.Find("WGET")), saved.IndexOf(*saved.General()));
    EXPECT_EQ(core.Updates().Text(), " PAD CURL");
    // An entry the panel removed stays removed; one the other writer removed too.
    core.Rules().Document().Remove(static_cast<size_t>(core.Rules().Document().IndexOf(*core.Rules().Find("WGET"))));
    sandbox.WriteRules(RulesDocument(Entry("NOTEPAD", "PERMIT") + Entry("ANY", "ASK") + Entry("CURL", "DENY")
                                     + Entry("WGET", "DENY")));
    ASSERT_TRUE(core.Save());
    EXPECT_FALSE(core.Rules().Find("WGET"));
    EXPECT_FALSE(core.Rules().Find("PAD"));
    EXPECT_TRUE(core.Rules().Find("CURL"));
    // The file taken later is the panel's own save: nothing more to take.
    EXPECT_FALSE(changes.Take(core));
}
