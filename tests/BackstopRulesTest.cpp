// The kernel backstop's rules: compiled from the rules file, and decided by
// the very code the kernel programs run (rules_lookup.h) over the compiled
// arrays, they must give what the engine gives for the same program and peer.
#include "backstop/RulesCompiler.h"
#include "backstop/exe_name.h"

#include "engine/RuleTable.h"
#include "os/Processes.h"
#include "rules/AddressRange.h"
#include "rules/RulesFormat.h"

#include "os/FileDigest.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace backstop;

namespace {

const std::vector<zel_rules_interval>* g_intervals = nullptr;
const std::vector<zel_rules_interval6>* g_intervals6 = nullptr;

const zel_rules_interval* IntervalAt(unsigned index)
{
    return index < g_intervals->size() ? &(*g_intervals)[index] : nullptr;
}

const zel_rules_interval6* Interval6At(unsigned index)
{
    return index < g_intervals6->size() ? &(*g_intervals6)[index] : nullptr;
}

}  // namespace

#define ZEL_INTERVAL_AT(index) IntervalAt(index)
#define ZEL_INTERVAL6_AT(index) Interval6At(index)
#include "backstop/rules_lookup.h"

namespace {

// The files the tests' rules bind entries to, as BoundFiles would find
// them: a folder's identity from its path, a file's from its path and
// contents; /opt/new/ files changed just now, /missing/ has no folder.
struct FakeFile {
    std::string contents;
    bool settled = true;
};
std::map<std::string, FakeFile> g_files = {
    {"/opt/a/tool", {"tool, as checked"}},
    {"/opt/b/tool", {"tool, a copy elsewhere"}},
    {"/opt/a/other", {"other"}},
    {"/opt/new/tool", {"tool, written just now", false}},
};

uint64_t IdOf(const std::string& text) { return zel_raw_name_hash(text.data(), text.size()) | 1; }

RulesCompiler::FileFacts FakeFacts(const std::string& path, bool digest)
{
    RulesCompiler::FileFacts facts;
    const std::string folder = path.substr(0, path.rfind('/'));
    if (folder.starts_with("/missing"))
        return facts;
    facts.folderFound = true;
    facts.folder = IdOf(folder);
    facts.folderDevice = 8;
    const auto file = g_files.find(path);
    if (file == g_files.end())
        return facts;
    facts.fileFound = true;
    facts.file = IdOf(path);
    facts.fileDevice = 8;
    facts.changed = static_cast<int64_t>(IdOf(file->second.contents) >> 40);
    facts.settled = file->second.settled;
    if (digest)
        facts.digest = os::DigestText(file->second.contents);
    return facts;
}

// The identity the kernel notes when the program at path is executed; its
// contents changed since the rules were compiled (changed) or not.
zel_backstop_identity IdentityOf(const std::string& path, bool changed = false)
{
    const std::string name = path.substr(path.rfind('/') + 1);
    char buffer[ZEL_NAME_SIZE] = {};
    name.copy(buffer, sizeof buffer - 1);
    zel_backstop_identity identity {};
    identity.hash = zel_exe_name_hash(buffer);
    identity.raw = zel_raw_name_hash(name.data(), name.size());
    const RulesCompiler::FileFacts facts = FakeFacts(path, false);
    identity.folder = facts.folder;
    identity.folder_device = facts.folderDevice;
    identity.file = facts.file ? facts.file : IdOf(path);
    identity.file_device = 8;
    identity.changed = facts.changed + (changed ? 1 : 0);
    identity.known = 1;
    return identity;
}

// The kernel's decision, step by step as zel_backstop.bpf.c takes it.
class KernelView {
public:
    explicit KernelView(CompiledRules rules) : rules_(std::move(rules)) {}

