#include "windows/MainForm.h"

#include "gui/Art.h"
#include "gui/ProgramIconDelegate.h"
#include "settings/GeneralMdl.h"
#include "settings/InterceptorLibrary.h"
#include "settings/SaveChanges.h"
#include "settings/Security.h"
#include "editing/AdvancedForm.h"
#include "editing/CreateNewApp_Step1.h"
#include "editing/ToolsOption.h"
#include "windows/AwayNotice.h"
#include "windows/FormTools.h"
#include "windows/ProtectionView.h"
#include "windows/TrafficChart.h"
#include "windows/WindowTools.h"
#include "platform/AwayDecisions.h"
#include "platform/Clock.h"
#include "platform/Constants.h"
#include "platform/Net.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/Settings.h"
#include "platform/Windows.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDateTime>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QSocketNotifier>
#include <QSplitter>
#include <QStyle>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <ctime>
#include <unistd.h>
#include <utility>

namespace windows = platform::windows;

namespace {

constexpr const char* kLogItems[][2] = {
    {"Permitted incoming traffic", "Log1"},
    {"Permitted outgoing traffic", "Log2"},
    {"Denied incoming traffic", "Log3"},
    {"Denied outgoing traffic", "Log4"},
};

// The version shown as major.minor.revision.
constexpr int kVersion[3] = {0, 1, 0};

QLabel* NamedLabel(const char* name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QRadioButton* OptionButton(const char* name, QWidget* parent)
{
    auto* button = new QRadioButton(parent);
    button->setObjectName(name);
    return button;
}

QColor ColourOf(uint32_t packed)
{
    return QColor(static_cast<int>(packed & 0xFF), static_cast<int>((packed >> 8) & 0xFF),
                  static_cast<int>((packed >> 16) & 0xFF));
}

// The chosen level shows its colour as the background of its label: yellow
// text on a light window would not be read.
QString LevelLabelStyle(int level, bool chosen)
{
    if (!chosen)
        return QString();
    return QString("background-color: %1; color: black; font-weight: bold; padding: 1px 6px; border-radius: 3px;")
        .arg(ColourOf(panel::PresetLevel(level).colour).name());
}

}  // namespace

MainForm::MainForm(panel::PanelState& state, QWidget* parent) : QMainWindow(parent), state_(state)
{
    setObjectName("MainForm");
    setWindowTitle(platform::kMainWindowTitle);
    setWindowIcon(art::AppIcon());
    BuildToolBar();

    MainTreeView = new QTreeWidget(this);
    MainTreeView->setObjectName("MainTreeView");
    MainTreeView->setHeaderHidden(true);
    MainTreeView->setIconSize(QSize(16, 16));
    MainTreeView->setMinimumWidth(250);
    MainTreeView->setItemDelegate(new gui::ProgramIconDelegate(MainTreeView));
    // Long names scroll rather than being cut.
    MainTreeView->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    MainTreeView->header()->setStretchLastSection(false);
    connect(MainTreeView, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* node) { MainTreeView_NodeClick(node); });
    // Return opens the node the keyboard is on, as a click does.
    MainTreeView->installEventFilter(this);
    MainTreeView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(MainTreeView, &QTreeWidget::customContextMenuRequested, this, &MainForm::MainTreeView_MouseDown);

