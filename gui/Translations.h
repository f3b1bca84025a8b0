#pragma once

// The user's language for a Qt program of the firewall: its own texts (the
// translations built into it) and Qt's (its buttons and standard dialogs),
// chosen by the locale (LANG, LC_ALL, LC_MESSAGES). English, the texts as
// written, when there is no translation for it. Texts the firewall stores
// (rules, log records, settings) never go through a translation.
namespace gui {

// Loads the translations of program ("zel", "zel-alert") for the locale and
// points text::Tr, the words of code without Qt, at them. Callable
// before the application object exists (for --help and start-up errors);
// once is enough.
void LoadTranslations(const char* program);

// Loads them if not loaded yet and installs them, with Qt's own, in the
// application; call once the application object exists.
void InstallTranslations(const char* program);

}  // namespace gui