    // name: the program as the engine names it; peer: an IPv4 or IPv6 address.
    unsigned Decide(const std::string& name, unsigned port, const std::string& peer, bool incoming = false) const
    {
        // The kernel knows the file name, not its escaped spelling.
        const std::string fileName = rules::rules_format::FileNameOfProgram(name);
        zel_backstop_identity identity {};
        identity.hash = zel_rules_name_hash(fileName.data(), fileName.size());
        return Decide(identity, port, peer, incoming);
    }
    // The same for the file identity says.
    unsigned Decide(const zel_backstop_identity& identity, unsigned port, const std::string& peer, bool incoming) const
    {
        g_intervals = &rules_.intervals;
        g_intervals6 = &rules_.intervals6;
        // As the kernel programs take a peer: an IPv4-mapped one is IPv4.
        const auto address = rules::ParseAddress(peer);
        EXPECT_TRUE(address) << peer;
        if (!address)
            return 99;
        const bool ipv4 = address->family == rules::AddressFamily::kIpv4;
        const CompiledRules::Program* program = nullptr;
        if (identity.known)
            for (const CompiledRules::Bound& bound : rules_.bound)
                if (bound.key.folder == identity.folder && bound.key.raw == identity.raw
                    && bound.key.folder_device == identity.folder_device) {
                    const bool same = bound.file.file == identity.file && bound.file.file_device == identity.file_device
                        && bound.file.changed == identity.changed && bound.file.changed_ns == identity.changed_ns;
                    program = Find(!bound.file.checked || same ? bound.file.trusted : bound.file.doubted);
                }
        if (!program)
            program = Find(identity.hash);
        if (!program)
            program = Find(ZEL_RULES_GENERAL);
        EXPECT_NE(program, nullptr);
        if (!program)
            return 99;
        const zel_rules_list* everyPort = incoming ? &program->everyIn : &program->every;
        const zel_rules_list* own = port != 0 ? List(program->index, port, incoming) : everyPort;
        const zel_rules_list* every = port != 0 ? everyPort : nullptr;
        return zel_rules_decide_with(incoming ? program->incoming : program->outgoing, own, every, ipv4,
                                     static_cast<uint32_t>(address->value.low), address->value.high, address->value.low);
    }
    const CompiledRules& Rules() const { return rules_; }

private:
    const CompiledRules::Program* Find(uint64_t hash) const
    {
        for (const CompiledRules::Program& program : rules_.programs)
            if (program.hash == hash)
                return &program;
        return nullptr;
    }
    const zel_rules_list* List(uint32_t program, uint32_t port, bool incoming) const
    {
        for (const CompiledRules::List& list : rules_.lists)
            if (list.program == program && list.port == port && (list.incoming != 0) == incoming)
                return &list.list;
        return nullptr;
    }

    CompiledRules rules_;
};

KernelView Compile(const std::string& document, bool services = false)
{
    std::string error;
    auto rules = RulesCompiler::Compile(document, error, {services, FakeFacts});
    EXPECT_TRUE(rules) << error;
    return KernelView(rules.value_or(CompiledRules {}));
}

// The engine's decision for a program executed at path (its file changed
// since the rules were compiled, or not), of a peer whose name it never
// looked up.
int EngineDecides(const std::string& document, const std::string& path, bool changed, bool incoming, unsigned port,
                  const std::string& address)
{
    struct Digest {
        std::string text;
        static const std::string& Of(void* context) { return static_cast<Digest*>(context)->text; }
    };
    const auto file = g_files.find(path);
    Digest digest {file == g_files.end() ? std::string()
                                         : os::DigestText(file->second.contents + (changed ? "!" : ""))};
    const std::string name = rules::rules_format::CarrierExeName(path);
    engine::ProgramIdentity program(name, path);
    program.digest = &Digest::Of;
    program.digestContext = &digest;
    engine::RuleTable table;
    table.LoadRulesFromText(document, program);
    const engine::HostKey unknown(nullptr);
    return table.MatchRules(incoming ? engine::kIncoming : engine::kOutgoing, static_cast<int>(port), address, &unknown);
}

// The engine's decision for a connection of a program known by its name
// alone, that never looked the peer's name up.
int EngineDecides(const std::string& document, const std::string& name, unsigned port, const std::string& address,
                  bool incoming = false)
{
    engine::RuleTable table;
    table.LoadRulesFromText(document, name);
    const engine::HostKey unknown(nullptr);
    return table.MatchRules(incoming ? engine::kIncoming : engine::kOutgoing, static_cast<int>(port), address, &unknown);
}

std::string App(const std::string& name, const std::string& inDef, const std::string& outDef, const std::string& rules)
{
    return "<APPLICATION><EXENAME>" + name + "</EXENAME><DESCRIPTION>d</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>"
        + inDef + "</INDEF><OUTDEF>" + outDef + "</OUTDEF><RULES>" + rules + "</RULES></APPLICATION>";
}

std::string Rule(const std::string& direction, const std::string& permission, const std::string& ports)
{
    return "<RULE><RULENAME>r</RULENAME><DIRECTION>" + direction + "</DIRECTION><PERMISSION>" + permission
        + "</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE><PORTS>" + ports + "</PORTS></RULE>";
}

std::string Port(unsigned number, const std::string& ips = "-", const std::string& hosts = "")
{
    std::string xml = "<PORT><NUMBER>" + std::to_string(number) + "</NUMBER>";
    if (ips != "-")
        xml += "<IPS>" + ips + "</IPS>";
    if (!hosts.empty())
        xml += "<HOSTS>" + hosts + "</HOSTS>";
    return xml + "</PORT>";
}

std::string Document(const std::string& apps) { return "<APPLICATIONS>" + apps + "</APPLICATIONS>"; }

// An application bound to path, with a content check of contents (none: no check).
std::string Bind(std::string app, const std::string& path, const std::string& contents = "")
{
    std::string binding = "<APPPATH>" + path + "</APPPATH><BYPATH>1</BYPATH>";
    if (!contents.empty())
        binding += "<FILEHASH>" + os::DigestText(contents) + "</FILEHASH>";
    return app.insert(app.find("<ISSERVICE>"), binding);
}

std::string Dotted(uint32_t value)
{
    return std::to_string(value >> 24) + "." + std::to_string((value >> 16) & 255) + "." + std::to_string((value >> 8) & 255)
        + "." + std::to_string(value & 255);
}

}  // namespace

