#pragma once

#include "panel/core/LogReader.h"
#include "panel/core/ReviewRules.h"
#include "protocol/ReviewList.h"

#include <QWidget>

#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFileSystemWatcher;
class QLabel;
class QMenu;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace panel {

// What the quiet and the learning modes decided without asking, a row for
// each program with its peers under it, to be settled: Allow or Block makes
// a rule (through the rule editor) for the current peer, or for every peer
// of its program, within a scope; Dismiss (Delete) forgets them. Read again
// when shown and when the list's file changes.
class ReviewView : public QWidget {
    Q_OBJECT
public:
    enum Column { kProgram, kProtocol, kPort, kHost, kDecided, kCount, kLast, kColumns };

    explicit ReviewView(QWidget* parent);

    void Refresh();
    QTreeWidget* List() const { return list_; }
    // Allow or Block for the current row: a rule is asked for each
    // direction among its peers.
    void Decide(bool allow);
    // The current row's peers out of the list, without a rule.
    void Dismiss();
    // A program's peers a rule was made for, out of the list.
    void Settle(const std::string& path, const std::vector<protocol::review::Peer>& peers);

signals:
    // A rule to make for program (as a log row names one), settling its
    // peers once made.
    void RuleRequested(const panel::LogRow& program, const rules::Rule& rule,
                       const std::vector<protocol::review::Peer>& peers);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The program of the current row and the peers it stands for: its own,
    // or all of the program's (a program's row, or "All of this program").
    const protocol::review::Program* CurrentProgram() const;
    std::vector<const protocol::review::Peer*> ChosenPeers() const;
    panel::ReviewScope Scope() const;
    void Watch();
    void EnableButtons();

    std::vector<protocol::review::Program> programs_;
    QLabel* empty_;
    QTreeWidget* list_;
    QPushButton* allow_;
    QPushButton* block_;
    QComboBox* scope_;
    QCheckBox* wholeProgram_;
    QPushButton* dismiss_;
    QLabel* status_;
    QMenu* rowMenu_;
    QFileSystemWatcher* watcher_;
};

}  // namespace panel
