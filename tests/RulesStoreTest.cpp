#include "panel/core/ErrorLog.h"
#include "panel/core/FileInformation.h"
#include "panel/core/LogReader.h"
#include "panel/core/RulesStore.h"

#include "alert/AlertContent.h"
#include "engine/AlertConversation.h"
#include "engine/CarrierIdentity.h"
#include "engine/RuleTable.h"
#include "protocol/LogFiles.h"
#include "protocol/TrafficLog.h"
#include "rules/DocumentReader.h"
#include "rules/DocumentWriter.h"
#include "rules/ProgramNames.h"
#include "rules/RulesFormat.h"
#include "tests/OlderEngineView.h"
#include "tests/Sandbox.h"
#include "text/Strings.h"

#include <dirent.h>
#include <pugixml.hpp>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using panel::RulesStore;
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

// The same after the panel saved it: one line, every element in the order
// the panel writes it, descriptions in upper case; the applications in
// their order and names as they were, so that the engine reads what it read.
constexpr const char* kRichWritten =
    "<APPLICATIONS>"
    "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE>"
    "<INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF><RULES><RULE><RULENAME>dns</RULENAME><DIRECTION>OUTGOING</DIRECTION>"
    "<PERMISSION>PERMIT</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><ALIAS>dns</ALIAS><NUMBER>53</NUMBER>"
    "</PORT></PORTS></RULE></RULES></APPLICATION>"
    "<APPLICATION><EXENAME>firefox-esr</EXENAME>"
    "<APPPATH>/usr/lib/firefox-esr/firefox-esr</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF>"
    "<RULES><RULE><RULENAME>Web &amp; mail</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION>"
    "<STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><ALIAS>HTTPS</ALIAS><NUMBER>443</NUMBER><IPS>"
    "<IP>10.0.0.1-10.0.0.9</IP><IP>192.168.1.1</IP></IPS></PORT><PORT><NUMBER>80</NUMBER></PORT></PORTS></RULE>"
    "<RULE><RULENAME>off</RULENAME><DIRECTION>INCOMING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>0</STATE>"
    "<ENABLE>0</ENABLE></RULE></RULES></APPLICATION>"
    "<APPLICATION><EXENAME>SSHD</EXENAME><ISSERVICE>1</ISSERVICE><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "</APPLICATIONS>\n";

std::string RulesDocument(std::string_view applications)
{
    return "<APPLICATIONS>" + std::string(applications) + "</APPLICATIONS>";
}

RulesStore Loaded(std::string_view document)
{
    RulesStore store;
    EXPECT_TRUE(store.LoadText(document));
    return store;
}

const std::vector<rules::Application>& Apps(const RulesStore& store) { return store.Document().applications; }

