#include "panel/core/BackstopNotice.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/LogCleanup.h"
#include "panel/core/PanelConstants.h"
#include "panel/core/PanelCore.h"
#include "panel/core/PanelSettings.h"
#include "panel/core/SettingValues.h"
#include "panel/core/SingleInstance.h"

#include "protocol/LogFiles.h"
#include "protocol/PanelMessages.h"
#include "protocol/Registry.h"
#include "protocol/Windows.h"
#include "rules/RulesFormat.h"
#include "session/Autostart.h"
#include "tests/Sandbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

using panel::RootKey;
using protocol::registry::kSettingsKey;
using testing_support::ReadText;
using testing_support::Sandbox;
using testing_support::WriteText;

namespace {

constexpr std::time_t kDay = 24 * 3600;

// A sandbox whose error log is open in a folder of its own.
class PanelSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        errors = sandbox.root + "/errors";
        ::mkdir(errors.c_str(), 0700);
        sandbox.SetSetting("ErrLogs", errors);
    }
    void TearDown() override
    {
        panel::TheErrorLog().Close();
        panel::TheErrorLog().SetDebugPrint(false);
        panel::TheErrorLog().SetMessageBox(nullptr);
    }
    std::string ErrorLogText() const { return ReadText(protocol::ErrorLogFileName(errors, std::time(nullptr))); }
    std::string Setting(const char* name) const
    {
        return protocol::registry::GetString(RootKey::LocalMachine, kSettingsKey, name);
    }

    Sandbox sandbox;
    std::string errors;
};

void Touch(const std::string& path, std::time_t modified)
{
    WriteText(path, "x");
    const utimbuf times {modified, modified};
    ::utime(path.c_str(), &times);
}

}  // namespace

TEST_F(PanelSettings, FailingWriteWithDebugPrintIsShownAndLoggedAfterDateAndTime)
{
    ASSERT_TRUE(panel::TheErrorLog().Open(errors, std::time(nullptr)));
    std::vector<std::string> shown;
    panel::TheErrorLog().SetMessageBox([&](const std::string& text) { shown.push_back(text); });
    panel::TheErrorLog().SetDebugPrint(true);
    // A file where the key's folder should be: the write cannot be made.
    WriteText(sandbox.registry + "/HKEY_LOCAL_MACHINE/Software/Blocked", "");
    EXPECT_FALSE(panel::SaveString(RootKey::LocalMachine, "Software\\Blocked\\Key", "Value", "1"));

    const std::string text = "GeneralMdl : SaveString : cannot write \"Value\": Not a directory";
    ASSERT_EQ(shown, std::vector<std::string> {text});
    const std::string line = ErrorLogText();
    ASSERT_GT(line.size(), text.size() + 2);
    EXPECT_EQ(line.substr(line.size() - text.size() - 2), text + "\r\n");
    // "date:time " before it, and nothing else on the line.
    const std::string stamp = line.substr(0, line.size() - text.size() - 2);
    EXPECT_NE(stamp.find(':'), std::string::npos);
    EXPECT_EQ(stamp.back(), ' ');
    EXPECT_EQ(line.find('\n'), line.size() - 1);

    // Without DebugPrint nothing is shown.
    panel::TheErrorLog().SetDebugPrint(false);
    panel::SaveString(RootKey::LocalMachine, "Software\\Blocked\\Key", "Value", "1");
    EXPECT_EQ(shown.size(), 1u);
}