TEST(BackstopProgramNames, KernelNamesProgramsAsTheEngineDoes)
{
    // The file name as the kernel knows it, hashed as the kernel programs
    // hash it, against the engine's name for the program at that path.
    const std::string longName(255, 'q');
    for (const std::string& name : std::vector<std::string> {"curl", "Firefox-bin", "setup (2).exe", "x (1).tar.gz", "a.b (c).d", "name (copy)",
                                   " (.", "tool (", "(1).x", "a  (1) (2).b", "UPPER.EXE", "z-_9.~", "caf\xc3\xa9",
                                   std::string("dots..") + " (x)", longName, "any", "Any", "caf\xe9", "tab\there"}) {
        const std::string engineName = rules::rules_format::CarrierExeName(rules::rules_format::CleanCarrierPath("/opt/bin/" + name));
        const std::string fileName = rules::rules_format::FileNameOfProgram(engineName);
        char buffer[ZEL_NAME_SIZE] = {};
        name.copy(buffer, sizeof buffer - 1);
        EXPECT_EQ(zel_exe_name_hash(buffer), zel_rules_name_hash(fileName.data(), fileName.size()))
            << name << " is " << engineName << " to the engine";
    }
    // Names the engine tells apart stay apart.
    char tool[ZEL_NAME_SIZE] = "tool", toolCopy[ZEL_NAME_SIZE] = "tool (2)";
    EXPECT_NE(zel_exe_name_hash(tool), zel_exe_name_hash(toolCopy));
}

