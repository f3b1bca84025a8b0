#include "protocol/RecordTime.h"

#include "protocol/LogFiles.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace protocol {

namespace {

// How far a record's date may lie from its file's day: the day before (a
// record stamped just before midnight), up to a month after (a program that
// may no longer make the new day's file goes on in the one it holds open).
constexpr long kEarliestDays = -1;
constexpr long kLatestDays = 31;

struct Number {
    int value = 0;
    size_t digits = 0;
    size_t begin = 0; // where it starts in the text
    size_t end = 0;   // one past its last digit
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The runs of ASCII digits of a text, the first max of them; runs longer
// than 4 digits are no part of a date or a time and end the list.
size_t Numbers(std::string_view text, Number* numbers, size_t max)
{
    size_t count = 0;
    for (size_t at = 0; at < text.size() && count < max;) {
        if (!IsDigit(text[at])) {
            ++at;
            continue;
        }
        Number number;
        number.begin = at;
        for (; at < text.size() && IsDigit(text[at]); ++at, ++number.digits)
            if (number.digits < 4)
                number.value = number.value * 10 + (text[at] - '0');
        if (number.digits > 4)
            break;
        number.end = at;
        numbers[count++] = number;
    }
    return count;
}

long DaysFromCivil(int year, int month, int day)
{
    // Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
    year -= month <= 2;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const long yearOfEra = year - era * 400;
    const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool IsDate(int year, int month, int day)
{
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1000 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1])
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month != 2 || day <= 28 || leap;
}

// A year of two digits in the century that puts it nearest the file's year.
int FullYear(const Number& year, int fileYear)
{
    if (year.digits > 2)
        return year.value;
    int full = fileYear - fileYear % 100 + year.value;
    if (full - fileYear > 50)
        full -= 100;
    else if (fileYear - full > 50)
        full += 100;
    return full;
}

// The reading of a date nearest the file's day, within the bounds above.
class NearestDate {
public:
    explicit NearestDate(const CalendarDay& fileDay)
        : fileDay_(fileDay), anchor_(DaysFromCivil(fileDay.year, fileDay.month, fileDay.day))
    {
    }

    // month 0: any month (a date that names its month by a word).
    void Try(const Number& year, int month, int day)
    {
        const int fullYear = FullYear(year, fileDay_.year);
        for (int m = month ? month : 1; m <= (month ? month : 12); ++m) {
            if (!IsDate(fullYear, m, day))
                continue;
            const long distance = DaysFromCivil(fullYear, m, day) - anchor_;
            if (distance < kEarliestDays || distance > kLatestDays || (found_ && std::labs(distance) >= best_))
                continue;
            found_ = true;
            best_ = std::labs(distance);
            date_ = {fullYear, m, day};
        }
    }

