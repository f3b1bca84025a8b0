#include "panel/dialogs/RuleEditor.h"

#include "panel/core/RuleChecks.h"
#include "panel/core/RuleDescription.h"
#include "panel/core/SettingValues.h"
#include "panel/widgets/DialogButtons.h"
#include "panel/widgets/WindowTools.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace panel {

namespace {

using rules::Direction;
using rules::Permission;

// The word users read for a permission or a direction.
template <typename Word>
QString Shown(Word word)
{
    return QString::fromStdString(panel::ShownWord(word));
}

QStringList Texts(const std::vector<std::string>& items)
{
    QStringList texts;
    for (const std::string& item : items)
        texts << QString::fromStdString(item);
    return texts;
}

}  // namespace

RuleEditor::RuleEditor(const Input& input, QWidget* parent) : QDialog(parent), aliases_(input.portNames)
{
    setObjectName("EditApp_Step4");
    setModal(true);
    auto* layout = new QVBoxLayout(this);

    auto* head = new QHBoxLayout;
    auto* icon = Named(new QLabel(this), "AppIcon");
    icon->setFixedSize(32, 32);
    auto* application = Named(new QLineEdit(this), "AppNameLabel");
    application->setReadOnly(true);
    head->addWidget(icon);
    head->addWidget(application, 1);
    layout->addLayout(head);

    auto* defaults = Named(new QGroupBox(tr("  Rule Default Settings  "), this), "Frame3");
    auto* grid = new QGridLayout(defaults);
    ruleName_ = Named(new QLineEdit(defaults), "RuleName");
    permission_ = Named(new QComboBox(defaults), "PermissionCombo");
    // The words users read; the file keeps its own (PERMIT, DENY, ...).
    permission_->addItem(Shown(Permission::kPermit), static_cast<int>(Permission::kPermit));
    permission_->addItem(Shown(Permission::kDeny), static_cast<int>(Permission::kDeny));
    direction_ = Named(new QComboBox(defaults), "DirectionCombo");
    direction_->addItem(Shown(Direction::kIncoming), static_cast<int>(Direction::kIncoming));
    direction_->addItem(Shown(Direction::kOutgoing), static_cast<int>(Direction::kOutgoing));
    grid->addWidget(Buddy(PlainLabel("Label6", tr("Rule &name :"), defaults), ruleName_), 0, 0);
    grid->addWidget(ruleName_, 0, 1, 1, 3);
    grid->addWidget(Buddy(PlainLabel("Label4", tr("&Permission :"), defaults), permission_), 1, 0);
    grid->addWidget(permission_, 1, 1);
    grid->addWidget(Buddy(PlainLabel("Label5", tr("&Direction :"), defaults), direction_), 1, 2);
    grid->addWidget(direction_, 1, 3);
    layout->addWidget(defaults);

    auto* ports = Named(new QGroupBox(tr("  Port Settings  "), this), "PortsListViewFrame");
    auto* portsLayout = new QGridLayout(ports);
    ports_ = Named(new QTreeWidget(ports), "PortsListView");
    ports_->setRootIsDecorated(false);
    ports_->setHeaderLabels({tr("Port Number"), tr("Protocol"), tr("IP address")});
    ports_->setMinimumHeight(120);
    portsLayout->addWidget(ports_, 0, 0, 1, 6);
    number_ = Named(new QLineEdit(ports), "NewPortNum");
    alias_ = Named(new QComboBox(ports), "NewPort_alias");
    alias_->setEditable(true);
    alias_->setInsertPolicy(QComboBox::NoInsert);
    alias_->setCompleter(nullptr);
    portsLayout->addWidget(Buddy(PlainLabel("Label1", tr("Port n&umber :"), ports), number_), 1, 0);
    portsLayout->addWidget(number_, 1, 1);
    portsLayout->addWidget(Buddy(PlainLabel("Label2", tr("Pro&tocol:"), ports), alias_), 1, 2);
    portsLayout->addWidget(alias_, 1, 3, 1, 3);
    // A choice of what the port covers with its one field: a list of items.
    const auto listRow = [&](int row, const char* caption, const char* name, const char* field, const char* example,
                             QRadioButton*& choice, QLineEdit*& edit) {
        choice = Named(new QRadioButton(tr(caption), ports), name);
        edit = Named(new QLineEdit(ports), field);
        edit->setPlaceholderText(example);
        portsLayout->addWidget(choice, row, 0);
        portsLayout->addWidget(edit, row, 1, 1, 5);
    };
    listRow(2, QT_TR_NOOP("Remote &IP:"), "RemoteIp", "NewIpsList", "10.0.0.1,10.1.0.0/16,2001:db8::1", remoteIp_, ips_);
    remoteIpRange_ = Named(new QRadioButton(tr("Remote IP &Range:"), ports), "RemoteIpRange");
    ipMin_ = Named(new QLineEdit(ports), "IpMinRange");
    ipMax_ = Named(new QLineEdit(ports), "IpMaxRange");
    portsLayout->addWidget(remoteIpRange_, 3, 0);
    portsLayout->addWidget(ipMin_, 3, 1, 1, 2);
    portsLayout->addWidget(PlainLabel("Label3", "-", ports), 3, 3, Qt::AlignCenter);
    portsLayout->addWidget(ipMax_, 3, 4, 1, 2);
    // Host names, for outgoing rules: the name the program looks the peer up as.
    listRow(4, QT_TR_NOOP("Remote &host:"), "RemoteHost", "NewHostsList", "*.example.org,mail.example.net", remoteHost_,
            hosts_);
    auto* portButtons = new QHBoxLayout;
    addNew_ = Named(new QPushButton(tr("&Add"), ports), "AddNew");
    editPort_ = Named(new QPushButton(tr("Updat&e"), ports), "EditPort");
    deletePort_ = Named(new QPushButton(tr("Re&move"), ports), "DeletePort");
    portButtons->addStretch(1);
    for (QPushButton* button : {addNew_, editPort_, deletePort_})
        portButtons->addWidget(button);
    portsLayout->addLayout(portButtons, 5, 0, 1, 6);
    layout->addWidget(ports);

    AddOkCancel(this, layout, "FinishCmd", &RuleEditor::FinishClicked);

    connect(addNew_, &QPushButton::clicked, this, &RuleEditor::AddNewClicked);
    connect(editPort_, &QPushButton::clicked, this, &RuleEditor::EditPortClicked);
    connect(deletePort_, &QPushButton::clicked, this, &RuleEditor::DeletePortClicked);
    connect(ports_, &QTreeWidget::itemClicked, this, &RuleEditor::PortClicked);
    connect(number_, &QLineEdit::textChanged, this, &RuleEditor::NewPortNumChanged);
    connect(alias_, qOverload<int>(&QComboBox::activated), this, &RuleEditor::AliasChosen);
    connect(alias_, &QComboBox::editTextChanged, this, &RuleEditor::AliasTyped);
    for (QLineEdit* field : {ips_, ipMin_, ipMax_, hosts_})
        connect(field, &QLineEdit::textChanged, this, &RuleEditor::AddressFieldsChanged);
    for (QLineEdit* field : {number_, ips_, ipMin_, ipMax_, hosts_})
        connect(field, &QLineEdit::textEdited, this, &RuleEditor::FieldsTyped);
    connect(alias_, &QComboBox::editTextChanged, this, &RuleEditor::FieldsTyped);
    connect(alias_, qOverload<int>(&QComboBox::activated), this, &RuleEditor::FieldsTyped);
    for (QRadioButton* choice : {remoteIp_, remoteIpRange_, remoteHost_})
        connect(choice, &QRadioButton::toggled, this, &RuleEditor::RemoteChoiceChanged);
    connect(direction_, &QComboBox::currentTextChanged, this, &RuleEditor::RemoteChoiceChanged);

    {
        const QSignalBlocker quiet(alias_);
        for (const auto& [name, number] : aliases_)
            alias_->addItem(QString::fromStdString(name), number);
        alias_->setCurrentIndex(-1);
        alias_->setEditText(QString());
    }
    icon->setPixmap(input.icon);
    application->setText(input.application);
    const rules::Rule* edited = input.rule ? &*input.rule : nullptr;
    // An asking rule stays one: the list offers what it is.
    if (edited && edited->permission == Permission::kAsk)
        permission_->addItem(Shown(Permission::kAsk), static_cast<int>(Permission::kAsk));
    permission_->setCurrentIndex(permission_->findData(
        static_cast<int>(edited && edited->permission ? *edited->permission : Permission::kPermit)));
    direction_->setCurrentIndex(direction_->findData(
        static_cast<int>(edited && edited->direction ? *edited->direction : Direction::kOutgoing)));
    remoteIp_->setChecked(true);
    RemoteChoiceChanged();
    if (edited) {
        setWindowTitle(input.proposed ? tr("Add rule") : tr("Edit rule"));
        working_ = *edited;
        ruleName_->setText(QString::fromStdString(edited->name));
    } else {
        setWindowTitle(tr("Add rule"));
    }
    DisableButtons();
    RefreshForm();
    panel::FitDialog(this, QSize(560, 520));
}