TEST_F(PanelSettings, ErrorsBeforeTheLogIsOpenAreWrittenWhenItIs)
{
    panel::WriteErrLog("MainForm : Form_Load", "said before the log was open");
    ASSERT_TRUE(panel::TheErrorLog().Open(errors, std::time(nullptr)));
    panel::WriteErrLog("MainForm : Form_Load", "said after");
    const std::string text = ErrorLogText();
    const size_t before = text.find("said before the log was open");
    ASSERT_NE(before, std::string::npos);
    EXPECT_LT(before, text.find("said after"));
    struct stat st {};
    ASSERT_EQ(::stat(panel::TheErrorLog().Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u); // errors can hold paths of the user's files
}

TEST_F(PanelSettings, SettingsAreReadUnderTheirExactNamesAndPathsAsTheEngineTakesThem)
{
    sandbox.SetSetting("UpdFullMode", "1");
    sandbox.SetSetting("UdpFullMode", "0");
    sandbox.SetSetting("RulesFile", "  rules/Rules.xml\n");
    sandbox.SetSetting("VRNFolder", "/opt/korvel");
    sandbox.SetSetting("SecurityStatus", "0");
    sandbox.SetSetting("FirstClose", "1");
    sandbox.SetSetting("DebugPrint", "0");
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", sandbox.root.c_str(), 1);
    struct Case {
        const char* text;
        bool expected;
    } booleans[] = {{"True", true}, {"false", false}, {"1", true}, {"0", false}, {" TRUE ", true}, {"maybe", false}};
    for (const Case& c : booleans) {
        sandbox.SetSetting("ApplySettings", c.text);
        panel::PanelSettings settings;
        panel::GetFilesFromReg(settings);
        EXPECT_EQ(settings.ApplySettingsMode, c.expected) << c.text;
        EXPECT_EQ(settings.UdpMode, "1");
        EXPECT_EQ(settings.XmlFilePath, sandbox.root + "/rules/Rules.xml");
        EXPECT_EQ(settings.VRNFolder, "/opt/korvel/");
        EXPECT_EQ(settings.LoadAtStartup, "/usr/local/bin/zel");
        EXPECT_EQ(settings.SecurityStatus, "0");
    }
    ::setenv("HOME", home.c_str(), 1);
    ASSERT_TRUE(panel::TheErrorLog().Open(errors, std::time(nullptr)));
    EXPECT_NE(ErrorLogText().find("GeneralMdl : GetFilesFromReg : ApplySettings \"maybe\""), std::string::npos);
}

TEST_F(PanelSettings, BlockAllIsPressedOnlyForAStatusOfZero)
{
    struct Case {
        const char* status;
        std::optional<bool> pressed;
    } cases[] = {{"0", true}, {" 0", true}, {"00", true}, {"1", false}, {"2", false}, {"-1", false},
                 {"", std::nullopt}, {"off", std::nullopt}, {"0x", std::nullopt}};
    for (const Case& c : cases)
        EXPECT_EQ(panel::BlockAllPressed(c.status), c.pressed) << '"' << c.status << '"';
    ASSERT_TRUE(panel::TheErrorLog().Open(errors, std::time(nullptr)));
    EXPECT_NE(ErrorLogText().find("GeneralMdl : UpdateBlockAllButton : SecurityStatus \"off\" is not a number"),
              std::string::npos);
}

TEST_F(PanelSettings, StartUpReplacesAnEmptyRulesFileBeforeLoadingAndCleansOldLogs)
{
    sandbox.SetSetting("LogFileCount", "3");
    WriteText(sandbox.rulesFile, "");
    const std::time_t now = std::time(nullptr);
    const std::string oldLog = protocol::TrafficLogFileName(sandbox.logs, now - 3 * kDay);
    const std::string recentLog = protocol::TrafficLogFileName(sandbox.logs, now - 2 * kDay);
    const std::string oldError = protocol::ErrorLogFileName(errors, now - 5 * kDay);
    const std::string recentError = protocol::ErrorLogFileName(errors, now - 4 * kDay);
    Touch(oldLog, now - 3 * kDay);
    Touch(recentLog, now - 2 * kDay);
    Touch(oldError, now - 5 * kDay);
    Touch(recentError, now - 4 * kDay);
    Touch(sandbox.logs + "/notes.txt", now - 300 * kDay); // not a log: stays

    panel::PanelCore state;
    state.LoadSettings(now);
    EXPECT_EQ(ReadText(sandbox.rulesFile), rules::rules_format::kDefaultRulesDocument);
    state.LoadRules();
    ASSERT_EQ(state.Rules().Document().applications.size(), 1u);
    EXPECT_EQ(state.Rules().Document().applications[0].name, "ANY");
    EXPECT_TRUE(panel::TheErrorLog().IsOpen());
    EXPECT_EQ(panel::TheErrorLog().Path(), protocol::ErrorLogFileName(errors, now));

    EXPECT_NE(::access(oldLog.c_str(), F_OK), 0);
    EXPECT_EQ(::access(recentLog.c_str(), F_OK), 0);
    EXPECT_NE(::access(oldError.c_str(), F_OK), 0);
    EXPECT_EQ(::access(recentError.c_str(), F_OK), 0);
    EXPECT_EQ(::access((sandbox.logs + "/notes.txt").c_str(), F_OK), 0);
}

TEST(HelpPage, TheUsersLanguageIsFollowedWhereThereIsAPage)
{
    Sandbox sandbox;
    const std::string bin = sandbox.root + "/prefix/bin", help = sandbox.root + "/prefix/share/tessary/help";
    ASSERT_EQ(::system(("mkdir -p " + bin + " " + help + "/de").c_str()), 0);
    WriteText(help + "/user-guide.md", "en");
    WriteText(help + "/de/user-guide.md", "de");
    const std::pair<const char*, const char*> cases[] = {{"de_DE.UTF-8", "/help/de/user-guide.md"},
                                                         {"de_CH.UTF-8", "/help/de/user-guide.md"},
                                                         {"fr_FR.UTF-8", "/help/user-guide.md"},
                                                         {"C", "/help/user-guide.md"}};
    for (const auto& [locale, page] : cases) {
        ::setenv("LC_ALL", locale, 1);
        const std::string path = panel::HelpPagePath(bin);
        EXPECT_TRUE(path.ends_with(page)) << locale << ": " << path;
    }
    ::unsetenv("LC_ALL");
}

TEST(LogCleanup, OnlyTheFirewallsOwnDailyFilesOldEnoughGo)
{
    Sandbox sandbox;
    const std::time_t now = std::time(nullptr);
    const std::string folder = sandbox.logs;
    struct Case {
        std::string name;
        bool deleted;
    } cases[] = {
        {"1_1_2020_qrb.log", true},
        {"31_12_2019_qrb.log", true},
        {"01_1_2020_qrb.log", false}, // leading zero: not a name the engine writes
        {"32_1_2020_qrb.log", false},
        {"29_2_2021_qrb.log", false},
        {"1_1_2020_err.LOG", false},  // an error log in the traffic log folder
        {"1_1_2020_qrb.log.bak", false},
        {"photo.jpg", false},
    };
    for (const Case& c : cases)
        Touch(folder + "/" + c.name, now - 40 * kDay);
    ASSERT_EQ(::symlink((folder + "/photo.jpg").c_str(), (folder + "/2_1_2020_qrb.log").c_str()), 0);
    EXPECT_EQ(panel::DeleteOldLogFiles(folder, 0, now), 0); // less than a day keeps everything
    EXPECT_EQ(panel::DeleteOldLogFiles(folder, 41, now), 0);
    EXPECT_EQ(panel::DeleteOldLogFiles(folder, 40, now), 2);
    for (const Case& c : cases)
        EXPECT_EQ(::access((folder + "/" + c.name).c_str(), F_OK) != 0, c.deleted) << c.name;
    EXPECT_EQ(::access((folder + "/photo.jpg").c_str(), F_OK), 0); // a link is not followed
    EXPECT_EQ(panel::DeleteOldLogFiles(sandbox.root + "/missing", 1, now), 0);
}

TEST(LogCleanup, AgeCountsDayBoundariesNotHours)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const std::time_t midnight = 1796601600; // 2026-12-07 00:00 UTC
    EXPECT_EQ(panel::DayBoundariesBetween(midnight - 60, midnight + 60), 1);
    EXPECT_EQ(panel::DayBoundariesBetween(midnight + 60, midnight + kDay - 60), 0);
    EXPECT_EQ(panel::DayBoundariesBetween(midnight - kDay * 365, midnight), 365);
    ::unsetenv("TZ");
    ::tzset();
}

