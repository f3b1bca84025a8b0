#pragma once

#include <QLocale>
#include <QString>

#include <ctime>

namespace gui {

// A moment as the user's locale writes it on screen: its short date and its
// short time with the seconds ("03.07.26 14:05:09" in German, "03/07/2026
// 14:05:09" in British English, "7/3/26 2:05:09 PM" in American English).
// What is stored or read by other programs never takes these.
QString ShortDateTime(std::time_t when, const QLocale& locale = QLocale());
QString ShortDate(std::time_t when, const QLocale& locale = QLocale());
// The time alone; with seconds or, when not, as short as the locale has it.
QString ShortTime(std::time_t when, bool seconds, const QLocale& locale = QLocale());

}  // namespace gui
