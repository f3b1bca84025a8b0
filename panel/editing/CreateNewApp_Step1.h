#pragma once

#include <QDialog>

#include <functional>
#include <string>

class MainForm;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The add-application wizard: a running program without an entry, or an
// executable found by browsing, becomes an application with the defaults
// for new applications.
class CreateNewApp_Step1 : public QDialog {
    Q_OBJECT
public:
    CreateNewApp_Step1(MainForm& main, QWidget* parent);

    void GetCurrentProcList();
    void lvw_Click(QTreeWidgetItem* row);
    void BrowseBtn_Click();
    void FinishBtn_Click();
    void CancelBtn_Click();

    // Chooses the file a browse returns (tests give their own).
    std::function<QString()> ChooseFile;

    QTreeWidget* lvw = nullptr;
    QCheckBox* CheckShowSystem = nullptr;
    QLineEdit* ChossenApp = nullptr;
    QPushButton* BrowseBtn = nullptr;
    QPushButton* FinishBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

private:
    MainForm& main_;
    std::string chosenFileName_;
    std::string browsedPath_;
    std::string chosenTag_;
    bool chosenFromList_ = false;
};
