// The editing windows driven by their controls: the wizard, the rule editor,
// the tree's menu and the advanced window.
#include "editing/AdvancedForm.h"
#include "editing/CreateNewApp_Step1.h"
#include "editing/EditApp_Step4.h"
#include "settings/GeneralMdl.h"
#include "windows/FormTools.h"
#include "windows/MainForm.h"

#include "Sandbox.h"
#include "platform/Files.h"
#include "platform/LogFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <gtest/gtest.h>
#include <sys/stat.h>

using testing_support::FakeProcessTable;
using testing_support::ReadText;
using testing_support::Sandbox;

namespace {

constexpr const char* kRules =
    "<APPLICATIONS>"
    "<APPLICATION><EXENAME>CURL</EXENAME><DESCRIPTION>CURL</DESCRIPTION><APPPATH>/usr/bin/curl</APPPATH>"
    "<INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF><RULES>"
    "<RULE><RULENAME>one</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE>"
    "<ENABLE>1</ENABLE><PORTS><PORT><NUMBER>80</NUMBER></PORT><PORT><NUMBER>443</NUMBER></PORT><PORT><NUMBER>8080"
    "</NUMBER></PORT></PORTS></RULE>"
    "<RULE><RULENAME>two</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE></RULE>"
    "<RULE><RULENAME>three</RULENAME><DIRECTION>INCOMING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE></RULE>"
    "</RULES></APPLICATION>"
    "<APPLICATION><EXENAME>FOLLOWER</EXENAME><DESCRIPTION>FOLLOWER</DESCRIPTION><INDEF></INDEF><OUTDEF></OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>SSHD</EXENAME><DESCRIPTION>SSHD</DESCRIPTION><ISSERVICE>1</ISSERVICE><INDEF></INDEF><OUTDEF></OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "</APPLICATIONS>";

// The main window over the rules above, a process table of its own, the
// ports list, and messages collected instead of shown.
class Editing : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox.InstallPanel("dns 53\r\nhttp 80\r\nhttps 443\r\n");
        sandbox.WriteRules(kRules);
        table.Add(1, 0, "/usr/lib/systemd/systemd");
        table.Add(50, 1, "/usr/bin/curl");
        table.Add(51, 1, "/usr/bin/wget");
        table.Add(52, 1, "/usr/sbin/ntpd", true);
        state.ProcRoot = table.Root();
        form = std::make_unique<MainForm>(state);
        form->Form_Load();
        form->show();
        panel::SetMessageSink([this](const QString& text) { messages << text; });
    }
    void TearDown() override
    {
        panel::SetMessageSink(nullptr);
        panel::TheErrorLog().Close();
    }
    QTreeWidgetItem* Node(const QString& text) const
    {
        const auto found = form->MainTreeView->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.first();
    }
    QString GroupOf(const QString& text) const
    {
        QTreeWidgetItem* node = Node(text);
        return node && node->parent() ? node->parent()->text(0) : QString();
    }
    std::vector<std::string> RuleNames(const char* app) const
    {
        std::vector<std::string> names;
        for (const auto& rule : state.CurrBuffer.GetAppFromBuffer(app)->RULES)
            names.push_back(rule->RuleName);
        return names;
    }
    QStringList Rows(const QTreeWidget* list, int column = 0) const
    {
        QStringList rows;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            rows << list->topLevelItem(i)->text(column);
        return rows;
    }

    Sandbox sandbox;
    FakeProcessTable table {sandbox.root + "/proc"};
    panel::PanelState state;
    std::unique_ptr<MainForm> form;
    QStringList messages;
};

}  // namespace