TEST(BackstopRules, DecideAsTheEngineForEveryProgramPortAndPeer)
{
    // Documents of every shape the engine reads: applications before and
    // after "ANY", defaults that stop the reading or not, rules by port and
    // by every port, ranges that overlap, are reversed or cover nothing,
    // IPv6 addresses, ranges and prefixes of both families, peers of both
    // (IPv4 also mapped into IPv6), host names the kernel cannot know and
    // "?", incoming rules, rules switched off; entries bound to a path, with
    // a content check or without, run from there, from a copy elsewhere, or
    // from there changed; both directions.
    std::mt19937 random(20240523);
    const auto pick = [&](auto... options) {
        const std::string all[] = {options...};
        return all[random() % sizeof...(options)];
    };
    const unsigned ports[] = {0, 53, 80, 443, 7781};
    const auto address = [&] { return 0x0a000000u + (random() % 64); };
    const auto address6 = [&] {
        char text[32];
        std::snprintf(text, sizeof text, "fd00::%x", static_cast<unsigned>(random() % 64));
        return std::string(text);
    };
    int compared = 0;
    for (int round = 0; round < 300; ++round) {
        std::string apps;
        std::vector<std::string> names = {"TOOL", "OTHER", "NOBODY", "./ANY", "./CAF%E9"};
        const int count = 1 + static_cast<int>(random() % 4);
        for (int a = 0; a < count; ++a) {
            std::string rules;
            const int ruleCount = static_cast<int>(random() % 5);
            for (int r = 0; r < ruleCount; ++r) {
                std::string portXml;
                const int portCount = 1 + static_cast<int>(random() % 3);
                for (int p = 0; p < portCount; ++p) {
                    std::string ips = "-";
                    const int shape = static_cast<int>(random() % 10);
                    if (shape == 1)
                        ips = "<IP>" + Dotted(address()) + "</IP>";
                    else if (shape == 2)
                        ips = "<IP>" + Dotted(address()) + "-" + Dotted(address()) + "</IP><IP>" + Dotted(address()) + "</IP>";
                    else if (shape == 3)
                        ips = std::string("<IP>") + rules::rules_format::kNoAddress + "</IP>";
                    else if (shape == 4)
                        ips = "";
                    else if (shape == 6)
                        ips = "<IP>" + address6() + "</IP><IP>" + address6() + "-" + address6() + "</IP>";
                    else if (shape == 7)
                        ips = "<IP>" + Dotted(address()) + "/" + std::to_string(26 + random() % 7) + "</IP><IP>" + address6()
                            + "/" + std::to_string(122 + random() % 7) + "</IP>";
                    else if (shape == 8)
                        ips = "<IP>fd00::/" + std::to_string(random() % 129) + "</IP><IP>::ffff:" + Dotted(address()) + "</IP>";
                    const std::string hosts = random() % 4 == 0 ? "<HOST>" + pick("?", "*", "mail.example.org", "*.example.org") + "</HOST>" : "";
                    portXml += Port(ports[random() % 5], ips, hosts);
                }
                std::string rule = Rule(pick("OUTGOING", "OUTGOING", "INCOMING"), pick("PERMIT", "DENY", "ASK"), portXml);
                if (random() % 8 == 0)
                    rule.replace(rule.find("<STATE>1"), 8, "<STATE>0");
                rules += rule;
            }
            // Escaped names beside their raw spelling an older panel wrote.
            std::string app = App(a == count - 1 && random() % 2 ? "ANY" : pick("TOOL", "OTHER", "ANY", "./ANY", "./CAF%E9", "CAF\xE9"),
                                  pick("", "ASK", "DENY"), pick("", "PERMIT", "DENY", "ASK"), rules);
            if (random() % 3 == 0 && app.find("<EXENAME>ANY<") == std::string::npos)
                app = Bind(App("TOOL", pick("", "ASK", "DENY"), pick("", "PERMIT", "DENY", "ASK"), rules),
                           pick("/opt/a/tool", "/opt/a/tool", "/opt/new/tool", "/missing/tool"),
                           pick("", "tool, as checked", "tool, written just now", "something else"));
            apps += app;
        }
        const std::string document = Document(apps);
        const KernelView kernel = Compile(document);
        for (const std::string& name : names) {
            for (int probe = 0; probe < 20; ++probe) {
                const unsigned port = probe % 7 == 0 ? 8080 : ports[random() % 5];
                const int kind = probe % 5;
                const bool incoming = probe % 3 == 0;
                const std::string peer = kind == 0 ? address6() : kind == 1 ? "::ffff:" + Dotted(address()) : Dotted(address());
                EXPECT_EQ(kernel.Decide(name, port, peer, incoming),
                          static_cast<unsigned>(EngineDecides(document, name, port, peer, incoming)))
                    << name << (incoming ? " incoming" : "") << " port " << port << " to " << peer << " by\n" << document;
                ++compared;
            }
        }
        // Programs run from a path: the bound one, a copy elsewhere, the bound
        // one changed; one written just now is taken for any other file there
        // (its check's permits asked) until it has settled.
        for (const auto& [path, changed] : {std::pair {"/opt/a/tool", false}, {"/opt/b/tool", false}, {"/opt/a/tool", true},
                                           {"/opt/new/tool", false}, {"/opt/a/other", false}}) {
            for (int probe = 0; probe < 10; ++probe) {
                const unsigned port = ports[random() % 5];
                const bool incoming = probe % 2 == 0;
                const std::string peer = probe % 3 == 0 ? address6() : Dotted(address());
                const bool unsettled = std::string(path) == "/opt/new/tool";
                EXPECT_EQ(kernel.Decide(IdentityOf(path, changed), port, peer, incoming),
                          static_cast<unsigned>(EngineDecides(document, path, changed || unsettled, incoming, port, peer)))
                    << path << (changed ? " changed" : "") << (incoming ? " incoming" : "") << " port " << port
                    << " to " << peer << " by\n" << document;
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 300 * (5 * 20 + 5 * 10));
}

TEST(BackstopRules, EdgesOfTheEnginesReadingHold)
{
    struct Case {
        const char* what;
        std::string document;
        const char* program;
        unsigned port;
        std::string address;
        unsigned expected;
    };
    const std::string tenNet = "<IP>10.0.0.1-10.0.0.255</IP>";
    const Case cases[] = {
        {"a rule of every port before one of the port: the first wins",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "DENY", Port(0)) + Rule("OUTGOING", "PERMIT", Port(80))))
             , "TOOL", 80, "10.0.0.1", ZEL_RULES_DENY},
        {"the port's rule before every port's",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "PERMIT", Port(80)) + Rule("OUTGOING", "DENY", Port(0)))),
         "TOOL", 80, "10.0.0.1", ZEL_RULES_PERMIT},
        {"an address in the range", Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "PERMIT", Port(80, tenNet)))),
         "TOOL", 80, "10.0.0.255", ZEL_RULES_PERMIT},
        {"an address past the range: the default", Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "PERMIT", Port(80, tenNet)))),
         "TOOL", 80, "10.0.1.0", ZEL_RULES_ASK},
        {"the range that covers nothing",
         Document(App("TOOL", "DENY", "DENY", Rule("OUTGOING", "PERMIT", Port(80, "<IP>255.255.255.255-0.0.0.0</IP>")))),
         "TOOL", 80, "0.0.0.0", ZEL_RULES_DENY},
        {"an IPv6 peer passes a rule limited to addresses",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "DENY", Port(80, tenNet)) + Rule("OUTGOING", "PERMIT", Port(80)))),
         "TOOL", 80, "fd00::7", ZEL_RULES_PERMIT},
        {"a named host is never known in the kernel",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "PERMIT", Port(0, "", "<HOST>*</HOST><HOST>x.example.org</HOST>")))),
         "TOOL", 443, "10.0.0.1", ZEL_RULES_ASK},
        {"\"?\", a peer with no name, is every peer here",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "PERMIT", Port(0, "", "<HOST>?</HOST>")))),
         "TOOL", 443, "fd00::7", ZEL_RULES_PERMIT},
        {"incoming rules do not decide outgoing connections",
         Document(App("TOOL", "DENY", "PERMIT", Rule("INCOMING", "DENY", Port(0)))), "TOOL", 80, "10.0.0.1", ZEL_RULES_PERMIT},
        {"an application's INDEF ends the reading: the general rules after it do not count",
         Document(App("TOOL", "DENY", "ASK", "") + App("ANY", "ASK", "PERMIT", Rule("OUTGOING", "DENY", Port(80)))),
         "TOOL", 80, "10.0.0.1", ZEL_RULES_ASK},
        {"without an INDEF the general ones follow, their defaults last",
         Document(App("TOOL", "", "DENY", "") + App("ANY", "ASK", "PERMIT", Rule("OUTGOING", "DENY", Port(80)))),
         "TOOL", 81, "10.0.0.1", ZEL_RULES_PERMIT},
        {"a program with no application of its own: the general settings",
         Document(App("TOOL", "DENY", "DENY", "") + App("ANY", "ASK", "PERMIT", Rule("OUTGOING", "DENY", Port(80)))),
         "CURL", 80, "10.0.0.1", ZEL_RULES_DENY},
        {"the name exactly as the engine names it",
         Document(App("tool", "DENY", "DENY", "") + App("ANY", "ASK", "PERMIT", "")), "TOOL", 80, "10.0.0.1", ZEL_RULES_PERMIT},
        {"port 0 itself: the entries of every port only once",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "PERMIT", Port(0, tenNet)))), "TOOL", 0, "10.0.0.2", ZEL_RULES_PERMIT},
        {"an IPv6 address", Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "DENY", Port(443, "<IP>fd00::2</IP>")))),
         "TOOL", 443, "fd00::2", ZEL_RULES_DENY},
        {"beside the IPv6 address: the default",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "DENY", Port(443, "<IP>fd00::2</IP>")))), "TOOL", 443,
         "fd00::3", ZEL_RULES_ASK},
        {"the last address of an IPv6 range",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "DENY", Port(80, "<IP>fd00::10-fd00::1:0</IP>")))), "TOOL",
         80, "fd00::1:0", ZEL_RULES_DENY},
        {"past the IPv6 range",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "DENY", Port(80, "<IP>fd00::10-fd00::1:0</IP>")))), "TOOL",
         80, "fd00::1:1", ZEL_RULES_ASK},
        {"an IPv6 prefix of every port",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "PERMIT", Port(0, "<IP>2001:db8::/32</IP>")))), "TOOL", 443,
         "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", ZEL_RULES_PERMIT},
        {"past the IPv6 prefix",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "PERMIT", Port(0, "<IP>2001:db8::/32</IP>")))), "TOOL", 443,
         "2001:db9::", ZEL_RULES_ASK},
        {"the very last IPv6 address",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "DENY", Port(80, "<IP>ffff:ffff:ffff:ffff::/64</IP>")))),
         "TOOL", 80, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", ZEL_RULES_DENY},
        {"an IPv4 prefix", Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "DENY", Port(80, "<IP>10.0.0.0/8</IP>")))),
         "TOOL", 80, "10.255.255.255", ZEL_RULES_DENY},
        {"past the IPv4 prefix",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "DENY", Port(80, "<IP>10.0.0.0/8</IP>")))), "TOOL", 80,
         "11.0.0.0", ZEL_RULES_ASK},
        {"an IPv4-mapped peer is decided as IPv4",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "DENY", Port(80, tenNet)))), "TOOL", 80, "::ffff:10.0.0.9",
         ZEL_RULES_DENY},
        {"every IPv6 address is no IPv4 one",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "DENY", Port(80, "<IP>::/0</IP>")))), "TOOL", 80, "10.0.0.1",
         ZEL_RULES_ASK},
        {"the addresses an older engine takes as every address",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "DENY",
             "<PORT><NUMBER>80</NUMBER><ADDRESSES><IP>fd00::/64</IP><IP>10.0.0.1</IP></ADDRESSES></PORT>")
             + Rule("OUTGOING", "PERMIT", Port(80)))), "TOOL", 80, "fd00::9", ZEL_RULES_DENY},
        {"... and only those",
         Document(App("TOOL", "DENY", "ASK", Rule("OUTGOING", "DENY",
             "<PORT><NUMBER>80</NUMBER><ADDRESSES><IP>fd00::/64</IP><IP>10.0.0.1</IP></ADDRESSES></PORT>")
             + Rule("OUTGOING", "PERMIT", Port(80)))), "TOOL", 80, "10.0.0.2", ZEL_RULES_PERMIT},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Compile(c.document).Decide(c.program, c.port, c.address), c.expected) << c.what;
}

