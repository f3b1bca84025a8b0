#include "windows/FormTools.h"

#include <QButtonGroup>
#include <QMessageBox>
#include <QRadioButton>
#include <QWidget>

namespace panel {

namespace {

std::function<void(const QString&)>& Sink()
{
    static std::function<void(const QString&)> sink;
    return sink;
}

constexpr const char* kButtons[][2] = {{"Allow", "PERMIT"}, {"Ask", "ASK"}, {"Block", "DENY"}};

}  // namespace

void ShowMessage(QWidget* parent, const QString& text)
{
    if (Sink())
        Sink()(text);
    else
        QMessageBox::information(parent, QString(), text);
}

void SetMessageSink(std::function<void(const QString&)> sink) { Sink() = std::move(sink); }

void SelectDefault(QWidget* form, const QString& group, const std::string& def)
{
    auto* first = form->findChild<QRadioButton*>(group + kButtons[0][0]);
    if (!first)
        return;
    // A group with nothing selected says "no default of its own".
    QButtonGroup* buttons = first->group();
    if (buttons)
        buttons->setExclusive(false);
    for (const auto& button : kButtons) {
        if (auto* radio = form->findChild<QRadioButton*>(group + button[0]))
            radio->setChecked(def == button[1]);
    }
    if (buttons)
        buttons->setExclusive(true);
}

std::string ChosenDefault(const QWidget* form, const QString& group)
{
    for (const auto& button : kButtons)
        if (auto* radio = form->findChild<QRadioButton*>(group + button[0]); radio && radio->isChecked())
            return button[1];
    return {};
}

}  // namespace panel