rules::Rule RuleEditor::Result() const
{
    rules::Rule rule = working_;
    rule.direction = static_cast<Direction>(direction_->currentData().toInt());
    rule.permission = static_cast<Permission>(permission_->currentData().toInt());
    rule.inForce = true;
    rule.listed = true;
    rule.name = ruleName_->text().toStdString();
    rule.ports.clear();
    for (const rules::Port& port : working_.ports)
        for (rules::Port& written : rules::PortsForOlderReaders(port, *rule.direction, *rule.permission))
            rule.ports.push_back(std::move(written));
    return rule;
}

void RuleEditor::RefreshForm()
{
    ports_->clear();
    for (const rules::Port& port : working_.ports) {
        QStringList addresses = Texts(port.ShownAddresses());
        if (port.hosts)
            addresses << Texts(*port.hosts);
        const std::optional<int> number = port.Number();
        new QTreeWidgetItem(ports_, {number ? QString::number(*number) : QString::fromStdString(port.number.value_or("")),
                                     QString::fromStdString(port.alias), addresses.join(",")});
    }
    ports_->clearSelection();
    DisableButtons();
}

void RuleEditor::ClearText()
{
    for (QLineEdit* field : {number_, ips_, ipMax_, ipMin_, hosts_})
        field->clear();
    const QSignalBlocker quiet(alias_);
    alias_->setCurrentIndex(-1);
    alias_->setEditText(QString());
}

