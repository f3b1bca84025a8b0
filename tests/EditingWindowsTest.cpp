// The editing windows driven by their controls: the wizard, the rule editor,
// the tree's menu and the advanced window, each opened as the user opens it.
#include "panel/core/ErrorLog.h"
#include "panel/core/PanelCore.h"
#include "panel/dialogs/AdvancedForm.h"
#include "panel/dialogs/ApplicationWizard.h"
#include "panel/dialogs/RuleEditor.h"
#include "panel/widgets/WindowTools.h"
#include "panel/windows/MainForm.h"

#include "os/Files.h"
#include "protocol/LogFiles.h"
#include "tests/PanelWindowDriver.h"
#include "tests/Sandbox.h"

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
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>
#include <sys/stat.h>

using rules::Permission;
using testing_support::FakeProcessTable;
using testing_support::Part;
using testing_support::ReadText;
using testing_support::Sandbox;
using testing_support::WithModal;
using panel::AdvancedForm;
using panel::ApplicationWizard;
using panel::MainForm;
using panel::RuleEditor;

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
        core.SetProcRoot(table.Root());
        form = std::make_unique<MainForm>(core);
        form->Load();
        form->show();
        panel::SetMessageSink([this](const QString& text) { messages << text; });
    }
    void TearDown() override
    {
        panel::SetMessageSink(nullptr);
        panel::TheErrorLog().Close();
    }
    QTreeWidgetItem* Node(const QString& text) const { return testing_support::Node(*form, text); }
    QString GroupOf(const QString& text) const
    {
        QTreeWidgetItem* node = Node(text);
        return node && node->parent() ? node->parent()->text(0) : QString();
    }
    std::vector<std::string> RuleNames(const char* app) const
    {
        std::vector<std::string> names;
        for (const auto& rule : core.Rules().Find(app)->rules)
            names.push_back(rule.name);
        return names;
    }
    static QStringList Rows(const QTreeWidget* list, int column = 0)
    {
        QStringList rows;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            rows << list->topLevelItem(i)->text(column);
        return rows;
    }
    template <typename T>
    static T* In(QWidget* window, const char* name)
    {
        return window->findChild<T*>(name);
    }
    static void Press(QWidget* window, const char* name) { In<QAbstractButton>(window, name)->click(); }
    // The advanced window of a node, opened as the user opens it.
    void Advanced(const QString& node, const std::function<void(QDialog*)>& handle)
    {
        testing_support::Click(*form, node);
        ASSERT_TRUE(WithModal([&] { Press(form.get(), "CmdAdvanced"); }, handle));
    }

    Sandbox sandbox;
    FakeProcessTable table {sandbox.root + "/proc"};
    panel::PanelCore core;
    std::unique_ptr<MainForm> form;
    QStringList messages;
};

// The rule editor as the advanced window gives it: CURL's rule 1, or a new one.
RuleEditor::Input EditorInput(std::optional<rules::Rule> rule)
{
    RuleEditor::Input input;
    input.application = "Curl";
    input.rule = std::move(rule);
    input.portNames = {{"dns", 53}, {"http", 80}, {"https", 443}};
    return input;
}

}  // namespace