    // The right-hand side: one application or the system settings (Frame3),
    // or the list of a group of applications (AppListView).
    auto* right = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(6, 0, 0, 0);
    Label7 = NamedLabel("Label7", "List of", right);
    QFont heading = Label7->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.15);
    Label7->setFont(heading);
    AppListView = new QTreeWidget(right);
    AppListView->setObjectName("AppListView");
    AppListView->setRootIsDecorated(false);
    AppListView->setIconSize(QSize(16, 16));
    AppListView->setItemDelegate(new gui::ProgramIconDelegate(AppListView));
    connect(AppListView, &QTreeWidget::itemDoubleClicked, this, &MainForm::AppListView_DblClick);
    Frame3 = new QFrame(right);
    Frame3->setObjectName("Frame3");
    auto* frameLayout = new QVBoxLayout(Frame3);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    auto* title = new QHBoxLayout;
    AppIcon = NamedLabel("AppIcon", QString(), Frame3);
    AppIcon->setFixedSize(32, 32);
    AppName = NamedLabel("AppName", QString(), Frame3);
    AppName->setFont(heading);
    title->addWidget(AppIcon);
    title->addWidget(AppName, 1);
    frameLayout->addLayout(title);
    frameLayout->addWidget(BuildSystemView());
    frameLayout->addWidget(BuildApplicationView());
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(CmdAdvanced);
    buttons->addWidget(ApplyBtn);
    frameLayout->addLayout(buttons);
    MainListView = new QTreeWidget(Frame3);
    MainListView->setObjectName("MainListView");
    MainListView->setRootIsDecorated(false);
    MainListView->setAlternatingRowColors(true);
    MainListView->header()->setSectionsClickable(true);
    connect(MainListView->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { panel::SortMainListView(column + 1, 0, this); });
    connect(MainListView, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column == 0)
            MainListView_ItemCheck(item);
    });
    frameLayout->addWidget(MainListView, 1);
    ShowServicesCheck = new QCheckBox("Show services", Frame3);
    ShowServicesCheck->setObjectName("ShowServicesCheck");
    frameLayout->addWidget(ShowServicesCheck);
    auto* notes = new QHBoxLayout;
    AdditionalRuleNote = NamedLabel("AdditionalRuleNote", QString(), Frame3);
    BlockActive = NamedLabel("BlockActive", QString(), Frame3);
    BlockActive->setStyleSheet("color: rgb(255, 0, 0); font-weight: bold;");
    notes->addWidget(AdditionalRuleNote, 1);
    notes->addWidget(BlockActive);
    frameLayout->addLayout(notes);
    AppStatFrame = new QGroupBox("  Application information", Frame3);
    AppStatFrame->setObjectName("AppStatFrame");
    auto* statLayout = new QVBoxLayout(AppStatFrame);
    AppStatText = NamedLabel("AppStatText", QString(), AppStatFrame);
    AppStatText->setWordWrap(true);
    statLayout->addWidget(AppStatText);
    frameLayout->addWidget(AppStatFrame);
    rightLayout->addWidget(Label7);
    rightLayout->addWidget(AppListView, 1);
    rightLayout->addWidget(Frame3, 1);
    protection_ = new ProtectionView(state_.ProcRoot, right);
    protection_->TakePlaceOf({Label7, AppListView, Frame3});
    rightLayout->addWidget(protection_, 1);
    connect(protection_, &ProtectionView::Requested, this, [this] {
        SelectNodeByName("Protection");
        protection_->show();
    });

    auto* splitter = new QSplitter(this);
    splitter->addWidget(MainTreeView);
    splitter->addWidget(right);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({270, 600});

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(BuildRulesNotice());
    layout->addWidget(splitter, 1);
    layout->addWidget(BuildStatusArea());
    // The message box is reached by other processes only; it shows nothing.
    Picture2 = new QWidget(central);
    Picture2->setObjectName("Picture2");
    Picture2->setFixedSize(0, 0);
    layout->addWidget(Picture2);
    setCentralWidget(central);

    interceptorCheck_ = new QTimer(this);
    interceptorCheck_->setInterval(1000);
    connect(interceptorCheck_, &QTimer::timeout, this, &MainForm::InterceptorEnded);
    interceptorRestart_ = new QTimer(this);
    interceptorRestart_->setSingleShot(true);
    connect(interceptorRestart_, &QTimer::timeout, this, &MainForm::RestartInterceptor);

    RulesRetry = new QTimer(this);
    RulesRetry->setObjectName("RulesRetry");
    RulesRetry->setInterval(2000);
    connect(RulesRetry, &QTimer::timeout, this, &MainForm::RetryRules);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &MainForm::Timer1_Timer);

    securityMenu_ = new QMenu("SecurityMenu", this);
    securityMenu_->setObjectName("SecMEnu");
    const char* levels[][2] = {{"HighMenu", "High"}, {"NormalMenu", "Normal"}, {"LowMenu", "Low"}};
    for (int level = 0; level < panel::kPresetLevels; ++level) {
        QAction* item = securityMenu_->addAction(levels[level][1]);
        item->setObjectName(levels[level][0]);
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, level] { SecurityMenu_Click(level); });
    }
    SystemFrame->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(SystemFrame, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        UpdateSecurityMenuChecks();
        securityMenu_->popup(SystemFrame->mapToGlobal(at));
    });
    state_.PublishUpdateList = [this](const std::string& text) { SetPic2WindowText(text); };
    BuildPopupMenus();
    // As large as its contents ask, within the screen it opens on.
    QSize size = sizeHint().expandedTo(QSize(880, 640));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() - QSize(16, 48));
    resize(size);
}

MainForm::~MainForm()
{
    StopWatchingInterceptor();
    state_.PublishUpdateList = nullptr;
}

void MainForm::BuildToolBar()
{
    MainToolBar = addToolBar("MainToolBar");
    MainToolBar->setObjectName("MainToolBar");
    MainToolBar->setMovable(false);
    MainToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    MainToolBar->setIconSize(QSize(24, 24));
    const auto add = [this](const char* caption, const char* key) {
        QAction* action = MainToolBar->addAction(QIcon(art::ToolIcon(key, 48)), caption);
        action->setObjectName(key);
        return action;
    };
    add("Add Application", "App");
    QAction* logs = add("Logs", "Logs");
    auto* logMenu = new QMenu(this);
    for (const auto& item : kLogItems)
        logMenu->addAction(item[0])->setObjectName(item[1]);
    connect(logMenu, &QMenu::triggered, this, &MainForm::LogMenu_Click);
    logs->setMenu(logMenu);
    if (auto* button = qobject_cast<QToolButton*>(MainToolBar->widgetForAction(logs)))
        button->setPopupMode(QToolButton::InstantPopup);
    add("Settings", "ToolsSet");
    MainToolBar->addSeparator();
    blockAllButton_ = add("Block All", "BlockAll");
    blockAllButton_->setCheckable(true);
    MainToolBar->addSeparator();
    add("Help", "Help");
    connect(MainToolBar, &QToolBar::actionTriggered, this, &MainForm::MainToolBar_ButtonClick);
}

