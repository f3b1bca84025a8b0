// The Protection page in the main window, the side column's lines, the
// Settings switch "Decide every program I start", and a program started
// again under the firewall from the page.
#include "panel/control/BackstopWatch.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/PanelCore.h"
#include "panel/windows/ConnectionsView.h"
#include "panel/windows/HostListsView.h"
#include "panel/windows/MainForm.h"
#include "panel/windows/ProtectionView.h"
#include "panel/windows/ReviewView.h"
#include "panel/windows/ServiceDefaults.h"

#include "gui/Clock.h"
#include "os/Files.h"
#include "os/Processes.h"
#include "panel/core/FileInformation.h"
#include "tests/EventWait.h"
#include "protocol/CarrierRegistry.h"
#include "protocol/LogFiles.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"
#include "rules/HostListCompiler.h"
#include "rules/hooksafe/HostListView.h"
#include "session/SessionLogin.h"
#include "tests/ChildProcess.h"
#include "tests/EventLoopWait.h"
#include "tests/PanelWindowDriver.h"
#include "tests/Sandbox.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCheckBox>
#include <QFrame>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <algorithm>
#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <csignal>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace std::chrono_literals;
using testing_support::ChildProcess;
using testing_support::Part;
using testing_support::Tree;
using testing_support::ReadText;
using testing_support::Sandbox;
using testing_support::WithModal;
using testing_support::WriteText;
using panel::MainForm;
using panel::ProtectionView;

namespace {

// Runs the event loop until done() holds. What these tests wait for is
// mostly in /proc and in files other processes write, of which the event
// loop hears nothing: changes, when given, wake it for those too.
bool WaitFor(const std::function<bool()>& done, testing_support::Changes* changes = nullptr,
             std::chrono::milliseconds limit = 5s)
{
    return testing_support::WaitUntil(
        [&] {
            if (changes)
                changes->Drain();
            return done();
        },
        limit, changes ? changes->Descriptor() : -1);
}

QTreeWidgetItem* TopNode(MainForm& form, const QString& key)
{
    for (int i = 0; i < Tree(form)->topLevelItemCount(); ++i)
        if (Tree(form)->topLevelItem(i)->data(0, Qt::UserRole).toString() == key)
            return Tree(form)->topLevelItem(i);
    return nullptr;
}

// The process's row: its program's, or one under it where another test
// runs the same program meanwhile.
QTreeWidgetItem* Row(ProtectionView& view, pid_t pid)
{
    auto* list = view.findChild<QTreeWidget*>("ProgramList");
    for (QTreeWidgetItemIterator it(list); *it; ++it)
        if ((*it)->text(1) == QString::number(pid))
            return *it;
    return nullptr;
}

// A panel's settings with an installation folder holding the hook and a
// stand-in for zel-session that records how it is called; HOME inside.
class ProtectionWindow : public ::testing::Test {
protected:
    ProtectionWindow()
    {
        const char* home = std::getenv("HOME");
        savedHome = home ? home : "";
        ::mkdir((sandbox.root + "/home").c_str(), 0700);
        ::setenv("HOME", (sandbox.root + "/home").c_str(), 1);
        ::mkdir((sandbox.root + "/errors").c_str(), 0700);
        sandbox.SetSetting("ErrLogs", sandbox.root + "/errors");
        sandbox.SetSetting("LogFileCount", "30");
        sandbox.SetSetting("SecurityMode", "Normal");
        sandbox.SetSetting("VRNFolder", install);
        sandbox.SetSetting("ApplySettings", "False");
        sandbox.SetSetting("FirstClose", "1");
        os::MakeDirectories(install);
        os::WriteFileAtomically(install + "libzelhook.so", *os::ReadFile(HOOK_LIBRARY, 64 << 20), 0644);
        WriteText(install + "zel-session", "#!/bin/sh\necho \"$*\" >>'" + calls + "'\n");
        ::chmod((install + "zel-session").c_str(), 0755);
    }
    ~ProtectionWindow() override
    {
        panel::TheErrorLog().Close();
        ::setenv("HOME", savedHome.c_str(), 1);
    }

    Sandbox sandbox;
    std::string install = sandbox.root + "/prefix/lib/korvel/";
    std::string calls = sandbox.root + "/calls.txt";
    std::string savedHome;
};

}  // namespace

TEST_F(ProtectionWindow, PageTakesTheRightHandSideAndGivesItBack)
{
    gui::ManualClock clock;
    panel::PanelCore state;
    MainForm form(state);
    form.Load();
    form.Protection()->SetSession(install, false);
    form.show();
    ProtectionView* page = form.Protection();
    QTreeWidgetItem* node = TopNode(form, "Protection");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(Tree(form)->indexOfTopLevelItem(node), 1) << "right below the system settings";
    EXPECT_FALSE(page->isVisible());

    emit Tree(form)->itemClicked(node, 0);
    EXPECT_TRUE(page->isVisible());
    EXPECT_FALSE(Part<QFrame>(form, "Frame3")->isVisible());
    EXPECT_FALSE(Part<QTreeWidget>(form, "AppListView")->isVisible());
    EXPECT_TRUE(page->findChild<QLabel*>("BackstopState")->text().startsWith("The kernel backstop"));

    emit Tree(form)->itemClicked(TopNode(form, "Sys"), 0);
    EXPECT_FALSE(page->isVisible());
    // By keyboard: the node below, and Return.
    Tree(form)->setCurrentItem(TopNode(form, "Sys"));
    QTest::keyClick(Tree(form), Qt::Key_Down);
    QTest::keyClick(Tree(form), Qt::Key_Return);
    EXPECT_TRUE(page->isVisible());
    emit Tree(form)->itemClicked(TopNode(form, "Sys"), 0);
    EXPECT_TRUE(Part<QFrame>(form, "Frame3")->isVisible());
    emit Tree(form)->itemClicked(TopNode(form, "App"), 0);
    EXPECT_FALSE(page->isVisible());
    EXPECT_TRUE(Part<QTreeWidget>(form, "AppListView")->isVisible());

    // The side column: what is decided, and the summary that opens the page.
    auto* coverage = form.findChild<QLabel*>("CoverageText");
    auto* summary = form.findChild<QLabel*>("ProtectionSummary");
    ASSERT_TRUE(coverage && summary);
    EXPECT_TRUE(coverage->isVisible());
    EXPECT_TRUE(coverage->text().startsWith("Only programs you start with zel-run are decided")) << coverage->text().toStdString();
    // It comes a moment after the window is up: the clock is moved there.
    clock.Advance(2000);
    EXPECT_TRUE(summary->text().startsWith("Protection: ")) << summary->text().toStdString();
    QTest::mouseClick(summary, Qt::LeftButton);
    EXPECT_TRUE(page->isVisible());
    EXPECT_EQ(Tree(form)->currentItem(), node);
}