TEST_F(Editing, WizardOffersRunningProgramsWithoutAnEntryAndAddsOne)
{
    // Opened from the tree's "Combined Applications": its defaults, ASK both ways.
    auto* tree = testing_support::Tree(*form);
    QTreeWidgetItem* combined = Node("Combined Applications");
    emit tree->customContextMenuRequested(tree->visualItemRect(combined).center());
    auto* addNew = Part<QMenu>(*form, "AddNewMenu");
    ASSERT_TRUE(addNew->isVisible());
    addNew->hide();
    ASSERT_TRUE(WithModal([&] { addNew->findChild<QAction*>("AddNewApp")->trigger(); }, [&](QDialog* wizard) {
        auto* list = In<QTreeWidget>(wizard, "lvw");
        // The first process of the list is offered too; curl has an entry.
        EXPECT_EQ(Rows(list), (QStringList {"systemd", "wget"}));
        Press(wizard, "CheckShowSystem");
        EXPECT_EQ(Rows(list), (QStringList {"systemd", "wget", "ntpd"}));

        Press(wizard, "FinishBtn");
        EXPECT_EQ(messages, QStringList {"Please select an application"});
        In<QLineEdit>(wizard, "ChossenApp")->setText("typed");
        Press(wizard, "FinishBtn");
        EXPECT_EQ(messages.last(), "Please choose application");

        // A service: its Ask defaults become Block.
        emit list->itemClicked(list->topLevelItem(2), 0);
        EXPECT_EQ(In<QLineEdit>(wizard, "ChossenApp")->text(), "ntpd");
        Press(wizard, "FinishBtn");
    }));
    // Bound to the program's file: known by its path.
    const rules::Application* ntpd = core.Rules().Find("/usr/sbin/ntpd");
    ASSERT_TRUE(ntpd);
    EXPECT_TRUE(ntpd->service);
    EXPECT_EQ(ntpd->incoming, Permission::kDeny);
    EXPECT_EQ(ntpd->outgoing, Permission::kDeny);
    EXPECT_EQ(ntpd->path, "/usr/sbin/ntpd");
    EXPECT_EQ(core.Updates().Text(), " NTPD");
    EXPECT_NE(ReadText(sandbox.rulesFile).find("<EXENAME>NTPD</EXENAME>"), std::string::npos);
    // Shown by its description, as chosen.
    EXPECT_EQ(GroupOf("ntpd"), "Blocked Applications");
    EXPECT_EQ(testing_support::Tree(*form)->currentItem(), Node("ntpd"));
}

TEST_F(Editing, WizardBrowsesToAFileAndRefusesOneWithAnEntry)
{
    // From the toolbar: the general defaults (ASK in, PERMIT out).
    QAction* add = form->findChild<QAction*>("App");
    ASSERT_TRUE(WithModal([&] { add->trigger(); }, [&](QDialog* dialog) {
        auto* wizard = static_cast<ApplicationWizard*>(dialog);
        wizard->ChooseFile = [] { return QString("/opt/tools/Backup-Tool"); };
        Press(wizard, "BrowseBtn");
        EXPECT_EQ(In<QLineEdit>(wizard, "ChossenApp")->text(), "Backup-Tool");
        Press(wizard, "FinishBtn");
    }));
    const rules::Application* tool = core.Rules().Find("/opt/tools/Backup-Tool");
    ASSERT_TRUE(tool);
    EXPECT_EQ(tool->description, "Backup-Tool");
    EXPECT_EQ(tool->path, "/opt/tools/Backup-Tool");
    EXPECT_EQ(tool->incoming, Permission::kAsk);
    EXPECT_EQ(tool->outgoing, Permission::kPermit);
    EXPECT_EQ(GroupOf("Backup-Tool"), "Combined Applications");
    // The same program only when git starts it: an entry of its own, by name.
    ASSERT_TRUE(WithModal([&] { add->trigger(); }, [&](QDialog* dialog) {
        auto* wizard = static_cast<ApplicationWizard*>(dialog);
        wizard->ChooseFile = [] { return QString("/opt/tools/Backup-Tool"); };
        Press(wizard, "BrowseBtn");
        In<QLineEdit>(wizard, "StartedBy")->setText(" git ");
        Press(wizard, "FinishBtn");
    }));
    EXPECT_NE(ReadText(sandbox.rulesFile).find("<EXENAME>BACKUP-TOOL/GIT</EXENAME><DESCRIPTION>BACKUP-TOOL</DESCRIPTION>"
                                               "<APPPATH>/opt/tools/Backup-Tool</APPPATH><PARENT>GIT</PARENT>"), std::string::npos);

    ASSERT_TRUE(WithModal([&] { add->trigger(); }, [&](QDialog* dialog) {
        auto* wizard = static_cast<ApplicationWizard*>(dialog);
        wizard->ChooseFile = [] { return QString("/usr/local/bin/cUrL"); };
        Press(wizard, "BrowseBtn");
        Press(wizard, "FinishBtn");
        EXPECT_EQ(messages, QStringList {"This application already exists in the firewall rules"});
        wizard->ChooseFile = [] { return QString(); }; // the dialog cancelled
        Press(wizard, "BrowseBtn");
        EXPECT_EQ(In<QLineEdit>(wizard, "ChossenApp")->text(), "");
        Press(wizard, "CancelBtn");
    }));
    EXPECT_EQ(core.Rules().Document().applications.size(), 6u);
}