// Everything of a table that decides: defaults and entries in order.
std::string Decisions(const engine::RuleTable& table)
{
    std::string text = std::to_string(table.defaultIncoming) + "/" + std::to_string(table.defaultOutgoing);
    for (const auto& entry : table.entries) {
        text += " " + std::to_string(entry.direction) + ":" + std::to_string(entry.permission) + ":"
            + std::to_string(entry.port);
        if (const auto& range = entry.addresses)
            text += "[" + std::to_string(static_cast<int>(range->family)) + ":" + std::to_string(range->first.high) + "."
                + std::to_string(range->first.low) + "-" + std::to_string(range->last.high) + "."
                + std::to_string(range->last.low) + "]";
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

using RulesStoreFile = ErrorLogged;

}  // namespace

TEST(RulesStoreLoading, RichFileIsWrittenInThePanelsShapeAndTheSameAgain)
{
    RulesStore store = Loaded(kRichDocument);
    ASSERT_EQ(Apps(store).size(), 3u);
    // An element of another namespace is another element: not this description.
    EXPECT_EQ(Apps(store)[1].description, "");
    EXPECT_EQ(Apps(store)[1].name, "firefox-esr");
    const std::string saved = store.Text();
    EXPECT_EQ(saved, kRichWritten);
    EXPECT_EQ(Loaded(saved).Text(), saved);
    for (const char* program : {"FIREFOX-ESR", "SSHD", "OTHER"}) {
        engine::RuleTable before, after;
        before.LoadRulesFromText(kRichDocument, program);
        after.LoadRulesFromText(saved, program);
        EXPECT_EQ(Decisions(after), Decisions(before)) << program;
    }
}

TEST(RulesStoreLoading, EngineDecidesTheSavedFileAsTheOriginal)
{
    const std::string original = RulesDocument(
        "<APPLICATION><EXENAME>CURL</EXENAME><DESCRIPTION>curl</DESCRIPTION><OUTDEF>ASK</OUTDEF><INDEF>DENY</INDEF>"
        "<RULES><RULE><PERMISSION>DENY</PERMISSION><STATE>1</STATE><DIRECTION>OUTGOING</DIRECTION>"
        "<PORTS><PORT><NUMBER>443</NUMBER><IPS><IP>10.0.0.1-10.0.0.9</IP><IP> 10.1.1.1</IP></IPS></PORT>"
        "<PORT><NUMBER>https</NUMBER></PORT><PORT><NUMBER>0</NUMBER></PORT>"
        "<PORT><NUMBER>80</NUMBER><HOSTS><HOST>ads.example.net</HOST><HOST>*.tracker.example</HOST></HOSTS></PORT>"
        "</PORTS></RULE>"
        "<RULE><STATE>0</STATE><PERMISSION>PERMIT</PERMISSION><DIRECTION>OUTGOING</DIRECTION></RULE></RULES></APPLICATION>"
        "<APPLICATION><EXENAME>ANY</EXENAME><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF><RULES><RULE>"
        "<DIRECTION>INCOMING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE><PORTS><PORT><NUMBER>22</NUMBER>"
        "</PORT></PORTS></RULE></RULES></APPLICATION>"
        "<APPLICATION><EXENAME>SSHD</EXENAME><INDEF></INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>");
    const std::string saved = Loaded(original).Text();
    for (const char* program : {"CURL", "SSHD", "OTHER"}) {
        engine::RuleTable before, after;
        before.LoadRulesFromText(original, program);
        after.LoadRulesFromText(saved, program);
        EXPECT_EQ(Decisions(after), Decisions(before)) << program;
        EXPECT_FALSE(before.entries.empty()) << program;
    }
}

// What the file leaves out stays out, and what the engine stops at stays:
// an application without EXENAME is kept where it is, so that the entries
// after it stay out of force as they were.
TEST(RulesStoreLoading, WhatTheFileLeavesOutStaysOutAndAStopStaysAStop)
{
    RulesStore store = Loaded(RulesDocument(
        "<APPLICATION><EXENAME>A</EXENAME><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION>"
        "<APPLICATION><EXENAME></EXENAME><INDEF>DENY</INDEF></APPLICATION>"
        "<APPLICATION><DESCRIPTION>no name</DESCRIPTION></APPLICATION>"
        "<APPLICATION><EXENAME>B</EXENAME><RULES><RULE><RULENAME>no ports</RULENAME><ENABLE>1</ENABLE></RULE>"
        "<RULE><RULENAME>no addresses</RULENAME><ENABLE>1</ENABLE><PORTS><PORT><NUMBER>25</NUMBER></PORT></PORTS></RULE>"
        "</RULES></APPLICATION>"));
    ASSERT_EQ(Apps(store).size(), 4u);
    EXPECT_EQ(Apps(store)[1].name, "");
    EXPECT_FALSE(Apps(store)[2].name);
    EXPECT_EQ(store.Text(),
              "<APPLICATIONS><APPLICATION><EXENAME>A</EXENAME><ISSERVICE>0</ISSERVICE><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF>"
              "</APPLICATION><APPLICATION><EXENAME></EXENAME><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF></OUTDEF>"
              "</APPLICATION><APPLICATION><DESCRIPTION>NO NAME</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF></INDEF>"
              "<OUTDEF></OUTDEF></APPLICATION><APPLICATION><EXENAME>B</EXENAME><ISSERVICE>0</ISSERVICE><INDEF></INDEF>"
              "<OUTDEF></OUTDEF><RULES><RULE><RULENAME>no ports</RULENAME><ENABLE>1</ENABLE></RULE><RULE>"
              "<RULENAME>no addresses</RULENAME><ENABLE>1</ENABLE><PORTS><PORT><NUMBER>25</NUMBER></PORT></PORTS></RULE>"
              "</RULES></APPLICATION></APPLICATIONS>\n");
    engine::RuleTable table;
    table.LoadRulesFromText(store.Text(), "B");
    EXPECT_EQ(table.defaultIncoming, engine::kAsk); // B's entry comes after the stop: not read
}

// The applications keep their order, the general ones included, each
// once; a lower-case "any" names no program and stays so.
TEST(RulesStoreLoading, ApplicationsKeepTheirOrderAndNothingIsLostOrDoubled)
{
    RulesStore store = Loaded(RulesDocument(
        "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>first</DESCRIPTION></APPLICATION>"
        "<APPLICATION><EXENAME>TOOL</EXENAME><DESCRIPTION>any</DESCRIPTION></APPLICATION>"
        "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>second</DESCRIPTION></APPLICATION>"
        "<APPLICATION><EXENAME>any</EXENAME><DESCRIPTION>lower</DESCRIPTION></APPLICATION>"));
    RulesStore again = Loaded(store.Text());
    std::vector<std::string> order;
    for (const auto& app : Apps(again))
        order.push_back(*app.name + "/" + app.description);
    EXPECT_EQ(order, (std::vector<std::string> {"ANY/FIRST", "TOOL/ANY", "ANY/SECOND", "any/LOWER"}));
    EXPECT_EQ(again.Document().General()->description, "FIRST");
}

// The ports the panel makes of host names: a reader that knows only NUMBER
// and IPS never permits more than meant; the engine decides them as meant.
TEST(RulesStoreLoading, HostNamesAreWrittenSoThatReadersWithoutThemNeverPermitMore)
{
    rules::Port named = rules::Port::Numbered(443);
    named.hosts = std::vector<std::string> {"*.example.org"};
    const auto permitted = rules::PortsForOlderReaders(named, rules::Direction::kOutgoing, rules::Permission::kPermit);
    ASSERT_EQ(permitted.size(), 1u);
    EXPECT_EQ(permitted[0].addresses, std::vector<std::string> {rules::rules_format::kNoAddress});
    EXPECT_TRUE(permitted[0].ShownAddresses().empty());

    rules::Port mixed = rules::Port::Numbered(80);
    mixed.addresses = std::vector<std::string> {"10.0.0.1"};
    mixed.hosts = std::vector<std::string> {"ads.example.net"};
    const auto denied = rules::PortsForOlderReaders(mixed, rules::Direction::kOutgoing, rules::Permission::kDeny);
    ASSERT_EQ(denied.size(), 2u);
    EXPECT_EQ(denied[0].addresses, std::vector<std::string> {"10.0.0.1"});
    EXPECT_FALSE(denied[0].hosts);
    EXPECT_FALSE(denied[1].addresses);
    EXPECT_EQ(denied[1].hosts, std::vector<std::string> {"ads.example.net"});
    // An incoming peer has no name: such a port stays as it is.
    EXPECT_EQ(rules::PortsForOlderReaders(mixed, rules::Direction::kIncoming, rules::Permission::kDeny),
              std::vector<rules::Port> {mixed});

    // An empty host list beside addresses goes: a reader without ADDRESSES
    // would find the port covering nothing, and so permit what it denies.
    rules::Port emptyHosts = rules::Port::Numbered(80);
    emptyHosts.addresses = std::vector<std::string> {"fd00::/8"};
    emptyHosts.hosts = std::vector<std::string> {};
    for (const auto direction : {rules::Direction::kOutgoing, rules::Direction::kIncoming}) {
        const auto written = rules::PortsForOlderReaders(emptyHosts, direction, rules::Permission::kDeny);
        ASSERT_EQ(written.size(), 1u);
        EXPECT_EQ(written[0].addresses, emptyHosts.addresses);
        EXPECT_FALSE(written[0].hosts);
    }

    // Written so, the engine decides them as the ports meant.
    rules::Document document;
    rules::Application app;
    app.name = "CURL";
    app.incoming = rules::Permission::kDeny;
    app.outgoing = rules::Permission::kPermit;
    for (const auto& [ports, permission] : {std::pair {permitted, rules::Permission::kPermit}, {denied, rules::Permission::kDeny}}) {
        rules::Rule rule;
        rule.inForce = true;
        rule.direction = rules::Direction::kOutgoing;
        rule.permission = permission;
        rule.ports = ports;
        app.rules.push_back(rule);
    }
    document.applications.push_back(app);
    RulesStore store;
    ASSERT_TRUE(store.LoadText(rules::WriteDocument(document)));
    EXPECT_NE(store.Text().find("<NUMBER>443</NUMBER><IPS><IP>255.255.255.255-0.0.0.0</IP></IPS><HOSTS>"),
              std::string::npos);
    engine::RuleTable table;
    table.LoadRulesFromText(store.Text(), "CURL");
    const engine::HostKey www("www.example.org"), ads("ads.example.net");
    EXPECT_EQ(table.MatchRules(1, 443, "10.0.0.2", &www), engine::kPermit);
    EXPECT_EQ(table.MatchRules(1, 80, "10.0.0.2", &ads), engine::kDeny);
    EXPECT_EQ(table.MatchRules(1, 80, "10.0.0.1", nullptr), engine::kDeny);
    EXPECT_EQ(table.MatchRules(1, 80, "10.0.0.2", nullptr), engine::kPermit);
}

TEST(RulesStoreLoading, AddressesAreWrittenSoThatEnginesWithoutThemNeverPermitMore)
{
    const std::string ports =
        "<PORTS><PORT><NUMBER>443</NUMBER><IPS><IP>2001:db8::1</IP><IP>10.0.0.0/8</IP><IP>10.1.1.1</IP></IPS></PORT>"
        "<PORT><NUMBER>22</NUMBER><IPS><IP>fd00::/8</IP></IPS><HOSTS><HOST>*.example.org</HOST></HOSTS></PORT>"
        "<PORT><NUMBER>25</NUMBER><IPS><IP>10.3.0.1-10.3.0.9</IP></IPS></PORT>"
        "<PORT><NUMBER>80</NUMBER><IPS><IP>2001:db8::/32</IP><IP>192.168.0.0/16</IP><IP>10.2.0.1</IP></IPS></PORT>"
        "<PORT><NUMBER>8080</NUMBER><IPS><IP>fd00::1-fd00::9</IP></IPS></PORT></PORTS>";
    std::string apps;
    for (const char* permission : {"PERMIT", "DENY", "ASK"})
        for (const char* outDef : {"PERMIT", "DENY"})
            apps += std::string("<APPLICATION><EXENAME>") + permission + "-" + outDef + "</EXENAME><INDEF>DENY</INDEF>"
                + "<OUTDEF>" + outDef + "</OUTDEF><RULES><RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>" + permission
                + "</PERMISSION><STATE>1</STATE>" + ports + "</RULE></RULES></APPLICATION>";
    const std::string original = RulesDocument(apps);
    const std::string saved = Loaded(original).Text();
    // Denying and asking ports of such items go under ADDRESSES; permitting
    // ones and ports of IPv4 items alone stay as they were.
    EXPECT_NE(saved.find("<EXENAME>DENY-DENY</EXENAME>"), std::string::npos);
    EXPECT_NE(saved.find("<NUMBER>443</NUMBER><ADDRESSES><IP>2001:db8::1</IP><IP>10.0.0.0/8</IP><IP>10.1.1.1</IP>"
                         "</ADDRESSES></PORT>"),
              std::string::npos);
    EXPECT_NE(saved.find("<NUMBER>443</NUMBER><IPS><IP>2001:db8::1</IP><IP>10.0.0.0/8</IP><IP>10.1.1.1</IP></IPS></PORT>"),
              std::string::npos);
    EXPECT_NE(saved.find("<NUMBER>25</NUMBER><IPS><IP>10.3.0.1-10.3.0.9</IP></IPS></PORT>"), std::string::npos);
    EXPECT_EQ(saved.find("<ADDRESSES><IP>10.3.0.1"), std::string::npos);
    // The panel reads it back as the person wrote it.
    const RulesStore again = Loaded(saved);
    ASSERT_NE(again.Find("DENY-PERMIT"), nullptr);
    EXPECT_EQ(again.Find("DENY-PERMIT")->rules.at(0).ports.at(0).addresses,
              (std::vector<std::string> {"2001:db8::1", "10.0.0.0/8", "10.1.1.1"}));
    EXPECT_EQ(Loaded(saved).Text(), saved);
    // An item is judged as it is written: a form feed, a blank to every
    // reader of addresses, is written as a blank, so the item stays the
    // IPv6 address it was and goes under ADDRESSES.
    const std::string odd = Loaded(RulesDocument(
        "<APPLICATION><EXENAME>ODD</EXENAME><RULES><RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION>"
        "<STATE>1</STATE><PORTS><PORT><NUMBER>80</NUMBER><IPS><IP>\x0c::</IP></IPS></PORT></PORTS></RULE></RULES>"
        "</APPLICATION>")).Text();
    EXPECT_NE(odd.find("<ADDRESSES><IP> ::</IP></ADDRESSES>"), std::string::npos) << odd;
    EXPECT_EQ(Loaded(odd).Text(), odd);

    pugi::xml_document document;
    ASSERT_TRUE(document.load_string(saved.c_str()));
    const std::string older = testing_support::AsAnOlderEngineReadsIt(document);
    for (const char* permission : {"PERMIT", "DENY", "ASK"}) {
        for (const char* outDef : {"PERMIT", "DENY"}) {
            const std::string program = std::string(permission) + "-" + outDef;
            engine::RuleTable before, after, old;
            before.LoadRulesFromText(original, program);
            after.LoadRulesFromText(saved, program);
            old.LoadRulesFromText(older, program);
            for (const int port : {22, 25, 80, 443, 8080, 9}) {
                for (const char* peer : {"2001:db8::1", "2001:db8::2", "fd00::1", "fd00::a", "10.0.0.5", "10.1.1.1",
                                         "11.0.0.1", "192.168.1.1", "10.2.0.1", "10.3.0.5"}) {
                    const int decided = after.MatchRules(1, port, peer);
                    EXPECT_EQ(decided, before.MatchRules(1, port, peer)) << program << " " << port << " " << peer;
                    if (old.MatchRules(1, port, peer) == engine::kPermit) {
                        EXPECT_EQ(decided, engine::kPermit) << program << " " << port << " " << peer;
                    }
                }
            }
        }
    }
}

// A program's entry is found by its name as the engine compares it: the
// system settings by theirs, a description never stands in for a name.
TEST(RulesStoreLookUp, EntriesAreFoundByTheirNamesAsTheEngineComparesThem)
{
    RulesStore store = Loaded(RulesDocument(
        "<APPLICATION><EXENAME>KDE</EXENAME><DESCRIPTION>System Settings</DESCRIPTION></APPLICATION>"
        "<APPLICATION><EXENAME>TOOL</EXENAME><DESCRIPTION>ANY</DESCRIPTION></APPLICATION>"
        "<APPLICATION><EXENAME>firefox-esr</EXENAME></APPLICATION>"
        "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION></APPLICATION>"));
    const struct {
        const char* name;
        int found; // the application's place, -1 for none
    } cases[] = {{"ANY", 3}, {"any", -1}, {"SYSTEM SETTINGS", -1}, {"TOOL", 1}, {"tool", -1}, {"KDE", 0},
                 {"FIREFOX-ESR", -1}, {"firefox-esr", 2}, {"./ANY", -1}};
    for (const auto& c : cases) {
        const rules::Application* app = store.Find(c.name);
        EXPECT_EQ(app ? store.Document().IndexOf(*app) : -1, c.found) << c.name;
    }
    // A program's description never reads like the system settings'.
    EXPECT_EQ(panel::ProgramDescription("System Settings", "SYSTEMSETTINGS"), "SYSTEMSETTINGS");
    EXPECT_EQ(panel::ProgramDescription("any", "./ANY"), "./ANY");
    EXPECT_EQ(panel::ProgramDescription("", "TOOL"), "TOOL");
    EXPECT_EQ(panel::ProgramDescription("Anything", "TOOL"), "Anything");
}

// Program paths and names are bytes: whatever they hold, the file stays
// well-formed XML, reads back the same, and the engine finds the program.
TEST(RulesStoreLoading, NamesAndPathsOutsideUtf8KeepTheFileWellFormed)
{
    namespace rf = rules::rules_format;
    const std::string path = "/opt/caf\xe9/line\nbreak \x01tool";
    rules::Document document;
    rules::Application app;
    app.name = rf::ProgramName("line\nbreak \x01tool");
    app.description = "Caf\xe9 \x02Tool";
    app.path = path;
    app.incoming = rules::Permission::kDeny;
    app.outgoing = rules::Permission::kDeny;
    rules::Rule rule;
    rule.name = "r\xff";
    rule.inForce = false;
    app.rules.push_back(rule);
    document.applications.push_back(app);
    const std::string text = rules::WriteDocument(document);
    // Well-formed: UTF-8 throughout, and no character XML 1.0 cannot carry.
    EXPECT_EQ(rf::XmlSafeText(text.substr(0, text.size() - 1)), text.substr(0, text.size() - 1));
    EXPECT_EQ(text.find("&#"), std::string::npos);
    RulesStore again = Loaded(text);
    ASSERT_EQ(Apps(again).size(), 1u);
    EXPECT_EQ(Apps(again)[0].path, path);
    EXPECT_EQ(Apps(again)[0].name, app.name);
    EXPECT_EQ(again.Text(), text);
    engine::RuleTable table;
    EXPECT_EQ(table.LoadRulesFromText(text, "./LINE%0ABREAK %01TOOL"), 1);
    EXPECT_EQ(table.defaultIncoming, engine::kDeny);

    // A name an older panel wrote raw is found under the name the program has now.
    RulesStore old = Loaded(RulesDocument("<APPLICATION><EXENAME>CAF\xE9</EXENAME><INDEF>DENY</INDEF></APPLICATION>"));
    EXPECT_NE(old.Find(rf::ProgramName("caf\xe9")), nullptr);
}

// Numbers that are none are kept (they cover no port), a port without a
// number stays one (the engine stops there), and both are told.
TEST_F(RulesStoreFile, PortsAndRulesTheEngineCannotReadAsWrittenAreKeptAndLogged)
{
    const std::string path = sandbox.root + "/Rules.xml";
    WriteText(path, RulesDocument(
        "<APPLICATION><EXENAME>A</EXENAME><RULES>"
        "<RULE><RULENAME>one</RULENAME><STATE>1</STATE><PERMISSION>DENY</PERMISSION><DIRECTION>OUTGOING</DIRECTION>"
        "<ENABLE>yes</ENABLE><PORTS><PORT><NUMBER>https</NUMBER></PORT><PORT><NUMBER>+8080</NUMBER></PORT>"
        "<PORT><NUMBER> 443 </NUMBER></PORT><PORT><ALIAS>no number</ALIAS></PORT></PORTS></RULE>"
        "<RULE><RULENAME>two</RULENAME><PORTS><PORT><NUMBER>25</NUMBER></PORT></PORTS></RULE>"
        "</RULES></APPLICATION>"));
    RulesStore store;
    ASSERT_EQ(store.Load(path).outcome, RulesStore::LoadOutcome::kLoaded);
    const rules::Application& app = Apps(store)[0];
    ASSERT_EQ(app.rules.size(), 2u);
    EXPECT_TRUE(app.rules[0].listed); // kept and shown
    ASSERT_EQ(app.rules[0].ports.size(), 4u);
    EXPECT_EQ(app.rules[0].ports[2].Number(), 443);
    EXPECT_FALSE(app.rules[0].ports[0].Number());
    EXPECT_FALSE(app.rules[0].ports[3].number);
    EXPECT_TRUE(app.rules[1].listed); // no ENABLE: shown
    const std::string errors = Errors();
    EXPECT_NE(errors.find("AppBuffer : LoadRules : the rules file's rule 1 (\"one\") of \"A\" has a port without NUMBER: "
                          "it is read as denying every port"),
              std::string::npos) << errors;
    EXPECT_NE(errors.find("rule 1 (\"one\") of \"A\" has the port number \"https\", which is none"), std::string::npos)
        << errors;
    EXPECT_NE(errors.find("rule 2 (\"two\") of \"A\" has no STATE: it is read as a rule in force that denies, both ways"),
              std::string::npos) << errors;
    // Written back, the engine decides it as before.
    engine::RuleTable before, after;
    before.LoadRulesFromText(ReadText(path), "A");
    after.LoadRulesFromText(store.Text(), "A");
    EXPECT_EQ(Decisions(after), Decisions(before));
}

TEST_F(RulesStoreFile, MissingEmptyOrBrokenFilesAreReplacedByTheDefaultsAndBrokenOnesKept)
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
        RulesStore buffer;
        buffer.Load(path);
        EXPECT_EQ(ReadText(path), rules::rules_format::kDefaultRulesDocument);
        ASSERT_EQ(Apps(buffer).size(), 1u);
        EXPECT_EQ(Apps(buffer)[0].name, "ANY");
        EXPECT_EQ(Apps(buffer)[0].rules.size(), 5u);
        if (c.kept)
            EXPECT_EQ(ReadText(path + ".bad"), c.content);
        else
            EXPECT_NE(::access((path + ".bad").c_str(), F_OK), 0);
    }
    // A second broken file does not push out the first one kept.
    const std::string path = sandbox.root + "/rules-1/Rules.xml";
    WriteText(path, "broken again");
    RulesStore buffer;
    buffer.Load(path);
    EXPECT_EQ(ReadText(path + ".bad"), "this is not a rules file");
    EXPECT_EQ(ReadText(path + ".bad.2"), "broken again");
    EXPECT_NE(Errors().find("AppBuffer : LoadRules"), std::string::npos);
}