TEST(BackstopRules, NoRulesFileAsksAndABrokenOneIsRefused)
{
    const KernelView none(RulesCompiler::NoRules());
    EXPECT_EQ(none.Decide("ANYTHING", 80, "10.0.0.1"), static_cast<unsigned>(ZEL_RULES_ASK));
    for (const std::string broken : {"", "<APPLICATIONS><APPLICATION>", "not xml", "<A></B>"}) {
        std::string error;
        EXPECT_FALSE(RulesCompiler::Compile(broken, error)) << broken;
        EXPECT_NE(error.find("does not parse"), std::string::npos) << error;
    }
}

TEST(BackstopRules, ManyEntriesOfAProgramAreFoundInAFewHalvings)
{
    // 1,000 entries on the connection's own port, each an address range,
    // and the default after them: the kernel halves its way through about
    // 2,000 intervals instead of walking the entries.
    std::string rules;
    for (uint32_t i = 0; i < 1000; ++i)
        rules += Rule("OUTGOING", i % 2 ? "DENY" : "PERMIT",
                      Port(9, "<IP>" + Dotted(0x0b000000u + 4 * i) + "-" + Dotted(0x0b000000u + 4 * i + 2) + "</IP>"));
    const std::string document = Document(App("TOOL", "DENY", "PERMIT", rules));
    const KernelView kernel = Compile(document);
    EXPECT_LE(kernel.Rules().intervals.size(), 2001u);
    for (uint32_t peer : {0x0b000000u, 0x0b000003u, 0x0b000005u, 0x0b000f9eu, 0x0b000fa0u, 0x7f000002u})
        EXPECT_EQ(kernel.Decide("TOOL", 9, Dotted(peer)), static_cast<unsigned>(EngineDecides(document, "TOOL", 9, Dotted(peer))))
            << Dotted(peer);
    // Programs with the same entries share their intervals.
    std::string apps;
    for (int i = 0; i < 100; ++i)
        apps += App("TOOL" + std::to_string(i), "DENY", "PERMIT", rules);
    EXPECT_LE(Compile(Document(apps)).Rules().intervals.size(), 2001u);
}