TEST_F(Editing, RuleEditorChecksWhatItStoresAndPutsChangesLast)
{
    RuleEditor editor(EditorInput(core.Rules().Find("CURL")->rules[0]), form.get());
    EXPECT_EQ(editor.windowTitle(), "Edit rule");
    EXPECT_EQ(In<QLineEdit>(&editor, "RuleName")->text(), "one");
    auto* ports = In<QTreeWidget>(&editor, "PortsListView");
    EXPECT_EQ(Rows(ports), (QStringList {"80", "443", "8080"}));

    // The ports list: 53 shows dns, choosing http writes 80.
    auto* number = In<QLineEdit>(&editor, "NewPortNum");
    auto* alias = In<QComboBox>(&editor, "NewPort_alias");
    number->setText("53");
    EXPECT_EQ(alias->currentText(), "dns");
    alias->setCurrentIndex(1);
    emit alias->activated(1);
    EXPECT_EQ(number->text(), "80");

    struct Case {
        const char* port;
        bool range;
        const char* list;
        const char* low;
        const char* high;
        const char* message; // nullptr: accepted
    } cases[] = {
        {"http", false, "", "", "", "Problem with the Port number"},
        {"25", false, "10.0.0.1,10.0.0", "", "", "Problem with the IP list syntax"},
        {"25", true, "", "10.0.0.9", "10.0.0.1", "Problem with the IP list syntax"},
        {"25", true, "", "10.0.0.5", "10.0.0.5", nullptr},
        {"", false, "10.0.0.1, 10.0.0.2", "", "", nullptr},
    };
    for (const Case& c : cases) {
        messages.clear();
        number->setText(c.port);
        In<QRadioButton>(&editor, c.range ? "RemoteIpRange" : "RemoteIp")->setChecked(true);
        In<QLineEdit>(&editor, "NewIpsList")->setText(c.list);
        In<QLineEdit>(&editor, "IpMinRange")->setText(c.low);
        In<QLineEdit>(&editor, "IpMaxRange")->setText(c.high);
        Press(&editor, "AddNew");
        EXPECT_EQ(messages, c.message ? QStringList {c.message} : QStringList {}) << c.port << c.list << c.low;
    }
    const std::vector<rules::Port> added = editor.Result().ports;
    ASSERT_EQ(added.size(), 5u);
    EXPECT_EQ(added[3].addresses, std::vector<std::string> {"10.0.0.5-10.0.0.5"});
    EXPECT_EQ(added[4].Number(), 0); // an empty port is every port
    EXPECT_EQ(added[4].addresses, (std::vector<std::string> {"10.0.0.1", " 10.0.0.2"}));

    // Updating the first entry puts it last.
    emit ports->itemClicked(ports->topLevelItem(0), 0);
    EXPECT_EQ(number->text(), "80");
    number->setText("81");
    Press(&editor, "EditPort");
    EXPECT_EQ(Rows(ports), (QStringList {"443", "8080", "25", "0", "81"}));
    emit ports->itemClicked(ports->topLevelItem(0), 0);
    Press(&editor, "DeletePort");
    EXPECT_EQ(Rows(ports), (QStringList {"8080", "25", "0", "81"}));
}

// Through the advanced window: OK puts the edited rule last, switched on,
// saves and publishes; Cancel leaves the rules as they were.
TEST_F(Editing, EditedRuleGoesLastAndACancelledOneChangesNothing)
{
    std::string rules;
    Advanced("curl", [&](QDialog* advanced) {
        auto* list = In<QTreeWidget>(advanced, "MainListView");
        emit list->itemClicked(list->topLevelItem(0), 0);
        ASSERT_TRUE(WithModal([&] { Press(advanced, "EditRuleBtn"); }, [&](QDialog* editor) {
            In<QLineEdit>(editor, "NewPortNum")->setText("25");
            In<QRadioButton>(editor, "RemoteIpRange")->setChecked(true);
            In<QLineEdit>(editor, "IpMinRange")->setText("10.0.0.5");
            In<QLineEdit>(editor, "IpMaxRange")->setText("10.0.0.5");
            Press(editor, "AddNew");
            Press(editor, "FinishCmd");
        }));
        EXPECT_EQ(RuleNames("CURL"), (std::vector<std::string> {"two", "three", "one"}));
        rules = ReadText(sandbox.rulesFile);
        EXPECT_NE(rules.find("<RULENAME>one</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION>"
                             "<STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><NUMBER>80</NUMBER></PORT>"),
                  std::string::npos);
        EXPECT_NE(rules.find("<IPS><IP>10.0.0.5-10.0.0.5</IP></IPS>"), std::string::npos);
        EXPECT_EQ(core.Updates().Text(), " CURL");
        EXPECT_EQ(Rows(list, 1), (QStringList {"two", "three", "one"}));

        // Cancel leaves the rules as they were.
        ASSERT_TRUE(WithModal([&] { Press(advanced, "AddRuleBtn"); }, [&](QDialog* editor) {
            EXPECT_EQ(editor->windowTitle(), "Add rule");
            In<QLineEdit>(editor, "NewPortNum")->setText("9");
            Press(editor, "AddNew");
            Press(editor, "CancelBtn");
        }));
        EXPECT_EQ(RuleNames("CURL").size(), 3u);
        EXPECT_EQ(ReadText(sandbox.rulesFile), rules);
        Press(advanced, "CmdOk");
    });
}

