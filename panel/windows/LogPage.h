#pragma once

#include "panel/windows/LogView.h"

#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <string>

class QComboBox;
class QLineEdit;
class QTimer;

namespace panel {

// A traffic log as the main window shows it: a search field and a day
// chooser over the list. The main window's Ctrl+F goes to the search;
// Down or Return there goes to the list.
class LogPage : public QWidget {
    Q_OBJECT
public:
    explicit LogPage(QWidget* parent);

    LogView* View() const { return view_; }
    // Whether a program has an entry in the rules (the list's menu offers adding it when not).
    void SetHasEntry(std::function<bool(const std::string& name, const std::string& path)> hasEntry);
    std::optional<panel::LogRow> SelectedRow() const { return view_->SelectedRow(); }
    // Shows the view of key afresh, with the days the folder has now.
    void Open(const std::string& key, const LogView::Source& source);
    // Reads the view again (and the days).
    void Refresh(const LogView::Source& source);
    // Puts the cursor into the search, its text selected.
    void FocusSearch();

signals:
    // The list's menu: add the row's program, or make a rule from the row.
    void AddProgramRequested();
    void MakeRuleRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ListDays(const std::string& folder);
    void ApplyFilter();

    QLineEdit* search_;
    QComboBox* day_;
    QTimer* typing_;
    LogView* view_;
    // Each view's own search: one made in a view does not empty another.
    std::map<std::string, QString> searches_;
    std::string key_;
};

}  // namespace panel