QWidget* MainForm::BuildSystemView()
{
    SystemFrame = new QGroupBox(this);
    SystemFrame->setObjectName("SystemFrame");
    auto* grid = new QGridLayout(SystemFrame);
    grid->addWidget(NamedLabel("Label6", "Security Level :", SystemFrame), 0, 0);
    SecurityCombo = new QComboBox(SystemFrame);
    SecurityCombo->setObjectName("SecurityCombo");
    SecurityCombo->addItems({"HIGH", "NORMAL", "LOW"});
    grid->addWidget(SecurityCombo, 0, 1);
    SecSlider = new QSlider(Qt::Horizontal, SystemFrame);
    SecSlider->setObjectName("SecSlider");
    SecSlider->setRange(0, 2);
    SecSlider->setPageStep(1);
    SecSlider->setTickPosition(QSlider::TicksBelow);
    SecSlider->setTickInterval(1);
    grid->addWidget(SecSlider, 1, 0, 1, 3);
    auto* levels = new QHBoxLayout;
    HighLabel = NamedLabel("HighLabel", "High", SystemFrame);
    NormalLabel = NamedLabel("NormalLabel", "Normal", SystemFrame);
    LowLabel = NamedLabel("LowLabel", "Low", SystemFrame);
    NormalLabel->setAlignment(Qt::AlignCenter);
    LowLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QLabel* label : {HighLabel, NormalLabel, LowLabel})
        levels->addWidget(label, 1);
    grid->addLayout(levels, 2, 0, 1, 3);
    SecInfoText = NamedLabel("SecInfoText", QString(), SystemFrame);
    SecInfoText->setWordWrap(true);
    SecInfoText->setMinimumHeight(80);
    SecInfoText->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    grid->addWidget(SecInfoText, 3, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    connect(SecSlider, &QSlider::valueChanged, this, &MainForm::SecSlider_Change);
    connect(SecurityCombo, qOverload<int>(&QComboBox::activated), this, &MainForm::SecurityCombo_Click);
    return SystemFrame;
}

QWidget* MainForm::BuildApplicationView()
{
    Frame2 = new QGroupBox("  Application settings  ", this);
    Frame2->setObjectName("Frame2");
    auto* outer = new QVBoxLayout(Frame2);
    Frame5 = new QGroupBox("  Default application permission  ", Frame2);
    Frame5->setObjectName("Frame5");
    auto* grid = new QGridLayout(Frame5);
    grid->addWidget(NamedLabel("Label3", "Allow          Ask           Block", Frame5), 0, 1, 1, 3);
    grid->addWidget(NamedLabel("Label1", "Incoming network permission :", Frame5), 1, 0);
    grid->addWidget(NamedLabel("Label2", "Outgoing network permission :", Frame5), 2, 0);
    InAllow = OptionButton("InAllow", Frame5);
    InAsk = OptionButton("InAsk", Frame5);
    InBlock = OptionButton("InBlock", Frame5);
    OutAllow = OptionButton("OutAllow", Frame5);
    OutAsk = OptionButton("OutAsk", Frame5);
    OutBlock = OptionButton("OutBlock", Frame5);
    inGroup_ = new QButtonGroup(this);
    outGroup_ = new QButtonGroup(this);
    int column = 1;
    for (QRadioButton* button : {InAllow, InAsk, InBlock}) {
        inGroup_->addButton(button);
        grid->addWidget(button, 1, column++);
    }
    column = 1;
    for (QRadioButton* button : {OutAllow, OutAsk, OutBlock}) {
        outGroup_->addButton(button);
        grid->addWidget(button, 2, column++);
    }
    grid->setColumnStretch(4, 1);
    connect(inGroup_, &QButtonGroup::buttonClicked, this, [this] { PermissionButton_Click("IN"); });
    connect(outGroup_, &QButtonGroup::buttonClicked, this, [this] { PermissionButton_Click("OUT"); });
    outer->addWidget(Frame5);
    auto* row = new QHBoxLayout;
    ApplyCustomCheck = new QCheckBox(Frame2);
    ApplyCustomCheck->setObjectName("ApplyCustomCheck");
    row->addWidget(ApplyCustomCheck);
    row->addWidget(NamedLabel("ApplyCustomLabel", "Apply system rules", Frame2));
    row->addStretch(1);
    outer->addLayout(row);
    CmdAdvanced = new QPushButton("Advanced...", this);
    CmdAdvanced->setObjectName("CmdAdvanced");
    ApplyBtn = new QPushButton("Apply", this);
    ApplyBtn->setObjectName("ApplyBtn");
    connect(ApplyCustomCheck, &QCheckBox::clicked, this, &MainForm::ApplyCustomCheck_Click);
    connect(CmdAdvanced, &QPushButton::clicked, this, &MainForm::CmdAdvanced_Click);
    connect(ApplyBtn, &QPushButton::clicked, this, &MainForm::ApplyBtn_Click);
    return Frame2;
}

