// What the kernel backstop's root service reads of a user's settings: as
// the user, never more than the user may read, bounded, and never waiting.
#include "UserSettings.h"

#include "Sandbox.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::Sandbox;

namespace {

// A user with no account, as the system tests' users are.
constexpr uid_t kUser = 64989;

// The sandbox made the user's own, as their settings store and rules are.
void GiveTo(const std::string& root, uid_t uid)
{
    ::chmod(root.c_str(), 0755);
    ::chown(root.c_str(), uid, uid);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        ::lchown(entry.path().c_str(), uid, uid);
}

}  // namespace

TEST(BackstopUserSettings, ReadsAsTheUserWhatTheUserMayReadAndNoMore)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "taking a user's identity needs root";
    Sandbox sandbox;
    const std::string document = "<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME></APPLICATION></APPLICATIONS>\n";
    sandbox.WriteRules(document);
    sandbox.SetSetting("SecurityStatus", "0");
    GiveTo(sandbox.root, kUser);
    ::chmod(sandbox.rulesFile.c_str(), 0600); // the user's alone: read as the user, or not at all

    const UserSettings settings(kUser, sandbox.registry);
    const UserSettings::Look look = settings.Read({}, "");
    ASSERT_TRUE(look.done) << look.why;
    EXPECT_TRUE(look.blockAll);
    EXPECT_EQ(look.rulesPath, sandbox.rulesFile);
    EXPECT_EQ(look.rules, UserSettings::Rules::kRead);
    EXPECT_EQ(look.text, document);
    EXPECT_NE(look.keyFolder.find("/QRB"), std::string::npos) << look.keyFolder;

    // The same file again: not read again.
    const UserSettings::Look again = settings.Read(look.stamp, look.rulesPath);
    EXPECT_EQ(again.rules, UserSettings::Rules::kUnchanged);
    EXPECT_TRUE(again.text.empty());

    // Block All off; the rules file gone.
    sandbox.SetSetting("SecurityStatus", "1");
    GiveTo(sandbox.root, kUser);
    ::unlink(sandbox.rulesFile.c_str());
    const UserSettings::Look gone = settings.Read(look.stamp, look.rulesPath);
    ASSERT_TRUE(gone.done) << gone.why;
    EXPECT_FALSE(gone.blockAll);
    EXPECT_EQ(gone.rules, UserSettings::Rules::kMissing);

    // What the user may not read, or must not be waited on, or is too large:
    // not read, and said why.
    const std::string secret = sandbox.root + "/secret.xml";
    testing_support::WriteText(secret, document);
    ::chmod(secret.c_str(), 0600); // root's
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* why;
    };
    const Case cases[] = {
        {"a link to a file only root may read", [&] { ::symlink(secret.c_str(), sandbox.rulesFile.c_str()); },
         "Permission denied"},
        {"a FIFO", [&] { ::mkfifo(sandbox.rulesFile.c_str(), 0666); }, "not a regular file"},
        {"a file over every reader's limit", [&] {
             testing_support::WriteText(sandbox.rulesFile, "<");
             ::truncate(sandbox.rulesFile.c_str(), UserSettings::kMaxRulesBytes + 1);
             ::chown(sandbox.rulesFile.c_str(), kUser, kUser);
         },
         "larger than the limit"},
        // Not a missing file: the rules in force stay.
        {"a link to a drive not mounted", [&] {
             ::symlink((sandbox.root + "/unmounted/Rules.xml").c_str(), sandbox.rulesFile.c_str());
         },
         "target is missing"},
    };
    for (const Case& c : cases) {
        ::unlink(sandbox.rulesFile.c_str());
        c.make();
        const auto start = std::chrono::steady_clock::now();
        const UserSettings::Look refused = settings.Read({}, "");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.what;
        ASSERT_TRUE(refused.done) << c.what << ": " << refused.why;
        EXPECT_EQ(refused.rules, UserSettings::Rules::kUnreadable) << c.what;
        EXPECT_TRUE(refused.text.empty()) << c.what;
        EXPECT_NE(refused.why.find(c.why), std::string::npos) << c.what << ": " << refused.why;
    }
}

TEST(BackstopUserSettings, ASettingsStoreTheUserCannotReadIsNotRead)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "taking a user's identity needs root";
    Sandbox sandbox; // root's, mode 0700: the user cannot enter it
    const UserSettings::Look look = UserSettings(kUser, sandbox.registry).Read({}, "");
    EXPECT_FALSE(look.done);
    EXPECT_NE(look.why.find("cannot be read"), std::string::npos) << look.why;
}
