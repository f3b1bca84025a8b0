#pragma once

#include "panel/core/RulesStore.h"

#include <QFrame>

class QLabel;

namespace panel {

// The notice at the top of the main window about the rules file: it cannot
// be read (the rules in force stay, nothing is shown or changed here until
// it can), or it was no rules document and the defaults replaced it.
class RulesNotice : public QFrame {
    Q_OBJECT
public:
    explicit RulesNotice(QWidget* parent);

    // What the last load of the file at path came to; hidden when it was read.
    void Show(const QString& path, const panel::RulesStore::LoadResult& loaded);

private:
    QLabel* title_;
    QLabel* text_;
};

}  // namespace panel