QWidget* MainForm::BuildRulesNotice()
{
    // Colours of the palette: legible in a light and in a dark theme.
    RulesNotice = new QFrame(this);
    RulesNotice->setObjectName("RulesNotice");
    RulesNotice->setFrameShape(QFrame::StyledPanel);
    RulesNotice->setBackgroundRole(QPalette::AlternateBase);
    RulesNotice->setAutoFillBackground(true);
    auto* row = new QHBoxLayout(RulesNotice);
    auto* icon = new QLabel(RulesNotice);
    const int side = fontMetrics().height() * 2;
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);
    RulesNoticeTitle = NamedLabel("RulesNoticeTitle", QString(), RulesNotice);
    QFont bold = RulesNoticeTitle->font();
    bold.setBold(true);
    RulesNoticeTitle->setFont(bold);
    RulesNoticeText = NamedLabel("RulesNoticeText", QString(), RulesNotice);
    RulesNoticeText->setWordWrap(true);
    RulesNoticeText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* texts = new QVBoxLayout;
    texts->addWidget(RulesNoticeTitle);
    texts->addWidget(RulesNoticeText);
    row->addWidget(icon);
    row->addLayout(texts, 1);
    RulesNotice->hide();
    return RulesNotice;
}

QWidget* MainForm::BuildStatusArea()
{
    auto* area = new QWidget(this);
    auto* row = new QHBoxLayout(area);
    row->setContentsMargins(0, 4, 0, 0);
    Frame1 = new QGroupBox("  Traffic Status  ", area);
    Frame1->setObjectName("Frame1");
    auto* traffic = new QHBoxLayout(Frame1);
    const QColor incoming(0, 192, 0);
    const QColor outgoing(192, 0, 0);
    TChart1 = new TrafficChart(incoming, outgoing, Frame1);
    TChart1->setObjectName("TChart1");
    TChart1->setMinimumSize(260, 110);
    auto* rates = new QVBoxLayout;
    IncomingLabel = NamedLabel("IncomingLabel", QString(), Frame1);
    OutgoingLabel = NamedLabel("OutgoingLabel", QString(), Frame1);
    IncomingLabel->setStyleSheet("color: rgb(0, 192, 0);");
    OutgoingLabel->setStyleSheet("color: rgb(192, 0, 0);");
    rates->addWidget(IncomingLabel);
    rates->addWidget(OutgoingLabel);
    rates->addStretch(1);
    traffic->addWidget(TChart1, 1);
    traffic->addLayout(rates);
    row->addWidget(Frame1, 3);

    auto* side = new QVBoxLayout;
    side->addWidget(NamedLabel("Label5", "Running processes :", area));
    RunProcIconList = new QListWidget(area);
    RunProcIconList->setObjectName("RunProcIconList");
    RunProcIconList->setViewMode(QListView::IconMode);
    RunProcIconList->setIconSize(QSize(16, 16));
    RunProcIconList->setMaximumHeight(48);
    side->addWidget(RunProcIconList);
    auto* address = new QHBoxLayout;
    address->addWidget(NamedLabel("LBLIP_A", "Local IP address :", area), 0, Qt::AlignTop);
    LBLIP_B = NamedLabel("LBLIP_B", QString(), area);
    address->addWidget(LBLIP_B, 1);
    side->addLayout(address);
    StatText = NamedLabel("StatText", QString(), area);
    side->addWidget(StatText);
    side->addWidget(protection_->CoverageLabel);
    side->addWidget(protection_->SummaryLabel);
    EngineNotice = NamedLabel("EngineNotice", QString(), area);
    EngineNotice->setWordWrap(true);
    EngineNotice->setStyleSheet("color: rgb(160, 0, 0);");
    EngineNotice->hide();
    side->addWidget(EngineNotice);
    BackstopNoticeLabel = NamedLabel("BackstopNotice", QString(), area);
    BackstopNoticeLabel->setWordWrap(true);
    BackstopNoticeLabel->setStyleSheet("color: rgb(160, 0, 0);");
    BackstopNoticeLabel->hide();
    side->addWidget(BackstopNoticeLabel);
    AwayNoticeButton = new AwayNotice(*this, platform::away::ListPath(), area);
    side->addWidget(AwayNoticeButton);
    LBLVersion = NamedLabel("LBLVersion", QString(), area);
    side->addWidget(LBLVersion);
    auto* links = new QHBoxLayout;
    HelpLink = NamedLabel("HelpLink", "help", area);
    KorvelLink = NamedLabel("KorvelLink", QString(), area);
    for (QLabel* link : {HelpLink, KorvelLink}) {
        link->setCursor(Qt::PointingHandCursor);
        link->setStyleSheet("color: rgb(0, 0, 192);");
        link->installEventFilter(this);
        links->addWidget(link);
    }
    links->addStretch(1);
    side->addLayout(links);
    side->addStretch(1);
    row->addLayout(side, 2);
    return area;
}