TEST_F(ProtectionWindow, SettingsSwitchCoversTheSessionAndTheWindowSaysSo)
{
    panel::PanelCore state;
    MainForm form(state);
    form.Load();
    form.Protection()->SetSession(install, false);
    auto* coverage = form.findChild<QLabel*>("CoverageText");
    // The options dialog, from the toolbar; its OK pressed.
    const auto options = [&](const std::function<void(QCheckBox* decide)>& set) {
        ASSERT_TRUE(testing_support::WithModal([&] { form.findChild<QAction*>("ToolsSet")->trigger(); },
                                               [&](QDialog* dialog) {
                                                   set(dialog->findChild<QCheckBox*>("DecideEveryProgramCheck"));
                                                   dialog->findChild<QPushButton*>("OkBtn")->click();
                                               }));
    };
    options([](QCheckBox* decide) {
        EXPECT_FALSE(decide->isChecked()) << "a user of before the option: off";
        decide->setChecked(true);
    });
    EXPECT_EQ(protocol::registry::GetString(protocol::registry::RootKey::LocalMachine, protocol::registry::kSettingsKey,
                                            protocol::settings::kDecideEveryProgram),
              "1");
    EXPECT_TRUE(session::HasLoginFiles()) << "an installation under a prefix of the user's";
    EXPECT_EQ(coverage->text().toStdString(), "Programs you start from now on are decided by your rules; programs "
                                              "already running are not: restart them or log in again");
    EXPECT_EQ(form.Protection()->findChild<QLabel*>("PageCoverage")->text(), coverage->text());
    testing_support::Changes written;
    written.Watch(sandbox.root);
    ASSERT_TRUE(WaitFor([&] { return ReadText(calls) == "--update-session\n"; }, &written)) << ReadText(calls);

    options([](QCheckBox* decide) { EXPECT_TRUE(decide->isChecked()); }); // unchanged: nothing is done again
    options([](QCheckBox* decide) { decide->setChecked(false); });
    EXPECT_FALSE(session::HasLoginFiles());
    EXPECT_TRUE(coverage->text().startsWith("Only programs you start with zel-run"));
    ASSERT_TRUE(WaitFor([&] { return ReadText(calls) == "--update-session\n--update-session\n"; }, &written))
        << ReadText(calls);
}

// The first-run window offers a terminal under the firewall only where one
// can be started with the hook (a terminal found, zel-run beside the panel,
// the hook usable); the programs started in it have the hook named.
TEST_F(ProtectionWindow, FirstRunWindowOpensATerminalUnderTheFirewallWhereItCan)
{
    const std::string terminal = sandbox.root + "/terminal";
    const std::string seen = sandbox.root + "/seen";
    WriteText(terminal, "#!/bin/sh\nprintf '%s' \"$LD_PRELOAD\" >'" + seen + ".part' && mv '" + seen + ".part' '" + seen + "'\n");
    ::chmod(terminal.c_str(), 0755);
    const char* saved = std::getenv("ZEL_HOOK_LIBRARY");
    const std::string savedHook = saved ? saved : "";
    ::setenv("ZEL_HOOK_LIBRARY", HOOK_LIBRARY, 1);
    const struct {
        std::string terminal;
        std::string zelRun;
        bool hookThere;
        bool offered;
    } cases[] = {
        {"", ZEL_RUN, true, false},
        {terminal, sandbox.root + "/no-zel-run", true, false},
        {terminal, ZEL_RUN, false, false},
        {terminal, ZEL_RUN, true, true},
    };
    testing_support::Changes written;
    written.Watch(sandbox.root);
    for (const auto& c : cases) {
        if (!c.hookThere)
            ::rename((install + "libzelhook.so").c_str(), (install + "hook-aside").c_str());
        panel::PanelCore state;
        MainForm form(state);
        form.Load();
        form.Protection()->SetSession(install, false);
        form.show();
        form.FirstRun().Terminal = c.terminal;
        form.FirstRun().ZelRunProgram = c.zelRun;
        const bool shown = testing_support::WithModal([&] { form.OfferFirstRun(); }, [&](QDialog* window) {
            auto* open = window->findChild<QPushButton*>("OpenTerminal");
            EXPECT_EQ(open != nullptr, c.offered) << c.terminal << " " << c.zelRun;
            EXPECT_EQ(window->findChild<QLabel*>("CoverageNow")->text(), form.findChild<QLabel*>("CoverageText")->text());
            if (open) {
                // Reached by Tab from the first choice.
                EXPECT_EQ(window->focusWidget(), window->findChild<QRadioButton*>("AskEveryProgram"));
                for (int i = 0; i < 8 && window->focusWidget() != open; ++i)
                    QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
                EXPECT_EQ(window->focusWidget(), open);
                open->click();
                EXPECT_EQ(window->findChild<QLabel*>("TerminalOutcome")->text(),
                          "Programs you start in it are decided by your rules.");
            }
            window->reject();
        });
        EXPECT_TRUE(shown);
        if (!c.hookThere)
            ::rename((install + "hook-aside").c_str(), (install + "libzelhook.so").c_str());
        sandbox.SetSetting(protocol::settings::kFirstRunShown, "0");
    }
    ASSERT_TRUE(WaitFor([&] { return ::access(seen.c_str(), F_OK) == 0; }, &written));
    EXPECT_NE(ReadText(seen).find("libzelhook.so"), std::string::npos) << ReadText(seen);
    if (saved)
        ::setenv("ZEL_HOOK_LIBRARY", savedHook.c_str(), 1);
    else
        ::unsetenv("ZEL_HOOK_LIBRARY");
}

// The processes of one program are one row, listed under it; restarting is
// offered a process at a time.
TEST_F(ProtectionWindow, ProcessesOfOneProgramAreOneRowWithTheProcessesUnderIt)
{
    ChildProcess first({NETPEER, "tcp-server", "127.0.0.2", "0"});
    ChildProcess second({NETPEER, "tcp-server", "127.0.0.2", "0"});
    ASSERT_EQ(first.ReadLine(), std::optional<std::string>("listening"));
    ASSERT_EQ(second.ReadLine(), std::optional<std::string>("listening"));
    ProtectionView view("/proc", nullptr);
    view.show();
    auto* list = view.findChild<QTreeWidget*>("ProgramList");
    // (Another test's netpeer may run meanwhile: the row holds ours among its processes.)
    const auto rows = list->findItems("netpeer", Qt::MatchExactly, 0);
    ASSERT_EQ(rows.size(), 1);
    ASSERT_GE(rows[0]->childCount(), 2);
    EXPECT_EQ(rows[0]->text(1), QString("%1 processes").arg(rows[0]->childCount()));
    QSet<QString> pids;
    for (int i = 0; i < rows[0]->childCount(); ++i)
        pids << rows[0]->child(i)->text(1);
    EXPECT_TRUE(pids.contains(QString::number(first.Pid())) && pids.contains(QString::number(second.Pid())));
    auto* restart = view.findChild<QPushButton*>("RestartUnderFirewall");
    list->setCurrentItem(rows[0]);
    EXPECT_FALSE(restart->isEnabled());
    list->setCurrentItem(rows[0]->child(1));
    EXPECT_TRUE(restart->isEnabled());
}