// OK takes what the port fields hold as Add (or Update, for the port chosen
// in the list) would take it, with the same checks; a rule of no port is
// refused. A refusal keeps the editor open with what was typed.
TEST_F(Editing, RuleEditorSavesOnOkWhatWasTypedAndRefusesARuleOfNoPort)
{
    Advanced("curl", [&](QDialog* advanced) {
        const std::string before = ReadText(sandbox.rulesFile);
        ASSERT_TRUE(WithModal([&] { Press(advanced, "AddRuleBtn"); }, [&](QDialog* editor) {
            In<QLineEdit>(editor, "RuleName")->setText("nothing");
            Press(editor, "FinishCmd");
            EXPECT_EQ(messages, QStringList {"This rule covers no port: add a port first (leave the number empty for all ports)"});
            EXPECT_TRUE(editor->isVisible());
            Press(editor, "CancelBtn");
        }));
        EXPECT_EQ(RuleNames("CURL").size(), 3u);
        EXPECT_EQ(ReadText(sandbox.rulesFile), before);

        messages.clear();
        ASSERT_TRUE(WithModal([&] { Press(advanced, "AddRuleBtn"); }, [&](QDialog* editor) {
            In<QLineEdit>(editor, "RuleName")->setText("typed");
            QTest::keyClicks(In<QLineEdit>(editor, "NewPortNum"), "25");
            QTest::keyClicks(In<QLineEdit>(editor, "NewIpsList"), "10.0.0.7,10.0.0");
            Press(editor, "FinishCmd");
            EXPECT_EQ(messages, QStringList {"Problem with the IP list syntax"});
            ASSERT_TRUE(editor->isVisible());
            QTest::keyClicks(In<QLineEdit>(editor, "NewIpsList"), ".8");
            Press(editor, "FinishCmd");
            EXPECT_FALSE(editor->isVisible());
        }));
        EXPECT_EQ(RuleNames("CURL"), (std::vector<std::string> {"one", "two", "three", "typed"}));
        const rules::Rule& typed = core.Rules().Find("CURL")->rules.back();
        ASSERT_EQ(typed.ports.size(), 1u);
        EXPECT_EQ(typed.ports[0].Number(), 25);
        EXPECT_EQ(typed.ports[0].addresses, (std::vector<std::string> {"10.0.0.7", "10.0.0.8"}));
        EXPECT_NE(ReadText(sandbox.rulesFile).find("<RULENAME>typed</RULENAME>"), std::string::npos);

        // A port chosen in the list and changed without Update is updated;
        // one chosen and left as it was is not added twice.
        auto* list = In<QTreeWidget>(advanced, "MainListView");
        emit list->itemClicked(list->topLevelItem(0), 0);
        ASSERT_TRUE(WithModal([&] { Press(advanced, "EditRuleBtn"); }, [&](QDialog* editor) {
            auto* ports = In<QTreeWidget>(editor, "PortsListView");
            emit ports->itemClicked(ports->topLevelItem(0), 0);
            auto* number = In<QLineEdit>(editor, "NewPortNum");
            number->selectAll();
            QTest::keyClicks(number, "81");
            emit ports->itemClicked(ports->topLevelItem(1), 0);
            emit ports->itemClicked(ports->topLevelItem(2), 0);
            number->selectAll();
            QTest::keyClicks(number, "8081");
            Press(editor, "FinishCmd");
        }));
        const rules::Rule& edited = core.Rules().Find("CURL")->rules.back();
        EXPECT_EQ(edited.name, "one");
        std::vector<int> numbers;
        for (const rules::Port& port : edited.ports)
            numbers.push_back(port.Number().value_or(-1));
        EXPECT_EQ(numbers, (std::vector<int> {80, 443, 8081}));
        Press(advanced, "CmdOk");
    });
}