TEST_F(Editing, WizardOffersRunningProgramsWithoutAnEntryAndAddsOne)
{
    state.NewAppInDef = "ASK";
    state.NewAppOutDef = "PERMIT";
    CreateNewApp_Step1 wizard(*form, form.get());
    // The first process of the list is offered too; curl has an entry.
    EXPECT_EQ(Rows(wizard.lvw), (QStringList {"systemd", "wget"}));
    wizard.CheckShowSystem->click();
    EXPECT_EQ(Rows(wizard.lvw), (QStringList {"systemd", "wget", "ntpd"}));

    wizard.FinishBtn->click();
    EXPECT_EQ(messages, QStringList {"Please select an application"});
    wizard.ChossenApp->setText("typed");
    wizard.FinishBtn->click();
    EXPECT_EQ(messages.last(), "Please choose application");

    // A service: its Ask defaults become Block.
    wizard.lvw_Click(wizard.lvw->topLevelItem(2));
    EXPECT_EQ(wizard.ChossenApp->text(), "ntpd");
    wizard.FinishBtn->click();
    const panel::AppRecord ntpd = state.CurrBuffer.GetAppFromBuffer("NTPD");
    ASSERT_TRUE(ntpd);
    EXPECT_EQ(ntpd->IsService, "1");
    EXPECT_EQ(ntpd->InDef, "DENY");
    EXPECT_EQ(ntpd->OutDef, "PERMIT");
    EXPECT_EQ(ntpd->AppPath, "/usr/sbin/ntpd");
    EXPECT_EQ(state.Pic2WindowText, " NTPD");
    EXPECT_NE(ReadText(sandbox.rulesFile).find("<EXENAME>NTPD</EXENAME>"), std::string::npos);
    // Shown by its description, as chosen.
    EXPECT_EQ(GroupOf("ntpd"), "Combined Applications");
    EXPECT_EQ(form->MainTreeView->currentItem(), Node("ntpd"));
}

TEST_F(Editing, WizardBrowsesToAFileAndRefusesOneWithAnEntry)
{
    state.NewAppInDef = state.NewAppOutDef = "DENY";
    CreateNewApp_Step1 wizard(*form, form.get());
    wizard.ChooseFile = [] { return QString("/opt/tools/Backup-Tool"); };
    wizard.BrowseBtn->click();
    EXPECT_EQ(wizard.ChossenApp->text(), "Backup-Tool");
    wizard.FinishBtn->click();
    const panel::AppRecord tool = state.CurrBuffer.GetAppFromBuffer("BACKUP-TOOL");
    ASSERT_TRUE(tool);
    EXPECT_EQ(tool->DescriptionFile, "Backup-Tool");
    EXPECT_EQ(tool->AppPath, "/opt/tools/Backup-Tool");
    EXPECT_EQ(GroupOf("Backup-tool"), "Denied Applications");

    CreateNewApp_Step1 again(*form, form.get());
    again.ChooseFile = [] { return QString("/usr/local/bin/cUrL"); };
    again.BrowseBtn->click();
    again.FinishBtn->click();
    EXPECT_EQ(messages, QStringList {"This Application already exists in the FireWall rules"});
    again.ChooseFile = [] { return QString(); }; // the dialog cancelled
    again.BrowseBtn->click();
    EXPECT_EQ(again.ChossenApp->text(), "");
}