TEST_F(ProtectionWindow, ProgramStartedBeforeProtectionIsStartedAgainUnderTheFirewall)
{
    // zel-run finds the hook of the build through the program's own environment.
    ChildProcess before({NETPEER, "tcp-server", "127.0.0.1", "0"}, {{"ZEL_HOOK_LIBRARY", HOOK_LIBRARY}});
    ASSERT_EQ(before.ReadLine(), std::optional<std::string>("listening"));

    ProtectionView view("/proc", nullptr);
    view.ZelRunProgram = ZEL_RUN;
    QString asked;
    view.Confirm = [&](const QString& question) {
        asked = question;
        return true;
    };
    QStringList told;
    view.Tell = [&](const QString& text) { told << text; };
    qint64 again = 0;
    QObject::connect(&view, &ProtectionView::Restarted, [&](qint64 pid) { again = pid; });
    view.resize(640, 480);
    view.show();
    QCoreApplication::processEvents();
    auto* restart = view.findChild<QPushButton*>("RestartUnderFirewall");
    const QPoint unselected = restart->mapTo(&view, QPoint());

    QTreeWidgetItem* row = Row(view, before.Pid());
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(0), "netpeer");
    EXPECT_EQ(row->text(2), "Not covered");
    EXPECT_TRUE(row->text(3).startsWith("Started before protection")) << row->text(3).toStdString();
    view.findChild<QTreeWidget*>("ProgramList")->setCurrentItem(row);
    EXPECT_TRUE(view.findChild<QPushButton*>("RestartUnderFirewall")->isEnabled());
    const QString advice = view.findChild<QLabel*>("ProtectionAdvice")->text();
    EXPECT_TRUE(advice.endsWith(" Restart it under the firewall, or log in again.")) << advice.toStdString();
    // The longer advice of a selected row leaves the button where the mouse found it.
    QCoreApplication::processEvents();
    EXPECT_EQ(restart->mapTo(&view, QPoint()), unselected);

    view.RestartSelected();
    EXPECT_TRUE(asked.startsWith("Restart netpeer (process " + QString::number(before.Pid()) + ") under the firewall?"));
    ASSERT_TRUE(WaitFor([&] { return again != 0; })) << told.join("; ").toStdString();
    before.Wait(5s);
    EXPECT_NE(::kill(before.Pid(), 0), 0) << "the old one ended";
    const auto restarted = static_cast<pid_t>(again);
    const std::string proc = "/proc/" + std::to_string(restarted);
    // zel-run becomes the program: same command line, the hook in it. The
    // loader closes the hook once it is mapped, and the hook registers the
    // program among those it carries: either wakes the wait.
    testing_support::Changes loaded;
    loaded.Watch(HOOK_LIBRARY, testing_support::Changes::kOpened);
    loaded.Watch(protocol::carriers::CarriersFolder());
    EXPECT_TRUE(WaitFor(
        [&] {
            const std::string maps = ReadText(proc + "/maps");
            return maps.find("/libzelhook.so\n") != std::string::npos && maps.find("netpeer") != std::string::npos;
        },
        &loaded));
    std::string command = ReadText(proc + "/cmdline");
    std::replace(command.begin(), command.end(), '\0', ' ');
    EXPECT_EQ(command, std::string(NETPEER) + " tcp-server 127.0.0.1 0 ");
    view.Refresh();
    ASSERT_TRUE(WaitFor(
        [&] {
            view.Refresh();
            const QTreeWidgetItem* now = Row(view, restarted);
            return now && now->text(2) == "Firewall";
        },
        &loaded));
    EXPECT_TRUE(told.isEmpty()) << told.join("; ").toStdString();
    // Started apart from the panel, it came back to the test to be reaped.
    ::kill(restarted, SIGTERM);
    int status = 0;
    EXPECT_TRUE(testing_support::WaitChild(restarted, status, 5s));
}

