#pragma once

#include "panel/core/PanelCore.h"
#include "rules/Words.h"

#include <QGroupBox>

#include <optional>

class QButtonGroup;
class QLabel;
class QGridLayout;
class QLayout;
class QRadioButton;

namespace panel {

// An application's two defaults as option buttons, Allow, Ask and Block for
// each direction; a direction with no button selected has no default of its
// own. The main window's application view and the advanced window show it.
class DefaultsGroup : public QGroupBox {
    Q_OBJECT
public:
    DefaultsGroup(const QString& title, QWidget* parent);

    // Shows the defaults (none: no button of that direction); tells nobody.
    void Show(std::optional<rules::Permission> incoming, std::optional<rules::Permission> outgoing);
    void Show(rules::Direction direction, std::optional<rules::Permission> permission);
    std::optional<rules::Permission> Chosen(rules::Direction direction) const;
    panel::ChosenDefaults Chosen() const;
    // Ask is not offered to a service.
    void SetAskEnabled(bool enabled);
    // The buttons and their captions on or off.
    void SetButtonsEnabled(bool enabled);
    // A row below the buttons (the advanced window's check box).
    void AddBelow(QLayout* row);

signals:
    // The user picked a button of the direction.
    void Picked(rules::Direction direction);

private:
    struct Row {
        QButtonGroup* group = nullptr;
        QRadioButton* buttons[3] = {}; // Allow, Ask, Block
    };
    Row& RowOf(rules::Direction direction) { return direction == rules::Direction::kIncoming ? in_ : out_; }
    const Row& RowOf(rules::Direction direction) const
    {
        return direction == rules::Direction::kIncoming ? in_ : out_;
    }

    Row in_;
    Row out_;
    QLabel* captions_[5] = {};
    QGridLayout* grid_ = nullptr;
};

}  // namespace panel