void MainForm::Form_Load()
{
    state_.LoadSettings(std::time(nullptr));
    UpdateBlockAllButton();
    const panel::AppBuffer::LoadResult loaded = state_.LoadBuffer();
    ApplyCustomCheckChangedByUser = true;
    ButtonchangedByUser = true;
    ShowLoadedRules();
    panel::CenterForm(this);
    ShowRulesState(loaded);
    LBLVersion->setText(QString("Current version : %1.%2.%3").arg(kVersion[0]).arg(kVersion[1]).arg(kVersion[2]));
    KorvelLink->setText(QString::fromStdString(state_.AppConsts.KORVEL_LINK));
    // The chart starts with 60 empty seconds and the first one newest.
    IncomingLabel->setText("Incoming traffic : \n0.00 Kb/sec");
    OutgoingLabel->setText("Outgoing traffic : \n0.00 Kb/sec");
    Timer1->start();
    BuildTray();
    QStringList addresses;
    for (const std::string& address : platform::net::AdapterAddresses())
        addresses << QString::fromStdString(address);
    LBLIP_B->setText(addresses.join('\n'));
    RunningProcessesIcons();
    SetStatLogInfo();
    ShowProgramsOnReplacedEngine();
    connect(this, &MainForm::HalfMinute, this, &MainForm::RunningProcessesIcons);
}

void MainForm::ShowLoadedRules()
{
    SetMainInfoText();
    LoadTreeView();
    state_.SelectedNode = "SYSTEM SETTINGS";
    state_.SelectedGroup = "General";
    ReadSelectedNode(state_.AppConsts.GENERAL_APP, "General", this, "Sys");
    SelectNodeByName("System settings");
    AppName->setText("System settings");
    ApplyBtn->setEnabled(false);
    state_.CurrAppToHandle = state_.AppConsts.GENERAL_APP;
}

void MainForm::ShowRulesState(const panel::AppBuffer::LoadResult& loaded)
{
    using Outcome = panel::AppBuffer::LoadOutcome;
    const QString path = QString::fromStdString(state_.Settings.XmlFilePath);
    if (loaded.outcome == Outcome::kUnreadable) {
        RulesNoticeTitle->setText("The rules file cannot be read");
        RulesNoticeText->setText(
            QString("%1: %2.\nThe rules in force stay as they are: programs are still decided by them. They cannot "
                    "be shown or changed here until the file can be read; the firewall tries again every few "
                    "seconds.")
                .arg(path, QString::fromStdString(loaded.problem)));
        RulesNotice->show();
        SetRulesEditing(false);
        RulesRetry->start();
        return;
    }
    RulesRetry->stop();
    SetRulesEditing(true);
    if (loaded.outcome == Outcome::kReplacedBad) {
        RulesNoticeTitle->setText("The rules file was not a rules document");
        RulesNoticeText->setText(QString("%1: %2.\nIt is kept beside it as \"%1.bad\", and the default rules are "
                                         "in force now.")
                                     .arg(path, QString::fromStdString(loaded.problem)));
        RulesNotice->show();
    } else {
        RulesNotice->hide();
    }
}

void MainForm::SetRulesEditing(bool enabled)
{
    // Without rules there is nothing to show in the lists: what could change
    // them is switched off (the logs stay to be read).
    for (QWidget* part : std::initializer_list<QWidget*> {SystemFrame, Frame2, CmdAdvanced})
        part->setEnabled(enabled);
    // No level is known without the rules: none is shown.
    for (QWidget* part : std::initializer_list<QWidget*> {SecSlider, HighLabel, NormalLabel, LowLabel})
        part->setVisible(enabled);
    if (!enabled) {
        ApplyBtn->setEnabled(false);
        const QSignalBlocker quiet(SecurityCombo);
        SecurityCombo->setPlaceholderText("UNKNOWN");
        SecurityCombo->setCurrentIndex(-1);
        SecurityCombo->setStyleSheet(QString());
        SecInfoText->setStyleSheet(QString());
        SecInfoText->setText("Status : not known until the rules file can be read.");
    }
    if (QAction* add = MainToolBar->findChild<QAction*>("App"))
        add->setEnabled(enabled);
    MainTreeView->setContextMenuPolicy(enabled ? Qt::CustomContextMenu : Qt::NoContextMenu);
}