// The kernel backstop's line and its button, with stand-ins for the
// installed zel-backstop and for pkexec: the state read from "status" (in
// English, whatever the user's language), and the button running pkexec in
// the background, the state looked at again when it ends.
// An administrator's page lists the system services with network sockets and
// what decides each; another user's shows nothing of them. A service's
// defaults are set from its menu through a stand-in for pkexec, in the
// background: the new rules in a private file, gone after; what refused
// them told in the page's line; the list read again.
TEST_F(ProtectionWindow, SystemServicesAreListedForAnAdministrator)
{
    const std::string machine = sandbox.root + "/machine";
    const std::string proc = machine + "/proc";
    os::MakeDirectories(proc + "/net");
    WriteText(proc + "/net/udp", "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
                                 "   0: 00000000:007B 00000000:0000 07 00000000:00000000 00:00000000 00000000   104        0 "
                                 "700 2 0000000000000000 0\n");
    for (const auto& [pid, exe] : {std::pair {41, "/usr/sbin/chronyd"}, {42, "/usr/sbin/dhclient"}}) {
        const std::string folder = proc + "/" + std::to_string(pid);
        os::MakeDirectories(folder + "/fd");
        WriteText(folder + "/status", "Name:\tsvc\nUid:\t104\t104\t104\t104\n");
        WriteText(folder + "/cmdline", exe);
        ::symlink(exe, (folder + "/exe").c_str());
        ::symlink("socket:[700]", (folder + "/fd/3").c_str());
    }
    os::MakeDirectories(machine + "/etc/korvel");
    WriteText(machine + "/etc/korvel/Rules.xml", testing_support::RulesDocument(
        "<APPLICATION><EXENAME>CHRONYD</EXENAME><DESCRIPTION>Time</DESCRIPTION><ISSERVICE>1</ISSERVICE>"
        "<INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF><RULES></RULES></APPLICATION>"
        "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>1</ISSERVICE>"
        "<INDEF>PERMIT</INDEF><OUTDEF>ASK</OUTDEF><RULES></RULES></APPLICATION>"));
    ::setenv("ZEL_SERVICES_ROOT", machine.c_str(), 1);
    ProtectionView view("/proc", nullptr);
    ::unsetenv("ZEL_SERVICES_ROOT");
    view.resize(900, 600);
    auto* part = view.findChild<QWidget*>("ServicesPart");
    auto* list = view.findChild<QTreeWidget*>("ServiceList");
    view.Administrator = false;
    view.show();
    EXPECT_FALSE(part->isVisible());
    EXPECT_EQ(list->topLevelItemCount(), 0);

    view.Administrator = true;
    view.ListServices();
    EXPECT_TRUE(part->isVisible());
    ASSERT_TRUE(WaitFor([&] { return list->topLevelItemCount() == 2; }));
    // However small the page is made, six rows stay in view.
    view.resize(900, 100);
    QCoreApplication::processEvents();
    EXPECT_GE(list->viewport()->height(), 6 * list->sizeHintForRow(0));
    const auto row = [&](int i) {
        QStringList texts;
        for (int column = 0; column < list->columnCount(); ++column)
            texts << list->topLevelItem(i)->text(column);
        texts.removeAt(2); // the user's name, the machine's
        return texts;
    };
    EXPECT_EQ(row(0), QStringList({"chronyd", "41", "Block", "Permit", "Its entry, Time"}));
    EXPECT_EQ(row(1), QStringList({"dhclient", "42", "Permit", "Ask", "The services' default"}));
    EXPECT_EQ(list->topLevelItem(1)->toolTip(0), "/usr/sbin/dhclient");
    auto* line = view.findChild<QLabel*>("ServicesState");
    EXPECT_TRUE(line->text().startsWith("The services' kernel backstop is not running: nothing decides these programs."));

    const std::string pkexec = sandbox.root + "/pkexec", refuse = sandbox.root + "/refuse", fail = sandbox.root + "/fail";
    const std::string rulesFile = machine + "/etc/korvel/Rules.xml", before = ReadText(rulesFile);
    // As zel-admin: the change only over the rules it was made from.
    WriteText(pkexec, "#!/bin/sh\necho \"pkexec $1 $2 $3 $(stat -c %a \"$5\") $(dirname \"$5\")\" >>'" + calls + "'\n"
              "[ -e '" + refuse + "' ] && exit 126\n[ -e '" + fail + "' ] && { echo 'zel-admin: it is no good' >&2; exit 1; }\n"
              "[ \"$4\" = \"sha256:$(sha256sum <'" + rulesFile + "' | cut -d' ' -f1)\" ] || { echo 'zel-admin: changed meanwhile' >&2; exit 3; }\n"
              "cp \"$5\" '" + rulesFile + "'\n");
    ::chmod(pkexec.c_str(), 0755);
    WriteText(refuse, "");
    EXPECT_EQ(view.ServiceEditor().Command.isEmpty() ? "" : view.ServiceEditor().Command.first(),
              view.ProtectCommand.isEmpty() ? "" : "/usr/bin/pkexec");
    view.ServiceEditor().Command = {QString::fromStdString(pkexec), "/usr/lib/korvel/zel-admin", "services-rules"};
    auto* button = view.findChild<QPushButton*>("ServiceDefaults");
    auto* menu = view.findChild<QMenu*>("ServiceMenu");
    EXPECT_EQ(button->menu(), menu);
    EXPECT_FALSE(button->isEnabled()) << "no service selected";
    list->setCurrentItem(list->topLevelItem(0));
    EXPECT_TRUE(button->isEnabled());
    // The choice in a menu: the list's context menu (by keyboard too) or the button's.
    const auto choose = [&](const char* direction, const char* choice, bool byKeyboard) {
        if (byKeyboard) {
            QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(4, 4), list->mapToGlobal(QPoint(4, 4)));
            QApplication::sendEvent(list, &event);
        } else {
            menu->popup(QPoint());
        }
        EXPECT_TRUE(menu->isVisible());
        auto* action = menu->findChild<QMenu*>(direction)->findChild<QAction*>(choice);
        menu->hide();
        action->trigger();
    };
    const auto shows = [&](const QString& end) {
        return WaitFor([&] { return line->text().endsWith(end); }) && !view.ServiceEditor().Running();
    };
    menu->popup(QPoint());
    EXPECT_TRUE(menu->findChild<QMenu*>("ServiceIncoming")->findChild<QAction*>("Block")->isChecked()) << "what applies now";
    EXPECT_EQ(menu->actions().first()->text(), "For /usr/sbin/chronyd") << "the file the entry is for";
    menu->hide();
    // The administrator does not agree: nothing changes, the window is not held up.
    choose("ServiceIncoming", "Permit", false);
    EXPECT_TRUE(line->text().endsWith("Waiting for an administrator to agree."));
    EXPECT_FALSE(button->isEnabled());
    ASSERT_TRUE(shows("Nothing was changed: no administrator agreed.")) << line->text().toStdString();
    // zel-admin refuses: its word.
    ::unlink(refuse.c_str());
    WriteText(fail, "");
    choose("ServiceOutgoing", "Block", true);
    ASSERT_TRUE(shows("The services' rules were not changed: zel-admin: it is no good")) << line->text().toStdString();
    EXPECT_EQ(ReadText(rulesFile), before);
    // It agrees: the rules replaced and the list read again.
    ::unlink(fail.c_str());
    choose("ServiceIncoming", "Permit", false);
    ASSERT_TRUE(shows("The services' rules were changed.")) << line->text().toStdString();
    ASSERT_TRUE(WaitFor([&] { return list->topLevelItemCount() == 2 && list->topLevelItem(0)->text(3) == "Permit"; }));
    EXPECT_EQ(row(0), QStringList({"chronyd", "41", "Permit", "Permit", "Its entry, chronyd"}));
    EXPECT_EQ(row(1), QStringList({"dhclient", "42", "Permit", "Ask", "The services' default"}));
    // Each time a file of the runtime folder only the user can read, removed after.
    const std::string once = "pkexec /usr/lib/korvel/zel-admin services-rules --over 600 " + sandbox.runtime + "\n";
    EXPECT_EQ(ReadText(calls), once + once + once);
    for (const auto& entry : std::filesystem::directory_iterator(sandbox.runtime))
        EXPECT_FALSE(entry.path().filename().string().starts_with("services-rules.")) << entry.path();
}

