#include "os/Clock.h"
#include "os/FileDigest.h"
#include "os/FileInfo.h"
#include "os/Files.h"
#include "os/Net.h"
#include "os/Paths.h"
#include "os/Processes.h"
#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/Environment.h"
#include "os/hooksafe/TrustedFile.h"
#include "os/hooksafe/TrustedFolder.h"
#include "protocol/LogFiles.h"
#include "protocol/Registry.h"
#include "protocol/SharedBlock.h"
#include "rules/RulesFile.h"
#include "rules/RulesFormat.h"
#include "tests/Sandbox.h"
#include "text/Strings.h"
#include "text/Translate.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <vector>
#include <unistd.h>

using namespace text;
using namespace os;
using namespace rules;
using namespace protocol;
using registry::RootKey;
using testing_support::Sandbox;
using testing_support::WriteText;

namespace {

// Runs a command, returns its exit status and standard output.
std::pair<int, std::string> RunCommand(const std::string& command)
{
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    std::string output;
    char buffer[512];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pipe ? ::pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

}  // namespace

TEST(Registry, ValuesAreFilesFoundWithoutRegardToCase)
{
    Sandbox sandbox;
    ASSERT_TRUE(registry::SetString(RootKey::LocalMachine, "Software\\Vendor\\App", "SomeValue", "text one"));
    EXPECT_EQ(testing_support::ReadText(sandbox.registry + "/HKEY_LOCAL_MACHINE/Software/Vendor/App/SomeValue"),
              "text one");
    EXPECT_EQ(registry::GetString(RootKey::LocalMachine, "software/VENDOR\\app", "somevalue"), "text one");
    // Writing under another spelling replaces the same value.
    ASSERT_TRUE(registry::SetString(RootKey::LocalMachine, "SOFTWARE\\vendor\\APP", "SOMEVALUE", "text two"));
    const auto values = registry::ListValues(RootKey::LocalMachine, "Software\\Vendor\\App");
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].first, "SomeValue");
    EXPECT_EQ(values[0].second, "text two");
    registry::Value value(RootKey::LocalMachine, "software\\vendor\\app", "somevalue");
    char buffer[5];
    ASSERT_TRUE(value.ReadInto(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "text"); // cut to fit
}

TEST(Registry, MissingEmptyAndDeletedValuesAreTold)
{
    Sandbox sandbox;
    EXPECT_FALSE(registry::Query(RootKey::LocalMachine, "Software\\None", "Value").has_value());
    EXPECT_EQ(registry::GetString(RootKey::LocalMachine, "Software\\None", "Value"), "");
    ASSERT_TRUE(registry::SetString(RootKey::LocalMachine, "Software\\K", "Empty", ""));
    EXPECT_EQ(registry::Query(RootKey::LocalMachine, "Software\\K", "Empty"), std::optional<std::string>(""));
    EXPECT_TRUE(registry::Value(RootKey::LocalMachine, "Software\\K", "EMPTY").Exists());
    ASSERT_TRUE(registry::SetString(RootKey::LocalMachine, "Software\\K", "Nul", std::string("ab\0cd", 5)));
    EXPECT_EQ(registry::GetString(RootKey::LocalMachine, "Software\\K", "Nul"), "ab");
    EXPECT_TRUE(registry::DeleteValue(RootKey::LocalMachine, "Software\\K", "empty"));
    EXPECT_FALSE(registry::Value(RootKey::LocalMachine, "Software\\K", "Empty").Exists());
    EXPECT_TRUE(registry::DeleteValue(RootKey::LocalMachine, "Software\\K", "Empty"));
    for (const char* bad : {"", ".", "..", "a/b", ".tmp.x"})
        EXPECT_FALSE(registry::SetString(RootKey::LocalMachine, "Software\\K", bad, "x")) << bad;
}

TEST(Registry, RepeatedReadsFollowEveryChange)
{
    Sandbox sandbox;
    registry::Value value(RootKey::LocalMachine, "Software\\K", "Watched");
    EXPECT_FALSE(value.Exists());
    EXPECT_FALSE(value.Exists()); // answered from the unchanged key folder
    ASSERT_TRUE(registry::SetString(RootKey::LocalMachine, "Software\\K", "Watched", "1"));
    EXPECT_EQ(value.Read(), std::optional<std::string>("1"));
    for (const char* text : {"0", "1", "", "22"}) {
        ASSERT_TRUE(registry::SetString(RootKey::LocalMachine, "Software\\K", "Watched", text));
        EXPECT_EQ(value.Read(), std::optional<std::string>(text));
    }
    ASSERT_TRUE(registry::DeleteValue(RootKey::LocalMachine, "Software\\K", "Watched"));
    EXPECT_FALSE(value.Exists());
    // Stored under another spelling, by another writer.
    WriteText(sandbox.registry + "/HKEY_LOCAL_MACHINE/Software/K/WATCHED", "spelled");
    EXPECT_EQ(value.Read(), std::optional<std::string>("spelled"));
    ::unlink((sandbox.registry + "/HKEY_LOCAL_MACHINE/Software/K/WATCHED").c_str());
    EXPECT_FALSE(value.Exists());
    // Another value of the key missing too is answered from the same listing,
    // and found as soon as the folder changes.
    registry::Value other(RootKey::LocalMachine, "Software\\K", "Other");
    EXPECT_FALSE(other.Exists());
    WriteText(sandbox.registry + "/HKEY_LOCAL_MACHINE/Software/K/OTHER", "x");
    EXPECT_EQ(other.Read(), std::optional<std::string>("x"));
}

TEST(Registry, ReadersSeeTheOldOrTheNewTextNeverAMix)
{
    Sandbox sandbox;
    const std::string a(3000, 'a'), b(3000, 'b');
    ASSERT_TRUE(registry::SetString(RootKey::LocalMachine, "Software\\K", "V", a));
    std::atomic<bool> stop {false};
    std::atomic<int> mixed {0}, reads {0};
    std::thread reader([&] {
        registry::Value value(RootKey::LocalMachine, "Software\\K", "V");
        while (!stop) {
            const auto text = value.Read();
            if (!text || (*text != a && *text != b))
                ++mixed;
            ++reads;
        }
    });
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(registry::SetString(RootKey::LocalMachine, "Software\\K", "V", i % 2 ? a : b));
    stop = true;
    reader.join();
    EXPECT_EQ(mixed.load(), 0) << "of " << reads.load();
    // No temporary files are left behind.
    EXPECT_EQ(registry::ListValues(RootKey::LocalMachine, "Software\\K").size(), 1u);
}

TEST(Registry, CommandLineToolQueriesSetsAndDeletes)
{
    Sandbox sandbox;
    const std::string tool = ZEL_REG_PROGRAM;
    EXPECT_EQ(RunCommand(tool + " set 'HKLM\\Software\\KORVEL\\QRB' /v SecurityStatus /d 0").first, 0);
    EXPECT_EQ(registry::GetString(RootKey::LocalMachine, registry::kSettingsKey, "SecurityStatus"), "0");
    auto [status, output] = RunCommand(tool + " query HKEY_LOCAL_MACHINE/Software/KORVEL/QRB /v securitystatus");
    EXPECT_EQ(status, 0);
    EXPECT_NE(output.find("securitystatus    REG_SZ    0"), std::string::npos) << output;
    std::tie(status, output) = RunCommand(tool + " query HKLM/Software/KORVEL/QRB");
    EXPECT_NE(output.find("RulesFile    REG_SZ    " + sandbox.rulesFile), std::string::npos) << output;
    EXPECT_EQ(RunCommand(tool + " delete HKLM/Software/KORVEL/QRB /v SecurityStatus").first, 0);
    EXPECT_EQ(RunCommand(tool + " delete HKLM/Software/KORVEL/QRB /v SecurityStatus").first, 1);
    EXPECT_EQ(RunCommand(tool + " query HKLM/Software/KORVEL/QRB /v SecurityStatus").first, 1);
    EXPECT_EQ(RunCommand(tool + " query HKCU/Software /v X").first, 2);
    EXPECT_EQ(RunCommand(tool + " set HKLM/Software/K /v Name").first, 2);
}

