#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;
class QUrl;

namespace panel {

// The user guide in a window of the panel: the same Markdown pages as the
// project's docs/, installed with their pictures. Links to other pages and
// to their headings follow inside it, Back returns; a link to the web goes
// to the desktop's browser. Escape or Close closes it.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    HelpWindow(const QString& pagePath, QWidget* parent);

private:
    void Follow(const QUrl& link);
    void Shown(const QUrl& shown);
    void ColourLinks();
    void FitPictures();
    bool eventFilter(QObject* watched, QEvent* event) override;

    QTextBrowser* page_;
};

// The anchor a heading's text gets, as where the guides are read on the
// web: lower case; letters, digits, '-' and '_' kept; blanks become '-';
// anything else is dropped. Links between the guides name these.
QString HeadingAnchor(const QString& heading);

}  // namespace panel
