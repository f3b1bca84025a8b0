#include "panel/widgets/DefaultsGroup.h"

#include "panel/widgets/WindowTools.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>

#include <algorithm>

namespace panel {

using rules::Direction;
using rules::Permission;

namespace {

// The buttons of a row, in their order, with the permission each stands for.
constexpr Permission kPermissions[3] = {Permission::kPermit, Permission::kAsk, Permission::kDeny};
constexpr const char* kNames[2][3] = {{"InAllow", "InAsk", "InBlock"}, {"OutAllow", "OutAsk", "OutBlock"}};

// A row's caption: on one line where there is room, wrapped on a narrow page
// (a small screen, a large scale, a longer language) rather than pushing
// the buttons out of sight.
class RowCaption : public QLabel {
public:
    RowCaption(const QString& text, QWidget* parent) : QLabel(text, parent)
    {
        setTextFormat(Qt::PlainText);
        setWordWrap(true);
    }
    QSize sizeHint() const override
    {
        const int oneLine = fontMetrics().horizontalAdvance(QString(text()).remove('&')) + 2 * (margin() + frameWidth()) + 2;
        return {std::max(oneLine, QLabel::sizeHint().width()), heightForWidth(oneLine)};
    }
};

}  // namespace

DefaultsGroup::DefaultsGroup(const QString& title, QWidget* parent) : QGroupBox(title, parent)
{
    setObjectName("Frame5");
    grid_ = new QGridLayout(this);
    // Each heading centred over its column of buttons, whatever the font.
    captions_[0] = panel::PlainLabel("Label3", tr("Allow"), this);
    captions_[3] = panel::PlainLabel("Label3Ask", tr("Ask"), this);
    captions_[4] = panel::PlainLabel("Label3Block", tr("Block"), this);
    captions_[1] = panel::Named(new RowCaption(tr("&Incoming network permission :"), this), "Label1");
    captions_[2] = panel::Named(new RowCaption(tr("&Outgoing network permission :"), this), "Label2");
    grid_->addWidget(captions_[0], 0, 1, Qt::AlignHCenter);
    grid_->addWidget(captions_[3], 0, 2, Qt::AlignHCenter);
    grid_->addWidget(captions_[4], 0, 3, Qt::AlignHCenter);
    grid_->addWidget(captions_[1], 1, 0);
    grid_->addWidget(captions_[2], 2, 0);
    for (const Direction direction : {Direction::kIncoming, Direction::kOutgoing}) {
        Row& row = RowOf(direction);
        const int line = direction == Direction::kIncoming ? 0 : 1;
        for (int i = 0; i < 3; ++i)
            row.buttons[i] = panel::Named(new QRadioButton(this), kNames[line][i]);
    }
    // Made in the order the window has always had them, for the keyboard's.
    for (const Direction direction : {Direction::kIncoming, Direction::kOutgoing}) {
        Row& row = RowOf(direction);
        row.group = new QButtonGroup(this);
        for (int i = 0; i < 3; ++i) {
            row.group->addButton(row.buttons[i]);
            grid_->addWidget(row.buttons[i], direction == Direction::kIncoming ? 1 : 2, i + 1, Qt::AlignHCenter);
        }
        captions_[direction == Direction::kIncoming ? 1 : 2]->setBuddy(row.buttons[0]);
        connect(row.group, &QButtonGroup::buttonClicked, this, [this, direction] { emit Picked(direction); });
    }
    for (int column = 1; column <= 3; ++column)
        grid_->setColumnMinimumWidth(column, captions_[4]->sizeHint().width() + 16);
    grid_->setColumnStretch(4, 1);
}

void DefaultsGroup::Show(std::optional<Permission> incoming, std::optional<Permission> outgoing)
{
    Show(Direction::kIncoming, incoming);
    Show(Direction::kOutgoing, outgoing);
}

void DefaultsGroup::Show(Direction direction, std::optional<Permission> permission)
{
    Row& row = RowOf(direction);
    // A group with nothing selected says "no default of its own".
    row.group->setExclusive(false);
    for (int i = 0; i < 3; ++i)
        row.buttons[i]->setChecked(permission == kPermissions[i]);
    row.group->setExclusive(true);
}

std::optional<Permission> DefaultsGroup::Chosen(Direction direction) const
{
    const Row& row = RowOf(direction);
    for (int i = 0; i < 3; ++i)
        if (row.buttons[i]->isChecked())
            return kPermissions[i];
    return std::nullopt;
}

panel::ChosenDefaults DefaultsGroup::Chosen() const { return {Chosen(Direction::kIncoming), Chosen(Direction::kOutgoing)}; }

void DefaultsGroup::SetAskEnabled(bool enabled)
{
    in_.buttons[1]->setEnabled(enabled);
    out_.buttons[1]->setEnabled(enabled);
}

void DefaultsGroup::SetButtonsEnabled(bool enabled)
{
    for (const Row* row : {&in_, &out_})
        for (QRadioButton* button : row->buttons)
            button->setEnabled(enabled);
    for (QLabel* caption : captions_)
        caption->setEnabled(enabled);
}

void DefaultsGroup::AddBelow(QLayout* row) { grid_->addLayout(row, 3, 0, 1, 5); }

}  // namespace panel