// A system user's program can hold up a read of its command line (a page
// fault on a file system of its own) as long as it likes: the page, and
// the panel with it, must not wait for it.
TEST(AttackHeldUpServiceProcess, TheWindowDoesNotWaitForIt)
{
    Sandbox sandbox;
    const std::string machine = sandbox.root + "/machine";
    const std::string folder = machine + "/proc/43";
    os::MakeDirectories(folder + "/fd");
    WriteText(folder + "/status", "Name:\tstuck\nUid:\t104\t104\t104\t104\n");
    ASSERT_EQ(::mkfifo((folder + "/cmdline").c_str(), 0600), 0); // opening it waits for a writer
    ::setenv("ZEL_SERVICES_ROOT", machine.c_str(), 1);
    ProtectionView view("/proc", nullptr);
    ::unsetenv("ZEL_SERVICES_ROOT");
    view.Administrator = true;
    bool listed = false;
    QObject::connect(&view, &ProtectionView::ServicesListed, [&] { listed = true; });
    const auto start = std::chrono::steady_clock::now();
    view.ListServices();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(listed);
    // The read goes on once the process "answers": a writer opens the FIFO
    // as soon as the reader waits on it.
    int writer = -1;
    EXPECT_TRUE(WaitFor([&] {
        writer = ::open((folder + "/cmdline").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return writer >= 0;
    }));
    ::close(writer);
    EXPECT_TRUE(WaitFor([&] { return listed; }));
    EXPECT_EQ(view.Services().services.size(), 0u);
}

TEST_F(ProtectionWindow, KernelBackstopIsShownAndProtectedThroughPkexecWithoutBlocking)
{
    using Kind = panel::KernelLayerState::Kind;
    const std::string state = sandbox.root + "/backstop-state", refuse = sandbox.root + "/refuse";
    const std::string status = sandbox.root + "/zel-backstop", pkexec = sandbox.root + "/pkexec";
    WriteText(status, "#!/bin/sh\necho \"$LC_ALL $*\" >>'" + calls + "'\ncase $(cat '" + state + "') in\n"
              "on) echo 'zel-backstop: running, rules for you'; exit 0 ;;\n"
              "btf) echo 'zel-backstop: this kernel cannot hold the backstop: the kernel has no type information (BTF)';"
              " exit 3 ;;\nesac\necho 'zel-backstop: not running for you (nothing answers on /run/x.sock)'\nexit 3\n");
    WriteText(pkexec, "#!/bin/sh\necho \"pkexec $*\" >>'" + calls + "'\n[ -e '" + refuse + "' ] && exit 126\n"
              "[ \"$2\" = protect ] || exit 3\necho on >'" + state + "'\n");
    ::chmod(status.c_str(), 0755);
    ::chmod(pkexec.c_str(), 0755);
    WriteText(state, "off");
    WriteText(refuse, "");

    ProtectionView view("/proc", nullptr);
    // What it runs by itself: pkexec by its full path, an installed zel-admin, or nothing.
    if (!view.KernelStatusCommand.isEmpty()) {
        EXPECT_EQ(view.KernelStatusCommand.mid(1), QStringList({"status", "--user", QString::number(::getuid())}));
    }
    if (!view.ProtectCommand.isEmpty()) {
        EXPECT_EQ(view.ProtectCommand.first(), "/usr/bin/pkexec");
        EXPECT_TRUE(view.ProtectCommand[1].startsWith('/') && view.ProtectCommand[1].endsWith("/zel-admin"));
        EXPECT_EQ(view.ProtectCommand.last(), "protect");
    }
    view.KernelStatusCommand = {QString::fromStdString(status), "status"};
    view.ProtectCommand = {QString::fromStdString(pkexec), "/usr/lib/korvel/zel-admin", "protect"};
    view.show();
    auto* line = view.findChild<QLabel*>("BackstopState");
    auto* protect = view.findChild<QPushButton*>("ProtectKernelLayer");
    ASSERT_TRUE(WaitFor([&] { return view.KernelLayer().kind == Kind::kNotAttached; }));
    EXPECT_TRUE(line->text().startsWith("The kernel backstop is not attached for you")) << line->text().toStdString();
    EXPECT_TRUE(protect->isVisible() && protect->isEnabled());
    EXPECT_EQ(ReadText(calls), "C status\n");

    // The administrator does not agree: nothing changes, and the line says so.
    protect->click();
    EXPECT_FALSE(protect->isEnabled());
    EXPECT_TRUE(line->text().endsWith("Waiting for an administrator to agree.")) << "the window is not held up";
    ASSERT_TRUE(WaitFor([&] { return line->text().endsWith("Nothing was changed: no administrator agreed."); }))
        << line->text().toStdString();
    ASSERT_TRUE(WaitFor([&] { return ReadText(calls).ends_with("C status\n"); }));
    EXPECT_EQ(view.KernelLayer().kind, Kind::kNotAttached);
    EXPECT_TRUE(protect->isEnabled());
    // It agrees: attached, and nothing more to offer.
    ::unlink(refuse.c_str());
    protect->click();
    // The status may see it attached before the panel has seen pkexec end:
    // the line is whole once both have come.
    const QString attached = "The kernel backstop is attached for you: your rules decide the programs the firewall "
                             "cannot enter.";
    ASSERT_TRUE(WaitFor([&] { return view.KernelLayer().kind == Kind::kAttached && line->text() == attached; }))
        << line->text().toStdString();
    EXPECT_FALSE(protect->isVisible());
    EXPECT_NE(ReadText(calls).find("pkexec /usr/lib/korvel/zel-admin protect\n"), std::string::npos) << ReadText(calls);

    // A kernel that cannot hold it: why, and the button not offered.
    WriteText(state, "btf");
    view.LookAtKernelLayer();
    ASSERT_TRUE(WaitFor([&] { return view.KernelLayer().kind == Kind::kCannotHold; }));
    EXPECT_TRUE(line->text().contains("(the kernel has no type information (BTF))")) << line->text().toStdString();
    EXPECT_TRUE(protect->isVisible());
    EXPECT_FALSE(protect->isEnabled());
    EXPECT_EQ(protect->toolTip(), "This kernel cannot run the kernel backstop.");
    view.Protect();
    const std::string ran = ReadText(calls);
    size_t pkexecRuns = 0;
    for (size_t at = ran.find("pkexec "); at != std::string::npos; at = ran.find("pkexec ", at + 1))
        ++pkexecRuns;
    EXPECT_EQ(pkexecRuns, 2u) << "not run again: " << ran;
    // Not installed (or no status that runs): said so.
    view.KernelStatusCommand = {QString::fromStdString(sandbox.root + "/absent"), "status"};
    view.LookAtKernelLayer();
    ASSERT_TRUE(WaitFor([&] { return view.KernelLayer().kind == Kind::kNotInstalled; }));
    EXPECT_TRUE(line->text().startsWith("The kernel backstop is not installed")) << line->text().toStdString();
    EXPECT_FALSE(protect->isEnabled());
}

// The panel's watch on the backstop, with a stand-in for pkexec and the
// backstop's answer, on the panel's clock standing still: at the first start
// of a login where no systemd starts it, pkexec runs zel-admin start once;
// a stop, a start that fails and a return are each told once, within two
// looks (a few seconds), in the tray's balloon and the status line.
TEST_F(ProtectionWindow, BackstopIsStartedOnceAtLoginAndItsChangesAreToldOnce)
{
    using panel::LoginStart;
    const std::string state = sandbox.root + "/backstop-state", refuse = sandbox.root + "/refuse";
    const std::string pkexec = sandbox.root + "/pkexec", systemd = sandbox.root + "/systemd";
    WriteText(pkexec, "#!/bin/sh\necho \"pkexec $*\" >>'" + calls + "'\n[ -e '" + refuse + "' ] && exit 126\n"
              "[ \"$2\" = start ] || exit 3\necho on >'" + state + "'\n");
    ::chmod(pkexec.c_str(), 0755);
    gui::Clock::Instance().UseManualTime();
    struct Watch {
        panel::BackstopWatch watch {nullptr};
        QStringList told;
        int ended = -2;
    };
    const auto make = [&](bool installed) {
        auto made = std::make_unique<Watch>();
        panel::BackstopWatch& watch = made->watch;
        watch.StartCommand = installed ? QStringList {QString::fromStdString(pkexec), "/usr/lib/korvel/zel-admin", "start"}
                                       : QStringList();
        watch.Running = [&] { return ReadText(state) == "on\n"; };
        watch.SystemdFolder = systemd;
        watch.UnitLink = sandbox.root + "/unit-enabled";
        watch.MarkPath = sandbox.root + "/login-start";
        QObject::connect(&watch, &panel::BackstopWatch::Changed, &watch,
                         [told = &made->told](const QString& title, const QString& text, bool) { *told << title + ": " + text; });
        QObject::connect(&watch, &panel::BackstopWatch::LoginStartEnded, &watch, [ended = &made->ended](int status) { *ended = status; });
        watch.Start();
        return made;
    };
    const auto looks = [](int count) {
        for (int i = 0; i < count; ++i)
            gui::Clock::Instance().Advance(panel::BackstopWatch::kCheckMs);
    };
    // Where it is not installed, or systemd starts it: never run.
    const struct {
        bool installed, systemd;
        LoginStart decided;
    } nothing[] = {{false, false, LoginStart::kNotInstalled}, {true, true, LoginStart::kSystemd}};
    for (const auto& c : nothing) {
        c.systemd ? (void)::mkdir(systemd.c_str(), 0755) : (void)::rmdir(systemd.c_str());
        EXPECT_EQ(make(c.installed)->watch.Decision(), c.decided);
    }
    ::rmdir(systemd.c_str());
    // The first start of the login starts it, once; it comes up, then stops.
    auto first = make(true);
    EXPECT_EQ(first->watch.Decision(), LoginStart::kStart);
    ASSERT_TRUE(WaitFor([&] { return first->ended == 0; }));
    EXPECT_EQ(make(true)->watch.Decision(), LoginStart::kRunning);
    WriteText(state, "off\n");
    EXPECT_EQ(make(true)->watch.Decision(), LoginStart::kAlreadyTried);
    EXPECT_EQ(ReadText(calls), "pkexec /usr/lib/korvel/zel-admin start\n");
    WriteText(state, "on\n");
    looks(3);
    EXPECT_TRUE(first->told.isEmpty()) << first->told.join("; ").toStdString();
    WriteText(state, "off\n");
    looks(1);
    EXPECT_TRUE(first->told.isEmpty()) << "one miss is no stop";
    looks(5);
    ASSERT_EQ(first->told.size(), 1) << first->told.join("; ").toStdString();
    EXPECT_TRUE(first->told[0].startsWith("Kernel backstop: The kernel backstop stopped")) << first->told[0].toStdString();
    WriteText(state, "on\n");
    looks(3);
    ASSERT_EQ(first->told.size(), 2);
    EXPECT_TRUE(first->told[1].contains("runs again")) << first->told[1].toStdString();

    // The next login: the administrator's tool refuses, nothing comes up; said once.
    WriteText(state, "off\n");
    WriteText(sandbox.root + "/login-start", "an earlier login");
    WriteText(refuse, "");
    auto refused = make(true);
    EXPECT_EQ(refused->watch.Decision(), LoginStart::kStart);
    ASSERT_TRUE(WaitFor([&] { return refused->ended == 126; }));
    looks(6);
    ASSERT_EQ(refused->told.size(), 1) << refused->told.join("; ").toStdString();
    EXPECT_TRUE(refused->told[0].contains("could not start")) << refused->told[0].toStdString();
    gui::Clock::Instance().UseRealTime();
}

// The attack of AttackSquattedRuntimeFolder (interceptor tests) as the
// control panel meets it: another user made /tmp/korvel-UID first in a
// session without XDG_RUNTIME_DIR, and the panel ended with a line on
// standard error that nobody who starts it from the menu sees. It starts
// (in a /tmp of the test's own), and its Protection page says where the
// firewall keeps its live files and why; a folder it cannot use at all is
// said there too, and the panel's summary says the programs are refused.
using AttackSquattedRuntimeFolderPanel = ProtectionWindow;

TEST_F(AttackSquattedRuntimeFolderPanel, ThePanelStartsAndItsProtectionPageSaysWhereAndWhy)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "making a folder as another user needs root";
    const std::string saved[] = {std::getenv("ZEL_RUNTIME_DIR"),
                                 std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : ""};
    const int status = testing_support::WithPrivateTmp(sandbox.root, [] {
        const std::string squat = "/tmp/korvel-" + std::to_string(::getuid());
        if (::mkdir(squat.c_str(), 0700) != 0 || ::chown(squat.c_str(), 65534, 65534) != 0)
            return false;
        ChildProcess panel({ZEL_PROGRAM, "--quit-after-start"},
                           {{"QT_QPA_PLATFORM", "offscreen"}, {"ZEL_RUNTIME_DIR", ""}, {"XDG_RUNTIME_DIR", ""}});
        return panel.Wait(20s) == 0;
    });
    if (status == 77)
        GTEST_SKIP() << "no mount namespace of its own";
    ASSERT_EQ(status, 0) << "the panel did not start";

    ::unsetenv("ZEL_RUNTIME_DIR");
    ::unsetenv("XDG_RUNTIME_DIR");
    panel::PanelCore state;
    MainForm form(state);
    form.Load();
    ProtectionView& view = *form.Protection();
    view.Refresh();
    const auto* line = view.findChild<QLabel*>("RuntimeFolderState");
    ASSERT_NE(line, nullptr);
    EXPECT_FALSE(line->isHidden());
    EXPECT_TRUE(line->text().contains(QString::fromStdString(sandbox.root + "/state/korvel/run-"))) << line->text().toStdString();
    EXPECT_TRUE(line->text().contains("no XDG_RUNTIME_DIR")) << line->text().toStdString();
    // A folder it cannot use: the page says why, and the summary that programs are refused.
    ASSERT_EQ(::chmod((sandbox.root + "/state/korvel").c_str(), 0777), 0);
    view.Refresh();
    EXPECT_TRUE(line->text().contains("lies in a folder another user owns or can write")) << line->text().toStdString();
    EXPECT_TRUE(view.SummaryLine()->text().contains("refused"));
    ::setenv("ZEL_RUNTIME_DIR", saved[0].c_str(), 1);
    if (!saved[1].empty())
        ::setenv("XDG_RUNTIME_DIR", saved[1].c_str(), 1);
}