TEST_F(Editing, RuleEditorChecksWhatItStoresAndPutsChangesLast)
{
    state.NewAppToAdd = state.CurrBuffer.GetAppFromBuffer("CURL");
    EditApp_Step4 editor(*form, form.get());
    editor.Prepare(state.AppConsts.EDIT_RULE, 1);
    EXPECT_EQ(editor.windowTitle(), "Edit rule");
    EXPECT_EQ(editor.RuleName->text(), "one");
    EXPECT_EQ(Rows(editor.PortsListView), (QStringList {"80", "443", "8080"}));

    // The ports list: 53 shows dns, choosing http writes 80.
    editor.NewPortNum->setText("53");
    EXPECT_EQ(editor.NewPort_alias->currentText(), "dns");
    editor.NewPort_alias->setCurrentIndex(1);
    emit editor.NewPort_alias->activated(1);
    EXPECT_EQ(editor.NewPortNum->text(), "80");

    struct Case {
        const char* port;
        bool range;
        const char* list;
        const char* low;
        const char* high;
        const char* message; // nullptr: accepted
    } cases[] = {
        {"http", false, "", "", "", "Problem with the Port number"},
        {"25", false, "10.0.0.1,10.0.0", "", "", "Problem with the Ip list syntax"},
        {"25", true, "", "10.0.0.9", "10.0.0.1", "Problem with the Ip list syntax"},
        {"25", true, "", "10.0.0.5", "10.0.0.5", nullptr},
        {"", false, "10.0.0.1, 10.0.0.2", "", "", nullptr},
    };
    for (const Case& c : cases) {
        messages.clear();
        editor.NewPortNum->setText(c.port);
        (c.range ? editor.RemoteIpRange : editor.RemoteIp)->setChecked(true);
        editor.NewIpsList->setText(c.list);
        editor.IpMinRange->setText(c.low);
        editor.IpMaxRange->setText(c.high);
        editor.AddNew_Click();
        EXPECT_EQ(messages, c.message ? QStringList {c.message} : QStringList {}) << c.port << c.list << c.low;
    }
    const auto& ports = editor.WorkingRule().PORTS;
    ASSERT_EQ(ports.size(), 5u);
    EXPECT_EQ(ports[3]->Ips, std::vector<std::string> {"10.0.0.5-10.0.0.5"});
    EXPECT_EQ(ports[4]->nPort, 0); // an empty port is every port
    EXPECT_EQ(ports[4]->Ips, (std::vector<std::string> {"10.0.0.1", " 10.0.0.2"}));

    // Updating the first entry puts it last.
    editor.PortsListView_Click(editor.PortsListView->topLevelItem(0));
    EXPECT_EQ(editor.NewPortNum->text(), "80");
    editor.NewPortNum->setText("81");
    editor.EditPort_Click();
    EXPECT_EQ(Rows(editor.PortsListView), (QStringList {"443", "8080", "25", "0", "81"}));
    editor.PortsListView_Click(editor.PortsListView->topLevelItem(0));
    editor.DeletePort_Click();
    EXPECT_EQ(Rows(editor.PortsListView), (QStringList {"8080", "25", "0", "81"}));

    // OK: the edited rule goes last, switched on, and the file is written.
    editor.FinishCmd_Click();
    EXPECT_EQ(RuleNames("CURL"), (std::vector<std::string> {"two", "three", "one"}));
    const std::string rules = ReadText(sandbox.rulesFile);
    EXPECT_NE(rules.find("<RULENAME>one</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION>"
                         "<STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><NUMBER>8080</NUMBER></PORT>"),
              std::string::npos);
    EXPECT_NE(rules.find("<IPS><IP>10.0.0.5-10.0.0.5</IP></IPS>"), std::string::npos);
    EXPECT_EQ(state.Pic2WindowText, " CURL");

    // Cancel leaves the rules as they were.
    EditApp_Step4 cancelled(*form, form.get());
    cancelled.Prepare(state.AppConsts.ADD_RULE, 0);
    cancelled.NewPortNum->setText("9");
    cancelled.AddNew_Click();
    cancelled.CancelBtn->click();
    EXPECT_EQ(RuleNames("CURL").size(), 3u);
    EXPECT_EQ(ReadText(sandbox.rulesFile), rules);
}

