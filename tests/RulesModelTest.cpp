// The rules model: the one reader and writer of the rules file. What the
// engine decides from a document and from the document written back from
// the model is the same, whatever order the elements come in.
#include "engine/RuleTable.h"
#include "rules/DocumentReader.h"
#include "rules/DocumentWriter.h"
#include "rules/RulesFormat.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <sstream>

namespace rf = rules::rules_format;
using rules::Direction;
using rules::Permission;

namespace {

std::string Document(std::string_view applications) { return "<APPLICATIONS>" + std::string(applications) + "</APPLICATIONS>"; }

rules::Document Read(std::string_view text)
{
    std::string problem;
    std::optional<rules::Document> document = rules::ReadDocument(text, &problem);
    EXPECT_TRUE(document) << problem;
    return document.value_or(rules::Document());
}

std::string WrittenBack(std::string_view text) { return rules::WriteDocument(Read(text)); }

// Everything of a table that decides: defaults, entries in order, and
// whether the reading ended at an incoming default.
std::string Decisions(std::string_view text, std::string_view program)
{
    engine::RuleTable table;
    const int stopped = table.LoadRulesFromText(text, program);
    std::string out = std::to_string(stopped) + " " + std::to_string(table.defaultIncoming) + "/"
        + std::to_string(table.defaultOutgoing);
    for (const auto& entry : table.entries) {
        out += " " + std::to_string(entry.direction) + ":" + std::to_string(entry.permission) + ":"
            + std::to_string(entry.port);
        if (const auto& range = entry.addresses) {
            if (range->family == rules::AddressFamily::kIpv4)
                out += "[" + std::to_string(range->first.low) + "-" + std::to_string(range->last.low) + "]";
            else
                out += "[6:" + std::to_string(range->first.high) + "." + std::to_string(range->first.low) + "-"
                    + std::to_string(range->last.high) + "." + std::to_string(range->last.low) + "]";
        }
        if (entry.host)
            out += "{" + entry.host->text + "}";
    }
    return out;
}

constexpr const char* kPrograms[] = {"CURL", "SSHD", "OTHER", "ANY", "./ANY", "FOO"};

void ExpectSameDecisions(std::string_view original, std::string_view other)
{
    for (const char* program : kPrograms)
        EXPECT_EQ(Decisions(other, program), Decisions(original, program)) << program << "\n" << original << "\n" << other;
}

}  // namespace

// The case a review found: a hand-written application whose DESCRIPTION
// comes first. Its EXENAME names it, for the engine as for the panel.
TEST(RulesModel, ApplicationIsNamedByItsExenameWhereverItStands)
{
    const std::string described = Document("<APPLICATION><DESCRIPTION>curl</DESCRIPTION><EXENAME>CURL</EXENAME>"
                                           "<INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
                                           "<APPLICATION><EXENAME>ANY</EXENAME><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF>"
                                           "</APPLICATION>");
    const rules::Document document = Read(described);
    ASSERT_EQ(document.applications.size(), 2u);
    EXPECT_EQ(document.applications[0].name, "CURL");
    EXPECT_EQ(document.applications[0].outgoing, Permission::kPermit);
    engine::RuleTable table;
    EXPECT_EQ(table.LoadRulesFromText(described, "CURL"), 1);
    EXPECT_EQ(table.MatchRules(engine::kOutgoing, 80, "10.0.0.1"), engine::kPermit);
    // The whole-document reading agrees with the piece-by-piece one.
    engine::RuleTable whole;
    EXPECT_EQ(whole.LoadRulesFromDocument(described, "CURL"), 1);
    EXPECT_EQ(whole.defaultOutgoing, engine::kPermit);
    // A program the description happens to name is not this entry's.
    EXPECT_EQ(Decisions(described, "CURL-DESCRIBED"), Decisions(described, "OTHER"));
}