TEST(Setup, CreatesMissingSettingsFoldersAndRulesAndKeepsExistingOnes)
{
    Sandbox sandbox;
    // A fresh installation: nothing in the store yet.
    testing_support::RemoveTree(sandbox.registry);
    ::mkdir(sandbox.registry.c_str(), 0700);
    const std::string setup = std::string(ZEL_SETUP_PROGRAM) + " --quiet --install-dir /opt/korvel --bin-dir /opt/bin";
    ASSERT_EQ(RunCommand(setup).first, 0);
    const auto get = [](const char* name) { return registry::GetString(RootKey::LocalMachine, registry::kSettingsKey, name); };
    for (const char* name : {"RulesFile", "LogFilesPath", "LogFileCount", "SecurityStatus", "SecurityMode", "ErrLogs",
                             "VRNFolder", "UpdFullMode", "ApplySettings", "FirstClose", "DebugPrint", "AwayAnswer",
                             "AwayTimeout"})
        EXPECT_TRUE(registry::Query(RootKey::LocalMachine, registry::kSettingsKey, name).has_value()) << name;
    EXPECT_EQ(get("VRNFolder"), "/opt/korvel/");
    EXPECT_EQ(get("SecurityStatus"), "1");
    EXPECT_EQ(get("SecurityMode"), "Normal");
    EXPECT_EQ(get("UpdFullMode"), "0");
    EXPECT_EQ(get("AwayAnswer"), "2");
    EXPECT_EQ(get("AwayTimeout"), "30");
    EXPECT_EQ(get("JournalRecords"), "0"); // records go to the journal only when asked
    EXPECT_EQ(registry::GetString(RootKey::LocalMachine, registry::kRunKey, registry::kAutostartValue), "/opt/bin/zel");
    struct stat st {};
    EXPECT_EQ(::stat((sandbox.root + "/config/autostart/korvel-firewall.desktop").c_str(), &st), 0);
    EXPECT_EQ(::stat(get("LogFilesPath").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(::stat(get("ErrLogs").c_str(), &st), 0);
    const std::string rules = testing_support::ReadText(get("RulesFile"));
    EXPECT_EQ(rules.rfind("<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME>", 0), 0u);
    EXPECT_EQ(rules.back(), '\n');

    // Again, after the user changed things: nothing is overwritten, and
    // autostart that the user switched off stays off.
    registry::SetString(RootKey::LocalMachine, registry::kSettingsKey, "SecurityStatus", "0");
    registry::DeleteValue(RootKey::LocalMachine, registry::kRunKey, registry::kAutostartValue);
    registry::DeleteValue(RootKey::LocalMachine, registry::kSettingsKey, "DebugPrint");
    WriteText(get("RulesFile"), "<APPLICATIONS/>");
    ASSERT_EQ(RunCommand(setup).first, 0);
    EXPECT_EQ(get("SecurityStatus"), "0");
    EXPECT_EQ(get("DebugPrint"), "0");
    EXPECT_FALSE(registry::Query(RootKey::LocalMachine, registry::kRunKey, registry::kAutostartValue));
    EXPECT_EQ(testing_support::ReadText(get("RulesFile")), "<APPLICATIONS/>");
    // An empty rules file is replaced by the default document.
    WriteText(get("RulesFile"), "");
    ASSERT_EQ(RunCommand(setup).first, 0);
    EXPECT_EQ(testing_support::ReadText(get("RulesFile")), rules);
}

TEST(SharedBlockLayout, FieldsSitAtTheirDocumentedOffsets)
{
    Sandbox sandbox;
    const std::string path = SharedBlock::DefaultPath();
    SharedBlock owner = SharedBlock::Create(path);
    ASSERT_TRUE(owner);
    SharedBlock engine = SharedBlock::Open(path);
    ASSERT_TRUE(engine);
    owner.SetUpdateString(" NOTEPAD.EXE");
    engine.AddTraffic(true, 0x01020304);
    engine.AddTraffic(false, 5);
    engine.PostAcknowledgement(100);
    engine.PostAcknowledgement(200);
    const std::string bytes = testing_support::ReadText(path);
    // The documented bytes first, then the update string's bookkeeping.
    ASSERT_EQ(bytes.size(), SharedBlock::kExtendedSize);
    EXPECT_EQ(bytes.substr(0, 13), std::string(" NOTEPAD.EXE\0", 13));
    const auto u32 = [&](size_t offset) {
        uint32_t v;
        std::memcpy(&v, bytes.data() + offset, 4);
        return v;
    };
    EXPECT_EQ(u32(512), 0x01020304u);
    EXPECT_EQ(u32(516), 5u);
    EXPECT_EQ(u32(520), 100u);
    EXPECT_EQ(u32(524), 200u);
    EXPECT_EQ(u32(1544), 2u);
    EXPECT_EQ(owner.TakeCounterA(), 0x01020304u);
    EXPECT_EQ(owner.CounterA(), 0u);
}

TEST(SharedBlockLayout, UpdateStringIsCutAndAlwaysTerminated)
{
    Sandbox sandbox;
    SharedBlock block = SharedBlock::Create(SharedBlock::DefaultPath());
    ASSERT_TRUE(block);
    block.SetUpdateString(std::string(600, 'A'));
    char buffer[512];
    block.CopyUpdateString(buffer);
    EXPECT_EQ(std::strlen(buffer), 511u);
    // Even a block whose text has no NUL at all reads as at most 511 characters.
    std::string raw(SharedBlock::kExtendedSize, 'B');
    WriteText(SharedBlock::DefaultPath(), raw);
    SharedBlock reopened = SharedBlock::Open(SharedBlock::DefaultPath());
    ASSERT_TRUE(reopened);
    reopened.CopyUpdateString(buffer);
    EXPECT_EQ(std::strlen(buffer), 511u);
    // A file too small to be a block is not opened.
    WriteText(sandbox.root + "/small", "x");
    EXPECT_FALSE(SharedBlock::Open(sandbox.root + "/small"));
    EXPECT_FALSE(SharedBlock::Open(sandbox.root + "/missing"));
}

TEST(ProcessTable, ReadsParentExecutableAndImageNames)
{
    Sandbox sandbox;
    const std::string proc = sandbox.root + "/proc";
    ::mkdir(proc.c_str(), 0755);
    const auto add = [&](int pid, const std::string& stat, const std::string& exe) {
        const std::string folder = proc + "/" + std::to_string(pid);
        ::mkdir(folder.c_str(), 0755);
        WriteText(folder + "/stat", stat);
        if (!exe.empty()) {
            ASSERT_EQ(::symlink(exe.c_str(), (folder + "/exe").c_str()), 0);
        }
    };
    add(10, "10 (zel) S 1 10 10", "/usr/local/bin/zel");
    add(11, "11 (odd ) name)) R 10 11 11", "/opt/hazel/bin/editor (deleted)");
    add(12, "12 (kthread) S 2 0 0", "");
    ::mkdir((proc + "/self").c_str(), 0755);
    const auto entries = processes::Snapshot(proc);
    ASSERT_EQ(entries.size(), 3u);
    const auto odd = processes::ReadProcess(proc, 11);
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->parentPid, 10);
    EXPECT_EQ(odd->exePath, "/opt/hazel/bin/editor");
    EXPECT_EQ(odd->imageName, "EDITOR");
    EXPECT_TRUE(processes::ReadProcess(proc, 12)->exePath.empty());
    EXPECT_EQ(processes::ReadProcess(proc, 10)->imageName, "ZEL");
    // An executable that cannot be read names no image.
    ::unlink((proc + "/10/exe").c_str());
    EXPECT_TRUE(processes::ReadProcess(proc, 10)->imageName.empty());
    EXPECT_FALSE(processes::ReadProcess(proc, 99).has_value());
}

TEST(ProcessTable, OwnProcessIsFoundInTheRealTable)
{
    const auto self = processes::ReadProcess(processes::kProcRoot, ::getpid());
    ASSERT_TRUE(self);
    EXPECT_EQ(self->parentPid, ::getppid());
    EXPECT_EQ(self->exePath, processes::OwnExecutablePath());
    EXPECT_EQ(self->imageName, "PLATFORM_TESTS");
}

TEST(Clock, TickCountAdvancesInMilliseconds)
{
    // The real one: the boot-time clock in milliseconds, cut to 32 bits.
    const auto bootMs = [] {
        timespec ts {};
        ::clock_gettime(CLOCK_BOOTTIME, &ts);
        return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
    };
    const uint32_t before = bootMs();
    const uint32_t tick = GetTickCount();
    const uint32_t after = bootMs();
    EXPECT_LE(tick - before, after - before);
    // A test's manual time moves every reading of the clock together, and only them.
    {
        ManualTime time;
        const uint32_t first = GetTickCount();
        const long long coarse = CoarseMilliseconds();
        const TimePoint now = MonotonicNow();
        time.Advance(std::chrono::milliseconds(50));
        EXPECT_EQ(GetTickCount() - first, 50u);
        EXPECT_EQ(CoarseMilliseconds() - coarse, 50);
        EXPECT_EQ(MonotonicNow() - now, std::chrono::milliseconds(50));
    }
    const uint32_t real = bootMs();
    const uint32_t again = GetTickCount();
    EXPECT_LE(again - real, bootMs() - real); // real time again
}

TEST(Clock, FormatsDateAndTimeWithoutChangingTheProcessLocale)
{
    std::tm time {};
    time.tm_year = 126;
    time.tm_mon = 11;
    time.tm_mday = 6;
    time.tm_hour = 23;
    time.tm_min = 59;
    time.tm_sec = 58;
    char date[64], clock[64];
    ::setenv("LC_ALL", "C", 1);
    EXPECT_GT(FormatLocalDate(time, date, sizeof date), 0u);
    EXPECT_GT(FormatLocalTime(time, clock, sizeof clock), 0u);
    ::unsetenv("LC_ALL");
    EXPECT_NE(std::string(date).find("06"), std::string::npos) << date;
    EXPECT_EQ(std::string(clock), "23:59:58");
    EXPECT_STREQ(std::setlocale(LC_TIME, nullptr), "C");
}

TEST(Text, DecimalConversionStopsAtTheFirstOtherCharacter)
{
    EXPECT_EQ(ParseDecimal("0"), 0);
    EXPECT_EQ(ParseDecimal("  -12abc"), -12);
    EXPECT_EQ(ParseDecimal("+7"), 7);
    EXPECT_EQ(ParseDecimal("abc"), 0);
    EXPECT_EQ(ParseDecimal(""), 0);
    EXPECT_EQ(ParseDecimal("4294967295"), 4294967295LL);
    EXPECT_EQ(ParseDecimal("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(FileNamePart("/a/b/c.exe"), "c.exe");
    EXPECT_EQ(FileNamePart("plain"), "plain");
    EXPECT_TRUE(EqualsNoCase("ThunderRT6", "thunderrt6"));
    EXPECT_FALSE(EqualsNoCase("abc", "abd"));
}

TEST(FileInfo, FindsTheDesktopEntryThatStartsTheExecutable)
{
    Sandbox sandbox;
    const std::string bin = sandbox.root + "/bin";
    ::mkdir(bin.c_str(), 0755);
    for (const char* name : {"mail", "other"}) {
        WriteText(bin + "/" + name, "#!/bin/sh\n");
        ::chmod((bin + "/" + name).c_str(), 0755);
    }
    ASSERT_EQ(::symlink((bin + "/mail").c_str(), (bin + "/mail-link").c_str()), 0);
    const std::string apps = sandbox.root + "/data/applications";
    ::mkdir(apps.c_str(), 0755);
    WriteText(apps + "/other.desktop", "[Desktop Entry]\nName=Other\nExec=" + bin + "/other\n");
    WriteText(apps + "/mail.desktop", "[Desktop Action New]\nName=Wrong\n[Desktop Entry]\nName=Mail Reader\n"
                                      "Exec=env LANG=C \"" + bin + "/mail-link\" %u\nIcon=mail-reader\n");
    const auto info = file_info::LookupExecutable(bin + "/mail");
    EXPECT_TRUE(info.found);
    EXPECT_EQ(info.description, "Mail Reader");
    EXPECT_EQ(info.icon, "mail-reader");
    // A program found through PATH.
    ::setenv("PATH", bin.c_str(), 1);
    WriteText(apps + "/other.desktop", "[Desktop Entry]\nName=Other\nExec=other --flag\n");
    EXPECT_EQ(file_info::LookupExecutable(bin + "/other").description, "Other");
    ::setenv("PATH", "/usr/local/bin:/usr/bin:/bin", 1);
    EXPECT_FALSE(file_info::LookupExecutable(sandbox.root + "/missing").found);
}

TEST(Net, AddressesAreDottedQuads)
{
    const auto adapters = net::AdapterAddresses();
    ASSERT_FALSE(adapters.empty()); // loopback at least
    for (const auto& address : adapters)
        EXPECT_EQ(std::count(address.begin(), address.end(), '.'), 3) << address;
    const std::string own = net::OwnAddress();
    EXPECT_TRUE(own.empty() || std::count(own.begin(), own.end(), '.') == 3) << own;
}

TEST(Text, EscapedLinesComeBackWhole)
{
    const std::string text = "two\nlines\twith a \\ backslash\r";
    const std::string escaped = EscapeLine(text);
    EXPECT_EQ(escaped.find('\n'), std::string::npos);
    EXPECT_EQ(UnescapeLine(escaped), text);
    EXPECT_EQ(UnescapeLine("ends with \\"), "ends with \\");
}

TEST(Text, ArgumentsAndCountsFillTheirPlacesOnce)
{
    struct Case { std::string_view text; std::vector<std::string> args; std::string expected; };
    const Case cases[] = {
        {"%1 of %2", {"a", "b"}, "a of b"},
        {"%2 before %1", {"a", "b"}, "b before a"},
        {"%1", {"%2"}, "%2"},                 // an argument is not searched again
        {"100% sure, %3", {"a"}, "100% sure, %3"},  // no such argument: left as written
        {"ends with %", {"a"}, "ends with %"},
    };
    for (const Case& c : cases) {
        std::string result;
        if (c.args.size() == 1)
            result = Arg(c.text, {c.args[0]});
        else
            result = Arg(c.text, {c.args[0], c.args[1]});
        EXPECT_EQ(result, c.expected) << c.text;
    }
    EXPECT_EQ(WithCount("%n programs, %n", 12), "12 programs, 12");
    EXPECT_EQ(Tr("Context", "%n program(s)", nullptr, 1), "1 program(s)");
    EXPECT_EQ(Tr("Context", "as written"), "as written");
    SetTranslator([](const char*, const char* text, const char*, int n) { return WithCount(std::string("<") + text + ">", n); });
    EXPECT_EQ(Tr("Context", "%n left", nullptr, 3), "<3 left>");
    SetTranslator(nullptr);
}

// Which language a program speaks, read as gettext reads the locale.
TEST(Text, MessageLanguagesFollowTheLocaleAsGettextReadsIt)
{
    struct Case { const char* language; const char* all; const char* messages; const char* lang; std::vector<std::string> expected; };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, "de_DE.UTF-8", {"de_DE", "de"}},
        {nullptr, nullptr, "de_AT@euro", "en_GB.UTF-8", {"de_AT", "de"}},
        {nullptr, "C.UTF-8", "de_DE.UTF-8", nullptr, {}},
        {nullptr, nullptr, nullptr, "POSIX", {}},
        {"fr:de", nullptr, nullptr, "de_DE.UTF-8", {"fr", "de", "de_DE"}},
        {"de", nullptr, nullptr, "C", {}},  // the C locale ignores LANGUAGE
        {nullptr, nullptr, nullptr, nullptr, {}},
    };
    for (const Case& c : cases) {
        const std::pair<const char*, const char*> settings[] = {
            {"LANGUAGE", c.language}, {"LC_ALL", c.all}, {"LC_MESSAGES", c.messages}, {"LANG", c.lang}};
        for (const auto& [name, value] : settings)
            value ? ::setenv(name, value, 1) : ::unsetenv(name);
        EXPECT_EQ(MessageLanguages(), c.expected) << (c.lang ? c.lang : "-");
    }
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
        ::unsetenv(name);
}

// The runtime folder holds what other processes of the user trust: it is
// used only when nobody else can have put anything into it.
TEST(AttackRuntimeFolder, UsedOnlyWhenItIsAPrivateFolderOfTheUser)
{
    Sandbox sandbox;
    const std::string base = sandbox.root + "/runtimes";
    ::mkdir(base.c_str(), 0755);
    const auto useFolder = [](const std::string& path) {
        ::setenv("ZEL_RUNTIME_DIR", path.c_str(), 1);
        return RuntimeDir();
    };
    // Missing: made private.
    EXPECT_EQ(useFolder(base + "/new"), base + "/new");
    struct stat st {};
    ASSERT_EQ(::stat((base + "/new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Open to others, a link to a private folder, a file: refused, and said why.
    ::mkdir((base + "/open").c_str(), 0700);
    ::chmod((base + "/open").c_str(), 0755);
    ASSERT_EQ(::symlink((base + "/new").c_str(), (base + "/link").c_str()), 0);
    WriteText(base + "/file", "");
    for (const char* name : {"/open", "/link", "/file"}) {
        EXPECT_EQ(useFolder(base + name), "") << name;
        EXPECT_NE(RuntimeDirProblem().find(base + name), std::string::npos) << name;
        EXPECT_EQ(SharedBlock::DefaultPath(), "") << name;
    }
    if (::geteuid() == 0) {
        ::mkdir((base + "/foreign").c_str(), 0700);
        ASSERT_EQ(::chown((base + "/foreign").c_str(), 65534, 65534), 0);
        EXPECT_EQ(useFolder(base + "/foreign"), "");
        EXPECT_NE(RuntimeDirProblem().find("another user"), std::string::npos);
    }
    ::setenv("ZEL_RUNTIME_DIR", sandbox.runtime.c_str(), 1);
}

// The folder found usable is kept (by descriptor) rather than walked from the
// root again at every look: one moved away, opened to others or swapped for
// a link after it was kept must be refused at the very next look, not used
// for a while as it was.
TEST(AttackRuntimeFolder, KeptFolderReplacedOrOpenedIsRefusedAtOnce)
{
    Sandbox sandbox;
    const std::string base = sandbox.root + "/runtimes";
    const std::string folder = base + "/kept";
    ASSERT_EQ(::mkdir(base.c_str(), 0755), 0);
    ::setenv("ZEL_RUNTIME_DIR", folder.c_str(), 1);
    const struct {
        const char* what;
        std::function<void()> spoil, mend;
    } cases[] = {
        {"opened to others", [&] { ::chmod(folder.c_str(), 0755); }, [&] { ::chmod(folder.c_str(), 0700); }},
        {"moved away, an open one in its place",
         [&] {
             ::rename(folder.c_str(), (folder + ".was").c_str());
             ::mkdir(folder.c_str(), 0700);
             ::chmod(folder.c_str(), 0777);
         },
         [&] {
             ::rmdir(folder.c_str());
             ::rename((folder + ".was").c_str(), folder.c_str());
         }},
        {"moved away, a link in its place",
         [&] {
             ::rename(folder.c_str(), (folder + ".was").c_str());
             ASSERT_EQ(::symlink((folder + ".was").c_str(), folder.c_str()), 0);
         },
         [&] {
             ::unlink(folder.c_str());
             ::rename((folder + ".was").c_str(), folder.c_str());
         }},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(RuntimeDir(), folder) << c.what;
        ASSERT_EQ(RuntimeDir(), folder) << c.what; // the kept answer
        c.spoil();
        EXPECT_EQ(RuntimeDir(), "") << c.what;
        EXPECT_EQ(SharedBlock::DefaultPath(), "") << c.what;
        c.mend();
    }
    EXPECT_EQ(RuntimeDir(), folder);
    // Kept open for the process, never handed to a program it starts, and
    // still the answer in a forked child.
    int kept = 0;
    for (int fd = 0; fd < 4096; ++fd) {
        char link[PATH_MAX];
        const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof link - 1);
        if (n > 0 && std::string(link, static_cast<size_t>(n)) == folder) {
            ++kept;
            EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC) << fd;
        }
    }
    EXPECT_EQ(kept, 1);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(RuntimeDir() == folder ? 0 : 1);
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    ::setenv("ZEL_RUNTIME_DIR", sandbox.runtime.c_str(), 1);
}

// A store only the user may change is judged from its root once and then
// walked from the root kept open: a root or key folder replaced, linked
// elsewhere or opened to others after the root was kept is still refused
// (reads as no value), and a link inside the store to a private folder
// still leads where it did.
TEST(AttackSettingsStore, KeptRootAndKeyFoldersAreJudgedAgainWhenChanged)
{
    const std::string second = "/HKEY_LOCAL_MACHINE/Software/Second";
    const struct {
        const char* what;
        std::function<void(const std::string& store, const std::string& other)> spoil;
        bool found;
    } cases[] = {
        {"sound", [](const std::string&, const std::string&) {}, true},
        {"root opened to others", [](const std::string& store, const std::string&) { ::chmod(store.c_str(), 0777); },
         false},
        {"root moved away, an open one in its place",
         [](const std::string& store, const std::string& other) {
             ::rename(store.c_str(), (store + ".was").c_str());
             ::rename(other.c_str(), store.c_str());
         },
         false},
        {"root swapped for a link to an open one",
         [](const std::string& store, const std::string& other) {
             ::rename(store.c_str(), (store + ".was").c_str());
             ::symlink(other.c_str(), store.c_str());
         },
         false},
        {"key folder opened to others",
         [&](const std::string& store, const std::string&) { ::chmod((store + second).c_str(), 0777); }, false},
        {"key folder swapped for a link to an open one",
         [&](const std::string& store, const std::string& other) {
             ::rename((store + second).c_str(), (store + second + ".was").c_str());
             ::symlink((other + second).c_str(), (store + second).c_str());
         },
         false},
        {"key folder a link to a private one",
         [&](const std::string& store, const std::string&) {
             ::rename((store + second).c_str(), (store + "/Second").c_str());
             ::symlink((store + "/Second").c_str(), (store + second).c_str());
         },
         true},
    };
    for (const auto& c : cases) {
        Sandbox sandbox;
        // Another store, open to others, holding the same value.
        const std::string other = sandbox.root + "/other";
        ASSERT_TRUE(MakeDirectories(other + second));
        WriteText(other + second + "/V", "2");
        ::chmod(other.c_str(), 0777);
        ::chmod((other + second).c_str(), 0777);
        ASSERT_TRUE(registry::SetString(RootKey::LocalMachine, "Software\\First", "V", "1"));
        ASSERT_TRUE(registry::SetString(RootKey::LocalMachine, "Software\\Second", "V", "2"));
        // In a child: the switch to trusted stores lasts for the process.
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            registry::ReadOnlyTrustedStore();
            const bool first = registry::Value(RootKey::LocalMachine, "Software\\First", "V").Read() == "1";
            c.spoil(sandbox.registry, other);
            // Spelled otherwise than on disk: found by listing the folders.
            const bool found = registry::Value(RootKey::LocalMachine, "SOFTWARE\\second", "v").Read() == "2";
            // A single query goes the same way.
            const bool queried = registry::Query(RootKey::LocalMachine, "SOFTWARE\\second", "v") == "2";
            ::_exit(first && found == queried ? (found ? 1 : 0) : 3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << c.what;
        EXPECT_EQ(WEXITSTATUS(status), c.found ? 1 : 0) << c.what;
    }
}

// Every program of the user finds the same folder from its variables alone:
// without a session folder it lies under the home, one per machine, never
// in /tmp (where another user could make it first), and a spoilt one is
// refused rather than exchanged for another that other programs would not
// find.
TEST(RuntimeFolder, ChosenByTheVariablesAloneAndNeverInTmp)
{
    Sandbox sandbox;
    const std::string base = sandbox.root; // short: the sockets in the folder must fit their addresses
    for (const char* folder : {"/x", "/h", "/s", "/deep-home-beyond-the-sockets-length-limit"})
        ASSERT_EQ(::mkdir((base + folder).c_str(), 0700), 0) << folder;
    ASSERT_EQ(::mkdir((base + "/s/korvel").c_str(), 0700), 0);
    ASSERT_EQ(::chmod((base + "/s/korvel").c_str(), 0777), 0);
    struct utsname names {};
    ASSERT_EQ(::uname(&names), 0);
    std::string host = names.nodename;
    if (host.size() > 20)
        host = host.substr(0, 11) + "-"; // and a digest of the whole name
    const std::string saved[] = {std::getenv("HOME") ? std::getenv("HOME") : "",
                                 std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : ""};
    struct Case {
        const char* what;
        const char* configured; // ZEL_RUNTIME_DIR, XDG_RUNTIME_DIR, XDG_STATE_HOME, HOME; null: unset
        const char* session;
        const char* state;
        const char* home;
        std::string expected; // the start of the folder's path; empty: refused
        bool underHome;
        const char* why = ""; // a part of the reason when refused
    };
    const Case cases[] = {
        {"configured", "/c", "/x", "/state", "/h", base + "/c", false},
        {"the session's", nullptr, "/x", "/state", "/h", base + "/x/korvel", false},
        {"the state folder's", nullptr, nullptr, "/state", "/h", base + "/state/korvel/run-" + host, true},
        {"a relative session folder counts as none", nullptr, "x", "/state", "/h", base + "/state/korvel/run-" + host, true},
        {"below the home", nullptr, nullptr, nullptr, "/h", base + "/h/.local/state/korvel/run-" + host, true},
        {"a spoilt one is refused, not exchanged", nullptr, nullptr, "/s", "/h", "", true, "another user owns or can write"},
        {"too deep for its sockets", nullptr, nullptr, nullptr, "/deep-home-beyond-the-sockets-length-limit", "", true,
         "too long a path"},
    };
    const auto set = [&base](const char* name, const char* value) {
        value ? ::setenv(name, (value[0] == '/' ? base + value : std::string(value)).c_str(), 1) : ::unsetenv(name);
    };
    for (const Case& c : cases) {
        set("ZEL_RUNTIME_DIR", c.configured);
        set("XDG_RUNTIME_DIR", c.session);
        set("XDG_STATE_HOME", c.state);
        set("HOME", c.home);
        const RuntimeFolderState state = RuntimeDirState();
        const std::string used = RuntimeDir();
        EXPECT_EQ(used.empty(), c.expected.empty()) << c.what << ": " << state.problem;
        EXPECT_EQ(used.rfind(c.expected, 0), 0u) << c.what << ": " << used;
        EXPECT_EQ(state.underHome, c.underHome) << c.what;
        EXPECT_EQ(state.path.rfind("/tmp/korvel", 0), std::string::npos) << c.what;
        EXPECT_NE(state.problem.find(c.why), std::string::npos) << c.what;
        if (c.expected.empty()) {
            EXPECT_NE(state.problem.find("refuses your programs' connections"), std::string::npos) << c.what;
        }
    }
    ::setenv("ZEL_RUNTIME_DIR", sandbox.runtime.c_str(), 1);
    ::setenv("XDG_STATE_HOME", (sandbox.root + "/state").c_str(), 1);
    saved[0].empty() ? ::unsetenv("HOME") : ::setenv("HOME", saved[0].c_str(), 1);
    saved[1].empty() ? ::unsetenv("XDG_RUNTIME_DIR") : ::setenv("XDG_RUNTIME_DIR", saved[1].c_str(), 1);
}

// A library or program the environment names is loaded or started only when
// nobody but root and the user could have put it there or changed it: the
// environment may come from a less privileged caller (su, sudo -E).
TEST(AttackTrustedFile, OnlyFilesNobodyElseCouldHaveWrittenAreTrusted)
{
    Sandbox sandbox;
    const std::string base = sandbox.root + "/trust";
    ASSERT_EQ(::mkdir(base.c_str(), 0755), 0);
    const auto make = [&](const std::string& folder, mode_t folderMode, mode_t fileMode) {
        const std::string path = base + "/" + folder;
        ::mkdir(path.c_str(), 0700);
        ::chmod(path.c_str(), folderMode);
        WriteText(path + "/library.so", "");
        ::chmod((path + "/library.so").c_str(), fileMode);
        return path + "/library.so";
    };
    const struct {
        const char* folder;
        mode_t folderMode;
        mode_t fileMode;
        bool trusted;
    } cases[] = {
        {"private", 0700, 0644, true},
        {"readable", 0755, 0755, true},
        {"own-group", 0775, 0664, true},   // the folder's group is the user's own
        {"sticky", 01777, 0644, true},     // others cannot replace what is ours
        {"open", 0777, 0644, false},
        {"open-file", 0755, 0646, false},
    };
    char resolved[PATH_MAX];
    for (const auto& c : cases) {
        const std::string file = make(c.folder, c.folderMode, c.fileMode);
        EXPECT_EQ(ResolveTrustedFile(file.c_str(), resolved, sizeof resolved), c.trusted) << c.folder;
    }
    // A link is followed and judged by where it leads; the answer names the target.
    ASSERT_EQ(::symlink((base + "/private/library.so").c_str(), (base + "/open/to-private").c_str()), 0);
    ASSERT_TRUE(ResolveTrustedFile((base + "/open/to-private").c_str(), resolved, sizeof resolved));
    EXPECT_EQ(std::string(resolved), base + "/private/library.so");
    ASSERT_EQ(::symlink((base + "/open/library.so").c_str(), (base + "/private/to-open").c_str()), 0);
    EXPECT_FALSE(ResolveTrustedFile((base + "/private/to-open").c_str(), resolved, sizeof resolved));
    // Missing, a folder, too long an answer: not trusted.
    EXPECT_FALSE(ResolveTrustedFile((base + "/private/missing.so").c_str(), resolved, sizeof resolved));
    EXPECT_FALSE(ResolveTrustedFile((base + "/private").c_str(), resolved, sizeof resolved));
    EXPECT_FALSE(ResolveTrustedFile((base + "/private/library.so").c_str(), resolved, 8));
    if (::geteuid() == 0) {
        // Another user's file, or a file in another user's folder.
        const std::string foreign = make("foreign-file", 0755, 0644);
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(ResolveTrustedFile(foreign.c_str(), resolved, sizeof resolved));
        // A file group-writable for a group that is not the user's.
        const std::string otherGroup = make("other-group", 0755, 0664);
        ASSERT_EQ(::chown(otherGroup.c_str(), 0, 65534), 0);
        EXPECT_FALSE(ResolveTrustedFile(otherGroup.c_str(), resolved, sizeof resolved));
    }
}

// A folder counts as safe only when no other user can change it or any
// folder above it; sticky folders (/tmp) are passed on the way, not at the end.
TEST(AttackTrustedFolder, JudgedByTheOwnersAndWritersOfEveryFolderOnTheWay)
{
    Sandbox sandbox;
    const std::string base = sandbox.root + "/trust";
    ASSERT_EQ(::mkdir(base.c_str(), 0755), 0);
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* name;
        mode_t mode;
        bool foreignOwner; // owned by uid 65534 (as root only)
        bool foreignGroup; // group 65534 (as root only)
        const char* child; // a private folder of ours inside, judged instead
        bool trusted;
    };
    const Case cases[] = {
        {"private", 0700, false, false, nullptr, true},
        {"readable", 0755, false, false, nullptr, true},
        {"open", 0777, false, false, nullptr, false},
        {"sticky-end", 01777, false, false, nullptr, false},
        {"open-above", 0777, false, false, "inner", false},
        {"sticky-above", 01777, false, false, "inner", true},
        {"foreign", 0755, true, false, nullptr, false},
        {"foreign-above", 0755, true, false, "inner", false},
        {"foreign-group-write", 0775, false, true, nullptr, false},
        {"foreign-group-read", 0755, false, true, nullptr, true},
        // /tmp as a program sees it between its setgid and its setuid
        {"sticky-group-above", 01775, false, true, "inner", true},
    };
    for (const Case& c : cases) {
        if ((c.foreignOwner || c.foreignGroup) && !root)
            continue;
        const std::string folder = base + "/" + c.name;
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0) << c.name;
        std::string judged = folder;
        if (c.child) {
            judged += std::string("/") + c.child;
            ASSERT_EQ(::mkdir(judged.c_str(), 0700), 0) << c.name;
        }
        if (c.foreignOwner || c.foreignGroup) {
            ASSERT_EQ(::chown(folder.c_str(), c.foreignOwner ? 65534 : 0, c.foreignGroup ? 65534 : 0), 0) << c.name;
        }
        ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0) << c.name;
        EXPECT_EQ(IsTrustedFolder(judged.c_str()), c.trusted) << c.name;
    }
    // Links are judged by where they lead; a missing folder is not trusted.
    ASSERT_EQ(::symlink((base + "/private").c_str(), (base + "/to-private").c_str()), 0);
    ASSERT_EQ(::symlink((base + "/open").c_str(), (base + "/to-open").c_str()), 0);
    EXPECT_TRUE(IsTrustedFolder((base + "/to-private").c_str()));
    EXPECT_FALSE(IsTrustedFolder((base + "/to-open").c_str()));
    EXPECT_FALSE(IsTrustedFolder((base + "/missing").c_str()));
    EXPECT_FALSE(IsTrustedFolder(""));
}