TEST_F(Editing, RuleEditorTakesHostNamesForOutgoingRules)
{
    state.NewAppToAdd = state.CurrBuffer.GetAppFromBuffer("CURL");
    EditApp_Step4 editor(*form, form.get());
    editor.Prepare(state.AppConsts.ADD_RULE, 0);
    editor.RuleName->setText("web by name");
    editor.DirectionCombo->setCurrentText("INCOMING");
    EXPECT_FALSE(editor.RemoteHost->isEnabled()); // an incoming peer has no name
    editor.DirectionCombo->setCurrentText("OUTGOING");
    ASSERT_TRUE(editor.RemoteHost->isEnabled());

    const struct {
        const char* hosts;
        const char* message; // nullptr: accepted
    } cases[] = {
        {"a.*.example.org", "Problem with the host name syntax"},
        {"www.example.org,10.0.0.1", "Problem with the host name syntax"},
        {"ex ample.org", "Problem with the host name syntax"},
        {" *.Example.ORG. , bücher.example", nullptr},
    };
    for (const auto& c : cases) {
        messages.clear();
        editor.NewPortNum->setText("443");
        editor.RemoteHost->setChecked(true);
        editor.NewHostsList->setText(QString::fromUtf8(c.hosts));
        editor.AddNew_Click();
        EXPECT_EQ(messages, c.message ? QStringList {c.message} : QStringList {}) << c.hosts;
    }
    const auto& ports = editor.WorkingRule().PORTS;
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0]->Hosts, (std::vector<std::string> {"*.example.org", "xn--bcher-kva.example"}));
    // The list shows the names; a click puts them back in their field.
    EXPECT_EQ(editor.PortsListView->topLevelItem(0)->text(2), "*.example.org,xn--bcher-kva.example");
    editor.NewHostsList->clear();
    editor.PortsListView_Click(editor.PortsListView->topLevelItem(0));
    EXPECT_TRUE(editor.RemoteHost->isChecked());
    EXPECT_EQ(editor.NewHostsList->text(), "*.example.org,xn--bcher-kva.example");

    // Saved so that a reader without names permits nothing more than meant.
    editor.FinishCmd_Click();
    const std::string rules = ReadText(sandbox.rulesFile);
    EXPECT_NE(rules.find("<PORT><ALIAS>https</ALIAS><NUMBER>443</NUMBER><IPS><IP>255.255.255.255-0.0.0.0</IP></IPS><HOSTS>"
                         "<HOST>*.example.org</HOST><HOST>xn--bcher-kva.example</HOST></HOSTS></PORT>"),
              std::string::npos);
}

TEST_F(Editing, RuleEditorTakesIpv6AndPrefixesAndStoresEachForm)
{
    state.NewAppToAdd = state.CurrBuffer.GetAppFromBuffer("CURL");
    EditApp_Step4 editor(*form, form.get());
    editor.Prepare(state.AppConsts.ADD_RULE, 0);
    editor.RuleName->setText("v6");
    editor.PermissionCombo->setCurrentText("DENY");
    const struct {
        bool range;
        const char* list;
        const char* low;
        const char* high;
        const char* message; // nullptr: accepted
    } cases[] = {
        {false, "2001:db8::1", "", "", nullptr},
        {false, "10.0.0.0/8,2001:db8::/32", "", "", nullptr},
        {true, "", "fd00::1", "fd00::ff", nullptr},
        {false, "fd00::1::2", "", "", "Problem with the Ip list syntax"},
        {false, "2001:db8::/129", "", "", "Problem with the Ip list syntax"},
        {false, "10.0.0.0/33", "", "", "Problem with the Ip list syntax"},
        {false, "fd00::1-fd00::9", "", "", "Problem with the Ip list syntax"},
        {true, "", "fd00::ff", "fd00::1", "Problem with the Ip list syntax"},
        {true, "", "10.0.0.1", "fd00::1", "Problem with the Ip list syntax"},
        {true, "", "fd00::/64", "fd00::1:0", "Problem with the Ip list syntax"},
    };
    for (const auto& c : cases) {
        messages.clear();
        editor.NewPortNum->setText("443");
        (c.range ? editor.RemoteIpRange : editor.RemoteIp)->setChecked(true);
        editor.NewIpsList->setText(c.list);
        editor.IpMinRange->setText(c.low);
        editor.IpMaxRange->setText(c.high);
        editor.AddNew_Click();
        EXPECT_EQ(messages, c.message ? QStringList {c.message} : QStringList {}) << c.list << c.low << c.high;
        if (c.message) {
            EXPECT_EQ(editor.NewIpsList->text(), c.list); // kept, to be put right
        }
    }
    const auto& ports = editor.WorkingRule().PORTS;
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0]->Ips, std::vector<std::string> {"2001:db8::1"});
    EXPECT_EQ(ports[1]->Ips, (std::vector<std::string> {"10.0.0.0/8", "2001:db8::/32"}));
    EXPECT_EQ(ports[2]->Ips, std::vector<std::string> {"fd00::1-fd00::ff"});
    EXPECT_EQ(Rows(editor.PortsListView, 2), (QStringList {"2001:db8::1", "10.0.0.0/8,2001:db8::/32", "fd00::1-fd00::ff"}));
    // A click puts an IPv6 range back into the range fields.
    editor.PortsListView_Click(editor.PortsListView->topLevelItem(2));
    EXPECT_TRUE(editor.RemoteIpRange->isChecked());
    EXPECT_EQ(editor.IpMinRange->text(), "fd00::1");
    EXPECT_EQ(editor.IpMaxRange->text(), "fd00::ff");

    // Stored as written, where engines that cannot read them take the
    // denying ports as every address, and read back the same.
    editor.FinishCmd_Click();
    const std::string rules = ReadText(sandbox.rulesFile);
    EXPECT_NE(rules.find("<NUMBER>443</NUMBER><ADDRESSES><IP>10.0.0.0/8</IP><IP>2001:db8::/32</IP></ADDRESSES></PORT>"),
              std::string::npos);
    EXPECT_NE(rules.find("<ADDRESSES><IP>fd00::1-fd00::ff</IP></ADDRESSES>"), std::string::npos);
    panel::AppBuffer reloaded;
    ASSERT_TRUE(reloaded.LoadFromText(rules));
    EXPECT_EQ(reloaded.GetAppFromBuffer("CURL")->RULES.back()->PORTS[1]->Ips,
              (std::vector<std::string> {"10.0.0.0/8", "2001:db8::/32"}));
}

