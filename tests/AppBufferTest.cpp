#include "settings/AppBuffer.h"
#include "settings/GeneralMdl.h"

#include "Sandbox.h"
#include "engine/RuleTable.h"
#include "platform/RulesFormat.h"
#include "platform/Text.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using panel::AppBuffer;
using panel::AppPorts;
using panel::AppRules;
using panel::XmlStrRules;
using testing_support::ReadText;
using testing_support::Sandbox;
using testing_support::WriteText;

namespace {

// Pretty-printed, elements in another order than the panel writes them, a
// namespace prefix, a comment, an entity, and the general application first.
constexpr const char* kRichDocument = R"(<?xml version="1.0"?>
<APPLICATIONS>
  <APPLICATION>
    <EXENAME>ANY</EXENAME>
    <DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION>
    <ISSERVICE>0</ISSERVICE>
    <INDEF>ASK</INDEF>
    <OUTDEF>PERMIT</OUTDEF>
    <RULES>
      <RULE><RULENAME>dns</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE>
        <ENABLE>1</ENABLE><PORTS><PORT><ALIAS>dns</ALIAS><NUMBER>53</NUMBER></PORT></PORTS></RULE>
    </RULES>
  </APPLICATION>
  <!-- the browser -->
  <APPLICATION>
    <EXENAME>firefox-esr</EXENAME>
    <OUTDEF>ASK</OUTDEF>
    <INDEF>DENY</INDEF>
    <RULES>
      <RULE>
        <STATE>1</STATE><PERMISSION>PERMIT</PERMISSION><DIRECTION>OUTGOING</DIRECTION><RULENAME>Web &amp; mail</RULENAME>
        <ENABLE>1</ENABLE>
        <PORTS>
          <PORT><NUMBER>443</NUMBER><ALIAS>HTTPS</ALIAS><IPS><IP>10.0.0.1-10.0.0.9</IP><IP>192.168.1.1</IP></IPS></PORT>
          <PORT><NUMBER>80</NUMBER></PORT>
        </PORTS>
      </RULE>
      <RULE><RULENAME>off</RULENAME><DIRECTION>INCOMING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>0</STATE><ENABLE>0</ENABLE></RULE>
    </RULES>
    <APPPATH>/usr/lib/firefox-esr/firefox-esr</APPPATH>
    <x:DESCRIPTION xmlns:x="urn:x">Firefox Web Browser</x:DESCRIPTION>
  </APPLICATION>
  <APPLICATION><EXENAME>SSHD</EXENAME><ISSERVICE>1</ISSERVICE><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>
</APPLICATIONS>
)";

// The same after the panel saved it: one line, its own element order, upper
// case names and descriptions, the general application last.
constexpr const char* kRichNormalised =
    "<APPLICATIONS>"
    "<APPLICATION><EXENAME>FIREFOX-ESR</EXENAME><DESCRIPTION>FIREFOX WEB BROWSER</DESCRIPTION>"
    "<APPPATH>/usr/lib/firefox-esr/firefox-esr</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF>"
    "<RULES><RULE><RULENAME>Web &amp; mail</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION>"
    "<STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><ALIAS>HTTPS</ALIAS><NUMBER>443</NUMBER><IPS>"
    "<IP>10.0.0.1-10.0.0.9</IP><IP>192.168.1.1</IP></IPS></PORT><PORT><NUMBER>80</NUMBER></PORT></PORTS></RULE>"
    "<RULE><RULENAME>off</RULENAME><DIRECTION>INCOMING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>0</STATE>"
    "<ENABLE>0</ENABLE></RULE></RULES></APPLICATION>"
    "<APPLICATION><EXENAME>SSHD</EXENAME><ISSERVICE>1</ISSERVICE><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE>"
    "<INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF><RULES><RULE><RULENAME>dns</RULENAME><DIRECTION>OUTGOING</DIRECTION>"
    "<PERMISSION>PERMIT</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><ALIAS>dns</ALIAS><NUMBER>53</NUMBER>"
    "</PORT></PORTS></RULE></RULES></APPLICATION>"
    "</APPLICATIONS>\n";

std::string RulesDocument(std::string_view applications)
{
    return "<APPLICATIONS>" + std::string(applications) + "</APPLICATIONS>";
}

AppBuffer Loaded(std::string_view document)
{
    AppBuffer buffer;
    EXPECT_TRUE(buffer.LoadFromText(document));
    return buffer;
}

std::vector<std::string> RuleNames(const XmlStrRules& app)
{
    std::vector<std::string> names;
    for (const auto& rule : app.RULES)
        names.push_back(rule->RuleName);
    return names;
}