// A root program started with its caller's variables must not make folders
// where the caller points it: nothing is made inside a folder other users
// can write or own, and such a runtime folder is not used.
TEST(AttackRuntimeFolder, MadeOnlyInsideFoldersNoOtherUserControls)
{
    Sandbox sandbox;
    const std::string base = sandbox.root + "/runtimes";
    ASSERT_EQ(::mkdir(base.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((base + "/open").c_str(), 0777), 0);
    ASSERT_EQ(::chmod((base + "/open").c_str(), 0777), 0);
    std::vector<std::string> refused = {base + "/open/a/runtime", base + "/open/runtime"};
    if (::geteuid() == 0) {
        ASSERT_EQ(::mkdir((base + "/foreign").c_str(), 0755), 0);
        ASSERT_EQ(::chown((base + "/foreign").c_str(), 65534, 65534), 0);
        refused.push_back(base + "/foreign/runtime");
    }
    struct stat st {};
    for (const std::string& path : refused) {
        ::setenv("ZEL_RUNTIME_DIR", path.c_str(), 1);
        EXPECT_EQ(RuntimeDir(), "") << path;
        EXPECT_NE(RuntimeDirProblem().find("another user owns or can write"), std::string::npos) << path;
        EXPECT_NE(::lstat(path.c_str(), &st), 0) << path;
    }
    EXPECT_NE(::lstat((base + "/open/a").c_str(), &st), 0);
    // Made there before by someone else's doing: still not used.
    ASSERT_EQ(::mkdir((base + "/open/made").c_str(), 0700), 0);
    ::setenv("ZEL_RUNTIME_DIR", (base + "/open/made").c_str(), 1);
    EXPECT_EQ(RuntimeDir(), "");
    // Safe folders on the way are made as before.
    ::setenv("ZEL_RUNTIME_DIR", (base + "/deep/er/runtime").c_str(), 1);
    EXPECT_EQ(RuntimeDir(), base + "/deep/er/runtime");
    ASSERT_EQ(::stat((base + "/deep/er/runtime").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ::setenv("ZEL_RUNTIME_DIR", sandbox.runtime.c_str(), 1);
}

// Whatever sits where the shared block should be, an engine maps only a
// whole block of its own user's: a shrunken one would fault at every access.
TEST(SharedBlockLayout, OnlyAWholeBlockOfOursIsMapped)
{
    Sandbox sandbox;
    const std::string path = SharedBlock::DefaultPath();
    WriteText(sandbox.root + "/elsewhere", std::string(SharedBlock::kExtendedSize, '\0'));
    ASSERT_EQ(::symlink((sandbox.root + "/elsewhere").c_str(), path.c_str()), 0);
    EXPECT_FALSE(SharedBlock::Open(path));
    EXPECT_FALSE(SharedBlock::Create(path)); // never made through a link either
    ::unlink(path.c_str());
    WriteText(path, std::string(100, '\0'));
    EXPECT_FALSE(SharedBlock::Open(path));
    if (::geteuid() == 0) {
        WriteText(path, std::string(SharedBlock::kExtendedSize, '\0'));
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(SharedBlock::Open(path));
    }
}

TEST(Environment, StartupCopyAnswersAfterTheProgramChangedItsOwn)
{
    Sandbox sandbox;
    ::setenv("ZEL_REGISTRY_ROOT", "/started/with", 1);
    char store[4096];
    const char* list[32];
    ASSERT_TRUE(CaptureStartupEnvironment(store, sizeof store, list, 32));
    ::setenv("ZEL_REGISTRY_ROOT", "/changed/later", 1);
    ::setenv("ZEL_RUNTIME_DIR", "/also/later", 1);
    UseStartupEnvironment(list);
    EXPECT_STREQ(GetEnv("ZEL_REGISTRY_ROOT"), "/started/with");
    EXPECT_STREQ(GetEnv("ZEL_RUNTIME_DIR"), sandbox.runtime.c_str());
    EXPECT_EQ(GetEnv("SHELL_OF_NOBODY"), nullptr); // only the firewall's own are kept
    UseStartupEnvironment(nullptr);
    EXPECT_STREQ(GetEnv("ZEL_REGISTRY_ROOT"), "/changed/later");
    ::setenv("ZEL_REGISTRY_ROOT", sandbox.registry.c_str(), 1);
    ::setenv("ZEL_RUNTIME_DIR", sandbox.runtime.c_str(), 1);
}

// A descriptor kept for a long time that the program closed and reused
// behind our back is the program's: never closed or used as ours.
TEST(KeptDescriptors, NumberClosedAndReusedBehindOurBackIsLeftAlone)
{
    Sandbox sandbox;
    WriteText(sandbox.root + "/ours", "");
    KeptDescriptor kept;
    ASSERT_TRUE(kept.Adopt(::open((sandbox.root + "/ours").c_str(), O_RDONLY)));
    const int number = kept.Get();
    EXPECT_GT(number, 100); // far above what programs use
    EXPECT_TRUE(::fcntl(number, F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(kept.StillOurs());
    WriteText(sandbox.root + "/theirs", "");
    const int theirs = ::open((sandbox.root + "/theirs").c_str(), O_RDONLY);
    ASSERT_EQ(::dup2(theirs, number), number);
    ::close(theirs);
    EXPECT_FALSE(kept.StillOurs());
    kept.Close();
    EXPECT_EQ(kept.Get(), -1);
    EXPECT_NE(::fcntl(number, F_GETFD), -1); // still open: it is theirs
    ::close(number);
}

TEST(Text, LogTextComesBackWhole)
{
    const std::string text = std::string("a<b>c&d\r\n\t") + '\x01' + "\x7f" + "&#9;&amp;";
    const std::string escaped = EscapeLogText(text);
    EXPECT_EQ(escaped.find_first_of("<>\r\n\t\x01\x7f"), std::string::npos);
    EXPECT_EQ(UnescapeLogText(escaped), text);
    EXPECT_EQ(UnescapeLogText("odd & ends &unknown; &#;"), "odd & ends &unknown; &#;");
}

// What the engine writes, the log readers read back as it was meant.
TEST(LogFiles, RecordsReadBackWithTheirTextsWhole)
{
    const std::string path = "/tmp/evil\n<DATE>1</DATE><EXEPATH>/usr/bin/ssh</EXEPATH>";
    const std::string head = protocol::ConnectionRecordHead(EscapeLogText(path), EscapeLogText("A & B"));
    const protocol::ConnectionRecord record {&head, 1, 0, "10.0.0.2", 8080, 51234, 2, true};
    protocol::RecordText body;
    protocol::FormatConnectionBody(record, body);
    std::tm local {};
    local.tm_year = 126;
    local.tm_mon = 11;
    local.tm_mday = 8;
    const std::string line = protocol::RecordStamp(local) + std::string(body.View()) + "\r\n";
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    const auto entry = protocol::ParseLogLine(line);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->kind, protocol::LogEntry::Kind::kConnection);
    EXPECT_EQ(entry->exePath, path);
    EXPECT_EQ(entry->application, "A & B");
    EXPECT_EQ(entry->ip, "10.0.0.2");
    EXPECT_EQ(entry->localPort, "8080");
    EXPECT_EQ(entry->remotePort, "51234");
    EXPECT_EQ(entry->permission, "2");
    EXPECT_EQ(entry->service, "1");
    EXPECT_FALSE(entry->date.empty());

    const auto start = protocol::ParseLogLine("<DATE>d</DATE><TIME>t</TIME>"
                                              + protocol::CarrierEventBody(protocol::kApplicationEndTag, "/bin/x"));
    ASSERT_TRUE(start);
    EXPECT_EQ(start->kind, protocol::LogEntry::Kind::kApplicationEnd);
    EXPECT_EQ(start->exePath, "/bin/x");
    for (const char* broken : {"", "      \r\n", "<DATE>d</DATE", "<DATE>d</TIME>", "text", "<IP>1</IP><APPLICATIONEND>x</APPLICATIONEND>"})
        EXPECT_FALSE(protocol::ParseLogLine(broken)) << broken;
}

// The reason comes last: a record of an older engine has none and reads as
// before; a newer one reads with it, and an unknown field after it is kept.
TEST(LogFiles, ReasonIsAnOptionalLastField)
{
    const std::string head = protocol::ConnectionRecordHead("/usr/bin/curl", "curl");
    protocol::ConnectionRecord record {&head, 1, 1, "10.0.0.2", 40000, 443, 1, false, "example.org"};
    protocol::RecordText older;
    protocol::FormatConnectionBody(record, older);
    record.reason = protocol::log_reason::kRule;
    protocol::RecordText newer;
    protocol::FormatConnectionBody(record, newer);
    EXPECT_EQ(std::string(newer.View()), std::string(older.View()) + "<REASON>rule</REASON>");
    const auto old = protocol::ParseLogLine("<DATE>d</DATE><TIME>t</TIME>" + std::string(older.View()));
    const auto now = protocol::ParseLogLine("<DATE>d</DATE><TIME>t</TIME>" + std::string(newer.View()) + "<NEXT>x</NEXT>");
    ASSERT_TRUE(old && now);
    EXPECT_EQ(old->reason, "");
    EXPECT_EQ(now->reason, "rule");
    for (const auto* entry : {&*old, &*now}) {
        EXPECT_EQ(entry->host, "example.org");
        EXPECT_EQ(entry->remotePort, "443");
        EXPECT_EQ(entry->permission, "1");
    }
    ASSERT_EQ(now->others.size(), 1u);
    EXPECT_EQ(now->others[0].first, "NEXT");
}

// Resolving every desktop entry's program walks PATH: the resolved entries
// are kept in the runtime folder and made anew when the folders change.
TEST(FileInfo, EntriesAreKeptUntilTheirFoldersChange)
{
    Sandbox sandbox;
    const std::string bin = sandbox.root + "/bin";
    ::mkdir(bin.c_str(), 0755);
    WriteText(bin + "/tool", "#!/bin/sh\n");
    ::chmod((bin + "/tool").c_str(), 0755);
    const std::string apps = sandbox.root + "/data/applications";
    ::mkdir(apps.c_str(), 0755);
    WriteText(apps + "/tool.desktop", "[Desktop Entry]\nName=First Name\nExec=" + bin + "/tool\n");
    EXPECT_EQ(file_info::LookupExecutable(bin + "/tool").description, "First Name");
    struct stat st {};
    ASSERT_EQ(::stat((sandbox.runtime + "/desktop-index").c_str(), &st), 0);
    // Another program's lookup reads the kept entries: a planted change of
    // the index itself shows it is what answers.
    std::string index = testing_support::ReadText(sandbox.runtime + "/desktop-index");
    index.replace(index.find("First Name"), 10, "Kept Name ");
    WriteText(sandbox.runtime + "/desktop-index", index);
    EXPECT_EQ(file_info::LookupExecutable(bin + "/tool").description, "Kept Name ");
    // An entry replaced the way packages do (a new file renamed into place) is seen.
    ASSERT_TRUE(WriteFileAtomically(apps + "/tool.desktop", "[Desktop Entry]\nName=New Name\nExec=" + bin + "/tool\n"));
    EXPECT_EQ(file_info::LookupExecutable(bin + "/tool").description, "New Name");
}

// Names and paths the rules file cannot carry as they are come back whole
// from their escaped form; everything a panel wrote before stays as it is.
TEST(RulesFormat, NamesAndPathsAreEscapedOnlyWhereTheFileNeedsIt)
{
    namespace rf = rules::rules_format;
    const struct {
        const char* fileName;
        const char* programName;
    } names[] = {
        {"notepad.exe", "NOTEPAD.EXE"}, {"100%", "100%"},     {"café", "CAFé"},         {"any", "./ANY"},
        {"Any", "./ANY"},               {"ANY", "./ANY"},     {"anyone", "ANYONE"},     {"caf\xe9", "./CAF%E9"},
        {"tab\there", "./TAB%09HERE"},  {"a%\x01", "./A%25%01"}, {"x\xef\xbf\xbe", "./X%EF%BF%BE"},
        {"\xed\xa0\x80", "./%ED%A0%80"}, {"cut\xc3", "./CUT%C3"},
    };
    for (const auto& name : names) {
        EXPECT_EQ(rf::ProgramName(name.fileName), name.programName) << name.fileName;
        EXPECT_EQ(rf::FileNameOfProgram(name.programName), text::ToUpper(name.fileName)) << name.fileName;
        EXPECT_TRUE(rf::EntryApplies(name.programName, rf::ProgramName(name.fileName))) << name.fileName;
    }
    EXPECT_EQ(rf::FileNameOfProgram("100%41"), "100%41"); // only an escaped name is decoded
    // The system settings apply to every program; a raw name written before
    // to its program; nothing else to another one.
    EXPECT_TRUE(rf::EntryApplies("ANY", "./ANY"));
    EXPECT_TRUE(rf::EntryApplies("CAF\xE9", "./CAF%E9"));
    EXPECT_FALSE(rf::EntryApplies("./ANY", "ANYONE"));
    EXPECT_FALSE(rf::EntryApplies("CAF", "./CAF%E9"));
    EXPECT_FALSE(rf::EntryApplies("./CAF%E9", "CAF\xE9"));

    for (const char* path : {"/usr/bin/firefox-esr", "/opt/caf\xe9/tool", "/opt/50%/line\nbreak", "file:///usr/bin/x",
                             "/usr/bin/café"}) {
        const std::string text = rf::PathText(path);
        EXPECT_EQ(rf::PathOfText(text), path) << path;
        EXPECT_EQ(rf::XmlSafeText(text), text) << path;
    }
    EXPECT_EQ(rf::PathText("/usr/bin/café"), "/usr/bin/café");
    EXPECT_EQ(rf::PathText("/opt/caf\xe9/tool"), "file:///opt/caf%E9/tool");
    EXPECT_EQ(rf::XmlSafeText("Caf\xe9 \x01Tool\tand\nmore"), "Caf\xEF\xBF\xBD \xEF\xBF\xBDTool\tand\nmore");
    // An address with a control character never becomes one the engine reads.
    EXPECT_EQ(rf::XmlSafeText("10.0.0.1\x02"), "10.0.0.1\xEF\xBF\xBD");
}

// The elements' limit counts what a document parser would build, in pieces
// of any size: start tags, comments and declarations, attributes; end tags
// and text count nothing.
TEST(RulesFile, ElementsAreCountedInPiecesOfAnySize)
{
    const std::pair<const char*, size_t> cases[] = {
        {"text only ", 0},
        {"<a/>", 1},
        {"<a></a>", 1},
        {"<a b=\"1\" c='2'>x</a>", 3},
        {"<?xml version=\"1.0\"?><!-- c --><A><B/>t</A>", 5},
        {"<<</", 2},
        {"a=b", 1},
    };
    for (const auto& [text, elements] : cases) {
        std::string repeated; // across the reader's blocks of 16 bytes
        for (int i = 0; i < 100; ++i)
            repeated += text;
        for (const size_t piece : {1, 2, 15, 17, 64 << 10}) {
            rules_file::Markup markup;
            for (size_t at = 0; at < repeated.size(); at += piece)
                markup.Add(std::string_view(repeated).substr(at, piece));
            EXPECT_EQ(markup.Elements(), elements * 100) << text << " in pieces of " << piece;
        }
    }
}

// Only nothing at all at the path is a missing rules file; every other
// failure to read it whole is told with its reason and changes nothing.
TEST(RulesFile, FailuresToReadAreToldApartFromAMissingFile)
{
    Sandbox sandbox;
    const std::string document = testing_support::RulesDocument("<APPLICATION><EXENAME>A</EXENAME></APPLICATION>");
    for (const auto& failure : testing_support::kReadFailures) {
        SCOPED_TRACE(failure.name);
        testing_support::MakeUnreadable(sandbox.rulesFile, failure.kind, document);
        const std::string before = testing_support::PathState(sandbox.rulesFile);
        rules_file::Contents contents;
        {
            testing_support::FilePermissionsHold unprivileged;
            contents = rules_file::Read(sandbox.rulesFile);
            EXPECT_EQ(rules_file::PlaceForDefault(sandbox.rulesFile), "");
        }
        EXPECT_FALSE(contents.status.Read());
        EXPECT_FALSE(contents.status.Missing());
        EXPECT_NE(contents.status.Reason().find(failure.reason), std::string::npos) << contents.status.Reason();
        EXPECT_TRUE(contents.text.empty());
        EXPECT_EQ(testing_support::PathState(sandbox.rulesFile), before);
    }
    // A folder on the way that is a link to nothing is not a missing file either.
    ::unlink(sandbox.rulesFile.c_str());
    const std::string linkedFolder = sandbox.root + "/korvel";
    ASSERT_EQ(::symlink((sandbox.root + "/unmounted").c_str(), linkedFolder.c_str()), 0);
    EXPECT_EQ(rules_file::Read(linkedFolder + "/Rules.xml").status.problem, rules_file::Problem::kDanglingLink);
    EXPECT_EQ(rules_file::PlaceForDefault(linkedFolder + "/Rules.xml"), "");
    EXPECT_EQ(rules_file::Read(sandbox.root).status.problem, rules_file::Problem::kNotRegular);
    // Missing: the default may go there. An empty file: it may go into it,
    // through a link too, which stays.
    EXPECT_TRUE(rules_file::Read(sandbox.rulesFile).status.Missing());
    EXPECT_TRUE(rules_file::Read(sandbox.root + "/no-folder/Rules.xml").status.Missing());
    EXPECT_EQ(rules_file::PlaceForDefault(sandbox.rulesFile), sandbox.rulesFile);
    WriteText(sandbox.root + "/empty.xml", "");
    ASSERT_EQ(::symlink((sandbox.root + "/empty.xml").c_str(), sandbox.rulesFile.c_str()), 0);
    EXPECT_EQ(rules_file::PlaceForDefault(sandbox.rulesFile), sandbox.root + "/empty.xml");
    // A file at the limit is read whole.
    ::unlink(sandbox.rulesFile.c_str());
    std::string full = document;
    full.insert(full.size() - 15, rules_format::kMaxRulesFileBytes - document.size(), ' ');
    WriteText(sandbox.rulesFile, full);
    const rules_file::Contents whole = rules_file::Read(sandbox.rulesFile);
    EXPECT_TRUE(whole.status.Read());
    EXPECT_EQ(whole.text.size(), rules_format::kMaxRulesFileBytes);
    EXPECT_TRUE(whole.text == full);
}

// The content check's digest: the standard's test vectors, pieces of any
// size, and a file read whole (never a FIFO, which would wait).
TEST(FileDigest, Sha256OfTextsAndFiles)
{
    struct Case {
        std::string data;
        const char* digest;
    };
    const std::string million(1000000, 'a');
    for (const Case& c : {Case {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
                          Case {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
                          Case {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                                "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
                          Case {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}}) {
        EXPECT_EQ(os::DigestText(c.data), std::string("sha256:") + c.digest) << c.data.size();
        // Fed in pieces of 1, 63, 64 and 65 bytes: the same digest.
        for (const size_t piece : {size_t {1}, size_t {63}, size_t {64}, size_t {65}}) {
            if (c.data.size() > 100000 && piece < 63)
                continue;
            os::Sha256 hash;
            for (size_t at = 0; at < c.data.size(); at += piece)
                hash.Add(c.data.data() + at, std::min(piece, c.data.size() - at));
            EXPECT_EQ(os::DigestText(hash.Finish()), std::string("sha256:") + c.digest) << piece;
        }
    }
    testing_support::Sandbox sandbox;
    const std::string file = sandbox.root + "/program";
    testing_support::WriteText(file, million);
    EXPECT_EQ(os::FileDigestText(file), os::DigestText(million));
    const std::string fifo = sandbox.root + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(os::FileDigestText(fifo), "");
    EXPECT_EQ(os::FileDigestText(sandbox.root + "/none"), "");
}
