#pragma once

// The user's language for a Qt program of the firewall: its own texts (the
// translations built into it) and Qt's (its buttons and standard dialogs),
// chosen by the locale (LANG, LC_ALL, LC_MESSAGES). English, the texts as
// written, when there is no translation for it. Texts the firewall stores
// (rules, log records, settings) never go through a translation.
namespace gui {

// Installs the translations of program ("zel", "zel-alert") for the
// locale; call it once the application object exists.
void InstallTranslations(const char* program);

}  // namespace gui