TEST_F(Editing, TreeMenuSetsDefaultsMovesAndDeletes)
{
    state.RightClickSelectedNode = "CURL";
    form->SetPopUpMenuChecked("CURL");
    QMenu* menu = form->PopupMenu();
    EXPECT_TRUE(menu->findChild<QAction*>("AllowIn")->isChecked());
    EXPECT_TRUE(menu->findChild<QAction*>("AllowOut")->isChecked());
    EXPECT_FALSE(menu->findChild<QAction*>("BlockIn")->isChecked());
    menu->findChild<QAction*>("BlockIn")->trigger();
    EXPECT_EQ(state.CurrBuffer.GetExeInDef("CURL"), "DENY");
    EXPECT_NE(ReadText(sandbox.rulesFile).find("<EXENAME>CURL</EXENAME><DESCRIPTION>CURL</DESCRIPTION><APPPATH>/usr/bin/curl"
                                               "</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>PERMIT"),
              std::string::npos);
    EXPECT_EQ(GroupOf("Curl"), "Combined Applications");
    menu->findChild<QAction*>("BlockOut")->trigger();
    EXPECT_EQ(GroupOf("Curl"), "Denied Applications");
    // An application that follows the system settings shows no mark.
    state.RightClickSelectedNode = "FOLLOWER";
    form->SetPopUpMenuChecked("FOLLOWER");
    for (const char* item : {"AllowIn", "AskIn", "BlockIn", "AllowOut", "AskOut", "BlockOut"})
        EXPECT_FALSE(menu->findChild<QAction*>(item)->isChecked()) << item;

    menu->findChild<QAction*>("DelApp")->trigger();
    EXPECT_FALSE(state.CurrBuffer.GetAppFromBuffer("FOLLOWER"));
    EXPECT_FALSE(Node("Follower"));
    EXPECT_EQ(ReadText(sandbox.rulesFile).find("FOLLOWER"), std::string::npos);
    EXPECT_EQ(form->MainTreeView->currentItem(), Node("System settings"));
    EXPECT_TRUE(form->SystemFrame->isVisibleTo(form.get()));
}

TEST_F(Editing, AdvancedSystemSettingsFollowTheModeAndOkStoresCustom)
{
    AdvancedForm advanced(*form, form.get());
    advanced.Prepare(0, "ANY");
    EXPECT_FALSE(advanced.ApplyCustomCheck->isChecked());
    EXPECT_FALSE(advanced.InAllow->isEnabled());
    EXPECT_FALSE(advanced.Label1->isEnabled());
    advanced.ApplyCustomCheck->click();
    EXPECT_TRUE(advanced.InAllow->isEnabled());
    advanced.InBlock->click();
    advanced.OutAsk->click();
    advanced.CmdOk->click();
    EXPECT_EQ(state.Settings.SecurityMode, "Custom");
    EXPECT_EQ(state.CurrBuffer.GetExeInDef("ANY"), "DENY");
    EXPECT_EQ(state.CurrBuffer.GetExeOutDef("ANY"), "ASK");
}

