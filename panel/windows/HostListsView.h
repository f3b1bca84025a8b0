#pragma once

#include "panel/core/HostListRefusals.h"
#include "panel/core/HostListSubscriptions.h"

#include <QDialog>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QThread;
class QTreeWidget;
class QTreeWidgetItem;

namespace gui {
class Timer;
}

namespace panel {

class PanelCore;

// Asks for a new list: its name and the address or file it comes from.
class HostListAddDialog : public QDialog {
    Q_OBJECT
public:
    explicit HostListAddDialog(QWidget* parent);

    QString Name() const;
    QString Source() const;

private:
    void Check();

    QLineEdit* name_;
    QLineEdit* source_;
    QLabel* problem_;
    QPushButton* ok_;
};

// The host lists the user subscribes to, with their state and what each
// refused today, and the buttons that add, remove and update them; a list
// is switched on and off by its check box (Space on its row). A download may take minutes: each runs
// on a thread of its own, one at a time, while the page stays usable and
// says what it is doing.
class HostListsView : public QWidget {
    Q_OBJECT
public:
    enum Column { kName, kSource, kEnabled, kEntries, kRefusedToday, kUpdated, kError, kColumns };

    HostListsView(const PanelCore& core, QWidget* parent);
    ~HostListsView() override;

    // Reads the lists again.
    void Refresh();
    QTreeWidget* List() const { return list_; }
    // Whether a fetch is under way.
    bool Busy() const { return worker_ != nullptr; }

    // Each starts the work and returns at once; the status line tells the end.
    void Add(const QString& name, const QString& source);
    void Update(const QString& name);
    void SetEnabled(const QString& name, bool enabled);
    // Removes the list of the current row; with ask, after the user agreed.
    void RemoveCurrent(bool ask);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void AskToAdd();
    QString CurrentName() const;
    // Runs job off the window's thread; done gets its outcome back on it.
    void Run(const QString& doing, std::function<panel::HostListOutcome()> job,
             std::function<void(const panel::HostListOutcome&)> done);
    void EnableButtons();
    void Checked(QTreeWidgetItem* row, int column);
    // Takes in what today's log gained and shows each list's count.
    void ShowRefusals();

    const PanelCore& core_;
    HostListRefusals refusals_;
    QTreeWidget* list_;
    QPushButton* add_;
    QPushButton* remove_;
    QPushButton* update_;
    QLabel* status_;
    QLabel* exempt_;
    QThread* worker_ = nullptr;
    gui::Timer* refusalsTimer_;
};

}  // namespace panel