TEST_F(PanelSettings, StartsHiddenOnlyAfterARestartAndForgetsTheStamp)
{
    struct Case {
        const char* stored; // nullptr: no value
        uint32_t tick;
        bool hidden;
    } cases[] = {{"5000000", 1000, true}, {"1000", 5000000, false}, {nullptr, 1000, false}, {"soon", 1000, false},
                 {"4294967295", 4294967294u, true}};
    for (const Case& c : cases) {
        if (c.stored)
            sandbox.SetSetting("VRNTIMEEND", c.stored);
        panel::PanelCore state;
        EXPECT_EQ(state.StartHidden(c.tick), c.hidden) << (c.stored ? c.stored : "none");
        EXPECT_FALSE(protocol::registry::Query(RootKey::LocalMachine, kSettingsKey, "VRNTIMEEND"));
    }
    panel::PanelCore state;
    state.SetMode(panel::SecurityMode::kCustom);
    state.SaveOnExit(123456);
    EXPECT_EQ(Setting("VRNTIMEEND"), "123456");
    EXPECT_EQ(Setting("SecurityMode"), "Custom");
}

TEST(Autostart, ValueAndDesktopEntryComeAndGoTogether)
{
    Sandbox sandbox;
    ASSERT_TRUE(session::autostart::Disable());
    EXPECT_EQ(session::autostart::Program(), "");
    const std::string program = "/opt/my \"firewall\"/bin/zel";
    ASSERT_TRUE(session::autostart::Enable(program));
    EXPECT_EQ(session::autostart::Program(), program);
    const std::string entry = ReadText(session::autostart::EntryPath());
    EXPECT_NE(entry.find("\nExec=\"/opt/my \\\\\"firewall\\\\\"/bin/zel\"\n"), std::string::npos) << entry;
    ASSERT_TRUE(session::autostart::Disable());
    EXPECT_EQ(session::autostart::Program(), "");
    EXPECT_NE(::access(session::autostart::EntryPath().c_str(), F_OK), 0);
    EXPECT_FALSE(session::autostart::Enable("/bin/zel\nExec=/bin/sh"));
}