// An asking rule edited stays an asking rule: the editor offers what it is.
TEST_F(Editing, RuleEditorKeepsAnAskingRuleAsking)
{
    rules::Rule asking = core.Rules().Find("CURL")->rules[1];
    asking.permission = Permission::kAsk;
    RuleEditor editor(EditorInput(asking), form.get());
    EXPECT_EQ(In<QComboBox>(&editor, "PermissionCombo")->currentText(), "Ask");
    EXPECT_EQ(editor.Result().permission, Permission::kAsk);
    RuleEditor fresh(EditorInput(std::nullopt), form.get());
    EXPECT_EQ(In<QComboBox>(&fresh, "PermissionCombo")->count(), 2); // Allow and Block for a new one
}

TEST_F(Editing, RuleEditorTakesHostNamesForOutgoingRules)
{
    RuleEditor editor(EditorInput(std::nullopt), form.get());
    In<QLineEdit>(&editor, "RuleName")->setText("web by name");
    auto* direction = In<QComboBox>(&editor, "DirectionCombo");
    auto* remoteHost = In<QRadioButton>(&editor, "RemoteHost");
    auto* hosts = In<QLineEdit>(&editor, "NewHostsList");
    auto* ports = In<QTreeWidget>(&editor, "PortsListView");
    direction->setCurrentText("Incoming");
    EXPECT_FALSE(remoteHost->isEnabled()); // an incoming peer has no name
    direction->setCurrentText("Outgoing");
    ASSERT_TRUE(remoteHost->isEnabled());

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
        In<QLineEdit>(&editor, "NewPortNum")->setText("443");
        remoteHost->setChecked(true);
        hosts->setText(QString::fromUtf8(c.hosts));
        Press(&editor, "AddNew");
        EXPECT_EQ(messages, c.message ? QStringList {c.message} : QStringList {}) << c.hosts;
    }
    // The list shows the names; a click puts them back in their field.
    EXPECT_EQ(ports->topLevelItem(0)->text(2), "*.example.org,xn--bcher-kva.example");
    hosts->clear();
    emit ports->itemClicked(ports->topLevelItem(0), 0);
    EXPECT_TRUE(remoteHost->isChecked());
    EXPECT_EQ(hosts->text(), "*.example.org,xn--bcher-kva.example");

    // Handed over so that a reader without names permits nothing more than meant.
    const rules::Rule rule = editor.Result();
    ASSERT_EQ(rule.ports.size(), 1u);
    EXPECT_EQ(rule.ports[0].hosts, (std::vector<std::string> {"*.example.org", "xn--bcher-kva.example"}));
    EXPECT_EQ(rule.ports[0].addresses, std::vector<std::string> {rules::rules_format::kNoAddress});
    EXPECT_EQ(rule.ports[0].alias, "https");
}