// The Connections page: this process's own connection listed under its
// program with the bytes it sent, found by a search of its peer; the row's
// menu from the keyboard; Block opens the rule editor with a block of the
// peer, and OK stores it and ends the connection at once.
TEST_F(ProtectionWindow, ConnectionsPageListsBlocksAndEndsALiveConnection)
{
    gui::ManualClock clock;
    panel::PanelCore state;
    MainForm form(state);
    form.Load();
    form.show();
    // A connection from 127.0.0.3 to a listener on 127.0.0.2.
    const auto bound = [](const char* ip) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        ::inet_pton(AF_INET, ip, &address.sin_addr);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    };
    const int listener = bound("127.0.0.2"), client = bound("127.0.0.3");
    ASSERT_EQ(::listen(listener, 1), 0);
    sockaddr_in server {};
    socklen_t length = sizeof server;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&server), &length);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&server), sizeof server), 0);
    const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(accepted, 0);
    const std::string sent(100000, 'x');
    ASSERT_EQ(::send(client, sent.data(), sent.size(), 0), static_cast<ssize_t>(sent.size()));
    std::string received(sent.size(), '\0');
    ASSERT_EQ(::recv(accepted, received.data(), received.size(), MSG_WAITALL), static_cast<ssize_t>(sent.size()));

    emit Tree(form)->itemClicked(TopNode(form, "Connections"), 0);
    auto* page = form.findChild<panel::ConnectionsView*>("ConnectionsView");
    ASSERT_TRUE(page && page->isVisible());
    auto* shown = static_cast<QSortFilterProxyModel*>(page->List()->model());
    struct stat socket {};
    ::fstat(client, &socket);
    const auto row = [&](uint64_t inode) {
        for (int program = 0; program < shown->rowCount(); ++program)
            for (int at = 0; at < shown->rowCount(shown->index(program, 0)); ++at) {
                const QModelIndex index = shown->index(at, 0, shown->index(program, 0));
                const panel::LiveConnection* connection = page->Model()->Connection(shown->mapToSource(index));
                if (connection && connection->inode == inode)
                    return index;
            }
        return QModelIndex();
    };
    const auto text = [&](const QModelIndex& index, int column) { return index.siblingAtColumn(column).data().toString(); };
    using Column = panel::ConnectionsModel::Column;
    // The kernel counts what the peer acknowledged: a refresh or two later.
    ASSERT_TRUE(WaitFor([&] {
        page->Refresh();
        const QModelIndex found = row(socket.st_ino);
        return found.isValid() && found.siblingAtColumn(Column::kSent).data(panel::ConnectionsModel::kSortRole).toULongLong() == sent.size();
    }));
    QModelIndex mine = row(socket.st_ino);
    EXPECT_EQ(text(mine.parent(), Column::kProgram).toStdString(), panel::ProgramDisplayName(os::processes::OwnExecutablePath()));
    EXPECT_EQ(text(mine, Column::kProcess), QString::number(::getpid()));
    EXPECT_EQ(text(mine, Column::kDirection), "Outgoing");
    EXPECT_EQ(text(mine, Column::kPeer), "127.0.0.2");
    EXPECT_EQ(text(mine, Column::kDecided), "Not decided");
    // A search for the client's own address finds the server's end alone.
    struct stat other {};
    ::fstat(accepted, &other);
    page->findChild<QLineEdit*>("ConnectionsSearch")->setText("127.0.0.3");
    EXPECT_FALSE(row(socket.st_ino).isValid());
    EXPECT_EQ(text(row(other.st_ino), Column::kDirection), "Incoming");
    page->findChild<QLineEdit*>("ConnectionsSearch")->clear();

    mine = row(socket.st_ino);
    page->List()->setFocus();
    page->List()->setCurrentIndex(mine);
    QTest::keyClick(page->List(), Qt::Key_F10, Qt::ShiftModifier);
    auto* menu = page->findChild<QMenu*>("ConnectionMenu");
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(page->findChild<QAction*>("BlockPort")->text(),
              QString("Block port %1 for %2…").arg(ntohs(server.sin_port)).arg(text(mine.parent(), Column::kProgram)));
    menu->hide();
    ASSERT_TRUE(testing_support::WithModal([&] { page->findChild<QAction*>("BlockPeer")->trigger(); }, [](QDialog* dialog) {
        EXPECT_EQ(dialog->findChild<QLineEdit*>("RuleName")->text(), "Block 127.0.0.2");
        EXPECT_EQ(dialog->findChild<QComboBox*>("PermissionCombo")->currentText(), "Block");
        dialog->findChild<QPushButton*>("FinishCmd")->click();
    }));
    const rules::Application* stored = state.Rules().Find(os::processes::OwnExecutablePath());
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->rules.size(), 1u);
    EXPECT_EQ(stored->rules[0].permission, rules::Permission::kDeny);
    ASSERT_FALSE(stored->rules[0].ports.empty());
    EXPECT_EQ(stored->rules[0].ports[0].number, "0");
    EXPECT_EQ(stored->rules[0].ports[0].addresses, std::vector<std::string> {"127.0.0.2"});
    // Ended: the peer reads the end at once.
    ASSERT_TRUE(testing_support::WaitReadable(accepted, 2s));
    char byte;
    EXPECT_EQ(::recv(accepted, &byte, 1, MSG_DONTWAIT), 0);
    EXPECT_TRUE(page->findChild<QLabel*>("ConnectionsSummary")->text().contains("The connection was ended."));
    for (const int fd : {listener, client, accepted})
        ::close(fd);
}

