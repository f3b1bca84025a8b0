#pragma once

#include "panel/core/SecurityLevels.h"

#include <QGroupBox>

class QComboBox;
class QLabel;
class QMenu;
class QSlider;

namespace panel {

// The system settings' security level: a list and a slider of the preset
// levels (High, Normal, Low), their status text, and a menu of the presets
// on the right button. What the level is comes from the panel's core; the
// box shows it and tells what the user chose.
class SecurityLevelBox : public QGroupBox {
    Q_OBJECT
public:
    explicit SecurityLevelBox(QWidget* parent);

    // The level as the core describes it (mode, defaults, Block All).
    void Show(const panel::SecurityDisplay& display);
    // The preset the slider is at, with its title and description.
    void ShowSliderLevel();
    // Without the rules no level is known: none is shown.
    void ShowUnknown();
    void SetKnown(bool known);
    // The preset the slider is at.
    int Level() const;
    // Marks the menu's preset (none in custom mode) and shows it there.
    void CheckMenu(bool custom);
    void PopUpMenu(bool custom, const QPoint& globalPosition);
    QMenu* Menu() const { return menu_; }

signals:
    // The user moved the slider, or chose a level from the list: the system
    // settings take the preset.
    void LevelChosen(int level);
    // The user chose a preset from the menu.
    void PresetChosen(int level);
    // The right button over the box: the menu, once its mark is known (PopUpMenu).
    void MenuRequested(const QPoint& globalPosition);

private:
    void SetSlider(int level);

    QComboBox* combo_;
    QSlider* slider_;
    QLabel* levels_[panel::kPresetLevels];
    QLabel* info_;
    QMenu* menu_;
};

}  // namespace panel
