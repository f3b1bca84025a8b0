#include "panel/dialogs/HelpWindow.h"

#include "panel/widgets/WindowTools.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFileInfo>
#include <QHash>
#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>
#include <QtMath>

#include <algorithm>
#include <utility>
#include <vector>

namespace panel {

QString HeadingAnchor(const QString& heading)
{
    QString anchor;
    for (const QChar c : heading.toLower()) {
        if (c.isLetterOrNumber() || c == u'-' || c == u'_')
            anchor += c;
        else if (c == u' ')
            anchor += u'-';
    }
    return anchor;
}

namespace {

// The width a picture has in itself, in the page's pixels; 0 when it does
// not load.
int NaturalWidth(QTextDocument* document, const QString& name)
{
    const QVariant picture = document->resource(QTextDocument::ImageResource, QUrl(name));
    if (picture.canConvert<QPixmap>()) {
        const QPixmap pixmap = picture.value<QPixmap>();
        return qRound(pixmap.width() / pixmap.devicePixelRatio());
    }
    if (picture.canConvert<QImage>())
        return picture.value<QImage>().width();
    // The file's bytes: its header says the size, without decoding the picture.
    QByteArray bytes = picture.toByteArray();
    QBuffer file(&bytes);
    return std::max(QImageReader(&file).size().width(), 0);
}

}  // namespace

HelpWindow::HelpWindow(const QString& pagePath, QWidget* parent) : QDialog(parent)
{
    setObjectName("HelpWindow");
    setWindowTitle(tr("Korvel Firewall Help"));
    auto* layout = new QVBoxLayout(this);
    page_ = panel::Named(new QTextBrowser(this), "HelpPage");
    // Links are followed here: pages of the guide in the window, the web
    // by the desktop's browser. The page follows the desktop's palette: the
    // guide is Markdown and sets no colours of its own.
    page_->setOpenLinks(false);
    page_->viewport()->installEventFilter(this);
    // Every guide is longer than the window: a scroll bar that came and went
    // would change the page's width after the pictures were fitted to it.
    page_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(page_, &QTextBrowser::anchorClicked, this, &HelpWindow::Follow);
    // Every page shown, also by Back, gets its headings' anchors and fitting pictures.
    connect(page_, &QTextBrowser::sourceChanged, this, &HelpWindow::Shown);
    if (QFileInfo::exists(pagePath))
        page_->setSource(QUrl::fromLocalFile(pagePath));
    else
        page_->setPlainText(tr("The help page %1 is not installed.").arg(pagePath));
    layout->addWidget(page_, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(tr("&Close"));
    QPushButton* back = panel::Named(buttons->addButton(tr("&Back"), QDialogButtonBox::ActionRole), "HelpBack");
    back->setEnabled(false);
    // Enter on the page follows the link chosen, or does nothing: no button
    // of the window takes it (Back would otherwise, as the dialog's default).
    back->setAutoDefault(false);
    buttons->button(QDialogButtonBox::Close)->setAutoDefault(false);
    connect(page_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(back, &QPushButton::clicked, page_, &QTextBrowser::backward);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    panel::FitDialog(this, QSize(640, 560));
}

void HelpWindow::Follow(const QUrl& link)
{
    const QUrl target = page_->source().resolved(link);
    if (target.isLocalFile())
        page_->setSource(target);
    else
        panel::OpenUrl(target);
}

void HelpWindow::Shown(const QUrl& shown)
{
    // Markdown gives headings no anchors: each gets the one links name,
    // numbered from the second on when two headings read the same.
    QTextDocument* document = page_->document();
    QHash<QString, int> seen;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() == 0)
            continue;
        QString anchor = panel::HeadingAnchor(block.text());
        const int earlier = seen[anchor]++;
        if (earlier > 0)
            anchor += u'-' + QString::number(earlier);
        // A link within the page keeps its document: naming the headings
        // again would lay the whole page out again for nothing.
        if (block.begin().fragment().charFormat().anchorNames().contains(anchor))
            continue;
        QTextCursor cursor(block);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        QTextCharFormat named;
        named.setAnchor(true);
        named.setAnchorNames({anchor});
        cursor.mergeCharFormat(named);
    }
    ColourLinks();
    FitPictures();
    // The browser looked for the anchor before the headings had theirs.
    // (source() still names the page before: the history is pushed after.)
    if (shown.hasFragment())
        page_->scrollToAnchor(shown.fragment());
}

void HelpWindow::ColourLinks()
{
    // Links take the application's link colour as a page is read; on a dark
    // page whose palette keeps the default dark blue they would not show.
    const QColor readable = panel::ReadableLink(page_->palette(), QPalette::Base);
    if (readable == page_->palette().color(QPalette::Link))
        return;
    QTextDocument* document = page_->document();
    std::vector<std::pair<int, int>> links;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (format.isAnchor() && !format.anchorHref().isEmpty() && format.foreground().color() != readable)
                links.emplace_back(fragment.position(), fragment.length());
        }
    QTextCharFormat colour;
    colour.setForeground(readable);
    for (const auto& [at, length] : links) {
        QTextCursor cursor(document);
        cursor.setPosition(at);
        cursor.setPosition(at + length, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(colour);
    }
}

void HelpWindow::FitPictures()
{
    // A screenshot is often wider than the window: it is shown as wide as
    // the page, and at its own size again once the page is wider.
    QTextDocument* document = page_->document();
    const int room = page_->viewport()->width() - 2 * qCeil(document->documentMargin()) - 2;
    std::vector<std::pair<QTextFragment, QTextImageFormat>> changes;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            QTextImageFormat picture = fragment.charFormat().toImageFormat();
            const int natural = NaturalWidth(document, picture.name());
            const bool narrowed = natural > room && room > 0;
            if (narrowed == picture.hasProperty(QTextFormat::ImageWidth)
                && (!narrowed || qRound(picture.width()) == room))
                continue;
            if (narrowed)
                picture.setWidth(room);
            else
                picture.clearProperty(QTextFormat::ImageWidth);
            changes.emplace_back(fragment, picture);
        }
    }
    for (const auto& [fragment, picture] : changes) {
        QTextCursor cursor(document);
        cursor.setPosition(fragment.position());
        cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
        cursor.setCharFormat(picture);
    }
}

bool HelpWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == page_->viewport() && event->type() == QEvent::Resize)
        FitPictures();
    return QDialog::eventFilter(watched, event);
}

}  // namespace panel
