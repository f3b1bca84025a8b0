#include "panel/dialogs/ApplicationWizard.h"

#include "gui/ProgramIcon.h"
#include "os/Processes.h"
#include "panel/core/FileInformation.h"
#include "panel/core/RulesStore.h"
#include "panel/widgets/DialogButtons.h"
#include "panel/widgets/PlainFileIcons.h"
#include "panel/widgets/WindowTools.h"
#include "rules/RulesFormat.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace panel {

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
    // Listed at once, not after every program's content was read for its
    // icon; made first, as the dialog's file list uses it to its end.
    PlainFileIcons icons;
    QFileDialog dialog(parent, ApplicationWizard::tr("Select an application"), "/usr/bin");
    dialog.setObjectName("SelectExeDialog");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(ApplicationWizard::tr("Application files (*)"));
    dialog.setFilter(QDir::AllDirs | QDir::Executable | QDir::Files | QDir::NoDotAndDotDot);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setIconProvider(&icons);
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                    : QString();
}

}  // namespace

ApplicationWizard::ApplicationWizard(Input input, QWidget* parent) : QDialog(parent), input_(std::move(input))
{
    setObjectName("CreateNewApp_Step1");
    setWindowTitle(tr("Add application"));
    setModal(true);
    ChooseFile = [this] { return BrowseForExecutable(this); };
    auto* layout = new QVBoxLayout(this);
    auto* running = Named(new QGroupBox(tr("  Current Running Application List  "), this), "Frame1");
    auto* runningLayout = new QVBoxLayout(running);
    list_ = Named(new QTreeWidget(running), "lvw");
    list_->setHeaderLabels({tr("Process")});
    list_->setRootIsDecorated(false);
    list_->setIconSize(QSize(16, 16));
    list_->setMinimumHeight(220);
    showSystem_ = Named(new QCheckBox(tr("Show &system services"), running), "CheckShowSystem");
    runningLayout->addWidget(list_);
    runningLayout->addWidget(showSystem_);
    layout->addWidget(running);

    auto* chosen = Named(new QGroupBox(this), "Frame2");
    auto* chosenLayout = new QHBoxLayout(chosen);
    chosen_ = Named(new QLineEdit(chosen), "ChossenApp");
    auto* browse = Named(new QPushButton(tr("&Browse..."), chosen), "BrowseBtn");
    auto* chosenLabel = Named(new QLabel(tr("Selected &Application :"), chosen), "Label2");
    chosenLabel->setBuddy(chosen_);
    chosenLayout->addWidget(chosenLabel);
    chosenLayout->addWidget(chosen_, 1);
    chosenLayout->addWidget(browse);
    layout->addWidget(chosen);

    // An entry for the program only when this one starts it (a name, or a
    // path for the program there alone); empty: whoever starts it.
    auto* startedByRow = new QHBoxLayout;
    startedBy_ = Named(new QLineEdit(this), "StartedBy");
    auto* startedByLabel = Named(new QLabel(tr("Only when started &by:"), this), "StartedByLabel");
    startedByLabel->setBuddy(startedBy_);
    startedByRow->addWidget(startedByLabel);
    startedByRow->addWidget(startedBy_, 1);
    layout->addLayout(startedByRow);

    AddOkCancel(this, layout, "FinishBtn", &ApplicationWizard::Finish);

    connect(showSystem_, &QCheckBox::clicked, this, &ApplicationWizard::ListRunningPrograms);
    connect(list_, &QTreeWidget::itemClicked, this, &ApplicationWizard::ProgramClicked);
    connect(browse, &QPushButton::clicked, this, &ApplicationWizard::Browse);
    ListRunningPrograms();
    panel::FitDialog(this, QSize(520, 480));
}

void ApplicationWizard::ListRunningPrograms()
{
    list_->clear();
    const QStringList list = QString::fromStdString(input_.runningPrograms(showSystem_->isChecked()))
                                 .split('\n', Qt::SkipEmptyParts);
    QStringList offered;
    // Every running program without an entry, the first one of the list included.
    for (int position = 0; position < list.size(); ++position) {
        const std::string entry = list[position].toStdString();
        if (offered.contains(list[position]))
            continue; // one row per program, however many copies run
        const std::string path = entry.front() == '+' ? entry.substr(1) : entry;
        if (input_.hasEntry(rules::rules_format::CarrierExeName(path), path))
            continue;
        const std::string text = panel::ProgramDisplayName(path);
        auto* row = new QTreeWidgetItem(list_, {QString::fromStdString(TrimEnd(text))});
        row->setData(0, Qt::UserRole, list[position]);
        row->setIcon(0, QIcon(gui::ExecutablePixmap(QString::fromStdString(path), 16)));
        offered << list[position];
    }
}

void ApplicationWizard::ProgramClicked(QTreeWidgetItem* row)
{
    if (!row)
        return;
    chosen_->setText(QString::fromStdString(FileName(row->text(0).toStdString())));
    chosenTag_ = row->data(0, Qt::UserRole).toString().toStdString();
    chosenFileName_ = FileName(chosenTag_);
    chosenFromList_ = true;
}

void ApplicationWizard::Browse()
{
    browsedPath_ = ChooseFile().toStdString();
    chosenFileName_ = browsedPath_.empty() ? std::string() : FileName(browsedPath_);
    chosenFromList_ = false;
    chosen_->setText(QString::fromStdString(chosenFileName_));
}

void ApplicationWizard::Finish()
{
    if (chosen_->text().isEmpty()) {
        panel::ShowMessage(this, tr("Please select an application"));
        return;
    }
    std::string path = chosenFromList_ ? TrimEnd(chosenTag_) : browsedPath_;
    std::optional<rules::Permission> incoming = input_.incoming;
    std::optional<rules::Permission> outgoing = input_.outgoing;
    bool service = false;
    if (!path.empty() && path.front() == '+') {
        path.erase(0, path.find_first_not_of('+'));
        service = true;
        for (std::optional<rules::Permission>* permission : {&incoming, &outgoing})
            if (*permission == rules::Permission::kAsk)
                *permission = rules::Permission::kDeny;
    }
    // The name as the engine names the program: upper case, escaped where
    // the rules file needs it (a program called "any" is not the system settings).
    const std::string fileName = TrimEnd(chosenFileName_);
    const std::string name
        = fileName.empty() ? std::string() : rules::rules_format::CarrierExeName(path.empty() ? fileName : path);
    if (name.empty()) {
        panel::ShowMessage(this, tr("Please choose application"));
        return;
    }
    rules::Application app;
    app.name = name;
    app.description = panel::ProgramDescription(TrimEnd(chosen_->text().toStdString()), name);
    // The file a link leads to is what the program runs as (and is named
    // after, to the engine).
    app.path = path.empty() ? path : panel::RealFilePath(path);
    panel::BindToPath(app);
    // Limited to a parent, the entry is known by its name, which holds the
    // parent, and applies to every program of the name that parent starts.
    if (const std::string starter = startedBy_->text().trimmed().toStdString(); !starter.empty()) {
        app.parent = starter.find('/') == std::string::npos ? rules::rules_format::CarrierExeName(starter)
                                                            : panel::RealFilePath(starter);
        app.name = rules::rules_format::LimitedEntryName(name, app.parent);
        app.byPath = false;
    }
    if (input_.hasEntry(*app.name, app.IsBound() ? app.path : std::string())) {
        panel::ShowMessage(this, tr("This application already exists in the firewall rules"));
        return;
    }
    app.service = service;
    app.incoming = incoming;
    app.outgoing = outgoing;
    result_ = app;
    accept();
}

}  // namespace panel