// Everything of a table that decides: defaults and entries in order.
std::string Decisions(const engine::RuleTable& table)
{
    std::string text = std::to_string(table.defaultIncoming) + "/" + std::to_string(table.defaultOutgoing);
    for (const auto& entry : table.entries) {
        text += " " + std::to_string(entry.direction) + ":" + std::to_string(entry.permission) + ":"
            + std::to_string(entry.port);
        for (const auto& [last, first] : entry.addressRanges)
            text += "[" + std::to_string(first) + "-" + std::to_string(last) + "]";
        if (entry.host)
            text += "{" + entry.host->text + "}";
    }
    return text;
}

// The names in a folder, hidden ones included.
std::vector<std::string> EveryEntry(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..")
                names.push_back(entry->d_name);
        ::closedir(dir);
    }
    return names;
}

// A folder of the sandbox holding the error log, opened for the test.
class ErrorLogged : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = sandbox.root + "/errors";
        ::mkdir(folder.c_str(), 0700);
        ASSERT_TRUE(panel::TheErrorLog().Open(folder, std::time(nullptr)));
    }
    void TearDown() override { panel::TheErrorLog().Close(); }
    std::string Errors() const { return ReadText(panel::TheErrorLog().Path()); }

    Sandbox sandbox;
    std::string folder;
};

using AppBufferFile = ErrorLogged;

}  // namespace

TEST(AppBufferLoading, RichFileIsSavedNormalisedAndSavesTheSameAgain)
{
    AppBuffer buffer = Loaded(kRichDocument);
    ASSERT_EQ(buffer.AllRules.size(), 3u);
    EXPECT_EQ(buffer.AllRules[1]->DescriptionFile, "Firefox Web Browser"); // prefixed element read by its local name
    EXPECT_EQ(buffer.AllRules[1]->IsService, "");
    const std::string saved = buffer.ToText();
    EXPECT_EQ(saved, kRichNormalised);
    EXPECT_EQ(buffer.AllRules[1]->IsService, "0"); // the record itself took the "0"
    EXPECT_EQ(Loaded(saved).ToText(), saved);
}

TEST(AppBufferLoading, EngineDecidesTheSavedFileAsTheOriginal)
{
    // Names already upper case and the general application last, so that
    // saving changes nothing the engine reads.
    const std::string original = RulesDocument(
        "<APPLICATION><EXENAME>CURL</EXENAME><DESCRIPTION>curl</DESCRIPTION><OUTDEF>ASK</OUTDEF><INDEF>DENY</INDEF>"
        "<RULES><RULE><PERMISSION>DENY</PERMISSION><STATE>1</STATE><DIRECTION>OUTGOING</DIRECTION>"
        "<PORTS><PORT><NUMBER>443</NUMBER><IPS><IP>10.0.0.1-10.0.0.9</IP><IP> 10.1.1.1</IP></IPS></PORT>"
        "<PORT><NUMBER>https</NUMBER></PORT><PORT><NUMBER>0</NUMBER></PORT>"
        "<PORT><NUMBER>80</NUMBER><HOSTS><HOST>ads.example.net</HOST><HOST>*.tracker.example</HOST></HOSTS></PORT>"
        "</PORTS></RULE>"
        "<RULE><STATE>0</STATE><PERMISSION>PERMIT</PERMISSION><DIRECTION>OUTGOING</DIRECTION></RULE></RULES></APPLICATION>"
        "<APPLICATION><EXENAME>SSHD</EXENAME><INDEF></INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
        "<APPLICATION><EXENAME>ANY</EXENAME><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF><RULES><RULE>"
        "<DIRECTION>INCOMING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE><PORTS><PORT><NUMBER>22</NUMBER>"
        "</PORT></PORTS></RULE></RULES></APPLICATION>");
    const std::string saved = Loaded(original).ToText();
    for (const char* program : {"CURL", "SSHD", "OTHER"}) {
        engine::RuleTable before, after;
        before.LoadRulesFromText(original, program);
        after.LoadRulesFromText(saved, program);
        EXPECT_EQ(Decisions(after), Decisions(before)) << program;
        EXPECT_FALSE(before.entries.empty()) << program;
    }
}

