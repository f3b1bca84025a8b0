#include "editing/EditApp_Step4.h"

#include "editing/RuleChecks.h"
#include "gui/Art.h"
#include "gui/ProgramIcon.h"
#include "settings/GeneralMdl.h"
#include "settings/SaveChanges.h"
#include "windows/FormTools.h"
#include "windows/MainForm.h"
#include "windows/RuleText.h"
#include "windows/WindowTools.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {

using panel::Named;

QLabel* Caption(const char* name, const QString& text, QWidget* parent)
{
    auto* label = Named(new QLabel(text, parent), name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

EditApp_Step4::EditApp_Step4(MainForm& main, QWidget* parent) : QDialog(parent), main_(main)
{
    setObjectName("EditApp_Step4");
    setModal(true);
    auto* layout = new QVBoxLayout(this);

    auto* head = new QHBoxLayout;
    AppIcon = Named(new QLabel(this), "AppIcon");
    AppIcon->setFixedSize(32, 32);
    AppNameLabel = Named(new QLineEdit(this), "AppNameLabel");
    AppNameLabel->setReadOnly(true);
    head->addWidget(AppIcon);
    head->addWidget(AppNameLabel, 1);
    layout->addLayout(head);

    auto* defaults = Named(new QGroupBox("  Rule Default Settings  ", this), "Frame3");
    auto* grid = new QGridLayout(defaults);
    RuleName = Named(new QLineEdit(defaults), "RuleName");
    PermissionCombo = Named(new QComboBox(defaults), "PermissionCombo");
    PermissionCombo->addItems({"PERMIT", "DENY"});
    DirectionCombo = Named(new QComboBox(defaults), "DirectionCombo");
    DirectionCombo->addItems({"INCOMING", "OUTGOING"});
    grid->addWidget(Caption("Label6", "Rule name :", defaults), 0, 0);
    grid->addWidget(RuleName, 0, 1, 1, 3);
    grid->addWidget(Caption("Label4", "Permission :", defaults), 1, 0);
    grid->addWidget(PermissionCombo, 1, 1);
    grid->addWidget(Caption("Label5", "Direction :", defaults), 1, 2);
    grid->addWidget(DirectionCombo, 1, 3);
    layout->addWidget(defaults);

    auto* ports = Named(new QGroupBox("  Port Settings  ", this), "PortsListViewFrame");
    auto* portsLayout = new QGridLayout(ports);
    PortsListView = Named(new QTreeWidget(ports), "PortsListView");
    PortsListView->setRootIsDecorated(false);
    PortsListView->setHeaderLabels({"Port Number", "Protocol", "Ip address"});
    PortsListView->setMinimumHeight(120);
    portsLayout->addWidget(PortsListView, 0, 0, 1, 6);
    NewPortNum = Named(new QLineEdit(ports), "NewPortNum");
    NewPort_alias = Named(new QComboBox(ports), "NewPort_alias");
    NewPort_alias->setEditable(true);
    NewPort_alias->setInsertPolicy(QComboBox::NoInsert);
    NewPort_alias->setCompleter(nullptr);
    portsLayout->addWidget(Caption("Label1", "Port Number :", ports), 1, 0);
    portsLayout->addWidget(NewPortNum, 1, 1);
    portsLayout->addWidget(Caption("Label2", "Protocol:", ports), 1, 2);
    portsLayout->addWidget(NewPort_alias, 1, 3, 1, 3);
    RemoteIp = Named(new QRadioButton("Remote IP:", ports), "RemoteIp");
    NewIpsList = Named(new QLineEdit(ports), "NewIpsList");
    NewIpsList->setPlaceholderText("10.0.0.1,10.1.0.0/16,2001:db8::1");
    portsLayout->addWidget(RemoteIp, 2, 0);
    portsLayout->addWidget(NewIpsList, 2, 1, 1, 5);
    RemoteIpRange = Named(new QRadioButton("Remote IP Range:", ports), "RemoteIpRange");
    IpMinRange = Named(new QLineEdit(ports), "IpMinRange");
    IpMaxRange = Named(new QLineEdit(ports), "IpMaxRange");
    portsLayout->addWidget(RemoteIpRange, 3, 0);
    portsLayout->addWidget(IpMinRange, 3, 1, 1, 2);
    portsLayout->addWidget(Caption("Label3", "-", ports), 3, 3, Qt::AlignCenter);
    portsLayout->addWidget(IpMaxRange, 3, 4, 1, 2);
    // Host names, for outgoing rules: the name the program looks the peer up as.
    RemoteHost = Named(new QRadioButton("Remote host:", ports), "RemoteHost");
    NewHostsList = Named(new QLineEdit(ports), "NewHostsList");
    NewHostsList->setPlaceholderText("*.example.org,mail.example.net");
    portsLayout->addWidget(RemoteHost, 4, 0);
    portsLayout->addWidget(NewHostsList, 4, 1, 1, 5);
    auto* portButtons = new QHBoxLayout;
    AddPort = Named(new QPushButton("Add", ports), "AddPort");
    AddNew = Named(new QPushButton("Add", ports), "AddNew");
    EditPort = Named(new QPushButton("Update", ports), "EditPort");
    DeletePort = Named(new QPushButton("Remove", ports), "DeletePort");
    // The button that opens the port fields is kept for its name; the
    // fields are open from the start.
    AddPort->hide();
    portButtons->addStretch(1);
    for (QPushButton* button : {AddNew, EditPort, DeletePort})
        portButtons->addWidget(button);
    portsLayout->addLayout(portButtons, 5, 0, 1, 6);
    layout->addWidget(ports);

    auto* buttons = new QHBoxLayout;
    FinishCmd = Named(new QPushButton("OK", this), "FinishCmd");
    CancelBtn = Named(new QPushButton("Cancel", this), "CancelBtn");
    FinishCmd->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(FinishCmd);
    buttons->addWidget(CancelBtn);
    layout->addLayout(buttons);

    connect(AddNew, &QPushButton::clicked, this, &EditApp_Step4::AddNew_Click);
    connect(EditPort, &QPushButton::clicked, this, &EditApp_Step4::EditPort_Click);
    connect(DeletePort, &QPushButton::clicked, this, &EditApp_Step4::DeletePort_Click);
    connect(AddPort, &QPushButton::clicked, this, &EditApp_Step4::EnablePortSettings);
    connect(PortsListView, &QTreeWidget::itemClicked, this, &EditApp_Step4::PortsListView_Click);
    connect(FinishCmd, &QPushButton::clicked, this, &EditApp_Step4::FinishCmd_Click);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(NewPortNum, &QLineEdit::textChanged, this, &EditApp_Step4::NewPortNum_Change);
    connect(NewPort_alias, qOverload<int>(&QComboBox::activated), this, &EditApp_Step4::NewPort_alias_Click);
    connect(NewPort_alias, &QComboBox::editTextChanged, this, &EditApp_Step4::NewPort_alias_Complete);
    for (QLineEdit* field : {NewIpsList, IpMinRange, IpMaxRange, NewHostsList})
        connect(field, &QLineEdit::textChanged, this, &EditApp_Step4::AddressFields_Change);
    for (QRadioButton* choice : {RemoteIp, RemoteIpRange, RemoteHost})
        connect(choice, &QRadioButton::toggled, this, &EditApp_Step4::RemoteChoice_Click);
    connect(DirectionCombo, &QComboBox::currentTextChanged, this, &EditApp_Step4::RemoteChoice_Click);
    resize(560, 520);
}

void EditApp_Step4::Prepare(int mode, int rulePosition)
{
    panel::PanelState& state = main_.State();
    aliases_ = panel::LoadPortsFile(state.Settings.VRNFolder + state.AppConsts.PORTS_FILE_NAME);
    {
        const QSignalBlocker quiet(NewPort_alias);
        NewPort_alias->clear();
        for (const auto& [name, number] : aliases_)
            NewPort_alias->addItem(QString::fromStdString(name), number);
        NewPort_alias->setCurrentIndex(-1);
        NewPort_alias->setEditText(QString());
    }
    const panel::XmlStrRules& app = *state.NewAppToAdd;
    if (state.SelectedExeName == state.AppConsts.GENERAL_APP)
        AppIcon->setPixmap(art::ComputerIcon(32));
    else
        AppIcon->setPixmap(gui::ExecutablePixmap(QString::fromStdString(app.AppPath), 32));
    const bool editing = mode == state.AppConsts.EDIT_RULE && rulePosition >= 1
        && static_cast<size_t>(rulePosition) <= app.RULES.size();
    const panel::RuleRecord edited = editing ? app.RULES[static_cast<size_t>(rulePosition - 1)] : nullptr;
    PermissionCombo->setCurrentText(edited ? QString::fromStdString(edited->Permission) : "PERMIT");
    DirectionCombo->setCurrentText(edited ? QString::fromStdString(edited->Direction) : "OUTGOING");
    appName_ = app.ExeName;
    mode_ = editing ? state.AppConsts.EDIT_RULE : state.AppConsts.ADD_RULE;
    rulePosition_ = editing ? rulePosition : 0;
    const panel::AppRecord buffered = state.CurrBuffer.GetAppFromBuffer(appName_);
    AppNameLabel->setText(NodeText(buffered ? buffered->DescriptionFile : app.DescriptionFile));
    RemoteIp->setChecked(true);
    RemoteChoice_Click();
    if (editing) {
        setWindowTitle("Edit rule");
        working_ = panel::AppBuffer::CopyRule(*edited);
        RuleName->setText(QString::fromStdString(edited->RuleName));
    } else {
        setWindowTitle("Add rule");
        working_ = std::make_shared<panel::AppRules>();
    }
    DisableButtons();
    RefreshForm();
    panel::CenterForm(this);
}

void EditApp_Step4::FirstSettings(int mode, int rulePosition)
{
    Prepare(mode, rulePosition);
    exec();
}

void EditApp_Step4::RefreshForm()
{
    PortsListView->clear();
    for (const panel::PortRecord& port : working_->PORTS) {
        QStringList addresses;
        for (const std::string& ip : port->WrittenIps())
            addresses << QString::fromStdString(ip);
        for (const std::string& host : port->Hosts)
            addresses << QString::fromStdString(host);
        new QTreeWidgetItem(PortsListView, {QString::number(port->nPort), QString::fromStdString(port->ALIAS),
                                            addresses.join(",")});
    }
    PortsListView->clearSelection();
    DisableButtons();
}

void EditApp_Step4::ClearText()
{
    for (QLineEdit* field : {NewPortNum, NewIpsList, IpMaxRange, IpMinRange, NewHostsList})
        field->clear();
    const QSignalBlocker quiet(NewPort_alias);
    NewPort_alias->setCurrentIndex(-1);
    NewPort_alias->setEditText(QString());
}

void EditApp_Step4::DisableButtons()
{
    for (QPushButton* button : {DeletePort, EditPort, AddNew})
        button->setEnabled(false);
}

void EditApp_Step4::EnablePortSettings()
{
    for (QWidget* field : std::initializer_list<QWidget*> {NewPort_alias, NewIpsList, NewPortNum})
        field->setEnabled(true);
}

panel::PortRecord EditApp_Step4::CreatePortCollection()
{
    if (NewPortNum->text().trimmed().isEmpty())
        NewPortNum->setText("0");
    auto port = std::make_shared<panel::AppPorts>();
    port->nPort = panel::TextToInteger(NewPortNum->text().toStdString()).value_or(0);
    port->ALIAS = NewPort_alias->currentText().toStdString();
    if (RemoteIp->isChecked() && !NewIpsList->text().isEmpty()) {
        for (const QString& item : NewIpsList->text().split(','))
            port->Ips.push_back(item.toStdString());
    } else if (RemoteIpRange->isChecked() && !IpMaxRange->text().isEmpty()) {
        port->Ips.push_back((IpMinRange->text() + "-" + IpMaxRange->text()).toStdString());
    } else if (RemoteHost->isChecked() && !NewHostsList->text().isEmpty()) {
        port->Hosts = HostPatterns().value_or(std::vector<std::string>());
    }
    return port;
}

bool EditApp_Step4::CheckRange()
{
    return panel::CheckIpRange(IpMinRange->text().toStdString(), IpMaxRange->text().toStdString());
}

bool EditApp_Step4::PortFieldsValid()
{
    if (!panel::CheckPortOk(NewPortNum->text().toStdString())) {
        panel::ShowMessage(this, "Problem with the Port number");
        return false;
    }
    if ((RemoteIp->isChecked() && !panel::CheckIpList(NewIpsList->text().toStdString()))
        || (RemoteIpRange->isChecked() && !CheckRange())) {
        panel::ShowMessage(this, "Problem with the Ip list syntax");
        return false;
    }
    if (RemoteHost->isChecked() && !HostPatterns()) {
        panel::ShowMessage(this, "Problem with the host name syntax");
        return false;
    }
    return true;
}

void EditApp_Step4::AddNew_Click()
{
    if (!PortFieldsValid())
        return;
    working_->PORTS.push_back(CreatePortCollection());
    RefreshForm();
    ClearText();
    selectedRow_ = 0;
}

void EditApp_Step4::EditPort_Click()
{
    if (selectedRow_ < 1 || static_cast<size_t>(selectedRow_) > working_->PORTS.size())
        return;
    // Checked as Add checks: an update must not store what Add refuses.
    if (!PortFieldsValid())
        return;
    const panel::PortRecord replaced = working_->PORTS[static_cast<size_t>(selectedRow_ - 1)];
    working_->PORTS.erase(working_->PORTS.begin() + (selectedRow_ - 1));
    panel::PortRecord updated = CreatePortCollection();
    // A port written with both addresses and names keeps the half the
    // fields did not show.
    if (RemoteHost->isChecked())
        updated->Ips = replaced->WrittenIps();
    else if (!replaced->WrittenIps().empty())
        updated->Hosts = replaced->Hosts;
    working_->PORTS.push_back(updated);
    RefreshForm();
    ClearText();
    selectedRow_ = 0;
}

void EditApp_Step4::DeletePort_Click()
{
    if (selectedRow_ < 1 || static_cast<size_t>(selectedRow_) > working_->PORTS.size())
        return;
    working_->PORTS.erase(working_->PORTS.begin() + (selectedRow_ - 1));
    RefreshForm();
    selectedRow_ = 0;
    ClearText();
    DisableButtons();
}

void EditApp_Step4::PortsListView_Click(QTreeWidgetItem* row)
{
    if (!row)
        return;
    selectedRow_ = PortsListView->indexOfTopLevelItem(row) + 1;
    const panel::AppPorts& port = *working_->PORTS[static_cast<size_t>(selectedRow_ - 1)];
    {
        const QSignalBlocker quiet(NewPort_alias);
        NewPort_alias->setEditText(QString::fromStdString(port.ALIAS));
    }
    NewPortNum->setText(QString::number(port.nPort));
    QStringList addresses;
    IpMinRange->clear();
    IpMaxRange->clear();
    for (const std::string& ip : port.WrittenIps()) {
        const size_t dash = ip.find('-');
        if (dash != std::string::npos) {
            RemoteIpRange->setChecked(true);
            IpMinRange->setText(QString::fromStdString(ip.substr(0, dash)));
            IpMaxRange->setText(QString::fromStdString(ip.substr(dash + 1)));
        } else {
            addresses << QString::fromStdString(ip);
        }
    }
    QStringList hosts;
    for (const std::string& host : port.Hosts)
        hosts << QString::fromStdString(host);
    NewHostsList->setText(hosts.join(","));
    if (!hosts.isEmpty() && addresses.isEmpty() && IpMinRange->text().isEmpty())
        RemoteHost->setChecked(true);
    else if (!addresses.isEmpty() || port.WrittenIps().empty())
        RemoteIp->setChecked(true);
    NewIpsList->setText(addresses.join(","));
    EditPort->setEnabled(true);
    DeletePort->setEnabled(true);
}

bool EditApp_Step4::FieldsEmpty() const
{
    return NewPortNum->text().isEmpty() && NewIpsList->text().isEmpty() && IpMaxRange->text().isEmpty()
        && IpMinRange->text().isEmpty() && NewHostsList->text().isEmpty();
}

std::optional<std::vector<std::string>> EditApp_Step4::HostPatterns() const
{
    // International names as typed ("bücher.example") become their ASCII
    // form, which is what programs look up and the rules compare.
    QStringList items;
    for (QString item : NewHostsList->text().split(',')) {
        item = item.trimmed();
        const bool domain = item.startsWith("*.");
        const QString name = domain ? item.mid(2) : item;
        if (name == "*" || name == "?" || name.contains('*')) {
            items << item;
            continue;
        }
        const QByteArray ace = QUrl::toAce(name);
        if (ace.isEmpty())
            return std::nullopt;
        items << (domain ? "*." : "") + QString::fromLatin1(ace);
    }
    return panel::CheckHostList(items.join(',').toStdString());
}

void EditApp_Step4::NewPortNum_Change()
{
    if (FieldsEmpty()) {
        AddNew->setEnabled(false);
        EditPort->setEnabled(false);
        return;
    }
    AddNew->setEnabled(true);
    EditPort->setEnabled(selectedRow_ > 0);
    const auto number = panel::TextToInteger(NewPortNum->text().toStdString());
    if (!number)
        return; // not a number: the alias stays
    const QSignalBlocker quiet(NewPort_alias);
    const int index = NewPort_alias->findData(*number);
    NewPort_alias->setCurrentIndex(index);
    if (index < 0)
        NewPort_alias->setEditText(QString());
}

void EditApp_Step4::NewPort_alias_Click()
{
    const std::string shown = NewPort_alias->currentText().toStdString();
    for (const auto& [name, number] : aliases_) {
        if (name == shown) {
            NewPortNum->setText(QString::number(number));
            break;
        }
    }
    const bool any = !NewPortNum->text().isEmpty();
    AddNew->setEnabled(any);
    if (!any)
        NewPortNum->clear();
}

void EditApp_Step4::NewPort_alias_Complete(const QString& typed)
{
    // Deleting (the text got shorter) does not complete again, so the user
    // can take letters away.
    const bool deleting = typed.size() < lastTyped_.size();
    lastTyped_ = typed;
    if (completing_ || deleting || typed.isEmpty())
        return;
    const int found = NewPort_alias->findText(typed, Qt::MatchStartsWith);
    if (found < 0)
        return;
    completing_ = true;
    const QString whole = NewPort_alias->itemText(found);
    NewPort_alias->setCurrentIndex(found);
    NewPort_alias->lineEdit()->setText(whole);
    NewPort_alias->lineEdit()->setSelection(static_cast<int>(typed.size()), static_cast<int>(whole.size() - typed.size()));
    lastTyped_ = typed;
    completing_ = false;
    NewPort_alias_Click();
}

void EditApp_Step4::AddressFields_Change()
{
    const bool list = RemoteIp->isChecked() && !NewIpsList->text().isEmpty();
    const bool range = !IpMinRange->text().isEmpty() && !IpMaxRange->text().isEmpty();
    const bool hosts = RemoteHost->isChecked() && !NewHostsList->text().isEmpty();
    if (list || range || hosts) {
        AddNew->setEnabled(true);
        EditPort->setEnabled(selectedRow_ > 0);
    } else if (FieldsEmpty()) {
        AddNew->setEnabled(false);
        EditPort->setEnabled(false);
    }
}

void EditApp_Step4::RemoteChoice_Click()
{
    // An incoming peer has no name: host names are for outgoing rules.
    const bool outgoing = DirectionCombo->currentText() != "INCOMING";
    if (!outgoing && RemoteHost->isChecked())
        RemoteIp->setChecked(true);
    RemoteHost->setEnabled(outgoing);
    const bool list = RemoteIp->isChecked();
    const bool hosts = RemoteHost->isChecked();
    NewIpsList->setEnabled(list);
    IpMinRange->setEnabled(!list && !hosts);
    IpMaxRange->setEnabled(!list && !hosts);
    NewHostsList->setEnabled(hosts);
}

void EditApp_Step4::FinishCmd_Click()
{
    panel::PanelState& state = main_.State();
    working_->Direction = DirectionCombo->currentText().toStdString();
    working_->Permission = PermissionCombo->currentText().toStdString();
    working_->State = "1";
    working_->Enable = 1;
    working_->RuleName = RuleName->text().toStdString();
    panel::XmlStrRules& app = *state.NewAppToAdd;
    if (mode_ == state.AppConsts.EDIT_RULE && rulePosition_ >= 1 && static_cast<size_t>(rulePosition_) <= app.RULES.size())
        app.RULES.erase(app.RULES.begin() + (rulePosition_ - 1));
    app.RULES.push_back(working_);
    state.CurrBuffer.DeleteAppFromBuffer(appName_, 0, 0);
    state.CurrBuffer.AddRuleToBuffer(state.NewAppToAdd);
    main_.LoadTreeView();
    state.SaveAndLoad();
    // A new or changed rule reaches the running copies of the program.
    panel::PublishChange(state, appName_);
    main_.ShowAppRules(appName_);
    accept();
}