TEST(SingleInstance, SecondCopyFindsTheFirstAndReachesItsMessageBox)
{
    Sandbox sandbox;
    panel::SingleInstance first;
    ASSERT_TRUE(first.Acquire());
    panel::SingleInstance second;
    EXPECT_FALSE(second.Acquire());
    EXPECT_EQ(second.Problem(), "");

    // A window with the title but no message box is passed over.
    auto bare = protocol::windows::Window::Register(protocol::kMainWindowTitle, {"Other"});
    EXPECT_FALSE(panel::RestorePreviousInstance());
    auto window = protocol::windows::Window::Register(protocol::kMainWindowTitle, {protocol::kPictureBoxClass});
    ASSERT_TRUE(window);
    EXPECT_TRUE(panel::RestorePreviousInstance());
    const auto message = protocol::windows::ReceiveMessage(window->ChildSocket(0));
    ASSERT_TRUE(message);
    EXPECT_EQ(message->message, protocol::windows::WM_MOUSEMOVE);
    EXPECT_EQ(message->wParam, 0u);
    EXPECT_EQ(message->lParam, 0x00060000);
    EXPECT_FALSE(protocol::windows::ReceiveMessage(window->ChildSocket(0))); // once
}

// What the user reads of a program the backstop saw: what happened, to whom,
// and how to have it decided; nothing is made of data of another shape.
TEST(BackstopNotice, SaysWhatHappenedAndHowToRunTheProgramUnderTheFirewall)
{
    const auto denied = panel::ParseBackstopNotice("denied 10.0.0.7 443 /opt/tools/fetch");
    ASSERT_TRUE(denied);
    EXPECT_TRUE(denied->denied);
    EXPECT_EQ(denied->title, "A program was blocked");
    EXPECT_NE(denied->text.find("/opt/tools/fetch tried to connect to 10.0.0.7:443"), std::string::npos);
    EXPECT_NE(denied->text.find("zel-run /opt/tools/fetch"), std::string::npos);
    EXPECT_EQ(denied->summary, "Blocked, not under the firewall: /opt/tools/fetch to 10.0.0.7:443");
    const auto passed = panel::ParseBackstopNotice("passed fd00::2 53 dig");
    ASSERT_TRUE(passed);
    EXPECT_NE(passed->text.find("dig connected to [fd00::2]:53"), std::string::npos);
    EXPECT_NE(passed->text.find("no rule decided it"), std::string::npos);
    // A question: refused meanwhile, and what the answer is about.
    const auto asked = panel::ParseBackstopNotice("asked 10.0.0.8 8443 /opt/tools/fetch");
    ASSERT_TRUE(asked);
    EXPECT_TRUE(asked->asked);
    EXPECT_TRUE(asked->denied);
    EXPECT_EQ(asked->address, "10.0.0.8");
    EXPECT_EQ(asked->port, 8443u);
    EXPECT_EQ(asked->summary, "Asked, not under the firewall: /opt/tools/fetch to 10.0.0.8:8443");
    EXPECT_NE(asked->text.find("it was blocked. Allow or block it"), std::string::npos);
    EXPECT_FALSE(denied->asked);
    EXPECT_FALSE(asked->incoming);
    // What came in: the peer, and the program's own port, which its rules name.
    const auto askedIn = panel::ParseBackstopNotice("asked-in 10.0.0.9 8080 /srv/server");
    ASSERT_TRUE(askedIn);
    EXPECT_TRUE(askedIn->asked && askedIn->denied && askedIn->incoming);
    EXPECT_EQ(askedIn->address, "10.0.0.9");
    EXPECT_EQ(askedIn->port, 8080u);
    EXPECT_EQ(askedIn->summary, "Asked, not under the firewall: 10.0.0.9 to /srv/server on port 8080");
    EXPECT_NE(askedIn->text.find("10.0.0.9 tried to connect to /srv/server on its port 8080"), std::string::npos);
    const auto deniedIn = panel::ParseBackstopNotice("denied-in fd00::3 53 /srv/dns");
    ASSERT_TRUE(deniedIn);
    EXPECT_TRUE(deniedIn->denied && deniedIn->incoming && !deniedIn->asked);
    EXPECT_EQ(deniedIn->title, "A connection to a program was blocked");
    EXPECT_EQ(deniedIn->summary, "Blocked, not under the firewall: fd00::3 to /srv/dns on port 53");
    EXPECT_NE(deniedIn->text.find("zel-run /srv/dns"), std::string::npos);
    EXPECT_FALSE(panel::ParseBackstopNotice("passed-in 10.0.0.9 22 sshd")->denied);
    for (const char* data : {"", "allowed 10.0.0.7 443 x", "denied 10.0.0.7 http x", "denied 10.0.0.7 443",
                             "denied <b>x</b> 443 y", "denied 10.0.0.7 4430000 y", "asked-out 10.0.0.7 443 x",
                             "-in 10.0.0.7 443 x", "denied-in-in 10.0.0.7 443 x", "asked-in 10.0.0.7 99999 x"})
        EXPECT_FALSE(panel::ParseBackstopNotice(data)) << data;
}