TEST(AppBufferLoading, WhatTheFileLeavesOutIsLeftOutWhenSaved)
{
    AppBuffer buffer = Loaded(RulesDocument(
        "<APPLICATION><EXENAME>A</EXENAME><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION>"
        "<APPLICATION><EXENAME></EXENAME><INDEF>DENY</INDEF></APPLICATION>"
        "<APPLICATION><EXENAME>B</EXENAME><RULES><RULE><RULENAME>no ports</RULENAME><ENABLE>1</ENABLE></RULE>"
        "<RULE><RULENAME>no addresses</RULENAME><ENABLE>1</ENABLE><PORTS><PORT><NUMBER>25</NUMBER></PORT></PORTS></RULE>"
        "</RULES></APPLICATION>"));
    ASSERT_EQ(buffer.AllRules.size(), 2u); // the one without a name is not loaded
    EXPECT_EQ(buffer.AllRules[1]->ExeName, "B");
    EXPECT_EQ(buffer.ToText(),
              "<APPLICATIONS><APPLICATION><EXENAME>A</EXENAME><ISSERVICE>0</ISSERVICE><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF>"
              "</APPLICATION><APPLICATION><EXENAME>B</EXENAME><ISSERVICE>0</ISSERVICE><INDEF></INDEF><OUTDEF></OUTDEF><RULES><RULE>"
              "<RULENAME>no ports</RULENAME><ENABLE>1</ENABLE></RULE><RULE><RULENAME>no addresses</RULENAME><ENABLE>1</ENABLE>"
              "<PORTS><PORT><NUMBER>25</NUMBER></PORT></PORTS></RULE></RULES></APPLICATION></APPLICATIONS>\n");
}

TEST(AppBufferLoading, EveryGeneralApplicationGoesLastOnceAndNothingIsLostOrDoubled)
{
    AppBuffer buffer = Loaded(RulesDocument(
        "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>first</DESCRIPTION></APPLICATION>"
        "<APPLICATION><EXENAME>TOOL</EXENAME><DESCRIPTION>any</DESCRIPTION></APPLICATION>"
        "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>second</DESCRIPTION></APPLICATION>"
        "<APPLICATION><EXENAME>any</EXENAME><DESCRIPTION>lower</DESCRIPTION></APPLICATION>"));
    AppBuffer again = Loaded(buffer.ToText());
    std::vector<std::string> order;
    for (const auto& app : again.AllRules)
        order.push_back(app->DescriptionFile);
    // "any" in lower case is written as "ANY": it goes last with the others.
    EXPECT_EQ(order, (std::vector<std::string> {"ANY", "FIRST", "SECOND", "LOWER"}));
}

TEST(AppBufferLoading, HostNamesAreWrittenSoThatReadersWithoutThemNeverPermitMore)
{
    const std::string original = RulesDocument(
        "<APPLICATION><EXENAME>CURL</EXENAME><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF><RULES>"
        "<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE><PORTS>"
        "<PORT><NUMBER>443</NUMBER><HOSTS><HOST>*.example.org</HOST></HOSTS></PORT></PORTS></RULE>"
        "<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><PORTS>"
        "<PORT><NUMBER>80</NUMBER><IPS><IP>10.0.0.1</IP></IPS><HOSTS><HOST>ads.example.net</HOST></HOSTS></PORT>"
        "</PORTS></RULE></RULES></APPLICATION>");
    const std::string saved = Loaded(original).ToText();
    EXPECT_NE(saved.find("<NUMBER>443</NUMBER><IPS><IP>255.255.255.255-0.0.0.0</IP></IPS><HOSTS>"), std::string::npos);
    EXPECT_NE(saved.find("<PORT><NUMBER>80</NUMBER><IPS><IP>10.0.0.1</IP></IPS></PORT>"
                         "<PORT><NUMBER>80</NUMBER><HOSTS><HOST>ads.example.net</HOST></HOSTS></PORT>"),
              std::string::npos);
    EXPECT_EQ(Loaded(saved).ToText(), saved);
    // The engine decides the saved file as the original.
    engine::RuleTable before, after;
    before.LoadRulesFromText(original, "CURL");
    after.LoadRulesFromText(saved, "CURL");
    const engine::HostKey www("www.example.org"), ads("ads.example.net");
    for (const engine::HostKey* key : {&www, &ads, static_cast<const engine::HostKey*>(nullptr)})
        for (const int port : {80, 443})
            for (const char* address : {"10.0.0.1", "10.0.0.2"})
                EXPECT_EQ(after.MatchRules(1, port, address, key), before.MatchRules(1, port, address, key))
                    << port << " " << address;
}

