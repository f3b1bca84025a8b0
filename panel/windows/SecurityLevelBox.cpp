#include "panel/windows/SecurityLevelBox.h"

#include "panel/widgets/WindowTools.h"

#include <QAction>
#include <QColor>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QSignalBlocker>
#include <QSlider>

namespace panel {

namespace {

QColor ColourOf(uint32_t packed)
{
    return QColor(static_cast<int>(packed & 0xFF), static_cast<int>((packed >> 8) & 0xFF),
                  static_cast<int>((packed >> 16) & 0xFF));
}

// The chosen level shows its colour as the background of its label: yellow
// text on a light window would not be read.
QString LevelLabelStyle(int level, bool chosen)
{
    if (!chosen)
        return QString();
    return QString("background-color: %1; color: black; font-weight: bold; padding: 1px 6px; border-radius: 3px;")
        .arg(ColourOf(panel::PresetLevel(level).colour).name());
}

}  // namespace

SecurityLevelBox::SecurityLevelBox(QWidget* parent) : QGroupBox(parent)
{
    setObjectName("SystemFrame");
    auto* grid = new QGridLayout(this);
    combo_ = panel::Named(new QComboBox(this), "SecurityCombo");
    grid->addWidget(panel::Buddy(panel::PlainLabel("Label6", tr("Security &Level :"), this), combo_), 0, 0);
    combo_->addItems({tr("HIGH"), tr("NORMAL"), tr("LOW")});
    grid->addWidget(combo_, 0, 1);
    slider_ = panel::Named(new QSlider(Qt::Horizontal, this), "SecSlider");
    slider_->setRange(0, 2);
    slider_->setPageStep(1);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setTickInterval(1);
    grid->addWidget(slider_, 1, 0, 1, 3);
    auto* levels = new QHBoxLayout;
    levels_[0] = panel::PlainLabel("HighLabel", tr("High"), this);
    levels_[1] = panel::PlainLabel("NormalLabel", tr("Normal"), this);
    levels_[2] = panel::PlainLabel("LowLabel", tr("Low"), this);
    levels_[1]->setAlignment(Qt::AlignCenter);
    levels_[2]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QLabel* label : levels_)
        levels->addWidget(label, 1);
    grid->addLayout(levels, 2, 0, 1, 3);
    info_ = panel::PlainLabel("SecInfoText", QString(), this);
    info_->setWordWrap(true);
    info_->setMinimumHeight(80);
    info_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    grid->addWidget(info_, 3, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    // The slider is set from code under a blocker: only the user moves it here.
    connect(slider_, &QSlider::valueChanged, this, [this](int level) { emit LevelChosen(level); });
    // The list holds the levels in their order; its texts are the user's language.
    connect(combo_, qOverload<int>(&QComboBox::activated), this, [this] {
        const int level = combo_->currentIndex();
        if (level < 0 || level >= panel::kPresetLevels)
            return;
        SetSlider(level);
        emit LevelChosen(level);
    });

    menu_ = new QMenu("SecurityMenu", this);
    menu_->setObjectName("SecMEnu");
    const char* items[][2] = {{"HighMenu", QT_TRANSLATE_NOOP("panel::SecurityLevelBox", "High")},
                              {"NormalMenu", QT_TRANSLATE_NOOP("panel::SecurityLevelBox", "Normal")},
                              {"LowMenu", QT_TRANSLATE_NOOP("panel::SecurityLevelBox", "Low")}};
    for (int level = 0; level < panel::kPresetLevels; ++level) {
        QAction* item = menu_->addAction(tr(items[level][1]));
        item->setObjectName(items[level][0]);
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, level] {
            SetSlider(level);
            emit PresetChosen(level);
        });
    }
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { emit MenuRequested(mapToGlobal(at)); });
}

void SecurityLevelBox::SetSlider(int level)
{
    const QSignalBlocker quiet(slider_);
    slider_->setValue(level);
}

int SecurityLevelBox::Level() const { return slider_->value(); }

void SecurityLevelBox::Show(const panel::SecurityDisplay& display)
{
    info_->setStyleSheet(display.infoColour ? panel::ReadableStyle(this, ColourOf(display.infoColour)) : QString());
    if (display.level) {
        for (int i = 0; i < panel::kPresetLevels; ++i)
            levels_[i]->setStyleSheet(LevelLabelStyle(i, i == *display.level));
        SetSlider(*display.level);
    }
    if (display.blockAll)
        for (QLabel* label : levels_)
            label->setStyleSheet(QString("color: %1;").arg(palette().color(QPalette::Disabled, QPalette::WindowText).name()));
    if (!display.infoText.empty()) {
        info_->setText(QString::fromStdString(display.infoText));
        const QSignalBlocker quiet(combo_);
        // "CUSTOM" and "BLOCK ALL" are shown, not chosen: they are not in the list.
        combo_->setPlaceholderText(QString::fromStdString(display.comboText));
        combo_->setCurrentIndex(display.custom || display.blockAll ? -1 : display.level.value_or(-1));
        combo_->setProperty("tag", QString::fromStdString(display.comboTag));
        combo_->setStyleSheet(QString("QComboBox { background-color: %1; color: black; }")
                                  .arg(ColourOf(display.comboBack).name()));
    }
    combo_->setEnabled(display.comboEnabled);
}

void SecurityLevelBox::ShowSliderLevel()
{
    const int level = slider_->value();
    for (int i = 0; i < panel::kPresetLevels; ++i)
        levels_[i]->setStyleSheet(LevelLabelStyle(i, i == level));
    info_->setStyleSheet(QString());
    info_->setText(QString::fromStdString(panel::LevelInfoText(level)));
}

void SecurityLevelBox::SetKnown(bool known)
{
    setEnabled(known);
    slider_->setVisible(known);
    for (QLabel* label : levels_)
        label->setVisible(known);
    if (!known)
        ShowUnknown();
}

void SecurityLevelBox::ShowUnknown()
{
    const QSignalBlocker quiet(combo_);
    combo_->setPlaceholderText(tr("UNKNOWN"));
    combo_->setCurrentIndex(-1);
    combo_->setStyleSheet(QString());
    info_->setStyleSheet(QString());
    info_->setText(tr("Status : not known until the rules file can be read."));
}

void SecurityLevelBox::CheckMenu(bool custom)
{
    const QList<QAction*> items = menu_->actions();
    for (int level = 0; level < items.size(); ++level)
        items[level]->setChecked(!custom && level == slider_->value());
}

void SecurityLevelBox::PopUpMenu(bool custom, const QPoint& globalPosition)
{
    CheckMenu(custom);
    menu_->popup(globalPosition);
}

}  // namespace panel
