#pragma once

#include "panel/core/PortNames.h"
#include "rules/Application.h"
#include "rules/ProgramNames.h"
#include "rules/Rule.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace panel {

// The daily traffic logs as the control panel shows them: four filtered
// views, today's blocked intruders, an application's statistics.

// A field of a log line by its tag, with the display values of the views:
// PROTOCOL "TCP"/"UDP", DIRECTION "Incoming"/"Outgoing" and PERMISSION
// "Deny"/"Permit"/"Ask" in the user's language, SERVICE "1"/"0"; "" when
// the tag is missing.
std::string GetPhrase(std::string_view line, std::string_view tag);

// One row of a log view.
struct LogRow {
    std::string number; // the running number, right-aligned in 6 characters
    std::string dateTime; // DATE and TIME as stored
    // When it was written, when DATE and TIME could be read (the view then
    // shows it in the user's locale), else dateTime alone tells.
    std::time_t when = 0;
    bool dated = false;
    std::string application;
    std::string protocol;
    std::string ip;
    std::string port; // the port, followed by its name: "80(http)"
    std::string path;
    std::string service;
    std::string host; // the name the program looked the peer up as; empty when not known
    std::string reason;     // why it was decided so (ReasonText); empty in older records
    std::string portNumber; // the port alone
    bool outgoing = false;
    bool denied = false;
    // From the system services' log: the machine's rules decided it, which
    // the user's rules cannot change.
    bool machine = false;

    // The program as its row shows it (rules::program_names::DisplayName);
    // application stays the record's own.
    std::string ShownApplication() const { return rules::program_names::DisplayName(path, application); }

    bool operator==(const LogRow&) const = default;
};

// What a view shows of its records: those of one day or of all, and those
// that match every word of a search.
struct LogFilter {
    std::string dayFile; // the path of one day's file (LogDay::path); empty: every day
    // Words, each of which must match: a program (its name or path), a
    // peer's host name or address (a part of any, without regard to case),
    // or a port (the whole number).
    std::string search;
};

// A day that has a traffic log.
struct LogDay {
    int year = 0, month = 0, day = 0;
    std::string path;
};

// The traffic logs of the folder, newest day first.
std::vector<LogDay> LogDays(const std::string& folder);

// The text of a record's reason as the log column shows it, in the user's
// language: "Rule", "Default", "Block All", "Your answer", "Time-out" and
// so on; "" for a record without one (written by an older engine).
std::string ReasonText(std::string_view reason, bool backstop = false, std::string_view list = {});

// What the address column sorts by: by family (IPv4 first), then by value,
// so that 10.0.0.9 comes before 10.0.0.10 and 2001:db8::9 before
// 2001:db8::10; a text that is no address after every address.
std::string AddressSortKey(std::string_view address);

// Reads the log folder's daily files, each parsed once: a file read before
// is read again only when its size or time changed, so a refresh of a view
// whose logs did not change reads nothing. One per window.
class LogReader {
public:
    // The rows of the view "Log1" (permitted incoming), "Log2" (permitted
    // outgoing), "Log3" (denied incoming) or "Log4" (denied outgoing), newest
    // first: the latest day's file first, each file's records from its end.
    // Service records only with showServices; serviceManager names the
    // service manager's executable file (upper case). With showServices the
    // records of the services' log folder are shown too (all of them service
    // records), each day's merged with the user's by time; a folder that is
    // missing or cannot be read adds nothing.
    std::vector<LogRow> FillLogView(const std::string& folder, const std::string& key, bool showServices,
                                    const PortNames& ports, const std::string& serviceManager,
                                    const LogFilter& filter = {}, const std::string& servicesFolder = {});

private:
    // What the views need of one record, decoded once.
    struct Record {
        std::string dateTime;
        std::string application;
        std::string ip;
        std::string path;
        std::string localPort;
        std::string remotePort;
        std::string host; // the name the program looked the peer up as, when known
        std::string reason; // its text in the view
        // What a search looks in, in upper case: the program's name and path,
        // the host and the address, one per line; made at the first search
        // that reaches the record, so that a log only shown costs nothing more.
        mutable std::string searchText;
        bool tcp = false;
        bool incoming = false;
        bool denied = false; // not permitted: "Deny", and an "Ask" no answer decided
        bool service = false;
        std::time_t when = 0; // what records of one day are merged by (protocol::ReadRecordTime)
        bool dated = false;   // DATE and TIME were read
    };
    struct File {
        long long size = -1;
        long long modified = 0;
        long long modifiedNanoseconds = 0;
        std::vector<Record> records;
    };
    // allServices: a file of the services' folder, every record a service's.
    const File& Read(const std::string& path, const std::string& serviceManager, bool allServices = false);
    static bool Matches(const Record& record, const std::string& port, const std::vector<std::string>& words);

    std::map<std::string, std::shared_ptr<File>> files_;
};

// The traffic logs of the folder (their names as IsTrafficLogFileName
// knows them), oldest day first.
std::vector<std::string> DailyFiles(const std::string& folder);

// Incoming connections denied today, from the day's log.
int CountBlockedIntruders(const std::string& folder, std::time_t now);

// The statistics text of an application from today's log: last access
// (by shownTime, as stored when its time cannot be read), up to four
// remote and four local ports, the service note; "No statistics are
// available at the moment" when the log has nothing of it.
std::string AppStatistics(const rules::Application& app, const std::string& folder, std::time_t now,
                          const std::function<std::string(std::time_t)>& shownTime);

// An application taken from a log row: named as the engine names the
// program, described as the row names it, with the general defaults (a
// service, by the row or as the service manager, is never asked).
rules::Application ApplicationFromLog(const std::string& application, const std::string& path,
                                      const std::string& service, std::optional<rules::Permission> generalIncoming,
                                      std::optional<rules::Permission> generalOutgoing,
                                      const std::string& serviceManager);

// A rule for what a log row shows, as the rule editor opens with it: the
// row's direction and decision, its port (the program's own for incoming
// connections, the peer's for outgoing ones) and its peer, by the host name
// the program looked it up as when there is one (outgoing only), else by
// its address. In force and listed.
rules::Rule RuleFromLog(const LogRow& row);

}  // namespace panel