TEST_F(ProtectionWindow, HostListsPageAddsUpdatesSwitchesAndRemovesAListFromAFile)
{
    gui::ManualClock clock;
    panel::PanelCore state;
    MainForm form(state);
    form.Load();
    form.show();
    const std::string file = sandbox.root + "/ads.txt";
    WriteText(file, "0.0.0.0 ads.example\n0.0.0.0 track.example\n");
    // Today's refusals: two by the list (its name in any case), one by another, one by the rules.
    const std::string day = protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr));
    const auto refused = [](const char* list) {
        return std::string("<DATE>d</DATE><TIME>t</TIME><EXEPATH>/usr/bin/curl</EXEPATH><PROTOCOL>1</PROTOCOL>"
                           "<DIRECTION>1</DIRECTION><IP>192.0.2.7</IP><PERMISSION>0</PERMISSION><REASON>")
            + (list ? std::string("list</REASON><LIST>") + list + "</LIST>" : "rule</REASON>") + "\r\n";
    };
    WriteText(day, refused("Ads") + refused("Other") + refused(nullptr) + refused("ADS"));
    emit Tree(form)->itemClicked(TopNode(form, "HostLists"), 0);
    auto* page = form.findChild<panel::HostListsView*>("HostListsView");
    ASSERT_TRUE(page && page->isVisible());
    QTreeWidget* list = page->List();
    const auto status = [&] { return page->findChild<QLabel*>("HostListStatus")->text().toStdString(); };
    const auto cell = [&](int column) { return list->topLevelItem(0)->text(column).toStdString(); };
    using Column = panel::HostListsView::Column;

    // Through the dialog, which takes a good name and a source only.
    ASSERT_TRUE(WithModal([&] { page->findChild<QPushButton*>("HostListAddButton")->click(); }, [&](QDialog* dialog) {
        auto* add = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        dialog->findChild<QLineEdit*>("HostListName")->setText("-Ads");
        dialog->findChild<QLineEdit*>("HostListSource")->setText(QString::fromStdString(file));
        EXPECT_FALSE(add->isEnabled());
        EXPECT_TRUE(dialog->findChild<QLabel*>("HostListProblem")->isVisible());
        dialog->findChild<QLineEdit*>("HostListName")->setText("Ads");
        ASSERT_TRUE(add->isEnabled());
        add->click();
    }));
    ASSERT_TRUE(WaitFor([&] { return !page->Busy(); }));
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(cell(Column::kName), "Ads");
    EXPECT_EQ(cell(Column::kSource), file);
    EXPECT_EQ(list->topLevelItem(0)->checkState(Column::kEnabled), Qt::Checked);
    EXPECT_EQ(cell(Column::kEntries), "2");
    EXPECT_EQ(cell(Column::kRefusedToday), "2");
    EXPECT_NE(cell(Column::kUpdated), "Never");
    EXPECT_EQ(cell(Column::kError), "");
    EXPECT_EQ(status(), "The list \"Ads\" was added. Entries: 2");

    // An update runs off the window's thread: the buttons wait for it.
    WriteText(file, "0.0.0.0 ads.example\n0.0.0.0 track.example\n0.0.0.0 pixel.example\n");
    auto* update = page->findChild<QPushButton*>("HostListUpdate");
    update->click();
    EXPECT_TRUE(page->Busy());
    EXPECT_FALSE(update->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return !page->Busy(); }));
    EXPECT_TRUE(update->isEnabled());
    EXPECT_EQ(cell(Column::kEntries), "3");
    EXPECT_EQ(status(), "The list \"Ads\" was updated.");

    // Counted on from where it stopped, while the page is shown.
    std::ofstream(day, std::ios::app) << refused("ads");
    clock.Advance(5000);
    EXPECT_EQ(cell(Column::kRefusedToday), "3");

    // Space switches it off and on: the shared file without it, then with it
    // again from the text kept, the source being gone meanwhile.
    const auto compiled = [] {
        rules::HostListView view;
        view.Load(rules::HostListFilePath().c_str());
        return std::pair(view.ListCount(), view.Name("ads.example", 11) != 0);
    };
    ASSERT_EQ(compiled(), std::pair(size_t(1), true));
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return !page->Busy(); }));
    EXPECT_EQ(list->topLevelItem(0)->checkState(Column::kEnabled), Qt::Unchecked);
    EXPECT_EQ(compiled(), std::pair(size_t(0), false));
    EXPECT_FALSE(panel::HostListSubscriptions().Find("Ads")->enabled);
    EXPECT_EQ(status(), "The list \"Ads\" is off; it keeps its entries for when it is switched on.");
    ::unlink(file.c_str());
    list->topLevelItem(0)->setCheckState(Column::kEnabled, Qt::Checked);
    ASSERT_TRUE(WaitFor([&] { return !page->Busy(); }));
    EXPECT_EQ(compiled(), std::pair(size_t(1), true));
    EXPECT_EQ(status(), "The list \"Ads\" is on.");

    // A file that is no host list: told, and the list keeps what it had.
    WriteText(file, "<html><body>Not found</body></html>\n");
    update->click();
    ASSERT_TRUE(WaitFor([&] { return !page->Busy(); }));
    EXPECT_EQ(cell(Column::kEntries), "3");
    EXPECT_EQ(cell(Column::kError), "the list holds no host names or addresses");
    EXPECT_EQ(status(), "The list \"Ads\" was not updated; its last good copy stays in use: the list holds no host names or addresses");
    page->Add("Gone", QString::fromStdString(sandbox.root + "/missing.txt"));
    ASSERT_TRUE(WaitFor([&] { return !page->Busy(); }));
    EXPECT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(status(), "The list \"Gone\" was not added: cannot read " + sandbox.root + "/missing.txt: No such file or directory");

    // Delete asks first: kept when the user says no, removed when yes.
    list->setFocus();
    const auto answer = [&](QMessageBox::StandardButton button) {
        return WithModal([&] { QTest::keyClick(list, Qt::Key_Delete); },
                         [&](QDialog* dialog) { static_cast<QMessageBox*>(dialog)->button(button)->click(); });
    };
    ASSERT_TRUE(answer(QMessageBox::No));
    EXPECT_FALSE(page->Busy());
    EXPECT_EQ(panel::HostListSubscriptions().All().size(), 1u);
    ASSERT_TRUE(answer(QMessageBox::Yes));
    ASSERT_TRUE(WaitFor([&] { return !page->Busy(); }));
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_TRUE(panel::HostListSubscriptions().All().empty());
    EXPECT_NE(::access(panel::HostListSubscriptions::TextPath("Ads").c_str(), F_OK), 0);
    EXPECT_EQ(status(), "The list \"Ads\" was removed.");
}

