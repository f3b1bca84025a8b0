#pragma once

#include "panel/core/SystemServices.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <string>

class QMenu;
class QProcess;

namespace panel {

// How an administrator sets a service's defaults from the Protection page:
// the choices in a menu (the service list's context menu and its button's),
// and the change handed to zel-admin through pkexec in the background. The
// new rules go to a private file in the user's runtime folder (the caller's
// own, as zel-admin wants it), which is removed when zel-admin ends.
class ServiceDefaults : public QObject {
    Q_OBJECT
public:
    explicit ServiceDefaults(QObject* parent);
    ~ServiceDefaults() override;

    // Fills menu with the two directions, each Permit / Ask / Block, what
    // applies now checked; a choice changes it. Nothing to choose for a
    // service of no known file, while a change runs, or without Command.
    void FillMenu(QMenu* menu, const services::Service* service);
    bool CanChange(const services::Service* service) const;
    // Hands the change to zel-admin; Ended follows, at once when it cannot
    // be handed over.
    void Change(const services::DefaultChange& change);
    bool Running() const { return run_ != nullptr; }

    // Where the machine's rules are read from.
    services::Places Places = services::Places::OfThisMachine();
    // pkexec by its full path, the installed zel-admin, "services-rules"
    // (the file is added); empty when zel-admin is not installed as root's
    // alone. Tests put a stand-in here.
    QStringList Command;

signals:
    void Started();
    // problem: why nothing was changed; empty when the rules were replaced.
    void Ended(const QString& problem);

private:
    void Finish(int exitStatus, const QString& said);

    QProcess* run_ = nullptr;
    std::string file_;
};

}  // namespace panel
