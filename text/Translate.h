#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// Words shown to the user by code without Qt (the control panel's core, the
// command-line tools) go through Tr, which each program points at its
// translation once at start. Unset, a text is shown as written (English).
// lupdate collects them as it does Qt's own calls: Tr is an alias of
// QCoreApplication::translate, ZEL_TEXT_NOOP one of QT_TRANSLATE_NOOP.
// Texts the firewall stores (rules, log records, settings) never go
// through here.
namespace text {

// context, text, disambiguation and n as QCoreApplication::translate takes
// them; returns the text in the user's language, UTF-8.
using Translator = std::string (*)(const char* context, const char* text, const char* disambiguation, int n);

// Call once at start, before any thread words a text.
void SetTranslator(Translator translator);

// The text in the user's language. With n >= 0, %n in it becomes n, and a
// translation picks the plural form that suits n.
std::string Tr(const char* context, const char* text, const char* disambiguation = nullptr, int n = -1);

// text with %1 ... %9 replaced by args in order. As QString::arg, in one
// pass: a %2 inside the first argument stays as it is.
std::string Arg(std::string_view text, std::initializer_list<std::string_view> args);

// %n replaced by n, as Qt does for a text without translation.
std::string WithCount(std::string text, int n);

// The user's languages for messages, most wanted first, as
// ForEachMessageLanguage gives them, each once.
std::vector<std::string> MessageLanguages();

}  // namespace text

// Marks a text in a table for lupdate; it is translated where it is shown,
// by Tr(context, text).
#define ZEL_TEXT_NOOP(context, text) text