TEST(BackstopRules, RulesTheMapsCannotHoldAreRefusedWhole)
{
    RulesCompiler compiler;
    std::string error;
    const engine::RuleTable empty;
    for (uint64_t i = 0; i < ZEL_RULES_PROGRAMS; ++i)
        ASSERT_TRUE(compiler.Add(i + 1, empty, error)) << error;
    EXPECT_FALSE(compiler.Add(ZEL_RULES_PROGRAMS + 1, empty, error));
    EXPECT_NE(error.find("applications"), std::string::npos) << error;
    EXPECT_EQ(compiler.Rules().programs.size(), static_cast<size_t>(ZEL_RULES_PROGRAMS));

    // Intervals: every entry a range of its own, on ports of their own.
    RulesCompiler intervals;
    engine::RuleTable wide;
    for (uint32_t i = 0; i < ZEL_RULES_INTERVALS / 2 + 1; ++i)
        wide.AddEntry(1 + static_cast<int>(i % 60000), engine::kOutgoing, engine::kPermit,
                      Dotted(0x0c000000u + 2 * i).c_str());
    EXPECT_FALSE(intervals.Add(1, wide, error));
    EXPECT_NE(error.find("IPv4 address intervals"), std::string::npos) << error;
    EXPECT_TRUE(intervals.Rules().intervals.empty());

    // The same of IPv6 addresses, whose map is of its own size.
    RulesCompiler intervals6;
    engine::RuleTable wide6;
    for (uint32_t i = 0; i < ZEL_RULES_INTERVALS6 / 2 + 1; ++i) {
        char address[48];
        std::snprintf(address, sizeof address, "fd00::%x:%x", (2 * i) >> 16, (2 * i) & 0xffff);
        wide6.AddEntry(1 + static_cast<int>(i % 60000), engine::kOutgoing, engine::kPermit, address);
    }
    EXPECT_FALSE(intervals6.Add(1, wide6, error));
    EXPECT_NE(error.find("IPv6 address intervals"), std::string::npos) << error;
    EXPECT_TRUE(intervals6.Rules().intervals6.empty());
    EXPECT_TRUE(intervals6.Rules().lists.empty());
}

