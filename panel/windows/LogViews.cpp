// The log views, today's blocked intruders, an application's statistics, and
// the add, log and help menus.
#include "windows/MainForm.h"

#include "editing/ProcessList.h"
#include "settings/GeneralMdl.h"
#include "settings/SaveChanges.h"
#include "platform/Files.h"
#include "platform/Processes.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>
#include <QUrl>

#include <ctime>

namespace {

constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kServiceRole = Qt::UserRole + 2;

}  // namespace

void MainForm::BuildLogAndHelpMenus()
{
    OpenUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    logReader_ = std::make_unique<panel::LogReader>();

    addNewMenu_ = new QMenu("AddNewMenu", this);
    addNewMenu_->setObjectName("AddNewMenu");
    QAction* addNew = addNewMenu_->addAction("Add new");
    addNew->setObjectName("AddNewApp");
    connect(addNew, &QAction::triggered, this, &MainForm::OpenWizard);
    QMenu* fromLog = addNewMenu_->addMenu("AddNewFromLog");
    fromLog->setObjectName("AddFromLogMnu");
    QAction* addFromLog = fromLog->addAction("Add application");
    addFromLog->setObjectName("AddNewLogMnu");
    connect(addFromLog, &QAction::triggered, this, &MainForm::AddNewLogMnu_Click);

    logMenu_ = new QMenu("LogMenu", this);
    logMenu_->setObjectName("LogMnu");
    const char* logs[][2] = {{"Log1", "Permitted incoming connection"},
                             {"Log2", "Permitted outgoing connection"},
                             {"Log3", "Denied incoming connection"},
                             {"Log4", "Denied outgoing connection"}};
    for (const auto& log : logs) {
        QAction* item = logMenu_->addAction(log[1]);
        item->setObjectName(log[0]);
        connect(item, &QAction::triggered, this, [this, item] { MenuSetLogWindow(item->objectName(), item->text().toUpper()); });
    }

    helpMenu_ = new QMenu("HelpMenu", this);
    helpMenu_->setObjectName("HelpMnu");
    const auto open = [this](const std::string& address, const char* label) {
        if (!OpenUrl(QUrl(QString::fromStdString(address))))
            panel::WriteErrLog(label, "cannot open " + address);
    };
    QAction* help = helpMenu_->addAction("Help");
    help->setObjectName("HelpSiteMnu");
    connect(help, &QAction::triggered, this, [this, open] { open(state_.AppConsts.HELP_LINK, "AddNewRightclick : HelpSiteMnu_Click"); });
    QAction* site = helpMenu_->addAction("Korvel Group Site");
    site->setObjectName("HXSiteMnu");
    connect(site, &QAction::triggered, this, [this, open] { open(state_.AppConsts.KORVEL_LINK, "AddNewRightclick : HXSiteMnu_Click"); });
    QAction* contact = helpMenu_->addAction("Contact us");
    contact->setObjectName("ContactMnu");
    connect(contact, &QAction::triggered, this, [this, open] {
        open("mailto:" + state_.AppConsts.CONTACT_EMAIL + "?subject=Korvel Personal Firewall", "AddNewRightclick : ContactMnu_Click");
    });

    MainListView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(MainListView, &QTreeWidget::customContextMenuRequested, this, &MainForm::MainListView_MouseDown);
    connect(ShowServicesCheck, &QCheckBox::clicked, this, [this] { FillLogView(state_.CurrKey); });
    connect(this, &MainForm::HalfMinute, this, [this] {
        SetStatLogInfo();
        ShowProgramsOnReplacedEngine();
        if (state_.SelectedGroup == "Logs")
            FillLogView(state_.CurrKey);
    });
}

void MainForm::FillLogView(const std::string& key)
{
    if (key.rfind("Log", 0) != 0 || key.size() != 4)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto text = platform::ReadFile(state_.Settings.VRNFolder + state_.AppConsts.PORTS_FILE_NAME, 1 << 20);
    const panel::PortNames ports = panel::PortNames::FromText(text.value_or(std::string()));
    std::vector<panel::LogRow> rows = logReader_->FillLogView(
        state_.Settings.LogFilePath, key, ShowServicesCheck->isChecked(), ports, state_.AppConsts.SERVICES);
    // The half-minute refresh of a log that has not changed leaves the list
    // as it is: quicker, and the user keeps the order, place and selection.
    if (key == shownLogKey_ && rows == shownLogRows_) {
        QApplication::restoreOverrideCursor();
        return;
    }
    const QSignalBlocker quiet(MainListView);
    MainListView->setUpdatesEnabled(false);
    MainListView->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<int>(rows.size()));
    for (const panel::LogRow& row : rows) {
        auto* item = new QTreeWidgetItem({QString::fromStdString(row.number), QString::fromStdString(row.dateTime),
                                          QString::fromStdString(row.application), QString::fromStdString(row.protocol),
                                          QString::fromStdString(row.ip), QString::fromStdString(row.port),
                                          QString::fromStdString(row.host)});
        item->setData(0, kPathRole, QString::fromStdString(row.path));
        item->setData(0, kServiceRole, QString::fromStdString(row.service));
        items << item;
    }
    MainListView->addTopLevelItems(items);
    // Rows come in file order; a column the user sorted by stays sorted.
    if (const QVariant column = MainListView->property("sortColumn"); column.isValid()) {
        const auto order = static_cast<Qt::SortOrder>(MainListView->property("sortOrder").toInt());
        MainListView->sortItems(column.toInt(), order);
        MainListView->header()->setSortIndicator(column.toInt(), order);
        MainListView->header()->setSortIndicatorShown(true);
    }
    // Columns as wide as what they show (Qt looks at the first thousand
    // rows); the host column takes the rest.
    for (int column = 1; column < MainListView->columnCount() - 1; ++column)
        MainListView->resizeColumnToContents(column);
    MainListView->setUpdatesEnabled(true);
    shownLogKey_ = key;
    shownLogRows_ = std::move(rows);
    QApplication::restoreOverrideCursor();
}