TEST_F(Editing, RuleEditorTakesIpv6AndPrefixesAndStoresEachForm)
{
    RuleEditor editor(EditorInput(std::nullopt), form.get());
    In<QLineEdit>(&editor, "RuleName")->setText("v6");
    In<QComboBox>(&editor, "PermissionCombo")->setCurrentText("Block");
    auto* list = In<QLineEdit>(&editor, "NewIpsList");
    auto* low = In<QLineEdit>(&editor, "IpMinRange");
    auto* high = In<QLineEdit>(&editor, "IpMaxRange");
    auto* range = In<QRadioButton>(&editor, "RemoteIpRange");
    auto* portsList = In<QTreeWidget>(&editor, "PortsListView");
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
        {false, "fd00::1::2", "", "", "Problem with the IP list syntax"},
        {false, "2001:db8::/129", "", "", "Problem with the IP list syntax"},
        {false, "10.0.0.0/33", "", "", "Problem with the IP list syntax"},
        {false, "fd00::1-fd00::9", "", "", "Problem with the IP list syntax"},
        {true, "", "fd00::ff", "fd00::1", "Problem with the IP list syntax"},
        {true, "", "10.0.0.1", "fd00::1", "Problem with the IP list syntax"},
        {true, "", "fd00::/64", "fd00::1:0", "Problem with the IP list syntax"},
    };
    for (const auto& c : cases) {
        messages.clear();
        In<QLineEdit>(&editor, "NewPortNum")->setText("443");
        (c.range ? range : In<QRadioButton>(&editor, "RemoteIp"))->setChecked(true);
        list->setText(c.list);
        low->setText(c.low);
        high->setText(c.high);
        Press(&editor, "AddNew");
        EXPECT_EQ(messages, c.message ? QStringList {c.message} : QStringList {}) << c.list << c.low << c.high;
        if (c.message) {
            EXPECT_EQ(list->text(), c.list); // kept, to be put right
        }
    }
    const rules::Rule rule = editor.Result();
    const auto& ports = rule.ports;
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].addresses, std::vector<std::string> {"2001:db8::1"});
    EXPECT_EQ(ports[1].addresses, (std::vector<std::string> {"10.0.0.0/8", "2001:db8::/32"}));
    EXPECT_EQ(ports[2].addresses, std::vector<std::string> {"fd00::1-fd00::ff"});
    EXPECT_EQ(Rows(portsList, 2), (QStringList {"2001:db8::1", "10.0.0.0/8,2001:db8::/32", "fd00::1-fd00::ff"}));
    // A click puts an IPv6 range back into the range fields.
    emit portsList->itemClicked(portsList->topLevelItem(2), 0);
    EXPECT_TRUE(range->isChecked());
    EXPECT_EQ(low->text(), "fd00::1");
    EXPECT_EQ(high->text(), "fd00::ff");

    // Stored as written, where engines that cannot read them take the
    // denying ports as every address, and read back the same.
    ASSERT_TRUE(core.PutRule("CURL", std::nullopt, rule));
    const std::string rules = ReadText(sandbox.rulesFile);
    EXPECT_NE(rules.find("<NUMBER>443</NUMBER><ADDRESSES><IP>10.0.0.0/8</IP><IP>2001:db8::/32</IP></ADDRESSES></PORT>"),
              std::string::npos);
    EXPECT_NE(rules.find("<ADDRESSES><IP>fd00::1-fd00::ff</IP></ADDRESSES>"), std::string::npos);
    panel::RulesStore reloaded;
    ASSERT_TRUE(reloaded.LoadText(rules));
    EXPECT_EQ(reloaded.Find("CURL")->rules.back().ports[1].addresses,
              (std::vector<std::string> {"10.0.0.0/8", "2001:db8::/32"}));
}

TEST_F(Editing, TreeMenuSetsDefaultsMovesAndDeletes)
{
    auto* tree = testing_support::Tree(*form);
    const auto openMenu = [&](const QString& node) {
        emit tree->customContextMenuRequested(tree->visualItemRect(Node(node)).center());
        auto* menu = Part<QMenu>(*form, "MAinMenu");
        menu->hide();
        return menu;
    };
    QMenu* menu = openMenu("curl");
    EXPECT_TRUE(menu->findChild<QAction*>("AllowIn")->isChecked());
    EXPECT_TRUE(menu->findChild<QAction*>("AllowOut")->isChecked());
    EXPECT_FALSE(menu->findChild<QAction*>("BlockIn")->isChecked());
    menu->findChild<QAction*>("BlockIn")->trigger();
    EXPECT_EQ(core.Rules().Find("CURL")->incoming, Permission::kDeny);
    EXPECT_NE(ReadText(sandbox.rulesFile).find("<EXENAME>CURL</EXENAME><DESCRIPTION>CURL</DESCRIPTION><APPPATH>/usr/bin/curl"
                                               "</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>PERMIT"),
              std::string::npos);
    EXPECT_EQ(GroupOf("curl"), "Combined Applications");
    openMenu("curl")->findChild<QAction*>("BlockOut")->trigger();
    EXPECT_EQ(GroupOf("curl"), "Blocked Applications");
    // An application that follows the system settings shows no mark.
    menu = openMenu("Follower");
    for (const char* item : {"AllowIn", "AskIn", "BlockIn", "AllowOut", "AskOut", "BlockOut"})
        EXPECT_FALSE(menu->findChild<QAction*>(item)->isChecked()) << item;

    menu->findChild<QAction*>("DelApp")->trigger();
    EXPECT_FALSE(core.Rules().Find("FOLLOWER"));
    EXPECT_FALSE(Node("Follower"));
    EXPECT_EQ(ReadText(sandbox.rulesFile).find("FOLLOWER"), std::string::npos);
    EXPECT_EQ(core.Updates().Text(), " CURL FOLLOWER");
    EXPECT_EQ(tree->currentItem(), Node("System settings"));
    EXPECT_TRUE(Part<QGroupBox>(*form, "SystemFrame")->isVisibleTo(form.get()));
}