// What the quiet and learning modes listed: a rule made for one peer's port
// through the rule editor takes the peer's items off the list, Delete
// dismisses another's without a rule, and an empty list says so.
TEST_F(ProtectionWindow, ReviewPageMakesARuleForAPeersPortAndDismissesAnother)
{
    const std::string program = os::processes::OwnExecutablePath();
    const std::string list = protocol::review::ListPath();
    const auto add = [&](const std::string& path, bool outgoing, const char* address, unsigned port, const char* host) {
        protocol::review::Item item;
        item.time = std::time(nullptr);
        item.mode = "quiet";
        item.outgoing = outgoing;
        item.address = address;
        (outgoing ? item.remotePort : item.localPort) = port;
        (outgoing ? item.localPort : item.remotePort) = 40000;
        item.host = host;
        item.permitted = true;
        item.path = path;
        ASSERT_TRUE(protocol::review::Append(list, item));
    };
    add(program, true, "127.0.0.2", 8443, "updates.example");
    add(program, true, "127.0.0.2", 8443, "updates.example");
    add(program, true, "127.0.0.3", 2525, "mail.example");
    add("/usr/bin/env", false, "127.0.0.4", 9000, "");

    panel::PanelCore state;
    MainForm form(state);
    form.Load();
    form.show();
    emit Tree(form)->itemClicked(TopNode(form, "Review"), 0);
    auto* page = form.findChild<panel::ReviewView*>("ReviewView");
    ASSERT_TRUE(page && page->isVisible());
    QTreeWidget* tree = page->List();
    using Column = panel::ReviewView::Column;
    const auto peerRow = [&](const QString& host) -> QTreeWidgetItem* {
        for (QTreeWidgetItemIterator it(tree); *it; ++it)
            if ((*it)->parent() && (*it)->text(Column::kHost) == host)
                return *it;
        return nullptr;
    };
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    QTreeWidgetItem* updates = peerRow("updates.example");
    ASSERT_TRUE(updates);
    EXPECT_EQ(updates->parent()->text(Column::kProgram).toStdString(), panel::ProgramDisplayName(program));
    EXPECT_EQ(updates->parent()->text(Column::kCount), "3");
    EXPECT_EQ(updates->text(Column::kProgram), "Outgoing");
    EXPECT_EQ(updates->text(Column::kProtocol), "TCP");
    EXPECT_EQ(updates->text(Column::kPort), "8443");
    EXPECT_EQ(updates->text(Column::kDecided), "Allowed quietly");
    EXPECT_EQ(updates->text(Column::kCount), "2");
    if (const char* folder = std::getenv("ZEL_PICTURES")) {
        tree->setCurrentItem(updates);
        QApplication::processEvents(); // the layout, after the page was shown
        EXPECT_TRUE(form.grab().save(QString(folder) + "/review.png"));
    }

    // Allow, this port: the editor opens on the rule, and once it is saved
    // the peer's items leave the list.
    tree->setCurrentItem(updates);
    page->findChild<QComboBox*>("ReviewScope")->setCurrentIndex(1);
    ASSERT_TRUE(WithModal([&] { page->findChild<QPushButton*>("ReviewAllow")->click(); }, [](QDialog* dialog) {
        EXPECT_EQ(dialog->findChild<QLineEdit*>("RuleName")->text(), "Allow port 8443");
        dialog->findChild<QPushButton*>("FinishCmd")->click();
    }));
    const rules::Application* stored = state.Rules().Find(program);
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->rules.size(), 1u);
    EXPECT_EQ(stored->rules[0].permission, rules::Permission::kPermit);
    EXPECT_EQ(stored->rules[0].direction, rules::Direction::kOutgoing);
    ASSERT_EQ(stored->rules[0].ports.size(), 1u);
    EXPECT_EQ(stored->rules[0].ports[0].number, "8443");
    EXPECT_FALSE(stored->rules[0].ports[0].addresses || stored->rules[0].ports[0].hosts);
    const auto listedPorts = [&] {
        std::vector<unsigned> ports;
        for (const protocol::review::Item& item : protocol::review::ReadAll(list))
            ports.push_back(item.outgoing ? item.remotePort : item.localPort);
        return ports;
    };
    EXPECT_EQ(listedPorts(), (std::vector<unsigned> {2525, 9000}));
    EXPECT_FALSE(peerRow("updates.example"));

    // Cancel in the editor leaves the list as it was; Delete dismisses.
    QTreeWidgetItem* incoming = peerRow("127.0.0.4");
    ASSERT_TRUE(incoming);
    tree->setCurrentItem(incoming);
    ASSERT_TRUE(WithModal([&] { page->findChild<QPushButton*>("ReviewBlock")->click(); },
                          [](QDialog* dialog) { dialog->reject(); }));
    EXPECT_EQ(listedPorts(), (std::vector<unsigned> {2525, 9000}));
    tree->setFocus();
    tree->setCurrentItem(peerRow("127.0.0.4"));
    QTest::keyClick(tree, Qt::Key_Delete);
    EXPECT_EQ(listedPorts(), std::vector<unsigned> {2525});
    EXPECT_EQ(tree->topLevelItemCount(), 1);

    // The last, by its program's row: the page then says there is nothing.
    tree->setCurrentItem(tree->topLevelItem(0));
    page->findChild<QPushButton*>("ReviewDismiss")->click();
    EXPECT_TRUE(listedPorts().empty());
    EXPECT_TRUE(page->findChild<QLabel*>("ReviewEmpty")->isVisible());
    EXPECT_FALSE(tree->isVisible());
}
