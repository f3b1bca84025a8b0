// What the kernel backstop's root service reads of a user's settings: as
// the user, never more than the user may read, bounded, and never waiting.
#include "backstop/UserSettings.h"

#include "backstop/RulesCompiler.h"

#include "tests/Sandbox.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::Sandbox;

using namespace backstop;

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

template <typename Item>
bool SameItems(const std::vector<Item>& a, const std::vector<Item>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Item)) == 0;
}

bool SameRules(const CompiledRules& a, const CompiledRules& b)
{
    return SameItems(a.programs, b.programs) && SameItems(a.lists, b.lists) && SameItems(a.intervals, b.intervals)
        && SameItems(a.intervals6, b.intervals6);
}

std::string Repeated(std::string_view text, size_t count)
{
    std::string repeated;
    repeated.reserve(text.size() * count);
    for (size_t i = 0; i < count; ++i)
        repeated += text;
    return repeated;
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
    // Compiled by the reader, as the compiler compiles it here.
    std::string error;
    const auto compiled = RulesCompiler::Compile(document, error);
    ASSERT_TRUE(compiled) << error;
    EXPECT_TRUE(SameRules(look.compiled, *compiled));
    EXPECT_EQ(look.textHash, std::hash<std::string_view> {}(document));
    EXPECT_NE(look.keyFolder.find("/QRB"), std::string::npos) << look.keyFolder;

    // The same file again: not read again.
    const UserSettings::Look again = settings.Read(look.stamp, look.rulesPath);
    EXPECT_EQ(again.rules, UserSettings::Rules::kUnchanged);
    EXPECT_TRUE(again.compiled.programs.empty());

    // Block All off; the rules file gone.
    sandbox.SetSetting("SecurityStatus", "1");
    GiveTo(sandbox.root, kUser);
    ::unlink(sandbox.rulesFile.c_str());
    const UserSettings::Look gone = settings.Read(look.stamp, look.rulesPath);
    ASSERT_TRUE(gone.done) << gone.why;
    EXPECT_FALSE(gone.blockAll);
    EXPECT_EQ(gone.rules, UserSettings::Rules::kMissing);

    // What the user may not read, or must not be waited on, or is too large,
    // or would make a reader build more than the bounds: not used, and said
    // why. What the file makes a reader build stays in the reader: the
    // service's memory does not grow.
    const std::string secret = sandbox.root + "/secret.xml";
    testing_support::WriteText(secret, document);
    ::chmod(secret.c_str(), 0600); // root's
    const auto write = [&](const std::string& text) {
        testing_support::WriteText(sandbox.rulesFile, text);
        ::chown(sandbox.rulesFile.c_str(), kUser, kUser);
    };
    constexpr auto kUnreadable = UserSettings::Rules::kUnreadable, kRefused = UserSettings::Rules::kRefused;
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* why;
        UserSettings::Rules rules;
        // The readers' peak so far (each case's is higher than the last's)
        // stays under this; 0: not measured.
        long readersPeakMb = 0;
    };
    const Case cases[] = {
        {"a link to a file only root may read", [&] { ::symlink(secret.c_str(), sandbox.rulesFile.c_str()); },
         "Permission denied", kUnreadable},
        {"a FIFO", [&] { ::mkfifo(sandbox.rulesFile.c_str(), 0666); }, "not a regular file", kUnreadable},
        {"a file over every reader's limit", [&] {
             write("<");
             ::truncate(sandbox.rulesFile.c_str(), UserSettings::kMaxRulesBytes + 1);
         },
         "larger than the limit", kUnreadable},
        // Not a missing file: the rules in force stay.
        {"a link to a drive not mounted", [&] {
             ::symlink((sandbox.root + "/unmounted/Rules.xml").c_str(), sandbox.rulesFile.c_str());
         },
         "target is missing", kUnreadable},
        {"a file that does not parse", [&] { write("<APPLICATIONS><APPLICATION>"); }, "does not parse", kRefused},
        {"8 MB of empty elements", [&] { write(testing_support::RulesDocument(Repeated("<a/>", 2 << 20))); },
         "more than the limit of 250000 elements", kRefused, 64},
        {"a file within the limits whose reading needs more memory than the reader has", [&] {
             write(testing_support::RulesDocument(
                 Repeated("<APPLICATION><DESCRIPTION>" + std::string(200, 'x') + "</DESCRIPTION></APPLICATION>", 124000)));
         },
         "needs more than 128 MB of memory", kRefused, 128 + 64},
    };
    for (const Case& c : cases) {
        ::unlink(sandbox.rulesFile.c_str());
        c.make();
        const bool peakKnown = testing_support::ResetPeakMemory();
        const long before = testing_support::PeakMemoryKb();
        // CPU time, the reader's child included: the bound is on the work,
        // not on how busy the machine is.
        const auto cpu = [] {
            std::chrono::microseconds total {0};
            for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
                rusage usage {};
                ::getrusage(who, &usage);
                for (const timeval& t : {usage.ru_utime, usage.ru_stime})
                    total += std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
            }
            return total;
        };
        const auto start = cpu();
        const UserSettings::Look refused = settings.Read({}, "");
        EXPECT_LT(cpu() - start, std::chrono::seconds(3)) << c.what;
        if (peakKnown) {
            EXPECT_LT(testing_support::PeakMemoryKb() - before, 4096) << c.what;
        }
        ASSERT_TRUE(refused.done) << c.what << ": " << refused.why;
        EXPECT_EQ(refused.rules, c.rules) << c.what;
        EXPECT_TRUE(refused.compiled.programs.empty()) << c.what;
        EXPECT_NE(refused.why.find(c.why), std::string::npos) << c.what << ": " << refused.why;
        if (c.rules == kRefused) { // not read again until it changes
            EXPECT_EQ(settings.Read(refused.stamp, refused.rulesPath).rules, UserSettings::Rules::kUnchanged) << c.what;
        }
        if (c.readersPeakMb > 0) {
            rusage readers {};
            ::getrusage(RUSAGE_CHILDREN, &readers);
            EXPECT_LT(readers.ru_maxrss, c.readersPeakMb << 10) << c.what << " (kB)";
        }
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

// What zel-rules --services writes is what the services' backstop reads:
// each change seen as a new file, compiled from the text written.
TEST(BackstopUserSettings, TheServicesReaderTakesEachChangeZelRulesMakes)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the machine's rules are root's";
    Sandbox sandbox;
    const std::string file = sandbox.root + "/korvel/Rules.xml";
    const auto rules = [&](const std::string& change) {
        return std::system((ZEL_RULES " --services --rules '" + file + "' " + change + " >/dev/null").c_str());
    };
    const UserSettings machine = UserSettings::Machine(file);
    ASSERT_EQ(rules("block ANY --out"), 0);
    const UserSettings::Look first = machine.Read({}, "");
    ASSERT_TRUE(first.done) << first.why;
    ASSERT_EQ(first.rules, UserSettings::Rules::kRead) << first.why;
    EXPECT_EQ(first.textHash, std::hash<std::string_view> {}(testing_support::ReadText(file)));

    ASSERT_EQ(rules("allow ANY --out"), 0);
    const UserSettings::Look second = machine.Read(first.stamp, first.rulesPath);
    ASSERT_EQ(second.rules, UserSettings::Rules::kRead) << second.why;
    EXPECT_EQ(second.textHash, std::hash<std::string_view> {}(testing_support::ReadText(file)));
    EXPECT_NE(second.textHash, first.textHash);
    EXPECT_FALSE(SameRules(first.compiled, second.compiled));
}