void MainForm::RetryRules()
{
    const panel::AppBuffer::LoadResult loaded = state_.LoadBuffer();
    if (loaded.outcome == panel::AppBuffer::LoadOutcome::kUnreadable) {
        ShowRulesState(loaded); // the reason may have changed
        return;
    }
    panel::WriteErrLog("MainForm : RetryRules", "the rules file " + state_.Settings.XmlFilePath + " is read now");
    ShowLoadedRules();
    ShowRulesState(loaded);
    if (!heldAnswers_.empty())
        StoreAnswers(std::exchange(heldAnswers_, {}));
}

bool MainForm::RegisterWindow()
{
    registration_ = windows::Window::Register(platform::kMainWindowTitle, {platform::kPictureBoxClass});
    if (!registration_) {
        panel::WriteErrLog("MainForm : Form_Load", "the window cannot be registered: " + platform::RuntimeDirProblem());
        return false;
    }
    messages_ = new QSocketNotifier(registration_->ChildSocket(0), QSocketNotifier::Read, this);
    connect(messages_, &QSocketNotifier::activated, this, &MainForm::Picture2_Messages);
    SetPic2WindowText(state_.Pic2WindowText);
    return true;
}

void MainForm::SetPic2WindowText(const std::string& text)
{
    state_.Pic2WindowText = text;
    if (registration_ && !windows::SetWindowText(registration_->ChildHandle(0), text))
        panel::WriteErrLog("SaveChanges : UpdateAppChanges", "the update list cannot be published");
}

void MainForm::UpdateBlockAllButton()
{
    const auto pressed = panel::BlockAllPressed(state_.Settings.SecurityStatus);
    if (!pressed)
        return;
    const QSignalBlocker quiet(blockAllButton_);
    blockAllButton_->setChecked(*pressed);
    BlockActive->setText(*pressed ? "Block all is now active." : "");
}

void MainForm::RestoreWindow()
{
    showNormal();
    raise();
    activateWindow();
}

void MainForm::ApplyBtn_Click()
{
    if (state_.CurrAppToHandle.empty())
        return;
    if (state_.CurrAppToHandle != state_.AppConsts.GENERAL_APP)
        state_.CurrAppToHandle = state_.CurrBuffer.GetExeName(state_.CurrAppToHandle);
    const panel::ChosenDefaults chosen {panel::ChosenDefault(this, "In"), panel::ChosenDefault(this, "Out")};
    panel::SaveNewSettings(state_, state_.CurrAppToHandle, chosen, state_.ApplySystemRules, SecSlider->value());
    if (state_.CurrAppToHandle == state_.AppConsts.GENERAL_APP) {
        SetNormalSecurity();
        SetMainInfoText();
    }
    LoadTreeView();
    SelectNodeByName(state_.SelectedNode);
}

void MainForm::PermissionButton_Click(const QString& direction)
{
    if (ButtonchangedByUser) {
        ApplyCustomCheckChangedByUser = false;
        ApplyCustomCheck->setChecked(false);
        ApplyCustomCheckChangedByUser = true;
        state_.ApplySystemRules = false;
        const bool in = direction == "IN";
        const QString otherGroup = in ? "Out" : "In";
        const std::string other = panel::ChosenDefault(this, otherGroup);
        const std::string def = panel::SetPermissionAfterSystemSettings(state_, direction.toStdString(), other,
                                                                        state_.CurrAppToHandle);
        if (!def.empty()) {
            ButtonchangedByUser = false;
            panel::SelectDefault(this, otherGroup, def);
            ButtonchangedByUser = true;
        }
        ApplyBtn_Click();
    }
    ButtonchangedByUser = true;
}

void MainForm::ApplyCustomCheck_Click()
{
    if (!ApplyCustomCheckChangedByUser) {
        ApplyCustomCheckChangedByUser = true;
        return;
    }
    state_.ApplySystemRules = ApplyCustomCheck->isChecked();
    ApplyBtn_Click();
    ReadSelectedNode(state_.CurrAppToHandle, state_.SelectedGroup, this, state_.CurrKey);
}

void MainForm::SecSlider_Change()
{
    if (!ButtonchangedByUser)
        return;
    state_.Settings.SecurityMode = state_.AppConsts.NormalSec;
    ApplyBtn_Click();
}

void MainForm::SecurityCombo_Click()
{
    const QString text = SecurityCombo->currentText();
    const int level = text == "HIGH" ? 0 : text == "NORMAL" ? 1 : text == "LOW" ? 2 : -1;
    if (level < 0)
        return;
    state_.CurrAppToHandle = state_.AppConsts.GENERAL_APP;
    state_.Settings.SecurityMode = state_.AppConsts.NormalSec;
    {
        // Moving the slider here is the combo box's doing: applied once, below.
        ButtonchangedByUser = false;
        SecSlider->setValue(level);
        ButtonchangedByUser = true;
    }
    ApplyBtn_Click();
}

