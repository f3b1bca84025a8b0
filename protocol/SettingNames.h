#pragma once

#include <string_view>

// Names of the values under the settings key (registry::kSettingsKey) that
// the engine, the interceptor, the tools and the control panel share. All
// values are texts; numbers and flags are decimal text.

namespace protocol::settings {

inline constexpr const char* kRulesFile = "RulesFile";          // path of the rules file
inline constexpr const char* kLogFilesPath = "LogFilesPath";    // folder of the daily traffic logs
inline constexpr const char* kLogFileCount = "LogFileCount";    // days a traffic log is kept
inline constexpr const char* kSecurityStatus = "SecurityStatus"; // "0" block all, "1" filtering
inline constexpr const char* kSecurityMode = "SecurityMode";    // "Normal" or "Custom"
inline constexpr const char* kErrLogs = "ErrLogs";              // folder of the daily error logs
inline constexpr const char* kVrnFolder = "VRNFolder";          // installation folder, ending in "/"
inline constexpr const char* kUpdFullMode = "UpdFullMode";      // sic: not "Udp"
inline constexpr const char* kApplySettings = "ApplySettings";  // "True" or "False"
inline constexpr const char* kFirstClose = "FirstClose";        // "1" while closing shows the tray notice
// "1" once the control panel's first-run window was shown (a choice made or
// skipped); missing or anything else: it shows at the panel's next start.
inline constexpr const char* kFirstRunShown = "FirstRunShown";
inline constexpr const char* kDebugPrint = "DebugPrint";        // "1": errors also shown in a message box
inline constexpr const char* kTimeEnd = "VRNTIMEEND";           // tick count at the panel's last end
// Seconds after which an unanswered alert answers Block; missing, "0" or
// anything but a number from 1 to kMaxAlertTimeout: alerts wait for the user.
inline constexpr const char* kAlertTimeout = "AlertTimeout";
inline constexpr int kMaxAlertTimeout = 3600;
// A question nobody can see (the screen locked, no display): "1" Allow or
// "2" Block (anything else: Block), answered after AwayTimeout seconds
// (0 to kMaxAlertTimeout; missing or unreadable: kDefaultAwayTimeout) while
// the screen stays locked, at once when there is no display at all.
inline constexpr const char* kAwayAnswer = "AwayAnswer";
inline constexpr const char* kAwayTimeout = "AwayTimeout";
inline constexpr int kDefaultAwayTimeout = 30;
// Minutes an alert's answer "for a time" lasts (1 to rules::kMaxTimedAnswerMinutes;
// missing or anything else: kDefaultTimedAnswerMinutes).
inline constexpr const char* kTimedAnswerMinutes = "TimedAnswerMinutes";
inline constexpr int kDefaultTimedAnswerMinutes = 60;
// "1": every program the user starts runs under the firewall's hook (the
// session's start-up files put it in LD_PRELOAD); missing or "0": only
// programs started with zel-run.
inline constexpr const char* kDecideEveryProgram = "DecideEveryProgram";
// "1": the interceptor's process also hands every record of the day's
// traffic log to the system journal; missing or "0": only the daily file.
inline constexpr const char* kJournalRecords = "JournalRecords";
// Hours between updates of a subscribed host list (1 to 8760; missing or
// anything else: kDefaultHostListRefreshHours).
inline constexpr const char* kHostListRefreshHours = "HostListRefreshHours";
inline constexpr int kDefaultHostListRefreshHours = 24;
// What the firewall does with what the rules would ask: "ask" (the alert),
// "quiet-allow" or "quiet-block" (no alert: allowed or blocked for that
// connection, and listed for review), "learn" (allowed, remembered and
// listed until LearnUntil, then asked again); missing or anything else: ask.
inline constexpr const char* kFirewallMode = "FirewallMode";
// Seconds since 1970 (decimal) at which the learning mode ends.
inline constexpr const char* kLearnUntil = "LearnUntil";
inline constexpr int kDefaultLearnDays = 7;
inline constexpr int kMaxLearnDays = 365;
// "0": a program's lookup of "use-application-dns.net", the name browsers
// ask before they resolve names over encrypted DNS themselves, goes to the
// resolver as any other; missing or anything else: the hook answers it "no
// such name", so that they keep to the system's resolver and the firewall
// learns the names they connect to.
inline constexpr const char* kCanaryNoSuchName = "CanaryNoSuchName";
// The subscribed host lists: a value per list, named as the list, holding
// "field=value" lines (source, enabled, bit, entries, updated, error, etag,
// last-modified).
inline constexpr std::string_view kHostListsKey = "Software\\KORVEL\\QRB\\HostLists";

}  // namespace protocol::settings