void MainForm::SetStatLogInfo()
{
    const int blocked = panel::CountBlockedIntruders(state_.Settings.LogFilePath, std::time(nullptr));
    StatText->setText(QString("Blocked intruders today : %1").arg(blocked));
    HelpLink->setText("Help");
    KorvelLink->setText(QString::fromStdString(state_.AppConsts.KORVEL_LINK));
}

void MainForm::ShowProgramsOnReplacedEngine()
{
    const std::vector<std::string> names = panel::ProgramsOnReplacedEngine(state_.ProcRoot);
    QStringList shown;
    for (const std::string& name : names)
        shown << QString::fromStdString(name);
    EngineNotice->setText("Restart " + shown.join(", ")
                          + ": they still run the firewall engine an update replaced, which may block more than"
                            " your rules say.");
    EngineNotice->setVisible(!names.empty());
}

void MainForm::UpdateAppStatistics(const std::string& exeName)
{
    const panel::AppRecord app = state_.CurrBuffer.GetAppFromBuffer(exeName);
    if (!app || exeName == state_.AppConsts.GENERAL_APP) {
        AppStatText->clear();
        AppStatFrame->hide();
        return;
    }
    const bool service = state_.CurrBuffer.GetIsService(exeName) == 1;
    AppStatText->setText(QString::fromStdString(
        panel::AppStatistics(*app, service, state_.Settings.LogFilePath, std::time(nullptr))));
    AppStatFrame->show();
}

void MainForm::MenuSetLogWindow(const QString& key, const QString& caption)
{
    state_.CurrKey = key.toStdString();
    state_.SelectedGroup = "Logs";
    state_.SelectedNode = caption.toStdString();
    const QString nodeText = caption.left(1) + caption.mid(1).toLower();
    ReadSelectedNode(caption.toStdString(), "Logs", this, key.toStdString());
    AppName->setText(caption);
    SelectNodeByName(nodeText.toStdString());
}

void MainForm::MainListView_MouseDown(const QPoint& at)
{
    if (state_.SelectedGroup != "Logs")
        return;
    QTreeWidgetItem* row = MainListView->itemAt(at);
    state_.EnteredLogMenu = false;
    if (!row)
        return;
    MainListView->setCurrentItem(row);
    // Only for a program that has no entry yet.
    const std::string path = row->data(0, kPathRole).toString().toStdString();
    const std::string name = platform::processes::HostExeName(platform::processes::CleanHostPath(path));
    if (state_.CurrBuffer.GetItemNoByExeName(name) != 0)
        return;
    state_.SelectedListAppName = row->text(2).toStdString();
    addNewMenu_->popup(MainListView->viewport()->mapToGlobal(at));
}

void MainForm::AddNewLogMnu_Click()
{
    QTreeWidgetItem* row = MainListView->currentItem();
    if (state_.SelectedGroup != "Logs" || !row) {
        panel::WriteErrLog("AddNewRightclick : AddNewLogMnu_Click", "no log row is selected");
        return;
    }
    if (!RulesEditable())
        return; // the window says why
    const panel::AppRecord app = panel::ApplicationFromLog(
        row->text(2).toStdString(), row->data(0, kPathRole).toString().toStdString(),
        row->data(0, kServiceRole).toString().toStdString(), state_.GenAppInDef, state_.GenAppOutDef,
        state_.AppConsts.SERVICES);
    state_.CurrBuffer.AddRuleToBuffer(app);
    panel::UpdateAppChanges(state_, app->ExeName, 1);
    state_.SaveAndLoad();
    state_.EnteredLogMenu = true;
    // The window shows the new application.
    LoadTreeView();
    state_.SelectedNode = app->ExeName;
    state_.CurrAppToHandle = app->ExeName;
    state_.SelectedGroup = "Applications";
    ReadSelectedNode(app->ExeName, "Applications", this, app->ExeName);
    SelectNodeByName(app->ExeName);
}
