#pragma once

#include "rules/Application.h"

#include <QMenu>

namespace panel {

// A program's menu in the tree: a new application, deleting this one, and
// its defaults in one click.
class ProgramMenu : public QMenu {
    Q_OBJECT
public:
    explicit ProgramMenu(QWidget* parent);

    // Marks the program's own defaults (an application that follows the
    // system settings shows no mark).
    void ShowDefaults(const rules::Application* app);

signals:
    void AddNew();
    void Delete();
    void DefaultChosen(rules::Direction direction, rules::Permission permission);
};

}  // namespace panel
