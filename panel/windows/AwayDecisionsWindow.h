#pragma once

#include "platform/AwayDecisions.h"

#include <QDialog>

#include <string>
#include <vector>

class MainForm;
class QLabel;
class QPushButton;
class QTreeWidget;

// What was decided while nobody was at the screen, one line per decision,
// each with Allow, which makes it a rule as answering its alert would have
// (see editing/AwayAnswers.h). The list is read again after every change.
class AwayDecisionsWindow : public QDialog {
    Q_OBJECT
public:
    AwayDecisionsWindow(MainForm& main, std::string listPath, QWidget* parent);

    // Reads the list again and shows it.
    void Reload();
    // Allow on the line at row; false when nothing could be stored.
    bool AllowLine(int row);
    void ClearList();

    QTreeWidget* AwayList = nullptr;
    QPushButton* ClearButton = nullptr;
    QPushButton* CloseButton = nullptr;
    QLabel* EmptyNote = nullptr;

private:
    MainForm& main_;
    std::string listPath_;
    std::vector<platform::away::Decision> decisions_;
};
