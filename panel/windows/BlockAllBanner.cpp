#include "panel/windows/BlockAllBanner.h"

#include "gui/Art.h"
#include "panel/widgets/WindowTools.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace panel {

BlockAllBanner::BlockAllBanner(QWidget* parent) : QFrame(parent)
{
    setObjectName("BlockAllBanner");
    // White on a deep red reads on light and dark palettes alike; the
    // button keeps the palette's own colours.
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(176, 0, 32));
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    auto* mark = new QLabel(this);
    mark->setPixmap(gui::art::StatusIcon(gui::art::Mark::kBlock, 20));
    layout->addWidget(mark);
    auto* text = panel::PlainLabel("BlockAllText", tr("Block All is on: every connection of every program is blocked."), this);
    QFont bold = text->font();
    bold.setBold(true);
    text->setFont(bold);
    text->setWordWrap(true);
    layout->addWidget(text, 1);
    turnOff_ = panel::Named(new QPushButton(tr("&Turn off Block All"), this), "BlockAllOff");
    turnOff_->setPalette(parent ? parent->palette() : QPalette());
    layout->addWidget(turnOff_);
    connect(turnOff_, &QPushButton::clicked, this, &BlockAllBanner::TurnOff);
    hide();
}

}  // namespace panel
