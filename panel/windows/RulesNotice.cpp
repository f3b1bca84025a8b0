#include "panel/windows/RulesNotice.h"

#include "panel/widgets/WindowTools.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

namespace panel {

RulesNotice::RulesNotice(QWidget* parent) : QFrame(parent)
{
    // Colours of the palette: legible in a light and in a dark theme.
    setObjectName("RulesNotice");
    setFrameShape(QFrame::StyledPanel);
    setBackgroundRole(QPalette::AlternateBase);
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    auto* icon = new QLabel(this);
    const int side = fontMetrics().height() * 2;
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);
    title_ = panel::PlainLabel("RulesNoticeTitle", QString(), this);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    text_ = panel::PlainLabel("RulesNoticeText", QString(), this);
    text_->setWordWrap(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* texts = new QVBoxLayout;
    texts->addWidget(title_);
    texts->addWidget(text_);
    row->addWidget(icon);
    row->addLayout(texts, 1);
    hide();
}

void RulesNotice::Show(const QString& path, const panel::RulesStore::LoadResult& loaded)
{
    using Outcome = panel::RulesStore::LoadOutcome;
    const QString problem = QString::fromStdString(loaded.problem);
    if (loaded.outcome == Outcome::kUnreadable) {
        title_->setText(tr("The rules file cannot be read"));
        text_->setText(tr("%1: %2.\nThe rules in force stay as they are: programs are still decided by them. "
                          "They cannot be shown or changed here until the file can be read; the firewall tries "
                          "again every few seconds.")
                           .arg(path, problem));
        show();
    } else if (loaded.outcome == Outcome::kReplacedBad) {
        title_->setText(tr("The rules file was not a rules document"));
        text_->setText(tr("%1: %2.\nIt is kept beside it as \"%1.bad\", and the default rules are in force now.")
                           .arg(path, problem));
        show();
    } else {
        hide();
    }
}

}  // namespace panel
