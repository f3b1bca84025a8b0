#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

// When a traffic record was written, read back from its DATE and TIME.
// Those are the writing program's short date and time (strftime's %x and
// %X) in whatever locale its environment named: "07/03/26" and "14:05:09"
// (C), "07/03/2026" and "02:05:09 PM" (en_US), "03.07.2026" (de_DE),
// "03/07/26" (en_GB), "2026年07月03日" and so on. Which number is the day and
// which the month is told by the day of the file the record sits in: a
// record is written at once, into the file of its own day, so the reading
// nearest to that day is the one meant. For readers only: the engine never
// calls these.
namespace protocol {

// A day of the calendar, as a daily log file's name gives it.
struct CalendarDay {
    int year = 0;
    int month = 0; // 1 to 12
    int day = 0;   // 1 to 31

    bool operator==(const CalendarDay&) const = default;
};

// The day of a daily traffic log ("3_7_2026_qrb.log", or a path ending in
// one); nullopt for any other name.
std::optional<CalendarDay> DayOfLogFile(std::string_view pathOrName);

struct RecordWhen {
    std::time_t when = 0;
    // DATE and TIME were both read. When not, the file's day (or the date
    // read) stands in, with the time of day when TIME could be read, else
    // midnight: the record keeps its place with its file's records.
    bool dated = false;
};

// A record's local time. A DATE whose readings all lie further from the
// file's day than a record can (a day before it to a month after) counts
// as not read: a number in a calendar of another era is no year of ours.
RecordWhen ReadRecordTime(std::string_view date, std::string_view time, const CalendarDay& fileDay);

// The same for the records of one file, read in turn: a date read, and the
// moment an hour of it starts, are kept for the records that follow, since
// the records of a file share a few dates and hours (a busy day's log has a
// million records; reading each afresh would cost more than the rest).
class RecordTimeReader {
public:
    explicit RecordTimeReader(const CalendarDay& fileDay) : fileDay_(fileDay) {}
    RecordWhen Read(std::string_view date, std::string_view time);

private:
    CalendarDay fileDay_;
    std::string date_; // the text last read, and what it gave
    std::optional<CalendarDay> day_;
    bool dateRead_ = false;
    CalendarDay hourDay_; // the hour last made a moment of
    int hour_ = -1;
    std::time_t hourStart_ = 0;
};

// The second of the day a record's TIME names: "14:05:09", "2:05:09 PM",
// "14.05.09", "14時05分09秒", "14시 05분 09초", "下午 02:05:09"; -1 when it names none.
int SecondOfDay(std::string_view time);

// when as ISO 8601 in local time with its offset: "2026-07-03T14:05:09+02:00".
std::string IsoTime(std::time_t when);

}  // namespace protocol
