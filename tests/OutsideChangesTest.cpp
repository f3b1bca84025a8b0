// Changes another program makes to the rules file while the panel holds its
// copy: which entries changed, and the panel taking them and publishing
// their programs, never its own saves again.
#include "panel/core/ErrorLog.h"
#include "panel/core/OutsideChanges.h"
#include "panel/core/PanelCore.h"
#include "rules/DocumentReader.h"

#include "tests/Sandbox.h"

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

// Another program replaces the file in the moment between the panel's look
// at it and its own replacement (a click within milliseconds of a write):
// what it wrote is found in the file the panel replaced and taken in, and
// the panel's save written again with it; one that does not parse is kept
// beside the file.
TEST_F(OutsideChanges, AFileReplacedDuringTheSaveIsTakenInNotWrittenOver)
{
    struct Case {
        const char* what;
        std::string written; // by the other program during the save
        bool taken;
    };
    const Case cases[] = {
        {"a rules document", RulesDocument(Entry("NOTEPAD", "ASK") + Entry("PAD", "DENY") + Entry("ANY", "ASK")
                                           + Entry("CURL", "DENY")),
         true},
        {"a file that does not parse", "<APPLICATIONS><APPLICATION>", false},
    };
    for (const Case& c : cases) {
        sandbox.WriteRules(RulesDocument(kBase));
        core.LoadRules();
        core.Rules().Find("NOTEPAD")->incoming = rules::Permission::kDeny;
        int calls = 0;
        core.Rules().beforeReplace = [&] {
            if (calls++ == 0)
                testing_support::WriteText(sandbox.rulesFile, c.written);
        };
        ASSERT_TRUE(core.Save()) << c.what;
        core.Rules().beforeReplace = nullptr;
        const rules::Document saved = *rules::ReadDocument(testing_support::ReadText(sandbox.rulesFile));
        EXPECT_EQ(saved, core.Rules().Document()) << c.what;
        EXPECT_EQ(saved.Find("NOTEPAD")->incoming, rules::Permission::kDeny) << c.what;
        EXPECT_EQ(saved.Find("PAD")->incoming, c.taken ? rules::Permission::kDeny : rules::Permission::kPermit) << c.what;
        EXPECT_EQ(saved.Find("CURL") != nullptr, c.taken) << c.what;
        EXPECT_EQ(testing_support::ReadText(sandbox.rulesFile + ".bad"), c.taken ? "" : c.written) << c.what;
        EXPECT_EQ(calls, c.taken ? 2 : 1) << c.what;
    }
    EXPECT_EQ(core.Updates().Text(), " PAD CURL");
}

// zel-rules saving while the panel saves waits for its turn (here it does
// not wait, and is refused); its next try takes the panel's save in, so
// both changes are in the file.
TEST_F(OutsideChanges, WritersTakeTurnsAndNeitherChangeIsLost)
{
    panel::PanelCore other;
    other.LoadSettings(std::time(nullptr));
    other.LoadRules();
    other.Rules().turnWaitMs = 0;
    other.Rules().Find("PAD")->incoming = rules::Permission::kDeny;
    core.Rules().Find("NOTEPAD")->incoming = rules::Permission::kDeny;
    bool otherSaved = true;
    core.Rules().beforeReplace = [&] { otherSaved = other.Save(); };
    ASSERT_TRUE(core.Save());
    EXPECT_FALSE(otherSaved) << "saved during the panel's save";
    ASSERT_TRUE(other.Save());
    const rules::Document saved = *rules::ReadDocument(testing_support::ReadText(sandbox.rulesFile));
    EXPECT_EQ(saved.Find("NOTEPAD")->incoming, rules::Permission::kDeny);
    EXPECT_EQ(saved.Find("PAD")->incoming, rules::Permission::kDeny);
}

// An entry changed here and by another writer gets both changes, part by
// part; where both changed the same part (or one removed what the other
// changed), the other writer's stays, in force already, and the error log
// names the entry for the user to make the change again.
TEST_F(OutsideChanges, AnEntryBothChangedGetsBothChangesOrTheClashIsNamed)
{
    struct Case {
        const char* what;
        std::function<void(panel::PanelCore&)> here;
        std::string there;     // NOTEPAD as the other writer leaves it; empty: removed
        std::string expected;  // NOTEPAD in the file after the save; empty: none
        bool named;
    };
    const auto deny = [](panel::PanelCore& c) { c.Rules().Find("NOTEPAD")->incoming = rules::Permission::kDeny; };
    const Case cases[] = {
        {"different parts", deny, Entry("NOTEPAD", "ASK", "DENY"), Entry("NOTEPAD", "DENY", "DENY"), false},
        {"the same part", deny, Entry("NOTEPAD", "PERMIT"), Entry("NOTEPAD", "PERMIT"), true},
        {"changed here, removed there", deny, "", "", true},
        {"removed here, changed there",
         [](panel::PanelCore& c) {
             c.Rules().Document().Remove(static_cast<size_t>(c.Rules().Document().IndexOf(*c.Rules().Find("NOTEPAD"))));
         },
         Entry("NOTEPAD", "PERMIT"), Entry("NOTEPAD", "PERMIT"), true},
    };
    for (const Case& c : cases) {
        sandbox.WriteRules(RulesDocument(kBase));
        core.LoadRules();
        c.here(core);
        sandbox.WriteRules(RulesDocument(c.there + Entry("PAD", "PERMIT") + Entry("ANY", "ASK")));
        const size_t logged = testing_support::ReadText(panel::TheErrorLog().Path()).size();
        ASSERT_TRUE(core.Save()) << c.what;
        const rules::Document saved = *rules::ReadDocument(testing_support::ReadText(sandbox.rulesFile));
        const rules::Document expected = Read(c.expected + Entry("PAD", "PERMIT") + Entry("ANY", "ASK"));
        EXPECT_EQ(saved, expected) << c.what;
        const std::string errors = testing_support::ReadText(panel::TheErrorLog().Path()).substr(logged);
        EXPECT_EQ(errors.find("NOTEPAD was changed here and by another program at once") != std::string::npos, c.named)
            << c.what << ": " << errors;
    }
}