void RuleEditor::DisableButtons()
{
    for (QPushButton* button : {deletePort_, editPort_, addNew_})
        button->setEnabled(false);
}

rules::Port RuleEditor::CreatePort()
{
    if (number_->text().trimmed().isEmpty())
        number_->setText("0");
    rules::Port port = rules::Port::Numbered(panel::TextToInteger(number_->text().toStdString()).value_or(0));
    port.alias = alias_->currentText().toStdString();
    if (remoteIp_->isChecked() && !ips_->text().isEmpty()) {
        std::vector<std::string> addresses;
        for (const QString& item : ips_->text().split(','))
            addresses.push_back(item.toStdString());
        port.addresses = addresses;
    } else if (remoteIpRange_->isChecked() && !ipMax_->text().isEmpty()) {
        port.addresses = std::vector<std::string> {(ipMin_->text() + "-" + ipMax_->text()).toStdString()};
    } else if (remoteHost_->isChecked() && !hosts_->text().isEmpty()) {
        port.hosts = HostPatterns().value_or(std::vector<std::string>());
    }
    return port;
}

bool RuleEditor::CheckRange()
{
    return panel::CheckIpRange(ipMin_->text().toStdString(), ipMax_->text().toStdString());
}

bool RuleEditor::PortFieldsValid()
{
    if (!panel::CheckPortOk(number_->text().toStdString())) {
        panel::ShowMessage(this, tr("Problem with the Port number"));
        return false;
    }
    if ((remoteIp_->isChecked() && !panel::CheckIpList(ips_->text().toStdString()))
        || (remoteIpRange_->isChecked() && !CheckRange())) {
        panel::ShowMessage(this, tr("Problem with the IP list syntax"));
        return false;
    }
    if (remoteHost_->isChecked() && !HostPatterns()) {
        panel::ShowMessage(this, tr("Problem with the host name syntax"));
        return false;
    }
    return true;
}