TEST(AppBufferLookUp, FindsByNameOrDescriptionInAnyCase)
{
    AppBuffer buffer = Loaded(RulesDocument(
        "<APPLICATION><EXENAME>FIREFOX-ESR</EXENAME><DESCRIPTION>Firefox Web Browser</DESCRIPTION>"
        "<APPPATH>/usr/bin/firefox-esr</APPPATH><ISSERVICE>x</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION>"
        "<APPLICATION><EXENAME>SSHD</EXENAME><ISSERVICE>1</ISSERVICE></APPLICATION>"));
    EXPECT_EQ(buffer.GetItemNoByExeName("firefox-esr"), 1);
    EXPECT_EQ(buffer.GetItemNoByExeName("FIREFOX WEB BROWSER"), 1);
    EXPECT_EQ(buffer.GetItemNoByExeName("sshd"), 2);
    EXPECT_EQ(buffer.GetItemNoByExeName("nothing"), 0);
    EXPECT_EQ(buffer.GetAppFromBuffer("Sshd"), buffer.AllRules[1]); // the record itself
    EXPECT_EQ(buffer.GetDesc_ExeName("FIREFOX-ESR"), "Firefox Web Browser");
    EXPECT_EQ(buffer.GetDesc_ExeName("firefox-esr"), "FIREFOX-ESR"); // other case: the name, not the description
    EXPECT_EQ(buffer.GetExeName("firefox web browser"), "FIREFOX-ESR");
    EXPECT_EQ(buffer.GetExeFileName("firefox-esr"), "/usr/bin/firefox-esr");
    EXPECT_EQ(buffer.GetExeInDef("firefox-esr"), "DENY");
    EXPECT_EQ(buffer.GetExeOutDef("FIREFOX-ESR"), "ASK");
    EXPECT_EQ(buffer.GetIsService("sshd"), 1);
    EXPECT_EQ(buffer.GetIsService("firefox-esr"), 0);
    EXPECT_EQ(buffer.GetIsService("nothing"), 0);
    EXPECT_EQ(buffer.GetExeInDef("nothing"), "");
    buffer.SetInDef("sshd", "PERMIT");
    buffer.SetOutDef("sshd", "DENY");
    EXPECT_EQ(buffer.AllRules[1]->InDef, "PERMIT");
    EXPECT_EQ(buffer.AllRules[1]->OutDef, "DENY");
}

