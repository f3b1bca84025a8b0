#pragma once

#include "rules/Application.h"
#include "rules/Words.h"

#include <QIcon>
#include <QString>

#include <optional>
#include <string>

namespace panel {

// The pictures and words of the navigation tree and the lists of
// applications: drawn once, kept for the life of the program.

// "Approve", "Deny", "Ask" (and their "Yellow" forms), "LogIcon",
// "Protection", "MyComp", "MyComp2", "Img1" to "Img3"; anything else is a
// generic program.
QIcon TreeImage(const char* key);
// The picture of a default; nullptr for none.
const char* PermissionImage(std::optional<rules::Permission> permission);
// "Allow", "Ask", "Block", or nothing.
QString PermissionText(std::optional<rules::Permission> permission);
// An application's name in the tree: the description with its first
// character as it is and the rest in lower case ("Internet explorer").
QString NodeText(const std::string& description);
// An entry's name wherever the panel lists it: its program's name
// (panel::EntryDisplayName), so that it reads as in the alert and the logs;
// an entry known by its name alone as NodeText gives its description, else
// its name.
QString EntryText(const rules::Application& app);

}  // namespace panel
