#pragma once

#include "panel/core/LiveConnections.h"
#include "panel/core/LogReader.h"
#include "panel/core/PortNames.h"

#include <QAbstractItemModel>
#include <QIcon>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QLineEdit;
class QSortFilterProxyModel;
class QTreeView;
namespace gui {
class Timer;
}

namespace panel {

class PanelCore;

// The user's open connections, one row a socket under a row for its
// program with the program's totals. Rows keep their place from one refresh
// to the next (a row is its socket; a program row its file), so that a
// selection, the programs opened and the order survive the updates.
class ConnectionsModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { kProgram, kProcess, kProtocol, kDirection, kState, kPeer, kHost, kPort, kDecided, kSent, kReceived,
                  kRate, kAge, kColumns };
    // What a column sorts by (numbers for the numeric ones).
    static constexpr int kSortRole = Qt::UserRole;

    explicit ConnectionsModel(QObject* parent);
    ~ConnectionsModel() override;

    void SetPortNames(panel::PortNames ports) { ports_ = std::move(ports); }
    // The connections now, in place of the last ones.
    void Apply(std::vector<panel::LiveConnection> connections);
    // The socket of a row; nullptr for a program's row.
    const panel::LiveConnection* Connection(const QModelIndex& index) const;
    QString ProgramName(const QModelIndex& index) const;
    int ProgramCount() const { return static_cast<int>(groups_.size()); }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Group;
    QVariant GroupData(const Group& group, int column, int role) const;
    QVariant ConnectionData(const panel::LiveConnection& connection, int column, int role) const;

    std::vector<std::unique_ptr<Group>> groups_;
    panel::PortNames ports_;
};

// The Connections page: a search over the list, the list refreshed twice
// a second while shown, and a row's menu that blocks the connection's host
// or port for its program (through the rule editor) and ends it at once.
class ConnectionsView : public QWidget {
    Q_OBJECT
public:
    ConnectionsView(panel::PanelCore& core, QWidget* parent);
    ~ConnectionsView() override;

    // Reads the connections now.
    void Refresh();
    ConnectionsModel* Model() const { return model_; }
    QTreeView* List() const { return list_; }
    // Ends the connection of pid and inode now; says so, or why not, on the page.
    void EndConnection(pid_t pid, uint64_t inode);

signals:
    // A row's Block: its program (as a log row names one), the rule (a
    // block of its peer or of its port) for the rule editor, and the socket
    // to end once it is made.
    void BlockRequested(const panel::LogRow& program, const rules::Rule& rule, pid_t pid, uint64_t inode);

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void PopUpRowMenu(const QModelIndex& index, const QPoint& globalPosition);
    void Block(bool peer);
    void ShowSummary();

    panel::PanelCore& core_;
    panel::LiveConnections live_;
    std::vector<panel::LiveConnection> rows_; // filled by live_, then handed to the model
    struct {
        int connections = 0;
        double in = 0, out = 0; // bytes a second
    } totals_;
    ConnectionsModel* model_;
    QSortFilterProxyModel* shown_;
    QLineEdit* search_;
    QTreeView* list_;
    QLabel* summary_;
    panel::PortNames ports_;
    QString problem_; // why the last refresh did not read all
    QString notice_;  // what the last End did
    gui::Timer* timer_;
    // The row's menu (by mouse, the Menu key or Shift+F10) and the
    // connection it was opened on.
    QMenu* rowMenu_;
    QAction* blockPeer_;
    QAction* blockPort_;
    QAction* end_;
    std::optional<panel::LiveConnection> menuConnection_;
};

}  // namespace panel
