#pragma once

#include "panel/control/WizardFlow.h"
#include "rules/Application.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace panel {

// The add-application wizard: a running program without an entry, or an
// executable found by browsing, becomes an application with the defaults
// for new applications; OK hands it over (Result).
class ApplicationWizard : public QDialog {
    Q_OBJECT
public:
    using Input = panel::WizardInput;

    ApplicationWizard(Input input, QWidget* parent);

    // Chooses the file a browse returns (tests give their own).
    std::function<QString()> ChooseFile;
    // The application OK made; none before.
    const std::optional<rules::Application>& Result() const { return result_; }

private:
    void ListRunningPrograms();
    void ProgramClicked(QTreeWidgetItem* row);
    void Browse();
    void Finish();

    Input input_;
    std::string chosenFileName_;
    std::string browsedPath_;
    std::string chosenTag_;
    bool chosenFromList_ = false;
    std::optional<rules::Application> result_;
    QTreeWidget* list_;
    QCheckBox* showSystem_;
    QLineEdit* chosen_;
    QLineEdit* startedBy_; // empty: any parent; else a program's name or path
};

}  // namespace panel