TEST(RulesModel, ElementsInAnyOrderMeanTheSame)
{
    const std::string ordered = Document(
        "<APPLICATION><EXENAME>CURL</EXENAME><DESCRIPTION>curl</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF>"
        "<OUTDEF>ASK</OUTDEF><RULES><RULE><RULENAME>web</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT"
        "</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><ALIAS>http</ALIAS><NUMBER>80</NUMBER><IPS>"
        "<IP>10.0.0.1-10.0.0.9</IP></IPS><HOSTS><HOST>*.example.org</HOST></HOSTS></PORT></PORTS></RULE></RULES>"
        "</APPLICATION>");
    const std::string shuffled = Document(
        "<APPLICATION><RULES><RULE><PORTS><PORT><HOSTS><HOST>*.example.org</HOST></HOSTS><IPS><IP>10.0.0.1-10.0.0.9</IP>"
        "</IPS><NUMBER>80</NUMBER><ALIAS>http</ALIAS></PORT></PORTS><ENABLE>1</ENABLE><STATE>1</STATE><PERMISSION>PERMIT"
        "</PERMISSION><DIRECTION>OUTGOING</DIRECTION><RULENAME>web</RULENAME></RULE></RULES><OUTDEF>ASK</OUTDEF>"
        "<INDEF>DENY</INDEF><ISSERVICE>0</ISSERVICE><DESCRIPTION>curl</DESCRIPTION><EXENAME>CURL</EXENAME>"
        "</APPLICATION>");
    EXPECT_EQ(Read(shuffled), Read(ordered));
    EXPECT_EQ(WrittenBack(shuffled), WrittenBack(ordered));
    ExpectSameDecisions(ordered, shuffled);
    EXPECT_EQ(Decisions(shuffled, "CURL"), Decisions(ordered, "CURL"));
    EXPECT_NE(Decisions(shuffled, "CURL"), Decisions(shuffled, "OTHER"));
}

// A file the control panel wrote reads into the model and back byte for
// byte: saving it again changes nothing.
TEST(RulesModel, FilesThePanelWroteAreWrittenBackAsTheyAre)
{
    const std::string panelWritten = Document(
        "<APPLICATION><EXENAME>FIREFOX-ESR</EXENAME><DESCRIPTION>FIREFOX WEB BROWSER</DESCRIPTION>"
        "<APPPATH>/usr/lib/firefox-esr/firefox-esr</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF>"
        "<RULES><RULE><RULENAME>Web &amp; mail</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION>"
        "<STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><ALIAS>HTTPS</ALIAS><NUMBER>443</NUMBER><IPS>"
        "<IP>10.0.0.1-10.0.0.9</IP><IP>192.168.1.1</IP></IPS></PORT><PORT><NUMBER>80</NUMBER></PORT>"
        "<PORT><NUMBER>443</NUMBER><IPS><IP>255.255.255.255-0.0.0.0</IP></IPS><HOSTS><HOST>*.example.org</HOST></HOSTS>"
        "</PORT></PORTS></RULE><RULE><RULENAME>off</RULENAME><DIRECTION>INCOMING</DIRECTION><PERMISSION>DENY</PERMISSION>"
        "<STATE>0</STATE><ENABLE>0</ENABLE></RULE></RULES></APPLICATION>"
        "<APPLICATION><EXENAME>./ANY</EXENAME><ISSERVICE>1</ISSERVICE><INDEF></INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
        "<APPLICATION><EXENAME>GIT-REMOTE-HTTPS//usr/bin/git</EXENAME><PARENT>/usr/bin/git</PARENT>"
        "<ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>")
        + "\n";
    EXPECT_EQ(WrittenBack(panelWritten), panelWritten);
    EXPECT_EQ(WrittenBack(rf::kDefaultRulesDocument), rf::kDefaultRulesDocument);
    const rules::Document document = Read(panelWritten);
    const rules::Port& named = document.applications[0].rules[0].ports[2];
    EXPECT_TRUE(named.ShownAddresses().empty()); // the range that covers nothing is not the user's
    EXPECT_EQ(document.applications[0].rules[0].ports[0].ShownAddresses(),
              (std::vector<std::string> {"10.0.0.1-10.0.0.9", "192.168.1.1"}));
    EXPECT_FALSE(document.applications[0].rules[1].listed);
    EXPECT_TRUE(document.applications[1].service);
    EXPECT_FALSE(document.applications[1].incoming);
    EXPECT_EQ(document.applications[2].parent, "/usr/bin/git");
    EXPECT_TRUE(document.Problems().empty());
}