TEST(BackstopRules, TheServicesAreDecidedByTheirOwnEntriesAndTheGeneralOnes)
{
    // The machine's rules: only entries marked as services apply; a program
    // with none of its own is decided by the general settings, whose passes
    // the kernel records.
    const auto service = [](std::string app) { return app.replace(app.find("<ISSERVICE>0"), 12, "<ISSERVICE>1"); };
    const std::string document = Document(service(App("DNSMASQ", "DENY", "DENY", Rule("OUTGOING", "PERMIT", Port(53))))
                                          + App("CURL", "DENY", "DENY", "") + service(App("ANY", "PERMIT", "PERMIT", "")));
    const KernelView services = Compile(document, true);
    EXPECT_EQ(services.Decide("DNSMASQ", 53, "10.0.0.1"), static_cast<unsigned>(ZEL_RULES_PERMIT));
    EXPECT_EQ(services.Decide("DNSMASQ", 80, "10.0.0.1"), static_cast<unsigned>(ZEL_RULES_DENY));
    EXPECT_EQ(services.Decide("DNSMASQ", 67, "10.0.0.1", true), static_cast<unsigned>(ZEL_RULES_DENY));
    EXPECT_EQ(services.Decide("CURL", 80, "10.0.0.1"), static_cast<unsigned>(ZEL_RULES_PERMIT)) << "not a service entry";
    EXPECT_EQ(services.Decide("SSHD", 22, "10.0.0.1", true), static_cast<unsigned>(ZEL_RULES_PERMIT));
    // Which tables are the general settings' (recorded when they permit).
    int general = 0;
    for (const CompiledRules::Program& program : services.Rules().programs)
        general += program.general;
    EXPECT_EQ(services.Rules().programs.size(), 2u);
    EXPECT_EQ(general, 1);
    // A user's rules take every entry.
    EXPECT_EQ(Compile(document).Decide("CURL", 80, "10.0.0.1"), static_cast<unsigned>(ZEL_RULES_DENY));
}