TEST_F(Editing, AdvancedSystemSettingsFollowTheModeAndOkStoresCustom)
{
    core.SetMode(panel::SecurityMode::kNormal);
    Advanced("System settings", [&](QDialog* advanced) {
        auto* check = In<QCheckBox>(advanced, "ApplyCustomCheck");
        EXPECT_FALSE(check->isChecked());
        EXPECT_FALSE(In<QRadioButton>(advanced, "InAllow")->isEnabled());
        EXPECT_FALSE(In<QLabel>(advanced, "Label1")->isEnabled());
        check->click();
        EXPECT_TRUE(In<QRadioButton>(advanced, "InAllow")->isEnabled());
        Press(advanced, "InBlock");
        Press(advanced, "OutAsk");
        Press(advanced, "CmdOk");
    });
    EXPECT_EQ(core.Mode(), panel::SecurityMode::kCustom);
    EXPECT_EQ(core.Rules().Find("ANY")->incoming, Permission::kDeny);
    EXPECT_EQ(core.Rules().Find("ANY")->outgoing, Permission::kAsk);
}

TEST_F(Editing, AdvancedApplicationFollowsSystemRulesUntilAButtonIsChosen)
{
    Advanced("Sshd", [&](QDialog* advanced) {
        auto* check = In<QCheckBox>(advanced, "ApplyCustomCheck");
        EXPECT_TRUE(check->isChecked());
        EXPECT_FALSE(In<QRadioButton>(advanced, "InAsk")->isEnabled()); // a service is never asked
        Press(advanced, "InAllow");
        EXPECT_FALSE(check->isChecked());
        // The outgoing group shows the general default (PERMIT).
        EXPECT_TRUE(In<QRadioButton>(advanced, "OutAllow")->isChecked());
        Press(advanced, "CmdOk");
    });
    EXPECT_EQ(core.Rules().Find("SSHD")->incoming, Permission::kPermit);
    EXPECT_EQ(core.Rules().Find("SSHD")->outgoing, Permission::kPermit);
    EXPECT_EQ(core.Updates().Text(), " SSHD");
}

TEST_F(Editing, AdvancedRulesMoveWithinBoundsAndCancelRestoresTheOrder)
{
    Advanced("curl", [&](QDialog* dialog) {
        auto* advanced = static_cast<AdvancedForm*>(dialog);
        Press(advanced, "DelRuleBtn");
        Press(advanced, "EditRuleBtn");
        EXPECT_EQ(messages, (QStringList {"Please select a rule", "Please select a rule"}));

        // A switched-off rule is written at once; it stays so after Cancel.
        auto* list = In<QTreeWidget>(advanced, "MainListView");
        list->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
        EXPECT_NE(ReadText(sandbox.rulesFile).find("<RULENAME>two</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY"
                                                   "</PERMISSION><STATE>0</STATE>"),
                  std::string::npos);

        emit list->itemClicked(list->topLevelItem(0), 0);
        Press(advanced, "MoveUpCmd"); // the first goes no higher
        EXPECT_EQ(RuleNames("CURL"), (std::vector<std::string> {"one", "two", "three"}));
        Press(advanced, "MoveDownCmd");
        EXPECT_EQ(RuleNames("CURL"), (std::vector<std::string> {"two", "one", "three"}));
        EXPECT_EQ(advanced->SelectedRule(), 1);
        Press(advanced, "MoveDownCmd");
        Press(advanced, "MoveDownCmd"); // the last goes no lower
        EXPECT_EQ(RuleNames("CURL"), (std::vector<std::string> {"two", "three", "one"}));
        EXPECT_EQ(Rows(list, 1), (QStringList {"two", "three", "one"}));
        // Switched on again after the moves: it stays on after Cancel too.
        list->topLevelItem(0)->setCheckState(0, Qt::Checked);
        list->topLevelItem(0)->setCheckState(0, Qt::Unchecked);

        // Cancel puts the order back.
        Press(advanced, "CmdCancel");
    });
    EXPECT_EQ(RuleNames("CURL"), (std::vector<std::string> {"one", "two", "three"}));
    EXPECT_EQ(core.Rules().Find("CURL")->rules[1].inForce, false);
    const std::string rules = ReadText(sandbox.rulesFile);
    EXPECT_LT(rules.find("<RULENAME>one</RULENAME>"), rules.find("<RULENAME>two</RULENAME>"));
    // The application keeps its place.
    EXPECT_EQ(core.Rules().Document().applications[0].name, "CURL");
}