// A file that cannot be read is not one that does not parse: it stays as it
// is (and a link stays a link), the rules held stay, nothing is written
// over it until it has been read, and the reason is logged.
TEST_F(RulesStoreFile, FileThatCannotBeReadIsLeftAloneAndNeverWrittenOver)
{
    const std::string document = RulesDocument("<APPLICATION><EXENAME>TOOL</EXENAME><INDEF>DENY</INDEF>"
                                               "<OUTDEF>DENY</OUTDEF></APPLICATION>");
    for (const auto& failure : testing_support::kReadFailures) {
        SCOPED_TRACE(failure.name);
        WriteText(sandbox.rulesFile, document);
        RulesStore buffer;
        ASSERT_EQ(buffer.Load(sandbox.rulesFile).outcome, RulesStore::LoadOutcome::kLoaded);
        testing_support::MakeUnreadable(sandbox.rulesFile, failure.kind, document);
        const std::string before = testing_support::PathState(sandbox.rulesFile);
        const std::vector<std::string> entries = EveryEntry(sandbox.root);
        RulesStore::LoadResult result;
        {
            testing_support::FilePermissionsHold unprivileged;
            result = buffer.Load(sandbox.rulesFile);
            EXPECT_EQ(result.outcome, RulesStore::LoadOutcome::kUnreadable);
            EXPECT_EQ(buffer.Load(sandbox.rulesFile).outcome, RulesStore::LoadOutcome::kUnreadable); // tried again
            buffer.Document().applications[0].outgoing = rules::Permission::kPermit;
            EXPECT_FALSE(buffer.Save(sandbox.rulesFile));
        }
        EXPECT_NE(result.problem.find(failure.reason), std::string::npos) << result.problem;
        EXPECT_EQ(buffer.ReadProblem(), result.problem);
        ASSERT_EQ(Apps(buffer).size(), 1u); // the last good copy
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
        EXPECT_EQ(buffer.Load(sandbox.rulesFile).outcome, RulesStore::LoadOutcome::kLoaded);
        EXPECT_TRUE(buffer.ReadProblem().empty());
        EXPECT_TRUE(buffer.Save(sandbox.rulesFile));
    }
}