void MainForm::CmdAdvanced_Click()
{
    const std::string& node = state_.SelectedNode;
    AdvancedForm advanced(*this, this);
    // The system settings by where they are selected, not by a text a
    // program's description may read too.
    if (node.empty() || node == state_.AppConsts.GENERAL_APP || state_.SelectedGroup == "General")
        advanced.SetAdvancedForm(0, state_.AppConsts.GENERAL_APP);
    else
        advanced.SetAdvancedForm(1, state_.SelectedExeName);
    SetCurrentForm(this);
    ReadSelectedNode(state_.CurrAppToHandle == state_.AppConsts.GENERAL_APP ? state_.CurrAppToHandle : state_.SelectedExeName,
                     state_.SelectedGroup, this, state_.CurrKey);
    LoadTreeView();
    SelectNodeByName(state_.SelectedNode);
}

void MainForm::SetMainInfoText()
{
    const panel::SecurityDisplay display = panel::SetMainInfoText(state_);
    SecInfoText->setStyleSheet(display.infoColour ? QString("color: %1;").arg(ColourOf(display.infoColour).name())
                                                  : QString());
    QLabel* labels[panel::kPresetLevels] = {HighLabel, NormalLabel, LowLabel};
    if (display.level) {
        for (int i = 0; i < panel::kPresetLevels; ++i)
            labels[i]->setStyleSheet(LevelLabelStyle(i, i == *display.level));
        ButtonchangedByUser = false;
        SecSlider->setValue(*display.level);
        ButtonchangedByUser = true;
    }
    if (display.blockAll)
        for (QLabel* label : labels)
            label->setStyleSheet("color: rgb(160, 160, 160);");
    if (!display.infoText.empty()) {
        SecInfoText->setText(QString::fromStdString(display.infoText));
        const QSignalBlocker quiet(SecurityCombo);
        // "CUSTOM" and "BLOCK ALL" are shown, not chosen: they are not in the list.
        SecurityCombo->setPlaceholderText(QString::fromStdString(display.comboText));
        SecurityCombo->setCurrentIndex(SecurityCombo->findText(QString::fromStdString(display.comboText)));
        SecurityCombo->setProperty("tag", QString::fromStdString(display.comboTag));
        SecurityCombo->setStyleSheet(QString("QComboBox { background-color: %1; color: black; }")
                                         .arg(ColourOf(display.comboBack).name()));
    }
    SecurityCombo->setEnabled(display.comboEnabled);
}

void MainForm::SetNormalSecurity()
{
    const int slider = SecSlider->value();
    QLabel* labels[panel::kPresetLevels] = {HighLabel, NormalLabel, LowLabel};
    for (int i = 0; i < panel::kPresetLevels; ++i)
        labels[i]->setStyleSheet(LevelLabelStyle(i, i == slider));
    SecInfoText->setStyleSheet(QString());
    SecInfoText->setText(QString::fromStdString(panel::LevelInfoText(slider)));
}

void MainForm::UpdateSecurityMenuChecks()
{
    const bool custom = state_.Settings.SecurityMode == state_.AppConsts.CustomSec;
    const QList<QAction*> items = securityMenu_->actions();
    for (int level = 0; level < items.size(); ++level)
        items[level]->setChecked(!custom && level == SecSlider->value());
}

void MainForm::SecurityMenu_Click(int level)
{
    ButtonchangedByUser = false;
    SecSlider->setValue(level);
    ButtonchangedByUser = true;
    const panel::SecurityLevel& preset = panel::PresetLevel(level);
    panel::ApplyNewSecurityToRule(state_, state_.AppConsts.GENERAL_APP, false, preset.inDef, preset.outDef);
    state_.SaveAndLoad();
    panel::PublishChange(state_, state_.AppConsts.GENERAL_APP);
    state_.Settings.SecurityMode = state_.AppConsts.NormalSec;
    ReadSelectedNode(state_.AppConsts.GENERAL_APP, "General", this, "Sys");
}

void MainForm::MainToolBar_ButtonClick(QAction* button)
{
    const QString key = button->objectName();
    if (button == blockAllButton_) {
        const bool down = blockAllButton_->isChecked();
        state_.Settings.SecurityStatus = std::string(1, down ? '0' : '1');
        BlockActive->setText(down ? "Block all is now active." : "");
        panel::SaveString(panel::RootKey::LocalMachine, platform::registry::kSettingsKey,
                          platform::settings::kSecurityStatus, state_.Settings.SecurityStatus);
        SetMainInfoText();
    } else if (key == "Help") {
        // Just below the button.
        QWidget* widget = MainToolBar->widgetForAction(button);
        helpMenu_->popup(widget ? widget->mapToGlobal(QPoint(0, widget->height())) : QCursor::pos());
    } else if (key == "App") {
        state_.NewAppOutDef = state_.GenAppOutDef;
        state_.NewAppInDef = state_.GenAppInDef;
        if (QTreeWidgetItem* node = MainTreeView->currentItem())
            state_.NewAddedApp = node->text(0).toStdString();
        OpenWizard();
    } else if (key == "ToolsSet") {
        ToolsOption options(*this, this);
        options.exec();
    }
}