    std::optional<CalendarDay> Found() const { return found_ ? std::optional(date_) : std::nullopt; }

private:
    CalendarDay fileDay_;
    long anchor_;
    bool found_ = false;
    long best_ = 0;
    CalendarDay date_;
};

std::optional<CalendarDay> ReadDate(std::string_view date, const CalendarDay& fileDay)
{
    Number n[3];
    const size_t count = Numbers(date, n, 3);
    NearestDate nearest(fileDay);
    if (count == 3) {
        if (n[0].digits > 2) {
            nearest.Try(n[0], n[1].value, n[2].value); // 2026-07-03, 2026年07月03日
        } else {
            nearest.Try(n[2], n[1].value, n[0].value); // 03.07.2026, 03/07/26
            nearest.Try(n[2], n[0].value, n[1].value); // 07/03/2026, 07/03/26
            if (n[2].digits <= 2)
                nearest.Try(n[0], n[1].value, n[2].value); // 26-07-03
        }
    } else if (count == 2) {
        // The month as a word: "03 Jul, 2026", "2026 Jul 03".
        if (n[1].digits > 2 && n[0].digits <= 2)
            nearest.Try(n[1], 0, n[0].value);
        else if (n[0].digits > 2 && n[1].digits <= 2)
            nearest.Try(n[0], 0, n[1].value);
    }
    return nearest.Found();
}

// Whether the text holds one of the words for the afternoon (or the
// morning) of the 12-hour clocks the C library's locales write, in ASCII
// without regard to case, or in the scripts that have their own.
bool HasMarker(std::string_view time, std::string_view latin, std::initializer_list<std::string_view> others)
{
    for (size_t at = 0; at + latin.size() <= time.size(); ++at) {
        size_t matched = 0;
        for (size_t i = 0, j = at; i < latin.size() && j < time.size(); ++i, ++j) {
            while (time[j] == '.' && i > 0 && j + 1 < time.size())
                ++j; // "p.m."
            const char c = time[j] >= 'a' && time[j] <= 'z' ? static_cast<char>(time[j] - 'a' + 'A') : time[j];
            if (c != latin[i])
                break;
            ++matched;
        }
        if (matched == latin.size())
            return true;
    }
    for (const std::string_view word : others)
        if (time.find(word) != std::string_view::npos)
            return true;
    return false;
}

std::time_t LocalTime(const CalendarDay& day, int second)
{
    std::tm local {};
    local.tm_year = day.year - 1900;
    local.tm_mon = day.month - 1;
    local.tm_mday = day.day;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

}  // namespace

std::optional<CalendarDay> DayOfLogFile(std::string_view pathOrName)
{
    const size_t slash = pathOrName.rfind('/');
    const std::string name(slash == std::string_view::npos ? pathOrName : pathOrName.substr(slash + 1));
    if (!IsTrafficLogFileName(name))
        return std::nullopt;
    Number n[3];
    if (Numbers(name, n, 3) != 3)
        return std::nullopt;
    return CalendarDay {n[2].value, n[1].value, n[0].value};
}

int SecondOfDay(std::string_view time)
{
    // "14:05:09", as most locales write it, read at once: a log view reads
    // a million of them.
    const auto digit = [&](size_t at) { return time[at] - '0'; };
    if (time.size() == 8 && time[2] == ':' && time[5] == ':' && IsDigit(time[0]) && IsDigit(time[1]) && IsDigit(time[3])
        && IsDigit(time[4]) && IsDigit(time[6]) && IsDigit(time[7])) {
        const int hour = digit(0) * 10 + digit(1), minute = digit(3) * 10 + digit(4), second = digit(6) * 10 + digit(7);
        return hour > 23 || minute > 59 || second > 60 ? -1 : hour * 3600 + minute * 60 + second;
    }
    // Hours, minutes and perhaps seconds: numbers one after the other with
    // a short mark between ("14:05:09", "14時05分09秒", "14시 05분 09초"). A
    // number right after a sign is a zone's offset ("+0100", "-03"), not a
    // time of day.
    Number n[8];
    const size_t count = Numbers(time, n, 8);
    int parts[3] = {0, 0, 0};
    size_t taken = 0;
    for (size_t i = 0; i < count && taken < 3; ++i) {
        const bool offset = n[i].begin > 0 && (time[n[i].begin - 1] == '+' || time[n[i].begin - 1] == '-');
        const bool usable = n[i].digits <= 2 && !offset;
        if (taken > 0 && !(usable && n[i].begin - n[i - 1].end <= 4)) {
            if (taken >= 2)
                break;
            taken = 0;
        }
        if (usable)
            parts[taken++] = n[i].value;
    }
    if (taken < 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 60)
        return -1;
    if (parts[0] <= 12) {
        // 下午 zh, 午後 ja, 오후 ko, μμ el, अपराह्न hi; their mornings.
        if (parts[0] < 12 && HasMarker(time, "PM", {"下午", "午後", "오후", "μμ", "अपराह्न"}))
            parts[0] += 12;
        else if (parts[0] == 12 && HasMarker(time, "AM", {"上午", "午前", "오전", "πμ", "पूर्वाह्न"}))
            parts[0] = 0;
    }
    return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

RecordWhen ReadRecordTime(std::string_view date, std::string_view time, const CalendarDay& fileDay)
{
    return RecordTimeReader(fileDay).Read(date, time);
}

RecordWhen RecordTimeReader::Read(std::string_view date, std::string_view time)
{
    if (!dateRead_ || date != date_) {
        date_.assign(date);
        day_ = ReadDate(date, fileDay_);
        dateRead_ = true;
    }
    const CalendarDay day = day_.value_or(fileDay_);
    const int second = SecondOfDay(time);
    const int ofDay = second < 0 ? 0 : second;
    // An hour's seconds follow its start evenly. Of an hour a clock change
    // repeats, the first is taken, as mktime takes it; one it skips is
    // moved on as mktime moves it.
    if (hour_ != ofDay / 3600 || !(hourDay_ == day)) {
        hour_ = ofDay / 3600;
        hourDay_ = day;
        hourStart_ = LocalTime(day, hour_ * 3600);
    }
    return {hourStart_ + ofDay % 3600, day_ && second >= 0};
}

std::string IsoTime(std::time_t when)
{
    std::tm local {};
    if (!::localtime_r(&when, &local))
        return {};
    const long offset = local.tm_gmtoff;
    const long minutes = std::labs(offset) / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
                  minutes / 60, minutes % 60);
    return text;
}

}  // namespace protocol
