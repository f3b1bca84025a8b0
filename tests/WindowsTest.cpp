#include "os/Processes.h"
#include "protocol/PanelMessages.h"
#include "protocol/Presence.h"
#include "protocol/Windows.h"
#include "tests/Sandbox.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace os;
using namespace protocol;
using namespace protocol::windows;

TEST(Windows, PostedMessageReachesTheChildOfTheTitledWindow)
{
    testing_support::Sandbox sandbox;
    auto window = Window::Register(kMainWindowTitle, {"ToolbarWndClass", kPictureBoxClass});
    ASSERT_TRUE(window);
    const std::string found = FindWindow(kMainWindowTitle);
    EXPECT_EQ(found, window->Handle());
    EXPECT_EQ(FindWindow("Tessary - Korvel Personal FireWall"), ""); // the title has its leading blank
    const std::string box = FindChildWindow(found, kPictureBoxClass);
    EXPECT_EQ(box, window->ChildHandle(1));
    EXPECT_EQ(FindChildWindow(found, kPictureBoxClassOld), "");

    EXPECT_FALSE(ReceiveMessage(window->ChildSocket(1)).has_value());
    ASSERT_TRUE(PostMessage(box, WM_MOUSEMOVE, 0, MakeCodedParam(kCodeOutgoingPermitted, 1234)));
    const auto message = ReceiveMessage(window->ChildSocket(1));
    ASSERT_TRUE(message);
    EXPECT_EQ(message->message, WM_MOUSEMOVE);
    EXPECT_EQ(message->lParam, 1234 + 4 * 65536);
    EXPECT_FALSE(ReceiveMessage(window->ChildSocket(0)).has_value());
}

// Data rides with a message up to its limit; datagrams of a size no sender
// of ours makes (a stray write, a cut message) are dropped, not misread.
TEST(Windows, MessagesCarryTheirDataAndOddDatagramsAreDropped)
{
    testing_support::Sandbox sandbox;
    auto window = Window::Register(kMainWindowTitle, {kPictureBoxClass});
    ASSERT_TRUE(window);
    const std::string box = window->ChildHandle(0);
    const std::string longest(kMaxMessageData, 'x');
    EXPECT_FALSE(PostMessage(box, WM_MOUSEMOVE, 0, 1, longest + "x"));
    ASSERT_TRUE(PostMessage(box, WM_MOUSEMOVE, 0, 2, "api.example.org"));
    ASSERT_TRUE(PostMessage(box, WM_MOUSEMOVE, 0, 3, longest));

    const int stray = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string path = box + ".sock";
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    const std::string tooLong(16 + kMaxMessageData + 1, 'y');
    for (const std::string& odd : {std::string("short"), tooLong})
        ASSERT_EQ(::sendto(stray, odd.data(), odd.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address),
                  static_cast<ssize_t>(odd.size()));
    ::close(stray);
    ASSERT_TRUE(PostMessage(box, WM_MOUSEMOVE, 0, 4));

    const auto named = ReceiveMessage(window->ChildSocket(0));
    ASSERT_TRUE(named);
    EXPECT_EQ(named->lParam, 2);
    EXPECT_EQ(named->data, "api.example.org");
    const auto full = ReceiveMessage(window->ChildSocket(0));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->data, longest);
    const auto plain = ReceiveMessage(window->ChildSocket(0));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->lParam, 4);
    EXPECT_EQ(plain->data, "");
    EXPECT_FALSE(ReceiveMessage(window->ChildSocket(0)));
}

TEST(Windows, CodedParametersKeepTheDocumentedLowWordsAndLargeProcessIds)
{
    EXPECT_EQ(MakeCodedParam(3, 40000), 3 * 65536 + 40000);
    EXPECT_EQ(ParamCode(MakeCodedParam(3, 40000)), 3);
    EXPECT_EQ(ParamArgument(MakeCodedParam(3, 40000)), 40000u);
    const int64_t big = MakeCodedParam(4, 4194000);
    EXPECT_EQ(ParamCode(big), 4);
    EXPECT_EQ(ParamArgument(big), 4194000u);
    EXPECT_EQ(big & 0xFFFF, 4194000 & 0xFFFF); // what a 16-bit reader sees
    EXPECT_EQ(MakeCodedParam(6, 0), 0x00060000);
}

TEST(Windows, WindowTextIsReplacedWhole)
{
    testing_support::Sandbox sandbox;
    auto window = Window::Register("title", {kPictureBoxClass});
    ASSERT_TRUE(window);
    const std::string box = window->ChildHandle(0);
    EXPECT_EQ(GetWindowText(box), std::optional<std::string>(""));
    ASSERT_TRUE(SetWindowText(box, " NOTEPAD.EXE"));
    ASSERT_TRUE(SetWindowText(box, " NOTEPAD.EXE IEXPLORE.EXE"));
    EXPECT_EQ(GetWindowText(FindChildWindow(FindWindow("title"), kPictureBoxClass)),
              std::optional<std::string>(" NOTEPAD.EXE IEXPLORE.EXE"));
}