void MainForm::LogMenu_Click(QAction* item)
{
    // The toolbar's drop-down names the logs as "traffic", the tree as "connection".
    const QString node = logMenu_->findChild<QAction*>(item->objectName())->text();
    MenuSetLogWindow(item->objectName(), node.toUpper());
}

bool MainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == MainTreeView && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && MainTreeView->currentItem()) {
            MainTreeView_NodeClick(MainTreeView->currentItem());
            return true;
        }
    }
    if ((watched == HelpLink || watched == KorvelLink) && event->type() == QEvent::MouseButtonRelease) {
        const QString target = watched == HelpLink ? QString::fromStdString(state_.AppConsts.HELP_LINK) : KorvelLink->text();
        if (!OpenUrl(QUrl(target)))
            panel::WriteErrLog("MainForm : HelpLink_Click", "cannot open " + target.toStdString());
        return true;
    }
    if ((watched == HelpLink || watched == KorvelLink) && event->type() == QEvent::Enter)
        static_cast<QLabel*>(watched)->setStyleSheet("color: rgb(255, 0, 255); text-decoration: underline;");
    return QMainWindow::eventFilter(watched, event);
}

void MainForm::closeEvent(QCloseEvent* event)
{
    if (ended_ || shuttingDown_) {
        event->accept();
        return;
    }
    // The close box hides the window to the tray: the firewall keeps
    // running. Without a tray there would be no way back: minimised instead.
    event->ignore();
    if (!trayIcon_) {
        showMinimized();
        return;
    }
    if (state_.Settings.FirstClose == "1")
        ShowTrayNotice();
    hide();
}

void MainForm::ShutDown()
{
    shuttingDown_ = true;
    state_.SaveAndLoad();
    if (trayIcon_)
        trayIcon_->hide();
    EndOfProgram();
    QApplication::exit(0);
}

void MainForm::WatchInterceptor()
{
    StopWatchingInterceptor();
    if (!interceptor_ || ended_)
        return;
    // Only one that ran is kept running: without the library there is none.
    const pid_t running = interceptor_->RunningPid();
    if (running == 0 && watchedInterceptor_ == 0)
        return;
    if (running != 0)
        watchedInterceptor_ = running;
    if (const int fd = interceptor_->WatchEnd(); fd >= 0) {
        interceptorEnd_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(interceptorEnd_, &QSocketNotifier::activated, this, &MainForm::InterceptorEnded);
        return;
    }
    interceptorCheck_->start();
}

void MainForm::StopWatchingInterceptor()
{
    if (interceptorEnd_) {
        const int fd = static_cast<int>(interceptorEnd_->socket());
        delete interceptorEnd_;
        interceptorEnd_ = nullptr;
        ::close(fd);
    }
    interceptorCheck_->stop();
}

void MainForm::InterceptorEnded()
{
    const pid_t running = interceptor_ ? interceptor_->RunningPid() : 0;
    if (running != 0 && running == watchedInterceptor_)
        return; // looked at by the clock: still there
    StopWatchingInterceptor();
    if (running != 0) {
        WatchInterceptor(); // another one took over
        return;
    }
    // One that keeps ending at once is not started again in a tight loop;
    // one that cannot be started is tried less and less often.
    const bool soon = QDateTime::currentMSecsSinceEpoch() - interceptorStartedAt_ < 10000;
    const int delay = interceptorFailures_ > 0 ? std::min(60000, 1000 << std::min(interceptorFailures_, 6))
                                                : soon ? 1000 : 0;
    interceptorRestart_->start(delay);
}

void MainForm::RestartInterceptor()
{
    if (!interceptor_ || ended_)
        return;
    interceptorStartedAt_ = QDateTime::currentMSecsSinceEpoch();
    const bool started = (interceptorFailures_ == 0 ? interceptor_->Restart(watchedInterceptor_)
                                                     : interceptor_->StartListen()) == 0;
    interceptorFailures_ = started ? 0 : interceptorFailures_ + 1;
    if (started) {
        // What was published meanwhile reaches the new one: it reads the
        // list when it starts, and the list is set again.
        SetPic2WindowText(state_.Pic2WindowText);
        WatchInterceptor();
    } else {
        InterceptorEnded();
    }
}

void MainForm::EndOfProgram()
{
    if (ended_)
        return;
    ended_ = true;
    StopWatchingInterceptor();
    interceptorRestart_->stop();
    state_.SaveOnExit(platform::GetTickCount());
    panel::TheErrorLog().Close();
    if (interceptor_)
        interceptor_->StopListen();
}