// A name is found before a description; the system settings are found by
// their own name or description only, never by a program's description
// that reads the same.
TEST(AppBufferLookUp, NamesComeBeforeDescriptionsAndTheSystemSettingsAreOnlyThemselves)
{
    AppBuffer buffer = Loaded(RulesDocument(
        "<APPLICATION><EXENAME>KDE</EXENAME><DESCRIPTION>System Settings</DESCRIPTION></APPLICATION>"
        "<APPLICATION><EXENAME>TOOL</EXENAME><DESCRIPTION>ANY</DESCRIPTION></APPLICATION>"
        "<APPLICATION><EXENAME>EDITOR</EXENAME><DESCRIPTION>TOOL</DESCRIPTION></APPLICATION>"
        "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION></APPLICATION>"));
    const struct {
        const char* name;
        int found;
    } cases[] = {{"ANY", 4}, {"any", 4}, {"SYSTEM SETTINGS", 4}, {"tool", 2}, {"KDE", 1}, {"./ANY", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(buffer.GetItemNoByExeName(c.name), c.found) << c.name;
    // Without the system settings, a description never stands in for them.
    buffer.AllRules.pop_back();
    EXPECT_EQ(buffer.GetItemNoByExeName("ANY"), 0);
    // A program's description never reads like the system settings'.
    EXPECT_EQ(panel::ProgramDescription("System Settings", "SYSTEMSETTINGS"), "SYSTEMSETTINGS");
    EXPECT_EQ(panel::ProgramDescription("any", "./ANY"), "./ANY");
    EXPECT_EQ(panel::ProgramDescription("", "TOOL"), "TOOL");
    EXPECT_EQ(panel::ProgramDescription("Anything", "TOOL"), "Anything");
}

// Program paths and names are bytes: whatever they hold, the file stays
// well-formed XML, reads back the same, and the engine finds the program.
TEST(AppBufferLoading, NamesAndPathsOutsideUtf8KeepTheFileWellFormed)
{
    namespace rf = platform::rules_format;
    const std::string path = "/opt/caf\xe9/line\nbreak \x01tool";
    AppBuffer buffer;
    auto app = std::make_shared<XmlStrRules>();
    app->ExeName = rf::ProgramName("line\nbreak \x01tool");
    app->DescriptionFile = "Caf\xe9 \x02Tool";
    app->AppPath = path;
    app->InDef = "DENY";
    app->OutDef = "DENY";
    auto rule = std::make_shared<AppRules>();
    rule->RuleName = "r\xff";
    rule->State = "0";
    app->RULES.push_back(rule);
    buffer.AddRuleToBuffer(app);
    const std::string text = buffer.ToText();
    // Well-formed: UTF-8 throughout, and no character XML 1.0 cannot carry.
    EXPECT_EQ(rf::XmlSafeText(text.substr(0, text.size() - 1)), text.substr(0, text.size() - 1));
    EXPECT_EQ(text.find("&#"), std::string::npos);
    AppBuffer again = Loaded(text);
    ASSERT_EQ(again.AllRules.size(), 1u);
    EXPECT_EQ(again.AllRules[0]->AppPath, path);
    EXPECT_EQ(again.AllRules[0]->ExeName, app->ExeName);
    EXPECT_EQ(again.ToText(), text);
    engine::RuleTable table;
    EXPECT_EQ(table.LoadRulesFromText(text, "./LINE%0ABREAK %01TOOL"), 1);
    EXPECT_EQ(table.defaultIncoming, engine::kDeny);

    // A name an older panel wrote raw is found under the name the program has now.
    AppBuffer old = Loaded(RulesDocument("<APPLICATION><EXENAME>CAF\xE9</EXENAME><INDEF>DENY</INDEF></APPLICATION>"));
    EXPECT_EQ(old.GetItemNoByExeName(rf::ProgramName("caf\xe9")), 1);
}

TEST(AppBufferEditing, RulesAndPortsAreAddedAndRemovedByPosition)
{
    AppBuffer buffer;
    auto app = std::make_shared<XmlStrRules>();
    app->ExeName = "CURL";
    buffer.AddRuleToBuffer(app);
    EXPECT_EQ(buffer.AddNewRuleToApp("curl", "OUTGOING", "DENY"), AppBuffer::kDone);
    EXPECT_EQ(buffer.AddNewRuleToApp("curl", "INCOMING", "PERMIT"), AppBuffer::kDone);
    EXPECT_EQ(buffer.AddNewRuleToApp("wget", "INCOMING", "PERMIT"), AppBuffer::kNotFound);
    auto port = std::make_shared<AppPorts>();
    port->nPort = 80;
    EXPECT_EQ(buffer.AddPortToRule("CURL", 1, port), AppBuffer::kDone);
    EXPECT_EQ(buffer.AddPortToRule("CURL", 3, port), AppBuffer::kOutOfRange);
    EXPECT_EQ(buffer.ReturnPortFromApp("CURL", 1, 1), port);
    EXPECT_EQ(buffer.ReturnPortFromApp("CURL", 1, 2), nullptr);
    EXPECT_EQ(buffer.ReturnRuleFromApp("CURL", 2)->Direction, "INCOMING");
    EXPECT_EQ(buffer.ReturnRuleFromApp("CURL", 0), nullptr);

    // Out of range removes nothing and says so.
    EXPECT_EQ(buffer.RemovePortFromRule("CURL", 1, 2), AppBuffer::kOutOfRange);
    EXPECT_EQ(buffer.DeleteAppFromBuffer("CURL", 5, 0), AppBuffer::kOutOfRange);
    EXPECT_EQ(app->RULES.size(), 2u);
    EXPECT_EQ(buffer.DeleteAppFromBuffer("CURL", 1, 1), AppBuffer::kDone);
    EXPECT_TRUE(app->RULES[0]->PORTS.empty());
    EXPECT_EQ(buffer.DeleteAppFromBuffer("CURL", 1, 0), AppBuffer::kDone);
    EXPECT_EQ(app->RULES.size(), 1u);
    EXPECT_EQ(buffer.RemoveRuleFromApp("CURL", 1), AppBuffer::kDone);
    EXPECT_EQ(buffer.DeleteAppFromBuffer("CURL", 0, 0), AppBuffer::kDone);
    EXPECT_TRUE(buffer.AllRules.empty());
    EXPECT_EQ(buffer.DeleteAppFromBuffer("CURL", 0, 0), AppBuffer::kNotFound);
}

TEST(AppBufferEditing, SwappingRulesReordersThemAsNewRecords)
{
    std::string rules;
    for (int i = 1; i <= 150; ++i)
        rules += "<RULE><RULENAME>" + std::to_string(i) + "</RULENAME><PORTS><PORT><NUMBER>" + std::to_string(i)
            + "</NUMBER></PORT></PORTS></RULE>";
    AppBuffer buffer = Loaded(RulesDocument("<APPLICATION><EXENAME>FOUR</EXENAME><RULES><RULE><RULENAME>1</RULENAME></RULE>"
                                            "<RULE><RULENAME>2</RULENAME></RULE><RULE><RULENAME>3</RULENAME></RULE>"
                                            "<RULE><RULENAME>4</RULENAME></RULE></RULES></APPLICATION>"
                                            "<APPLICATION><EXENAME>MANY</EXENAME><RULES>"
                                            + rules + "</RULES></APPLICATION>"));
    const auto& four = *buffer.AllRules[0];
    const auto oldSecond = four.RULES[1];
    buffer.ReplaceRules("four", 1, 3);
    EXPECT_EQ(RuleNames(four), (std::vector<std::string> {"3", "2", "1", "4"}));
    EXPECT_NE(four.RULES[1], oldSecond);
    buffer.ReplaceRules("four", 2, 9); // no rule 9: left as it was
    EXPECT_EQ(RuleNames(four), (std::vector<std::string> {"3", "2", "1", "4"}));

    // No limit on the number of rules.
    const auto& many = *buffer.AllRules[1];
    buffer.ReplaceRules("MANY", 1, 150);
    EXPECT_EQ(many.RULES.front()->RuleName, "150");
    EXPECT_EQ(many.RULES.back()->PORTS[0]->nPort, 1);
    EXPECT_EQ(many.RULES.size(), 150u);
}

TEST(AppBufferEditing, CopiedApplicationSharesItsRulesCopiedRuleSharesNothing)
{
    AppBuffer buffer = Loaded(RulesDocument(
        "<APPLICATION><EXENAME>A</EXENAME><DESCRIPTION>d</DESCRIPTION><INDEF>ASK</INDEF><RULES><RULE><RULENAME>r</RULENAME>"
        "<STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><ALIAS>web</ALIAS><NUMBER>80</NUMBER><IPS><IP>10.0.0.1</IP></IPS>"
        "</PORT></PORTS></RULE></RULES></APPLICATION>"));
    const auto& source = *buffer.AllRules[0];
    const auto copy = AppBuffer::CopyApp(source);
    EXPECT_NE(copy, buffer.AllRules[0]);
    EXPECT_EQ(copy->DescriptionFile, "d");
    EXPECT_EQ(copy->RULES[0], source.RULES[0]); // the same rule record

    const auto rule = AppBuffer::CopyRule(*source.RULES[0]);
    EXPECT_NE(rule, source.RULES[0]);
    EXPECT_NE(rule->PORTS[0], source.RULES[0]->PORTS[0]);
    rule->PORTS[0]->Ips.push_back("10.0.0.2");
    rule->PORTS[0]->nPort = 81;
    EXPECT_EQ(source.RULES[0]->PORTS[0]->Ips.size(), 1u);
    EXPECT_EQ(source.RULES[0]->PORTS[0]->nPort, 80);
    EXPECT_EQ(rule->PORTS[0]->ALIAS, "web");
    EXPECT_EQ(rule->State, "1");
    EXPECT_EQ(rule->Enable, 1);
}

TEST_F(AppBufferFile, BadNumbersLoseOnlyTheirOwnEntryAndAreLogged)
{
    AppBuffer buffer = Loaded(RulesDocument(
        "<APPLICATION><EXENAME>A</EXENAME><RULES>"
        "<RULE><RULENAME>one</RULENAME><ENABLE>yes</ENABLE><PORTS><PORT><NUMBER>https</NUMBER></PORT>"
        "<PORT><NUMBER>+8080</NUMBER></PORT><PORT><ALIAS>no number</ALIAS></PORT><PORT><NUMBER> 443 </NUMBER></PORT>"
        "</PORTS></RULE>"
        "<RULE><RULENAME>two</RULENAME><PORTS><PORT><NUMBER>25</NUMBER></PORT></PORTS></RULE>"
        "</RULES></APPLICATION>"));
    const auto& app = *buffer.AllRules[0];
    ASSERT_EQ(app.RULES.size(), 2u);
    EXPECT_EQ(app.RULES[0]->Enable, 1); // kept and shown
    ASSERT_EQ(app.RULES[0]->PORTS.size(), 1u);
    EXPECT_EQ(app.RULES[0]->PORTS[0]->nPort, 443);
    EXPECT_EQ(app.RULES[1]->Enable, 1); // no ENABLE: shown
    EXPECT_EQ(app.RULES[1]->PORTS[0]->nPort, 25);
    const std::string errors = Errors();
    EXPECT_NE(errors.find("AppBuffer : GetPortsCollection : a port of A has the number \"https\""), std::string::npos);
    EXPECT_NE(errors.find("has no number"), std::string::npos);
    EXPECT_NE(errors.find("AppBuffer : GetRulesCollection : the rule \"one\" of A has the flag \"yes\""), std::string::npos);
}

TEST_F(AppBufferFile, MissingEmptyOrBrokenFilesAreReplacedByTheDefaultsAndBrokenOnesKept)
{
    struct Case {
        const char* name;
        const char* content; // nullptr: no file
        bool kept;
    } cases[] = {
        {"missing", nullptr, false},
        {"not XML", "this is not a rules file", true},
        {"cut short", "<APPLICATIONS><APPLICATION><EXENAME>A</EXE", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = sandbox.root + "/rules-" + std::to_string(&c - cases) + "/Rules.xml";
        if (c.content) {
            ::mkdir(path.substr(0, path.rfind('/')).c_str(), 0700);
            WriteText(path, c.content);
        }
        AppBuffer buffer;
        buffer.LoadRules(path);
        EXPECT_EQ(ReadText(path), platform::rules_format::kDefaultRulesDocument);
        ASSERT_EQ(buffer.AllRules.size(), 1u);
        EXPECT_EQ(buffer.AllRules[0]->ExeName, "ANY");
        EXPECT_EQ(buffer.AllRules[0]->RULES.size(), 5u);
        if (c.kept)
            EXPECT_EQ(ReadText(path + ".bad"), c.content);
        else
            EXPECT_NE(::access((path + ".bad").c_str(), F_OK), 0);
    }
    // A second broken file does not push out the first one kept.
    const std::string path = sandbox.root + "/rules-1/Rules.xml";
    WriteText(path, "broken again");
    AppBuffer buffer;
    buffer.LoadRules(path);
    EXPECT_EQ(ReadText(path + ".bad"), "this is not a rules file");
    EXPECT_EQ(ReadText(path + ".bad.2"), "broken again");
    EXPECT_NE(Errors().find("AppBuffer : LoadRules"), std::string::npos);
}

// A file that cannot be read is not one that does not parse: it stays as it
// is (and a link stays a link), the rules held stay, nothing is written
// over it until it has been read, and the reason is logged.
TEST_F(AppBufferFile, FileThatCannotBeReadIsLeftAloneAndNeverWrittenOver)
{
    const std::string document = RulesDocument("<APPLICATION><EXENAME>TOOL</EXENAME><INDEF>DENY</INDEF>"
                                               "<OUTDEF>DENY</OUTDEF></APPLICATION>");
    for (const auto& failure : testing_support::kReadFailures) {
        SCOPED_TRACE(failure.name);
        WriteText(sandbox.rulesFile, document);
        AppBuffer buffer;
        ASSERT_EQ(buffer.LoadRules(sandbox.rulesFile).outcome, AppBuffer::LoadOutcome::kLoaded);
        testing_support::MakeUnreadable(sandbox.rulesFile, failure.kind, document);
        const std::string before = testing_support::PathState(sandbox.rulesFile);
        const std::vector<std::string> entries = EveryEntry(sandbox.root);
        AppBuffer::LoadResult result;
        {
            testing_support::FilePermissionsHold unprivileged;
            result = buffer.LoadRules(sandbox.rulesFile);
            EXPECT_EQ(result.outcome, AppBuffer::LoadOutcome::kUnreadable);
            EXPECT_EQ(buffer.LoadRules(sandbox.rulesFile).outcome, AppBuffer::LoadOutcome::kUnreadable); // tried again
            buffer.AllRules[0]->OutDef = "PERMIT";
            EXPECT_FALSE(buffer.SaveRulesToXmlFile(sandbox.rulesFile));
        }
        EXPECT_NE(result.problem.find(failure.reason), std::string::npos) << result.problem;
        EXPECT_EQ(buffer.ReadProblem(), result.problem);
        ASSERT_EQ(buffer.AllRules.size(), 1u); // the last good copy
        EXPECT_EQ(testing_support::PathState(sandbox.rulesFile), before);
        EXPECT_EQ(EveryEntry(sandbox.root), entries); // no .bad, no default written anywhere
        const std::string errors = Errors();
        const std::string logged = "AppBuffer : LoadRules : the rules file " + sandbox.rulesFile + " cannot be read: "
            + result.problem;
        const size_t at = errors.find(logged);
        EXPECT_NE(at, std::string::npos);
        EXPECT_EQ(errors.find(logged, at + 1), std::string::npos); // once, however often it is tried
        EXPECT_NE(errors.find("AppBuffer : SaveRulesToXmlFile : the rules file " + sandbox.rulesFile
                              + " could not be read"),
                  std::string::npos);
        // Once it can be read, it is the file's rules again, and saving works.
        ::unlink(sandbox.rulesFile.c_str());
        WriteText(sandbox.rulesFile, document);
        EXPECT_EQ(buffer.LoadRules(sandbox.rulesFile).outcome, AppBuffer::LoadOutcome::kLoaded);
        EXPECT_TRUE(buffer.ReadProblem().empty());
        EXPECT_TRUE(buffer.SaveRulesToXmlFile(sandbox.rulesFile));
    }
}

// No rules file, and none can be made (its folder cannot be): nothing is
// held to save over it later, and the reason is told once however often it
// is tried.
TEST_F(AppBufferFile, MissingFileThatCannotBeMadeIsToldOnce)
{
    const std::string closed = sandbox.root + "/closed";
    ::mkdir(closed.c_str(), 0500);
    const std::string path = closed + "/korvel/Rules.xml";
    AppBuffer buffer;
    AppBuffer::LoadResult result;
    {
        testing_support::FilePermissionsHold unprivileged;
        result = buffer.LoadRules(path);
        EXPECT_EQ(buffer.LoadRules(path).outcome, AppBuffer::LoadOutcome::kUnreadable);
        EXPECT_FALSE(buffer.SaveRulesToXmlFile(path));
    }
    EXPECT_EQ(result.outcome, AppBuffer::LoadOutcome::kUnreadable);
    EXPECT_NE(result.problem.find("the default rules cannot be written"), std::string::npos) << result.problem;
    const std::string errors = Errors();
    const std::string logged = "the rules file " + path + ": " + result.problem;
    const size_t at = errors.find(logged);
    EXPECT_NE(at, std::string::npos);
    EXPECT_EQ(errors.find(logged, at + 1), std::string::npos);
    EXPECT_TRUE(EveryEntry(closed).empty());
}

// A broken file behind a link is kept beside the file the link leads to,
// which takes the defaults: the link stays.
TEST_F(AppBufferFile, BrokenFileBehindALinkIsKeptBesideItsTarget)
{
    const std::string target = sandbox.root + "/drive/Rules.xml";
    ::mkdir((sandbox.root + "/drive").c_str(), 0700);
    WriteText(target, "not rules");
    ASSERT_EQ(::symlink(target.c_str(), sandbox.rulesFile.c_str()), 0);
    AppBuffer buffer;
    EXPECT_EQ(buffer.LoadRules(sandbox.rulesFile).outcome, AppBuffer::LoadOutcome::kReplacedBad);
    struct stat st {};
    ASSERT_EQ(::lstat(sandbox.rulesFile.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadText(target + ".bad"), "not rules");
    EXPECT_EQ(ReadText(target), platform::rules_format::kDefaultRulesDocument);
}

TEST_F(AppBufferFile, SaveReplacesTheFileWholeOrLeavesItAsItWas)
{
    const std::string path = sandbox.root + "/Rules.xml";
    WriteText(path, platform::rules_format::kDefaultRulesDocument);
    ::chmod(path.c_str(), 0640);
    AppBuffer buffer;
    buffer.LoadRules(path);
    buffer.AllRules[0]->OutDef = "DENY";
    ASSERT_TRUE(buffer.SaveRulesToXmlFile(path));
    EXPECT_NE(ReadText(path).find("<OUTDEF>DENY</OUTDEF>"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A rules file kept elsewhere through a link stays a link.
    const std::string linked = sandbox.root + "/Linked.xml";
    ASSERT_EQ(::symlink(path.c_str(), linked.c_str()), 0);
    buffer.AllRules[0]->InDef = "PERMIT";
    ASSERT_TRUE(buffer.SaveRulesToXmlFile(linked));
    ASSERT_EQ(::lstat(linked.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(ReadText(path).find("<INDEF>PERMIT</INDEF>"), std::string::npos);

    // A save that cannot be made leaves the file as it was and is logged.
    const std::string before = ReadText(path);
    const std::string blocked = sandbox.root + "/no-folder/Rules.xml";
    EXPECT_FALSE(buffer.SaveRulesToXmlFile(blocked));
    EXPECT_NE(Errors().find("AppBuffer : SaveRulesToXmlFile : cannot write " + blocked), std::string::npos);
    EXPECT_EQ(ReadText(path), before);
}

TEST_F(AppBufferFile, FullDiskLeavesThePreviousRulesWhole)
{
    const std::string disk = sandbox.root + "/disk";
    ::mkdir(disk.c_str(), 0700);
    const int status = testing_support::WithTinyDisk(disk, "16k", [&] {
        const std::string path = disk + "/Rules.xml";
        WriteText(path, platform::rules_format::kDefaultRulesDocument);
        AppBuffer buffer;
        buffer.LoadRules(path);
        for (int i = 0; i < 400; ++i) {
            auto app = std::make_shared<XmlStrRules>();
            app->ExeName = "PROGRAM" + std::to_string(i);
            buffer.AddRuleToBuffer(app);
        }
        const bool failed = !buffer.SaveRulesToXmlFile(path);
        // Only the rules file: no half-written copy left beside it.
        return failed && ReadText(path) == platform::rules_format::kDefaultRulesDocument
            && EveryEntry(disk) == std::vector<std::string> {"Rules.xml"};
    });
    if (status == 77)
        GTEST_SKIP() << "no private tmpfs can be made here";
    EXPECT_EQ(status, 0);
    EXPECT_NE(Errors().find("No space left on device"), std::string::npos);
}