std::optional<size_t> RuleEditor::SelectedPort() const
{
    if (selectedRow_ < 1 || static_cast<size_t>(selectedRow_) > working_.ports.size())
        return std::nullopt;
    return static_cast<size_t>(selectedRow_ - 1);
}

void RuleEditor::PortsChanged()
{
    RefreshForm();
    ClearText();
    selectedRow_ = 0;
    typed_ = false;
}

void RuleEditor::FieldsTyped()
{
    typed_ = true;
}

void RuleEditor::FinishClicked()
{
    if (typed_ && !FieldsEmpty()) {
        if (SelectedPort())
            EditPortClicked();
        else
            AddNewClicked();
        // Still typed: refused, and its message said why; the user puts the
        // fields right.
        if (typed_)
            return;
    }
    if (working_.ports.empty()) {
        panel::ShowMessage(this, tr("This rule covers no port: add a port first (leave the number empty for all ports)"));
        return;
    }
    accept();
}

void RuleEditor::AddNewClicked()
{
    if (!PortFieldsValid())
        return;
    working_.ports.push_back(CreatePort());
    PortsChanged();
}

void RuleEditor::EditPortClicked()
{
    const std::optional<size_t> selected = SelectedPort();
    // Checked as Add checks: an update must not store what Add refuses.
    if (!selected || !PortFieldsValid())
        return;
    const rules::Port replaced = working_.ports[*selected];
    working_.ports.erase(working_.ports.begin() + static_cast<std::ptrdiff_t>(*selected));
    rules::Port updated = CreatePort();
    // A port written with both addresses and names keeps the half the
    // fields did not show.
    if (remoteHost_->isChecked()) {
        if (const std::vector<std::string> addresses = replaced.ShownAddresses(); !addresses.empty())
            updated.addresses = addresses;
    } else if (!replaced.ShownAddresses().empty()) {
        updated.hosts = replaced.hosts;
    }
    working_.ports.push_back(updated);
    PortsChanged();
}

void RuleEditor::DeletePortClicked()
{
    const std::optional<size_t> selected = SelectedPort();
    if (!selected)
        return;
    working_.ports.erase(working_.ports.begin() + static_cast<std::ptrdiff_t>(*selected));
    PortsChanged();
    DisableButtons();
}

void RuleEditor::PortClicked(QTreeWidgetItem* row)
{
    if (!row)
        return;
    selectedRow_ = ports_->indexOfTopLevelItem(row) + 1;
    const rules::Port& port = working_.ports[static_cast<size_t>(selectedRow_ - 1)];
    {
        const QSignalBlocker quiet(alias_);
        alias_->setEditText(QString::fromStdString(port.alias));
    }
    const std::optional<int> number = port.Number();
    number_->setText(number ? QString::number(*number) : QString::fromStdString(port.number.value_or("")));
    QStringList addresses;
    ipMin_->clear();
    ipMax_->clear();
    const std::vector<std::string> shown = port.ShownAddresses();
    for (const std::string& ip : shown) {
        const size_t dash = ip.find('-');
        if (dash != std::string::npos) {
            remoteIpRange_->setChecked(true);
            ipMin_->setText(QString::fromStdString(ip.substr(0, dash)));
            ipMax_->setText(QString::fromStdString(ip.substr(dash + 1)));
        } else {
            addresses << QString::fromStdString(ip);
        }
    }
    const QStringList hosts = port.hosts ? Texts(*port.hosts) : QStringList();
    hosts_->setText(hosts.join(","));
    if (!hosts.isEmpty() && addresses.isEmpty() && ipMin_->text().isEmpty())
        remoteHost_->setChecked(true);
    else if (!addresses.isEmpty() || shown.empty())
        remoteIp_->setChecked(true);
    ips_->setText(addresses.join(","));
    editPort_->setEnabled(true);
    deletePort_->setEnabled(true);
    typed_ = false;
}

