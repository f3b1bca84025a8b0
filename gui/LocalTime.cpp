#include "gui/LocalTime.h"

#include <QDateTime>

namespace gui {

namespace {

QDateTime Local(std::time_t when) { return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(when)); }

// The locale's short time format with seconds after its minutes, joined as
// its hours and minutes are ("H:mm" -> "H:mm:ss", "H.mm" -> "H.mm.ss"): a
// log's records a few seconds apart stay apart.
QString TimeFormat(const QLocale& locale, bool seconds)
{
    QString format = locale.timeFormat(QLocale::ShortFormat);
    const qsizetype minutes = format.indexOf("mm");
    if (!seconds || format.contains('s') || minutes <= 0)
        return format;
    const QChar between = format.at(minutes - 1);
    const bool mark = between.isPunct() && between != '\'';
    return format.insert(minutes + 2, (mark ? QString(between) : QString(':')) + "ss");
}

}  // namespace

QString ShortDate(std::time_t when, const QLocale& locale)
{
    return locale.toString(Local(when).date(), QLocale::ShortFormat);
}

QString ShortTime(std::time_t when, bool seconds, const QLocale& locale)
{
    return locale.toString(Local(when).time(), TimeFormat(locale, seconds));
}

QString ShortDateTime(std::time_t when, const QLocale& locale)
{
    return ShortDate(when, locale) + ' ' + ShortTime(when, true, locale);
}

}  // namespace gui
