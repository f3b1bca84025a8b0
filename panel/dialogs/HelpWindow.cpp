#include "dialogs/HelpWindow.h"

#include "widgets/WindowTools.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

HelpWindow::HelpWindow(const QString& pagePath, QWidget* parent) : QDialog(parent)
{
    setObjectName("HelpWindow");
    setWindowTitle(tr("Korvel Firewall Help"));
    auto* layout = new QVBoxLayout(this);
    page_ = panel::Named(new QTextBrowser(this), "HelpPage");
    page_->setOpenExternalLinks(false);
    page_->setOpenLinks(true);
    // The page sets its own dark text, made for a light page: it keeps one
    // whatever the desktop's palette.
    QPalette light = page_->palette();
    light.setColor(QPalette::Base, Qt::white);
    light.setColor(QPalette::Text, Qt::black);
    page_->setPalette(light);
    if (QFileInfo::exists(pagePath))
        page_->setSource(QUrl::fromLocalFile(pagePath));
    else
        page_->setPlainText(tr("The help page %1 is not installed.").arg(pagePath));
    layout->addWidget(page_, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(tr("&Close"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    panel::FitDialog(this, QSize(640, 560));
}
