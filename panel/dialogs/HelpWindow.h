#pragma once

#include <QDialog>

class QTextBrowser;

// The bundled help page in a window of the panel, for a desktop where no
// browser opens it. Links to other pages of the help follow inside it;
// Escape or Close closes it.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    HelpWindow(const QString& pagePath, QWidget* parent);

private:
    QTextBrowser* page_;
};
