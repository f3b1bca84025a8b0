#include "editing/CreateNewApp_Step1.h"

#include "editing/FileInformation.h"
#include "editing/ProcessList.h"
#include "gui/ProgramIcon.h"
#include "settings/SaveChanges.h"
#include "windows/FormTools.h"
#include "windows/MainForm.h"
#include "windows/WindowTools.h"
#include "platform/Processes.h"
#include "platform/Text.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// The part after the last "/".
std::string FileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string TrimEnd(std::string text)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// Executable files only: on Linux that is the execute bit, not a suffix.
QString BrowseForExecutable(QWidget* parent)
{
    QFileDialog dialog(parent, "Select an application", "/usr/bin");
    dialog.setObjectName("SelectExeDialog");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter("Application files (*)");
    dialog.setFilter(QDir::AllDirs | QDir::Executable | QDir::Files | QDir::NoDotAndDotDot);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                    : QString();
}

}  // namespace

CreateNewApp_Step1::CreateNewApp_Step1(MainForm& main, QWidget* parent) : QDialog(parent), main_(main)
{
    setObjectName("CreateNewApp_Step1");
    setWindowTitle("Add application");
    setModal(true);
    ChooseFile = [this] { return BrowseForExecutable(this); };
    auto* layout = new QVBoxLayout(this);
    auto* running = new QGroupBox("  Current Running Application List  ", this);
    running->setObjectName("Frame1");
    auto* runningLayout = new QVBoxLayout(running);
    lvw = new QTreeWidget(running);
    lvw->setObjectName("lvw");
    lvw->setHeaderLabels({"Process"});
    lvw->setRootIsDecorated(false);
    lvw->setIconSize(QSize(16, 16));
    lvw->setMinimumHeight(220);
    CheckShowSystem = new QCheckBox("Show system services", running);
    CheckShowSystem->setObjectName("CheckShowSystem");
    runningLayout->addWidget(lvw);
    runningLayout->addWidget(CheckShowSystem);
    layout->addWidget(running);

    auto* chosen = new QGroupBox(this);
    chosen->setObjectName("Frame2");
    auto* chosenLayout = new QHBoxLayout(chosen);
    auto* label = new QLabel("Selected Application :", chosen);
    label->setObjectName("Label2");
    ChossenApp = new QLineEdit(chosen);
    ChossenApp->setObjectName("ChossenApp");
    BrowseBtn = new QPushButton("Browse", chosen);
    BrowseBtn->setObjectName("BrowseBtn");
    chosenLayout->addWidget(label);
    chosenLayout->addWidget(ChossenApp, 1);
    chosenLayout->addWidget(BrowseBtn);
    layout->addWidget(chosen);

    auto* buttons = new QHBoxLayout;
    FinishBtn = new QPushButton("OK", this);
    FinishBtn->setObjectName("FinishBtn");
    FinishBtn->setDefault(true);
    CancelBtn = new QPushButton("Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    buttons->addStretch(1);
    buttons->addWidget(FinishBtn);
    buttons->addWidget(CancelBtn);
    layout->addLayout(buttons);

    connect(CheckShowSystem, &QCheckBox::clicked, this, &CreateNewApp_Step1::GetCurrentProcList);
    connect(lvw, &QTreeWidget::itemClicked, this, &CreateNewApp_Step1::lvw_Click);
    connect(BrowseBtn, &QPushButton::clicked, this, &CreateNewApp_Step1::BrowseBtn_Click);
    connect(FinishBtn, &QPushButton::clicked, this, &CreateNewApp_Step1::FinishBtn_Click);
    connect(CancelBtn, &QPushButton::clicked, this, &CreateNewApp_Step1::CancelBtn_Click);
    resize(520, 480);
    GetCurrentProcList();
    panel::CenterForm(this);
}

void CreateNewApp_Step1::GetCurrentProcList()
{
    lvw->clear();
    panel::PanelState& state = main_.State();
    const QStringList list = QString::fromStdString(panel::GetWindowsProcess(
                                                        "\n", true, CheckShowSystem->isChecked(), state.ProcRoot, true))
                                 .split('\n', Qt::SkipEmptyParts);
    QStringList offered;
    // Every running program without an entry, the first one of the list included.
    for (int position = 0; position < list.size(); ++position) {
        const std::string entry = list[position].toStdString();
        if (offered.contains(list[position]))
            continue; // one row per program, however many copies run
        const std::string path = entry.front() == '+' ? entry.substr(1) : entry;
        if (state.CurrBuffer.GetItemNoByExeName(platform::processes::HostExeName(path)) != 0)
            continue;
        std::string text = panel::GetDisplayName(path);
        if (text.empty())
            text = FileName(path);
        auto* row = new QTreeWidgetItem(lvw, {QString::fromStdString(TrimEnd(text))});
        row->setData(0, Qt::UserRole, list[position]);
        row->setData(0, Qt::UserRole + 1, list[position] + QString::number(position));
        row->setIcon(0, QIcon(gui::ExecutablePixmap(QString::fromStdString(path), 16)));
        offered << list[position];
    }
}

void CreateNewApp_Step1::lvw_Click(QTreeWidgetItem* row)
{
    if (!row)
        return;
    ChossenApp->setText(QString::fromStdString(FileName(row->text(0).toStdString())));
    chosenTag_ = row->data(0, Qt::UserRole).toString().toStdString();
    chosenFileName_ = FileName(chosenTag_);
    chosenFromList_ = true;
}

void CreateNewApp_Step1::BrowseBtn_Click()
{
    main_.State().NewAppToAdd = std::make_shared<panel::XmlStrRules>();
    browsedPath_ = ChooseFile().toStdString();
    chosenFileName_ = browsedPath_.empty() ? std::string() : FileName(browsedPath_);
    chosenFromList_ = false;
    ChossenApp->setText(QString::fromStdString(chosenFileName_));
}

void CreateNewApp_Step1::FinishBtn_Click()
{
    panel::PanelState& state = main_.State();
    if (ChossenApp->text().isEmpty()) {
        panel::ShowMessage(this, "Please select an application");
        return;
    }
    std::string path = chosenFromList_ ? TrimEnd(chosenTag_) : browsedPath_;
    std::string inDef = state.NewAppInDef;
    std::string outDef = state.NewAppOutDef;
    bool service = false;
    if (!path.empty() && path.front() == '+') {
        path.erase(0, path.find_first_not_of('+'));
        service = true;
        for (std::string* def : {&inDef, &outDef})
            if (*def == state.AppConsts.ASK)
                *def = state.AppConsts.DENY;
    }
    // The name as the engine names the program: upper case, escaped where
    // the rules file needs it (a program called "any" is not the system settings).
    const std::string fileName = TrimEnd(chosenFileName_);
    const std::string exeName = fileName.empty() ? std::string()
        : platform::processes::HostExeName(path.empty() ? fileName : path);
    state.NewAppToAdd = std::make_shared<panel::XmlStrRules>();
    if (exeName.empty()) {
        panel::ShowMessage(this, "Please choose application");
        return;
    }
    if (state.CurrBuffer.GetItemNoByExeName(exeName) > 0) {
        panel::ShowMessage(this, "This Application already exists in the FireWall rules");
        return;
    }
    const std::string description = panel::ProgramDescription(TrimEnd(ChossenApp->text().toStdString()), exeName);
    panel::XmlStrRules& app = *state.NewAppToAdd;
    app.ExeName = exeName;
    app.DescriptionFile = description;
    app.AppPath = path;
    app.IsService = service ? "1" : "0";
    app.InDef = inDef;
    app.OutDef = outDef;
    state.CurrBuffer.AddRuleToBuffer(state.NewAppToAdd);
    main_.LoadTreeView();
    state.SaveAndLoad();
    panel::UpdateAppChanges(state, app.ExeName, 1);
    state.NewAddedApp = description;
    state.CurrAppToHandle = app.ExeName;
    state.SelectedNode = app.ExeName;
    state.SelectedGroup = "Applications";
    main_.ReadSelectedNode(app.ExeName, "Applications", &main_, app.ExeName);
    main_.SelectNodeByName(app.ExeName);
    accept();
}

void CreateNewApp_Step1::CancelBtn_Click()
{
    main_.SelectNodeByName(main_.State().SelectedNode);
    reject();
}