TEST_F(Editing, AdvancedApplicationFollowsSystemRulesUntilAButtonIsChosen)
{
    AdvancedForm advanced(*form, form.get());
    advanced.Prepare(1, "SSHD");
    EXPECT_TRUE(advanced.ApplyCustomCheck->isChecked());
    EXPECT_FALSE(advanced.InAsk->isEnabled()); // a service is never asked
    advanced.InAllow->click();
    EXPECT_FALSE(advanced.ApplyCustomCheck->isChecked());
    // The outgoing group shows the general default (PERMIT).
    EXPECT_TRUE(advanced.OutAllow->isChecked());
    advanced.CmdOk->click();
    EXPECT_EQ(state.CurrBuffer.GetExeInDef("SSHD"), "PERMIT");
    EXPECT_EQ(state.CurrBuffer.GetExeOutDef("SSHD"), "PERMIT");
    EXPECT_EQ(state.Pic2WindowText, " SSHD");
}

TEST_F(Editing, AdvancedRulesMoveWithinBoundsAndCancelRestoresTheOrder)
{
    AdvancedForm advanced(*form, form.get());
    advanced.Prepare(1, "CURL");
    advanced.DelRuleBtn->click();
    advanced.EditRuleBtn->click();
    EXPECT_EQ(messages, (QStringList {"Please select a rule", "Please select a rule"}));

    // A switched-off rule is written at once; it stays so after Cancel.
    advanced.MainListView->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    EXPECT_NE(ReadText(sandbox.rulesFile).find("<RULENAME>two</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY"
                                               "</PERMISSION><STATE>0</STATE>"),
              std::string::npos);

    advanced.MainListView_Click(advanced.MainListView->topLevelItem(0));
    advanced.MoveUpCmd->click(); // the first goes no higher
    EXPECT_EQ(RuleNames("CURL"), (std::vector<std::string> {"one", "two", "three"}));
    advanced.MoveDownCmd->click();
    EXPECT_EQ(RuleNames("CURL"), (std::vector<std::string> {"two", "one", "three"}));
    EXPECT_EQ(advanced.SelectedRule(), 2);
    advanced.MoveDownCmd->click();
    advanced.MoveDownCmd->click(); // the last goes no lower
    EXPECT_EQ(RuleNames("CURL"), (std::vector<std::string> {"two", "three", "one"}));
    EXPECT_EQ(Rows(advanced.MainListView, 1), (QStringList {"two", "three", "one"}));

    // Cancel puts the order back.
    advanced.CmdCancel->click();
    EXPECT_EQ(RuleNames("CURL"), (std::vector<std::string> {"one", "two", "three"}));
    EXPECT_EQ(state.CurrBuffer.GetAppFromBuffer("CURL")->RULES[1]->State, "0");
    const std::string rules = ReadText(sandbox.rulesFile);
    EXPECT_LT(rules.find("<RULENAME>one</RULENAME>"), rules.find("<RULENAME>two</RULENAME>"));
}

TEST_F(Editing, RunningProgramsStripShowsSixAtMost)
{
    std::string log;
    for (int i = 0; i < 8; ++i) {
        const std::string path = "/opt/tools/tool" + std::to_string(i);
        table.Add(200 + i, 1, path);
        log += "<DATE>d</DATE><TIME>t</TIME><APPLICATIONSTART>" + path + "</APPLICATIONSTART>\r\n";
    }
    testing_support::WriteText(platform::TrafficLogFileName(sandbox.logs, std::time(nullptr)), log);
    form->RunningProcessesIcons();
    ASSERT_EQ(form->RunProcIconList->count(), 6);
    EXPECT_EQ(form->RunProcIconList->item(0)->text(), "tool0");
    EXPECT_EQ(form->RunProcIconList->item(5)->data(Qt::UserRole).toString(), "/opt/tools/tool5");
}