// By keyboard alone, in the main window and the advanced one: the row with
// the focus mark is the one Return, the Menu key, Shift+F10 and "Edit rule"
// act on.
TEST_F(Editing, RulesAreEditedByKeyboard)
{
    const auto editedName = [&](QTreeWidget* list, const std::function<void()>& trigger) {
        std::string name;
        EXPECT_TRUE(WithModal(trigger, [&](QDialog* editor) { name = In<QLineEdit>(editor, "RuleName")->text().toStdString(); }));
        return name;
    };
    const auto menuShown = [](QTreeWidget* list, Qt::Key key, Qt::KeyboardModifiers modifiers) {
        auto* menu = list->findChild<QMenu*>();
        QTest::keyClick(list, key, modifiers);
        std::vector<std::string> texts;
        if (menu && menu->isVisible())
            for (QAction* action : menu->actions())
                texts.push_back(action->text().toStdString());
        if (menu)
            menu->hide();
        return texts;
    };
    testing_support::Click(*form, "curl");
    auto* pane = Part<QTreeWidget>(*form, "MainListView");
    pane->setCurrentItem(pane->topLevelItem(2)); // as the arrow keys leave it
    EXPECT_EQ(editedName(pane, [&] { QTest::keyClick(pane, Qt::Key_Return); }), "three");
    EXPECT_EQ(pane->currentItem()->text(1).toStdString(), "three");
    EXPECT_EQ(menuShown(pane, Qt::Key_Menu, Qt::NoModifier), (std::vector<std::string> {"&Edit rule", "A&dvanced..."}));
    Advanced("curl", [&](QDialog* dialog) {
        auto* list = In<QTreeWidget>(dialog, "MainListView");
        list->setCurrentItem(list->topLevelItem(1));
        EXPECT_EQ(editedName(list, [&] { Press(dialog, "EditRuleBtn"); }), "two");
        // The row stays current after the editor is cancelled.
        EXPECT_EQ(editedName(list, [&] { QTest::keyClick(list, Qt::Key_Enter, Qt::KeypadModifier); }), "two");
        EXPECT_EQ(menuShown(list, Qt::Key_F10, Qt::ShiftModifier),
                  (std::vector<std::string> {"&Edit rule", "&Add rule", "&Remove rule"}));
        EXPECT_TRUE(messages.isEmpty());
    });
}

// Escape and the close box say Cancel: they put the order back as the button does.
TEST_F(Editing, AdvancedEscapeCancelsAsTheButtonDoes)
{
    Advanced("curl", [&](QDialog* dialog) {
        auto* list = In<QTreeWidget>(dialog, "MainListView");
        emit list->itemClicked(list->topLevelItem(0), 0);
        Press(dialog, "MoveDownCmd");
        EXPECT_EQ(RuleNames("CURL"), (std::vector<std::string> {"two", "one", "three"}));
        QTest::keyClick(dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog->isVisible());
    });
    EXPECT_EQ(RuleNames("CURL"), (std::vector<std::string> {"one", "two", "three"}));
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
    testing_support::WriteText(protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr)), log);
    emit form->HalfMinute();
    auto* strip = Part<QListWidget>(*form, "RunProcIconList");
    ASSERT_EQ(strip->count(), 6);
    EXPECT_EQ(strip->item(0)->text(), "tool0");
    EXPECT_EQ(strip->item(5)->data(Qt::UserRole).toString(), "/opt/tools/tool5");
}