// No rules file, and none can be made (its folder cannot be): nothing is
// held to save over it later, and the reason is told once however often it
// is tried.
TEST_F(RulesStoreFile, MissingFileThatCannotBeMadeIsToldOnce)
{
    const std::string closed = sandbox.root + "/closed";
    ::mkdir(closed.c_str(), 0500);
    const std::string path = closed + "/korvel/Rules.xml";
    RulesStore buffer;
    RulesStore::LoadResult result;
    {
        testing_support::FilePermissionsHold unprivileged;
        result = buffer.Load(path);
        EXPECT_EQ(buffer.Load(path).outcome, RulesStore::LoadOutcome::kUnreadable);
        EXPECT_FALSE(buffer.Save(path));
    }
    EXPECT_EQ(result.outcome, RulesStore::LoadOutcome::kUnreadable);
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
TEST_F(RulesStoreFile, BrokenFileBehindALinkIsKeptBesideItsTarget)
{
    const std::string target = sandbox.root + "/drive/Rules.xml";
    ::mkdir((sandbox.root + "/drive").c_str(), 0700);
    WriteText(target, "not rules");
    ASSERT_EQ(::symlink(target.c_str(), sandbox.rulesFile.c_str()), 0);
    RulesStore buffer;
    EXPECT_EQ(buffer.Load(sandbox.rulesFile).outcome, RulesStore::LoadOutcome::kReplacedBad);
    struct stat st {};
    ASSERT_EQ(::lstat(sandbox.rulesFile.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadText(target + ".bad"), "not rules");
    EXPECT_EQ(ReadText(target), rules::rules_format::kDefaultRulesDocument);
}

TEST_F(RulesStoreFile, SaveReplacesTheFileWholeOrLeavesItAsItWas)
{
    const std::string path = sandbox.root + "/Rules.xml";
    WriteText(path, rules::rules_format::kDefaultRulesDocument);
    ::chmod(path.c_str(), 0640);
    RulesStore buffer;
    buffer.Load(path);
    buffer.Document().applications[0].outgoing = rules::Permission::kDeny;
    ASSERT_TRUE(buffer.Save(path));
    EXPECT_NE(ReadText(path).find("<OUTDEF>DENY</OUTDEF>"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A rules file kept elsewhere through a link stays a link.
    const std::string linked = sandbox.root + "/Linked.xml";
    ASSERT_EQ(::symlink(path.c_str(), linked.c_str()), 0);
    buffer.Document().applications[0].incoming = rules::Permission::kPermit;
    ASSERT_TRUE(buffer.Save(linked));
    ASSERT_EQ(::lstat(linked.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(ReadText(path).find("<INDEF>PERMIT</INDEF>"), std::string::npos);

    // A save that cannot be made leaves the file as it was and is logged.
    const std::string before = ReadText(path);
    const std::string blocked = sandbox.root + "/no-folder/Rules.xml";
    EXPECT_FALSE(buffer.Save(blocked));
    EXPECT_NE(Errors().find("AppBuffer : SaveRulesToXmlFile : cannot write " + blocked), std::string::npos);
    EXPECT_EQ(ReadText(path), before);

    // Nor are rules of more elements than every reader takes.
    rules::Application many;
    many.name = "MANY";
    many.rules.resize(rules::rules_format::kMaxRulesFileElements / 2); // each a RULE and its ENABLE
    buffer.Document().applications.push_back(std::move(many));
    EXPECT_FALSE(buffer.Save(path));
    EXPECT_NE(Errors().find("more than the limit of 250000 elements; they are not written"), std::string::npos);
    EXPECT_EQ(ReadText(path), before);
}

TEST_F(RulesStoreFile, FullDiskLeavesThePreviousRulesWhole)
{
    const std::string disk = sandbox.root + "/disk";
    ::mkdir(disk.c_str(), 0700);
    const int status = testing_support::WithTinyDisk(disk, "16k", [&] {
        const std::string path = disk + "/Rules.xml";
        WriteText(path, rules::rules_format::kDefaultRulesDocument);
        RulesStore buffer;
        buffer.Load(path);
        for (int i = 0; i < 400; ++i) {
            rules::Application app;
            app.name = "PROGRAM" + std::to_string(i);
            buffer.Document().Add(app);
        }
        const bool failed = !buffer.Save(path);
        // Only the rules file: no half-written copy left beside it.
        return failed && ReadText(path) == rules::rules_format::kDefaultRulesDocument
            && EveryEntry(disk) == std::vector<std::string> {"Rules.xml"};
    });
    if (status == 77)
        GTEST_SKIP() << "no private tmpfs can be made here";
    EXPECT_EQ(status, 0);
    EXPECT_NE(Errors().find("No space left on device"), std::string::npos);
}

// One name per program wherever it is shown: the row of its record, the
// alert's question and the rules page read the same, from the desktop entry
// or the file name as written (never upper-cased), with bytes that are not
// UTF-8 and reordering characters spelled out rather than lost. The files
// keep their own names.
TEST(ProgramDisplayNames, RecordAlertAndRulesPageNameAProgramAlike)
{
    Sandbox sandbox;
    const std::string bin = sandbox.root + "/bin";
    ::mkdir(bin.c_str(), 0755);
    ::mkdir((sandbox.root + "/data/applications").c_str(), 0755);
    WriteText(sandbox.root + "/data/applications/firefox-esr.desktop",
              "[Desktop Entry]\nName=Firefox ESR\nExec=" + bin + "/firefox-esr %u\n");
    struct Case {
        std::string file;
        std::string shown;
        std::string application; // the record's APPLICATION, as engines always wrote it; "": the escaped name
    };
    const Case cases[] = {
        {"curl", "curl", "CURL"},
        {"firefox-esr", "Firefox ESR", "Firefox ESR"},
        {"python3.11", "python3.11", "PYTHON3.11"},
        {"bad\xff\xe2\x80\xaename", "bad\\xff\\u{202e}name", ""},
    };
    // Every file there before the desktop entries are first looked at.
    for (const Case& c : cases) {
        WriteText(bin + "/" + c.file, "#!/bin/sh\n");
        ::chmod((bin + "/" + c.file).c_str(), 0755);
    }
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        const std::string application = c.application.empty() ? rules::rules_format::ProgramName(c.file) : c.application;
        const std::string exe = bin + "/" + c.file;
        engine::CarrierIdentity carrier;
        engine::IdentifyCarrier(carrier, "/proc", ::getpid(), exe);
        engine::CompleteCarrierDescription(carrier);
        ASSERT_EQ(carrier.description, application);

        // The record's row.
        const std::time_t now = std::time(nullptr);
        protocol::RecordText body;
        protocol::FormatConnectionBody({&carrier.recordHead, 1, 1, "10.0.0.7", 40000, 443, 1, false}, body);
        const std::string logs = sandbox.logs + "/" + std::to_string(++number);
        ::mkdir(logs.c_str(), 0700);
        protocol::TrafficLog(logs).AppendLogRecord(body.View(), now);
        const std::vector<panel::LogRow> rows =
            panel::LogReader().FillLogView(logs, "Log2", false, panel::PortNames(), "", {}, "");
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].application, application);
        EXPECT_EQ(rows[0].ShownApplication(), c.shown);

        // The alert's question, as the engine sends it and the alert reads it.
        engine::AlertTexts texts;
        texts.path = carrier.exePath;
        texts.program = carrier.description;
        alert::AlertContent content;
        text::ForEachLine(engine::launch::Request(texts), [&content](std::string_view line) {
            const size_t tab = line.find('\t');
            if (tab != std::string_view::npos)
                content.Set(std::string(line.substr(0, tab)), text::UnescapeLine(line.substr(tab + 1)));
        });
        EXPECT_EQ(content.ProgramName().toStdString(), c.shown);

        // The rules page, from the entry an answer stores, as the file keeps it.
        rules::Application app;
        app.name = carrier.exeName;
        app.description = panel::ProgramDescription(panel::GetDisplayName(exe), carrier.exeName);
        app.path = exe;
        const auto stored = rules::ReadDocument(rules::WriteDocument(rules::Document {{app}}));
        ASSERT_TRUE(stored && stored->Find(carrier.exeName));
        EXPECT_EQ(stored->Find(carrier.exeName)->description, text::ToUpper(application));
        EXPECT_EQ(panel::EntryDisplayName(*stored->Find(carrier.exeName)), c.shown);
    }
    // A script is named with its interpreter's language; another interpreter
    // as itself.
    namespace names = rules::program_names;
    EXPECT_EQ(names::DisplayName(bin + "/backup.py", bin + "/python3.11", ""), "backup.py (Python 3.11)");
    EXPECT_EQ(names::DisplayName("/home/u/run.sh", "/usr/bin/bash", ""), "run.sh (bash)");
    EXPECT_EQ(names::DisplayName("/home/u/a.js", "/usr/bin/nodejs", ""), "a.js (Node.js)");
    EXPECT_EQ(names::DisplayName("/home/u/t.pl", "/usr/bin/perl5.36.0", ""), "t.pl (Perl 5.36.0)");
    EXPECT_EQ(names::DisplayName("/home/u/x", "/usr/bin/pythonista", "Pythonista"), "x (Pythonista)");
    // Without a path the description stands; with neither, nothing.
    EXPECT_EQ(names::DisplayName("", "CURL"), "CURL");
    EXPECT_EQ(names::DisplayName("", ""), "");
    EXPECT_EQ(names::DisplayName("/usr/bin/x\n\x7f", ""), "x\\x0a\\x7f");
    EXPECT_EQ(names::DisplayName("/usr/bin/cu\u200brl", ""), "cu\\u{200b}rl");
    EXPECT_EQ(names::DisplayName("/x", "Fire\u202efox \xc0\xaf"), "Fire\\u{202e}fox \\xc0\\xaf"); // overlong '/'
    EXPECT_EQ(names::DisplayName("/x", "caf\u00e9 \u65e5\u672c"), "caf\u00e9 \u65e5\u672c");
}
