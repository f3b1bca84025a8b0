#pragma once

#include <QString>

#include <functional>
#include <string>

class QWidget;

// What the panel's windows share: messages to the user, and the option
// button groups of the main and the advanced window, found by their names.
namespace panel {

// A plain message with an OK button.
void ShowMessage(QWidget* parent, const QString& text);
// Where messages go instead of a message box (tests); nullptr restores the box.
void SetMessageSink(std::function<void(const QString&)> sink);

// Selects the button of the group ("In" or "Out") for a default word
// ("PERMIT" Allow, "ASK" Ask, "DENY" Block); any other word selects none.
void SelectDefault(QWidget* form, const QString& group, const std::string& def);
// The word of the selected button of the group; empty when none is selected.
std::string ChosenDefault(const QWidget* form, const QString& group);

}  // namespace panel