bool RuleEditor::FieldsEmpty() const
{
    return number_->text().isEmpty() && ips_->text().isEmpty() && ipMax_->text().isEmpty() && ipMin_->text().isEmpty()
        && hosts_->text().isEmpty();
}

std::optional<std::vector<std::string>> RuleEditor::HostPatterns() const
{
    // International names as typed ("bücher.example") become their ASCII
    // form, which is what programs look up and the rules compare.
    QStringList items;
    for (QString item : hosts_->text().split(',')) {
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

void RuleEditor::NewPortNumChanged()
{
    if (FieldsEmpty()) {
        addNew_->setEnabled(false);
        editPort_->setEnabled(false);
        return;
    }
    addNew_->setEnabled(true);
    editPort_->setEnabled(selectedRow_ > 0);
    const auto number = panel::TextToInteger(number_->text().toStdString());
    if (!number)
        return; // not a number: the alias stays
    const QSignalBlocker quiet(alias_);
    const int index = alias_->findData(*number);
    alias_->setCurrentIndex(index);
    if (index < 0)
        alias_->setEditText(QString());
}

void RuleEditor::AliasChosen()
{
    const std::string shown = alias_->currentText().toStdString();
    for (const auto& [name, number] : aliases_) {
        if (name == shown) {
            number_->setText(QString::number(number));
            break;
        }
    }
    const bool any = !number_->text().isEmpty();
    addNew_->setEnabled(any);
    if (!any)
        number_->clear();
}

void RuleEditor::AliasTyped(const QString& typed)
{
    // Deleting (the text got shorter) does not complete again, so the user
    // can take letters away.
    const bool deleting = typed.size() < lastTyped_.size();
    lastTyped_ = typed;
    if (completing_ || deleting || typed.isEmpty())
        return;
    const int found = alias_->findText(typed, Qt::MatchStartsWith);
    if (found < 0)
        return;
    completing_ = true;
    const QString whole = alias_->itemText(found);
    alias_->setCurrentIndex(found);
    alias_->lineEdit()->setText(whole);
    alias_->lineEdit()->setSelection(static_cast<int>(typed.size()), static_cast<int>(whole.size() - typed.size()));
    lastTyped_ = typed;
    completing_ = false;
    AliasChosen();
}

void RuleEditor::AddressFieldsChanged()
{
    const bool list = remoteIp_->isChecked() && !ips_->text().isEmpty();
    const bool range = !ipMin_->text().isEmpty() && !ipMax_->text().isEmpty();
    const bool hosts = remoteHost_->isChecked() && !hosts_->text().isEmpty();
    if (list || range || hosts) {
        addNew_->setEnabled(true);
        editPort_->setEnabled(selectedRow_ > 0);
    } else if (FieldsEmpty()) {
        addNew_->setEnabled(false);
        editPort_->setEnabled(false);
    }
}

void RuleEditor::RemoteChoiceChanged()
{
    // An incoming peer has no name: host names are for outgoing rules.
    const bool outgoing = static_cast<Direction>(direction_->currentData().toInt()) == Direction::kOutgoing;
    if (!outgoing && remoteHost_->isChecked())
        remoteIp_->setChecked(true);
    remoteHost_->setEnabled(outgoing);
    const bool list = remoteIp_->isChecked();
    const bool hosts = remoteHost_->isChecked();
    ips_->setEnabled(list);
    ipMin_->setEnabled(!list && !hosts);
    ipMax_->setEnabled(!list && !hosts);
    hosts_->setEnabled(hosts);
}

}  // namespace panel