TEST(Windows, WindowsOfEndedOwnersAreSkippedAndMissingOnesDropMessages)
{
    testing_support::Sandbox sandbox;
    // A child process registers a window and dies without cleaning up.
    const pid_t child = ::fork();
    if (child == 0) {
        auto window = Window::Register("shared title", {kPictureBoxClass});
        const bool registered = window != nullptr;
        window.release(); // leak it: the owner vanishes with the registration in place
        ::_exit(registered ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(FindWindows("shared title").empty());
    EXPECT_FALSE(PostMessage(FindChildWindow(FindWindow("shared title"), kPictureBoxClass), WM_MOUSEMOVE, 0, 1));

    auto first = Window::Register("shared title", {kPictureBoxClass});
    auto second = Window::Register("shared title", {kPictureBoxClass});
    ASSERT_TRUE(first && second);
    EXPECT_EQ(FindWindows("shared title").size(), 2u);
    const std::string handle = first->Handle();
    first.reset();
    EXPECT_EQ(FindWindows("shared title"), std::vector<std::string>{second->Handle()});
    EXPECT_FALSE(PostMessage(handle + "/child.0", WM_MOUSEMOVE, 0, 1));
}

TEST(Windows, FullQueueDropsInsteadOfBlocking)
{
    testing_support::Sandbox sandbox;
    auto window = Window::Register("busy", {kPictureBoxClass});
    ASSERT_TRUE(window);
    int queued = 0;
    bool dropped = false;
    for (int i = 0; i < 100000 && !dropped; ++i) {
        if (PostMessage(window->ChildHandle(0), WM_MOUSEMOVE, 0, i))
            ++queued;
        else
            dropped = true;
    }
    EXPECT_TRUE(dropped);
    EXPECT_GT(queued, 0);
    int received = 0;
    while (ReceiveMessage(window->ChildSocket(0)) && received < 200000)
        ++received;
    EXPECT_EQ(received, queued);
}

// A process that crashed leaves its registration behind; a later process
// given the same process id must still be able to register its window.
TEST(Windows, RegistrationsOfCrashedOwnersMakeWayForNewOnes)
{
    testing_support::Sandbox sandbox;
    const std::string folder = sandbox.runtime + "/windows";
    ::mkdir(folder.c_str(), 0700);
    // What a crashed process with our id left: whole registrations, and one half built.
    for (int i = 0; i < 100; ++i) {
        const std::string left = folder + "/" + std::to_string(::getpid()) + "." + std::to_string(i);
        ::mkdir(left.c_str(), 0700);
        testing_support::WriteText(left + "/lock", "");
        testing_support::WriteText(left + "/title", kMainWindowTitle);
    }
    const std::string halfBuilt = folder + "/.new.999999999.0";
    ::mkdir(halfBuilt.c_str(), 0700);
    auto window = Window::Register(kMainWindowTitle, {kPictureBoxClass});
    ASSERT_TRUE(window);
    EXPECT_EQ(FindWindows(kMainWindowTitle), std::vector<std::string> {window->Handle()});
    struct stat st {};
    EXPECT_NE(::stat(halfBuilt.c_str(), &st), 0);
}

TEST(Presence, ControlPanelLockTellsWhetherThePanelRuns)
{
    testing_support::Sandbox sandbox;
    const std::string path = presence::ControlPanelLockPath();
    EXPECT_FALSE(presence::IsControlPanelRunning(path));
    const int held = presence::HoldControlPanelLock(path);
    ASSERT_GE(held, 0);
    EXPECT_TRUE(presence::IsControlPanelRunning(path));
    EXPECT_EQ(presence::HoldControlPanelLock(path), -1); // a second panel cannot take it
    ::close(held);
    EXPECT_FALSE(presence::IsControlPanelRunning(path));
}

// The presence lock must agree with the definition it stands for: a process
// whose image name is ZEL runs.
TEST(Presence, LockAgreesWithTheProcessTable)
{
    testing_support::Sandbox sandbox;
    // The user's own panel may run beside the tests: then the table says so
    // at the end too.
    const auto panelRuns = [] {
        const auto table = processes::Snapshot();
        return std::any_of(table.begin(), table.end(), [](const auto& entry) { return entry.imageName == kControlPanelImage; });
    };
    const bool panelOfTheUser = panelRuns();
    const std::string program = sandbox.root + "/zel";
    ASSERT_EQ(std::system(("cp '" PANEL_STAND_IN "' '" + program + "'").c_str()), 0);
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(toChild[0], STDIN_FILENO);
        ::dup2(fromChild[1], STDOUT_FILENO);
        // Only the duplicates stay open, or the child would never see its input end.
        for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
            ::close(fd);
        ::execl(program.c_str(), "zel", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    char ready[6] = {};
    ASSERT_EQ(::read(fromChild[0], ready, 5), 5);
    EXPECT_STREQ(ready, "ready");
    const std::string lock = presence::ControlPanelLockPath();
    EXPECT_TRUE(presence::IsControlPanelRunning(lock));
    EXPECT_TRUE(panelRuns());
    ::close(toChild[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(fromChild[0]);
    EXPECT_FALSE(presence::IsControlPanelRunning(lock));
    EXPECT_EQ(panelRuns(), panelOfTheUser);
}