// Saves killed midway leave ".tmp.Rules.xml.XXXXXX" beside the rules file:
// the start removes those (also beside the file a link leads to), and
// nothing else: not another file's, not a link named so, not a folder.
TEST_F(PanelSettings, StartUpRemovesWhatKilledSavesLeftAndNothingElse)
{
    const std::string drive = sandbox.root + "/drive";
    ::mkdir(drive.c_str(), 0700);
    WriteText(drive + "/Rules.xml", rules::rules_format::kDefaultRulesDocument);
    ASSERT_EQ(::symlink((drive + "/Rules.xml").c_str(), sandbox.rulesFile.c_str()), 0);
    WriteText(sandbox.root + "/precious", "keep me");
    const struct {
        std::string path;
        bool removed;
    } cases[] = {
        {sandbox.root + "/.tmp.Rules.xml.a1B2c3", true},
        {drive + "/.tmp.Rules.xml.Zz9Yy8", true},
        {sandbox.root + "/.tmp.Rules.xml.short", false},
        {sandbox.root + "/.tmp.Rules.xml.a1B2c3d", false},
        {sandbox.root + "/.tmp.Rules.xml.a-B2c3", false},
        {sandbox.root + "/.tmp.Other.xml.a1B2c3", false},
        {sandbox.root + "/Rules.xml.a1B2c3", false},
        {sandbox.root + "/.tmp.Rules.xml.LINK00", false}, // a link: neither it nor its target goes
        {sandbox.root + "/.tmp.Rules.xml.DIR000", false}, // a folder
    };
    for (const auto& c : cases) {
        if (c.path.ends_with("LINK00"))
            ASSERT_EQ(::symlink((sandbox.root + "/precious").c_str(), c.path.c_str()), 0);
        else if (c.path.ends_with("DIR000"))
            ASSERT_EQ(::mkdir(c.path.c_str(), 0700), 0);
        else
            WriteText(c.path, "<APPLICATIONS><APPLI");
    }
    panel::PanelCore state;
    state.LoadSettings(std::time(nullptr));
    for (const auto& c : cases) {
        struct stat st {};
        EXPECT_EQ(::lstat(c.path.c_str(), &st) != 0, c.removed) << c.path;
    }
    EXPECT_EQ(ReadText(sandbox.root + "/precious"), "keep me");
    EXPECT_EQ(ReadText(sandbox.rulesFile), rules::rules_format::kDefaultRulesDocument);
    EXPECT_NE(ErrorLogText().find("removed 1 unfinished copies of the rules file beside " + sandbox.rulesFile),
              std::string::npos);
}