// An element that lacks what it must hold never ends the reading (once it
// did, and a nameless entry put first left every program to be asked, or
// a broken denial let its program fall back on a default that permits): a
// nameless application applies to none, a broken rule is read as no more
// than it could have meant (passed over when it permits, else a denial),
// what comes after it counts, the document written back reads the same,
// and the model says so.
TEST(AttackUnreadableEntries, NeitherEndTheReadingNorPermitMore)
{
    const char* general = "<APPLICATION><EXENAME>ANY</EXENAME><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF><RULES><RULE>"
                          "<DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><PORTS><PORT>"
                          "<NUMBER>25</NUMBER></PORT></PORTS></RULE></RULES></APPLICATION>";
    const std::string blocked = "<APPLICATION><EXENAME>CURL</EXENAME><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF>";
    const std::string allowed = "<APPLICATION><EXENAME>CURL</EXENAME><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF>";
    const auto rule = [](const std::string& parts) { return "<RULES><RULE>" + parts + "</RULE></RULES></APPLICATION>"; };
    const std::string out = "<DIRECTION>OUTGOING</DIRECTION>", on = "<STATE>1</STATE>";
    const std::string port80 = "<PORTS><PORT><NUMBER>80</NUMBER></PORT></PORTS>";
    const struct {
        const char* name;
        std::string curl;    // CURL's application, before the general one
        const char* decided; // CURL's outgoing to port 80, to port 81, incoming on port 80
        const char* problem;
    } cases[] = {
        {"no EXENAME first", "<APPLICATION><DESCRIPTION>x</DESCRIPTION><OUTDEF>PERMIT</OUTDEF></APPLICATION>" + blocked
         + "</APPLICATION>", "000", "has no EXENAME"},
        {"no children first", "<APPLICATION/>" + blocked + "</APPLICATION>", "000", "has no EXENAME"},
        {"a denial without STATE", allowed + rule(out + "<PERMISSION>DENY</PERMISSION>" + port80), "011", "has no STATE"},
        {"an Allow without STATE", blocked + rule(out + "<PERMISSION>PERMIT</PERMISSION>" + port80), "000", "has no STATE"},
        {"text for a rule", allowed + "<RULES>stray</RULES></APPLICATION>", "111", "has no STATE"},
        {"no PERMISSION", allowed + rule(on + out + port80), "011", "has no PERMISSION"},
        {"no DIRECTION: both ways", allowed + rule(on + "<PERMISSION>DENY</PERMISSION>" + port80), "010", "has no DIRECTION"},
        {"a question without DIRECTION", allowed + rule(on + "<PERMISSION>ASK</PERMISSION>" + port80), "010", "has no DIRECTION"},
        {"an Allow's port without NUMBER", blocked + rule(on + out + "<PERMISSION>PERMIT</PERMISSION><PORTS><PORT><NUMBER>80"
                                                          "</NUMBER></PORT><PORT><ALIAS>web</ALIAS></PORT></PORTS>"),
         "100", "has a port without NUMBER: that entry covers no port"},
        {"a denial's port without NUMBER", allowed + rule(on + out + "<PERMISSION>DENY</PERMISSION><PORTS><PORT><ALIAS>web"
                                                          "</ALIAS></PORT></PORTS>"),
         "001", "read as denying every port"},
        {"text for a port", allowed + rule(on + out + "<PERMISSION>DENY</PERMISSION><PORTS>80</PORTS>"), "001",
         "has a port without NUMBER"},
        {"a denial's port that is none", allowed + rule(on + out + "<PERMISSION>DENY</PERMISSION><PORTS><PORT><NUMBER>http"
                                                        "</NUMBER></PORT></PORTS>"),
         "001", "which is none: it is read as denying every port"},
        {"the rules after a broken one", allowed + "<RULES><RULE>" + out + "<PERMISSION>PERMIT</PERMISSION>" + port80
             + "</RULE><RULE>" + on + out + "<PERMISSION>DENY</PERMISSION><PORTS><PORT><NUMBER>81</NUMBER></PORT></PORTS>"
             + "</RULE></RULES></APPLICATION>",
         "101", "has no STATE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string original = Document(c.curl + general);
        const std::string written = WrittenBack(original);
        ExpectSameDecisions(original, written);
        engine::RuleTable table;
        table.LoadRulesFromText(written, "CURL");
        std::string decided;
        const std::pair<int, int> probes[] = {{engine::kOutgoing, 80}, {engine::kOutgoing, 81}, {engine::kIncoming, 80}};
        for (const auto& [direction, port] : probes)
            decided += std::to_string(table.MatchRules(direction, port, "10.0.0.1"));
        EXPECT_EQ(decided, c.decided);
        // Every other program still gets the general application.
        engine::RuleTable other;
        other.LoadRulesFromText(written, "OTHER");
        EXPECT_EQ(other.MatchRules(engine::kOutgoing, 25, "10.0.0.1"), engine::kDeny);
        EXPECT_EQ(other.defaultOutgoing, engine::kDeny);
        const std::vector<std::string> problems = Read(original).Problems();
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
        EXPECT_EQ(WrittenBack(written), written);
    }
    // A switched-off rule without PERMISSION is no problem.
    const std::string off = Document("<APPLICATION><EXENAME>CURL</EXENAME><RULES><RULE><STATE>0</STATE></RULE></RULES>"
                                     "</APPLICATION>");
    EXPECT_TRUE(Read(off).Problems().empty());
}

// Values as the engine reads them: a word it does not know refuses, an
// empty default is none, an IPS with nothing in it covers no address while
// no IPS covers every one, text between addresses is an address too, and
// a blank the readers trim stays a blank.
TEST(RulesModel, ValuesMeanWhatTheEngineReadsThemAs)
{
    const std::string original = Document(
        "<APPLICATION><EXENAME>CURL</EXENAME><INDEF>permit</INDEF><OUTDEF></OUTDEF><RULES>"
        "<RULE><STATE>1</STATE><PERMISSION>Permit</PERMISSION><DIRECTION>out</DIRECTION><PORTS>"
        "<PORT><NUMBER>80</NUMBER><IPS/></PORT>"
        "<PORT><NUMBER>81</NUMBER><HOSTS/></PORT>"
        "<PORT><NUMBER> 82\v</NUMBER><IPS>10.0.0.1\f<IP>10.0.0.2</IP><X>10.0.0.3</X></IPS></PORT>"
        "<PORT><NUMBER>0080</NUMBER></PORT><PORT><NUMBER>00000080</NUMBER></PORT><PORT><NUMBER>70000</NUMBER></PORT>"
        "</PORTS></RULE>"
        "<RULE><STATE> 1</STATE><PERMISSION>PERMIT</PERMISSION><DIRECTION>INCOMING</DIRECTION></RULE>"
        "</RULES></APPLICATION>");
    const rules::Document document = Read(original);
    const rules::Application& curl = document.applications[0];
    EXPECT_EQ(curl.incoming, Permission::kDeny);
    EXPECT_FALSE(curl.outgoing);
    EXPECT_EQ(curl.rules[0].permission, Permission::kDeny);
    EXPECT_EQ(curl.rules[0].direction, Direction::kOutgoing);
    EXPECT_EQ(curl.rules[1].inForce, false);
    const auto& ports = curl.rules[0].ports;
    ASSERT_EQ(ports.size(), 6u);
    EXPECT_EQ(ports[0].addresses, std::vector<std::string> {});
    EXPECT_FALSE(ports[0].hosts);
    EXPECT_EQ(ports[1].hosts, std::vector<std::string> {});
    EXPECT_EQ(ports[2].Number(), 82);
    EXPECT_EQ(ports[2].addresses, (std::vector<std::string> {"10.0.0.1\f", "10.0.0.2", "10.0.0.3"}));
    EXPECT_EQ(ports[3].Number(), 80);
    EXPECT_FALSE(ports[4].Number());
    EXPECT_FALSE(ports[5].Number());
    const std::vector<std::string> problems = document.Problems();
    EXPECT_EQ(problems.size(), 2u); // the two numbers that are none
    const std::string written = WrittenBack(original);
    ExpectSameDecisions(original, written);
    // The numbers that are none, in a rule that does not permit: every port.
    EXPECT_EQ(Decisions(written, "CURL"), "1 0/2 1:0:82[167772161-167772161] 1:0:82[167772162-167772162] "
                                          "1:0:82[167772163-167772163] 1:0:80 1:0:0 1:0:0");
}

// Names as the engine compares them: an entry applies to the same programs
// under the name the model keeps as under the name written.
TEST(RulesModel, NamesKeepTheProgramsTheyApplyTo)
{
    const struct {
        const char* written;
        const char* kept;
        const char* program; // a program the entry applies to, or nullptr: none
    } cases[] = {
        {"CURL", "CURL", "CURL"},
        {"curl", "curl", nullptr}, // programs' names are upper case: this one names none
        {"ANY", "ANY", "CURL"},
        {"any", "any", nullptr},
        {"./ANY", "./ANY", "./ANY"},
        {"CAF\xE9", "./CAF%E9", "./CAF%E9"},       // written raw by an older panel
        {"A\tB", "./A%09B", "./A%09B"},
        {"caf\xE9", "caf\xEF\xBF\xBD", nullptr},   // named no program, and names none
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        const std::string original = Document(std::string("<APPLICATION><EXENAME>") + c.written
                                              + "</EXENAME><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>");
        const rules::Document document = Read(original);
        EXPECT_EQ(document.applications[0].name, c.kept);
        const std::string written = WrittenBack(original);
        for (const char* program : {"CURL", "./ANY", "./CAF%E9", "./A%09B", "CAF\xEF\xBF\xBD"}) {
            EXPECT_EQ(Decisions(written, program), Decisions(original, program)) << program;
            const bool applies = c.program && (std::string(c.written) == "ANY" || std::string(program) == c.program);
            EXPECT_EQ(Decisions(original, program) != Decisions("<APPLICATIONS/>", program), applies) << program;
        }
    }
    // A program whose file name is blanks alone gets a name a reader keeps.
    EXPECT_EQ(rf::ProgramName(" "), "./ ");
    const std::string blank = Document("<APPLICATION><EXENAME>./ </EXENAME><OUTDEF>DENY</OUTDEF></APPLICATION>");
    EXPECT_EQ(Decisions(blank, rf::ProgramName(" ")), "0 2/0");
}

// The applications keep the file's order, the general one first included;
// a new one goes before the general application, which ends the reading.
TEST(RulesModel, OrderIsKeptAndNewApplicationsGoBeforeTheGeneralOne)
{
    const std::string generalFirst = Document(
        "<APPLICATION><EXENAME>ANY</EXENAME><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF></APPLICATION>"
        "<APPLICATION><EXENAME>CURL</EXENAME><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>");
    const std::string written = WrittenBack(generalFirst);
    ExpectSameDecisions(generalFirst, written);
    EXPECT_LT(written.find("ANY"), written.find("CURL"));
    EXPECT_EQ(Decisions(written, "CURL"), "1 0/0"); // the general application ends the reading first

    rules::Document document = Read(Document("<APPLICATION><EXENAME>CURL</EXENAME></APPLICATION>"
                                             "<APPLICATION><EXENAME>ANY</EXENAME><INDEF>ASK</INDEF></APPLICATION>"));
    rules::Application wget;
    wget.name = "WGET";
    wget.outgoing = Permission::kPermit;
    document.Add(wget);
    ASSERT_EQ(document.applications.size(), 3u);
    EXPECT_EQ(document.applications[1].name, "WGET");
    EXPECT_EQ(document.Find("WGET"), &document.applications[1]);
    EXPECT_EQ(document.General(), &document.applications[2]);
    EXPECT_EQ(document.Find("wget"), nullptr); // names are compared as the engine compares them
    rules::Document empty;
    empty.Add(wget);
    EXPECT_EQ(empty.applications.size(), 1u);
}

// Entries bound to a path: written back with it, known by their path,
// placed before the entry of their name that binds none (so that they
// decide for their file), and the engine reads them so.
TEST(RulesModel, EntriesBoundToAPathAreKnownByItAndReadFirst)
{
    const std::string text = Document(
        "<APPLICATION><EXENAME>CURL</EXENAME><APPPATH>/usr/bin/curl</APPPATH><ISSERVICE>0</ISSERVICE>"
        "<INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
        "<APPLICATION><EXENAME>ANY</EXENAME><ISSERVICE>0</ISSERVICE><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF>"
        "</APPLICATION>");
    rules::Document document = Read(text);
    EXPECT_FALSE(document.applications[0].IsBound()); // files written before: by name
    EXPECT_EQ(document.Find("CURL"), &document.applications[0]);
    EXPECT_EQ(document.Find("/usr/bin/curl"), nullptr);

    rules::Application copy;
    copy.name = "CURL";
    copy.path = "/tmp/curl";
    copy.byPath = true;
    copy.outgoing = Permission::kDeny;
    copy.incoming = Permission::kDeny;
    document.Add(copy);
    ASSERT_EQ(document.applications.size(), 3u);
    EXPECT_EQ(document.applications[0].path, "/tmp/curl");
    EXPECT_EQ(document.Find("/tmp/curl"), &document.applications[0]);
    EXPECT_EQ(document.Find("CURL"), &document.applications[1]);
    EXPECT_EQ(document.FindFor("CURL", "/tmp/curl"), &document.applications[0]);
    EXPECT_EQ(document.FindFor("CURL", "/usr/bin/curl"), &document.applications[1]);
    EXPECT_EQ(document.applications[0].Key(), "/tmp/curl");
    EXPECT_EQ(document.applications[1].Key(), "CURL");

    const std::string written = rules::WriteDocument(document);
    EXPECT_NE(written.find("<APPPATH>/tmp/curl</APPPATH><BYPATH>1</BYPATH><ISSERVICE>"), std::string::npos);
    EXPECT_EQ(written.find("<APPPATH>/usr/bin/curl</APPPATH><BYPATH>"), std::string::npos);
    EXPECT_EQ(Read(written), document);
    engine::RuleTable copied, original;
    copied.LoadRulesFromText(written, {"CURL", "/tmp/curl"});
    original.LoadRulesFromText(written, {"CURL", "/usr/bin/curl"});
    EXPECT_EQ(copied.defaultOutgoing, engine::kDeny);
    EXPECT_EQ(original.defaultOutgoing, engine::kPermit);
    // A mark without a path, or with one that is no absolute path, binds nothing.
    for (const char* path : {"", "curl", "./curl"}) {
        rules::Application odd = copy;
        odd.path = path;
        EXPECT_FALSE(odd.IsBound()) << path;
        EXPECT_EQ(odd.Key(), "CURL") << path;
    }
}

// Texts XML cannot carry: the file stays well-formed, and an address or a
// number whose blanks the engine trims keeps its meaning.
TEST(RulesModel, TextsOutsideXmlKeepTheFileWellFormedAndTheirMeaning)
{
    rules::Document document;
    rules::Application app;
    app.name = rf::ProgramName("line\nbreak \x01tool");
    app.description = "Caf\xe9 \x02Tool";
    app.path = "/opt/caf\xe9/line\nbreak \x01tool";
    app.outgoing = Permission::kPermit;
    rules::Rule rule;
    rule.name = "r\xff";
    rule.inForce = true;
    rule.permission = Permission::kDeny;
    rule.direction = Direction::kOutgoing;
    rules::Port port = rules::Port::Numbered(443);
    port.number = "443\v";
    port.addresses = std::vector<std::string> {"10.0.0.1\v", "10.0.0.2\x01"};
    rule.ports.push_back(port);
    app.rules.push_back(rule);
    document.applications.push_back(app);
    const std::string text = rules::WriteDocument(document);
    EXPECT_EQ(rf::XmlSafeText(text), text);
    EXPECT_EQ(text.find("&#"), std::string::npos);
    const rules::Document again = Read(text);
    EXPECT_EQ(again.applications[0].name, app.name);
    EXPECT_EQ(again.applications[0].path, app.path);
    EXPECT_EQ(rules::WriteDocument(again), text);
    engine::RuleTable table;
    table.LoadRulesFromText(text, *app.name);
    EXPECT_EQ(table.MatchRules(engine::kOutgoing, 443, "10.0.0.1"), engine::kDeny);
    EXPECT_EQ(table.MatchRules(engine::kOutgoing, 443, "10.0.0.2"), engine::kPermit);
}

// Timed answers live in TIMED, apart from RULES: they are read and written
// back as they are, and one that lacks what it must hold answers nothing.
TEST(RulesModel, TimedAnswersAreKeptWithTheirEndAndMalformedOnesAreDropped)
{
    const std::string text = Document(
        "<APPLICATION><EXENAME>CURL</EXENAME><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF><TIMED>"
        "<ANSWER><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><UNTIL>1800003600</UNTIL>"
        "<NUMBER>443</NUMBER><HOST>api.example.com</HOST></ANSWER>"
        "<ANSWER><DIRECTION>INCOMING</DIRECTION><PERMISSION>DENY</PERMISSION><UNTIL> 1800000060 </UNTIL>"
        "<NUMBER>22</NUMBER><IP>10.0.0.7</IP></ANSWER>"
        "<ANSWER><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><NUMBER>80</NUMBER></ANSWER>"
        "<ANSWER><DIRECTION>OUTGOING</DIRECTION><PERMISSION>ASK</PERMISSION><UNTIL>1</UNTIL></ANSWER>"
        "<ANSWER><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><UNTIL>soon</UNTIL></ANSWER>"
        "<ANSWER><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><UNTIL>1</UNTIL>"
        "<NUMBER>http</NUMBER></ANSWER>"
        "</TIMED></APPLICATION>");
    const rules::Document document = Read(text);
    const rules::Application& curl = document.applications.at(0);
    ASSERT_EQ(curl.timed.size(), 2u);
    EXPECT_EQ(curl.timed[0], (rules::TimedAnswer {Direction::kOutgoing, Permission::kPermit, 1800003600, 443, "",
                                                  "api.example.com"}));
    EXPECT_EQ(curl.timed[1], (rules::TimedAnswer {Direction::kIncoming, Permission::kDeny, 1800000060, 22, "10.0.0.7", ""}));
    EXPECT_EQ(Read(rules::WriteDocument(document)), document);
    EXPECT_EQ(rules::AnswerOfText(rules::AnswerText(curl.timed[0])), curl.timed[0]);
    EXPECT_EQ(rules::AnswerOfText(rules::AnswerText(curl.timed[1])), curl.timed[1]);
    for (const char* bad : {"", "OUTGOING ASK 1 443 - -", "SIDEWAYS PERMIT 1 1 - -",
                            "OUTGOING PERMIT -1 443 - -", "OUTGOING PERMIT 1 70000 - -", "OUTGOING PERMIT 1 1 1.2.3.4 a.b",
                            "OUTGOING PERMIT 1 1 - - more", "OUTGOING PERMIT 1 1 -"})
        EXPECT_FALSE(rules::AnswerOfText(bad)) << bad;
    // Words apart by any blanks, as the journal's lines may be.
    EXPECT_EQ(rules::AnswerOfText(" OUTGOING\tPERMIT  1800003600 443 -\v api.example.com\n"), curl.timed[0]);
}

// A reader that predates timed answers reads EXENAME, the defaults and
// RULES: the file written with a timed Allow is, in all it reads, the file
// written without it, so it never permits what the answer allowed, neither
// during its time nor after it; today's engine permits it until its end only.
TEST(RulesModel, AReaderThatPredatesTimedAnswersNeverPermitsWhatTheyAllow)
{
    rules::Document without = Read(Document(
        "<APPLICATION><EXENAME>CURL</EXENAME><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF><RULES><RULE><DIRECTION>OUTGOING"
        "</DIRECTION><PERMISSION>ASK</PERMISSION><STATE>1</STATE><PORTS><PORT><NUMBER>0</NUMBER></PORT></PORTS></RULE>"
        "</RULES></APPLICATION><APPLICATION><EXENAME>ANY</EXENAME><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF>"
        "</APPLICATION>"));
    rules::Document with = without;
    with.applications[0].timed = {{Direction::kOutgoing, Permission::kPermit, 1800003600, 443, "", ""},
                                  {Direction::kIncoming, Permission::kPermit, 1800003600, 0, "", ""}};
    const std::string withText = rules::WriteDocument(with);
    const std::string withoutText = rules::WriteDocument(without);

    // What an older reader looks at: everything but TIMED, found by name.
    pugi::xml_document older;
    ASSERT_TRUE(older.load_string(withText.c_str()));
    for (pugi::xml_node application : older.document_element().children())
        while (application.remove_child(rf::kTimed)) {
        }
    std::ostringstream olderText;
    older.save(olderText, "", pugi::format_raw | pugi::format_no_declaration);
    EXPECT_EQ(olderText.str() + "\n", withoutText);
    EXPECT_NE(withText, withoutText);
    EXPECT_EQ(Decisions(olderText.str(), "CURL"), Decisions(withoutText, "CURL"));

    engine::RuleTable olderTable;
    olderTable.LoadRulesFromText(olderText.str(), "CURL");
    EXPECT_TRUE(olderTable.timedAnswers.Empty());
    EXPECT_EQ(olderTable.MatchRules(engine::kOutgoing, 443, "10.0.0.5"), engine::kAsk);
    EXPECT_EQ(olderTable.MatchRules(engine::kIncoming, 8080, "10.0.0.5"), engine::kAsk);

    // Today's reader: the rules ask, the timed answer answers until its end.
    engine::RuleTable table;
    table.LoadRulesFromText(withText, "CURL");
    EXPECT_EQ(table.MatchRules(engine::kOutgoing, 443, "10.0.0.5"), engine::kAsk);
    EXPECT_EQ(table.timedAnswers.Match(engine::kOutgoing, 443, "10.0.0.5", nullptr, 0, 1800003599), engine::kPermit);
    EXPECT_EQ(table.timedAnswers.Match(engine::kOutgoing, 443, "10.0.0.5", nullptr, 0, 1800003600), engine::kAsk);
    EXPECT_EQ(table.timedAnswers.Match(engine::kOutgoing, 80, "10.0.0.5", nullptr, 0, 1800000000), engine::kAsk);
}

// An answer for a time never lasts longer than the user could have chosen:
// an Allow whose end lies further away than the longest length the options
// offer (written by hand, or imported) answers nothing, a Block that far
// away still blocks, and an end of 0 (which an answer held in memory takes
// for none) has passed long ago.
TEST(AttackTimedAnswers, NoneAllowsLongerThanTheUserCouldHaveChosen)
{
    const int64_t now = 1'800'000'000;
    const struct {
        const char* permission;
        const char* until;
        int decided;
    } cases[] = {
        {"PERMIT", "1800003600", engine::kPermit}, {"PERMIT", "1800604860", engine::kPermit}, // a week and a minute
        {"PERMIT", "1800604861", engine::kAsk},    {"PERMIT", "1099511627776", engine::kAsk}, // 2^40 s
        {"PERMIT", "0", engine::kAsk},             {"DENY", "1099511627776", engine::kDeny},
    };
    for (const auto& c : cases) {
        engine::RuleTable table;
        table.LoadRulesFromText(Document(std::string("<APPLICATION><EXENAME>CURL</EXENAME><INDEF>ASK</INDEF><OUTDEF>ASK"
                                                     "</OUTDEF><TIMED><ANSWER><DIRECTION>OUTGOING</DIRECTION><PERMISSION>")
                                         + c.permission + "</PERMISSION><UNTIL>" + c.until
                                         + "</UNTIL><NUMBER>0</NUMBER></ANSWER></TIMED></APPLICATION>"),
                                "CURL");
        EXPECT_EQ(table.timedAnswers.Match(engine::kOutgoing, 443, "10.0.0.5", nullptr, 0, now), c.decided)
            << c.permission << " until " << c.until;
    }
}
