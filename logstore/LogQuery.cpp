#include "logstore/LogQuery.h"

#include "logstore/Database.h"
#include "text/Strings.h"

#include <sqlite3.h>

#include <variant>

namespace logstore {

namespace {

// The port the view shows, written as the index's condition is (see Schema).
constexpr const char* kShownPort = "CASE r.dir WHEN 0 THEN r.lport ELSE r.rport END";

// What a search looks in, as panel::LogReader joins it.
constexpr const char* kSearchedText = "r.app || char(10) || e.path || char(10) || ifnull(h.name, '') || char(10) || r.ip";

constexpr const char* kColumns = "r.id, r.t, r.dir, r.perm, r.proto, r.service, r.backstop, e.path, r.app, r.ip, "
                                 "r.lport, r.rport, h.name, r.reason, r.list";

// Text as a phrase of the search index: quoted, so that a quote, an
// operator or a column name in it can only be text.
std::string Phrase(std::string_view text)
{
    std::string phrase = "\"";
    for (const char c : text) {
        if (c == '"')
            phrase += '"';
        phrase += c;
    }
    return phrase + "\"";
}

// As the search index reads texts: a letter or digit (or any byte of a
// non-ASCII character) is part of a word, the rest separates words.
bool IsWordByte(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || static_cast<unsigned char>(c) >= 0x80;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether text holds word (in upper case) where a word of the text starts,
// or anywhere when word itself starts with no word, without regard to
// ASCII case: what the search index can find, told by the text itself.
bool HoldsAtWordStart(std::string_view text, std::string_view word)
{
    const bool anywhere = word.empty() || !IsWordByte(word.front());
    for (std::size_t at = 0; at + word.size() <= text.size(); ++at) {
        if (!anywhere && at > 0 && IsWordByte(text[at - 1]))
            continue;
        std::size_t i = 0;
        while (i < word.size() && Upper(text[at + i]) == word[i])
            ++i;
        if (i == word.size())
            return true;
    }
    return false;
}

void LogHolds(sqlite3_context* context, int, sqlite3_value** values)
{
    const auto text = [&](int i) {
        const auto* data = reinterpret_cast<const char*>(sqlite3_value_text(values[i]));
        return data ? std::string_view(data, static_cast<std::size_t>(sqlite3_value_bytes(values[i]))) : std::string_view();
    };
    sqlite3_result_int(context, HoldsAtWordStart(text(0), text(1)) ? 1 : 0);
}

// The one word of a search word the search index is asked for: the longest
// (the rarest, likely), whole, or as a start when it is the word's last (the
// word typed may go on); empty when the word holds none. Only a word with an
// ASCII letter or digit: one of other characters alone may be punctuation
// to the index ("«"), which it would never find.
std::string IndexTerm(std::string_view word)
{
    std::string_view best;
    bool last = false;
    for (std::size_t at = 0; at < word.size();) {
        if (!IsWordByte(word[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        bool ascii = false;
        for (; end < word.size() && IsWordByte(word[end]); ++end)
            ascii = ascii || static_cast<unsigned char>(word[end]) < 0x80;
        if (ascii && end - at >= best.size()) {
            best = word.substr(at, end - at);
            last = end == word.size();
        }
        at = end;
    }
    return best.empty() ? std::string() : Phrase(best) + (last ? "*" : "");
}

// A port as a view shows it: digits without a leading zero, at most 65535.
bool IsPort(std::string_view text)
{
    if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')
        || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    return std::stoi(std::string(text)) <= 65535;
}

}  // namespace

struct LogQuery::Plan {
    using Value = std::variant<std::int64_t, std::string>;
    bool none = false;   // the day or the program has no rows at all
    bool search = false; // the texts are looked in: rows joined with their names
    std::string from;
    std::string where;
    std::vector<Value> values;
    // The same selection over view_counts, while nothing is searched.
    std::string countWhere;
    std::vector<Value> countValues;

    void Add(const std::string& condition, std::vector<Value> more = {})
    {
        where += where.empty() ? condition : " AND " + condition;
        for (Value& value : more)
            values.push_back(std::move(value));
    }
    void AddToCount(const std::string& condition, std::vector<Value> more = {})
    {
        countWhere += countWhere.empty() ? condition : " AND " + condition;
        for (Value& value : more)
            countValues.push_back(std::move(value));
    }
    static bool Bind(Statement& statement, int& at, const std::vector<Value>& values)
    {
        for (const Value& value : values) {
            if (const auto* number = std::get_if<std::int64_t>(&value))
                statement.Bind(++at, *number);
            else
                statement.Bind(++at, std::get<std::string>(value));
        }
        return static_cast<bool>(statement);
    }
};

LogQuery::LogQuery(Database& db, std::int64_t driveLimit) : db_(db), driveLimit_(driveLimit)
{
    // Registered on the connection; a failure shows as the search's own.
    if (db_.Handle())
        sqlite3_create_function_v2(db_.Handle(), "log_holds", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   LogHolds, nullptr, nullptr, nullptr);
}

bool LogQuery::Prepare(const LogSelection& selection, Plan& plan, std::string& why)
{
    // Ids of what the selection names, looked up once; a day or a program
    // the index does not know has no rows.
    const auto lookUp = [&](const char* sql, const std::string& text, std::int64_t& id) {
        Statement find(db_, sql);
        switch (find.Bind(1, text).Next()) {
        case Statement::Step::kRow:
            id = find.Integer(0);
            return true;
        case Statement::Step::kDone:
            plan.none = true;
            return true;
        case Statement::Step::kFailed:
            why = find.Error();
            return false;
        }
        return false;
    };
    std::int64_t file = 0, exe = 0;
    if (!selection.dayFile.empty() && !lookUp("SELECT id FROM files WHERE path = ?1", selection.dayFile, file))
        return false;
    if (!selection.program.empty() && !lookUp("SELECT id FROM exes WHERE path = ?1", selection.program, exe))
        return false;
    if (plan.none)
        return true;

    // Each condition on the rows and on their counts.
    const auto both = [&](const std::string& rows, const std::string& counts, std::vector<Plan::Value> values = {}) {
        plan.AddToCount(counts, values);
        plan.Add(rows, std::move(values));
    };
    both("r.dir = ?", "c.dir = ?", {std::int64_t {selection.incoming ? 0 : 1}});
    both("(r.perm <> 1) = ?", "c.denied = ?", {std::int64_t {selection.denied ? 1 : 0}});
    plan.Add(std::string(kShownPort) + " IS NOT NULL"); // the counts hold only those
    if (file != 0)
        both("r.file = ?", "c.file = ?", {file});
    if (exe != 0)
        both("r.exe_id = ?", "c.exe_id = ?", {exe});
    if (!selection.services) {
        both("r.service = 0", "c.service = 0");
        if (!selection.serviceManager.empty()) {
            // The service manager's records are service records whatever
            // they say: its executables (a few) left out by id.
            Statement exes(db_, "SELECT id, path FROM exes");
            std::vector<Plan::Value> manager;
            std::string list;
            while (exes.Next() == Statement::Step::kRow)
                if (text::ToUpper(text::FileNamePart(exes.Text(1))) == selection.serviceManager) {
                    manager.emplace_back(exes.Integer(0));
                    list += list.empty() ? "?" : ", ?";
                }
            if (!exes) {
                why = exes.Error();
                return false;
            }
            if (!manager.empty())
                both("r.exe_id NOT IN (" + list + ")", "c.exe_id NOT IN (" + list + ")", std::move(manager));
        }
    }

    plan.from = "records r";
    std::string words, wholeWords; // of the search index, all of which a row must hold
    for (std::size_t at = 0; at < selection.search.size();) {
        const std::size_t end = std::min(selection.search.find_first_of(" \t", at), selection.search.size());
        const std::string_view word = std::string_view(selection.search).substr(at, end - at);
        at = end + 1;
        if (word.empty())
            continue;
        plan.search = true;
        // The index finds the rows; the text itself decides (a search
        // word's dots or quotes count too).
        const std::string literal = std::string("log_holds(") + kSearchedText + ", ?)";
        if (IsPort(word)) {
            plan.Add("(" + std::string(kShownPort) + " = ? OR " + literal + ")",
                     {std::int64_t {std::stoi(std::string(word))}, text::ToUpper(word)});
            continue;
        }
        plan.Add(literal, {text::ToUpper(word)});
        if (const std::string term = IndexTerm(word); !term.empty()) {
            words += (words.empty() ? "" : " AND ") + term;
            wholeWords += (wholeWords.empty() ? "" : " AND ") + (term.back() == '*' ? term.substr(0, term.size() - 1) : term);
        }
    }
    if (!plan.search)
        return true;
    plan.from = "records r JOIN exes e ON e.id = r.exe_id LEFT JOIN hosts h ON h.id = r.host";
    if (words.empty())
        return true;
    Statement matches(db_, "SELECT count(*) FROM (SELECT rowid FROM records_text WHERE records_text MATCH ?1 LIMIT ?2)");
    const auto count = [&](const std::string& query, std::int64_t& found) {
        if (matches.Bind(1, query).Bind(2, driveLimit_ + 1).Next() != Statement::Step::kRow) {
            why = matches.Error();
            return false;
        }
        found = matches.Integer(0);
        matches.Reset();
        return true;
    };
    // The whole words first: a word's starts are read by merging the lists of
    // every word it starts, which for a common word costs more than the walk.
    std::int64_t found = 0;
    if (!count(wholeWords, found) || (found <= driveLimit_ && wholeWords != words && !count(words, found)))
        return false;
    if (found <= driveLimit_) {
        // Few: those rows taken first (CROSS JOIN keeps that order), then sorted.
        plan.from = "records_text f CROSS JOIN records r ON r.id = f.rowid JOIN exes e ON e.id = r.exe_id "
                    "LEFT JOIN hosts h ON h.id = r.host";
        plan.Add("f.records_text MATCH ?", {words});
    }
    return true;
}

LogCount LogQuery::Count(const LogSelection& selection, std::string* why)
{
    LogCount count;
    Plan plan;
    std::string failure;
    if (!Prepare(selection, plan, failure)) {
        if (why)
            *why = "cannot count the log's rows: " + failure;
        return count;
    }
    if (plan.none)
        return count;
    const std::string rows = "SELECT 1 FROM " + plan.from + " WHERE " + plan.where;
    Statement statement(db_, plan.search ? "SELECT count(*) FROM (" + rows + " LIMIT ?)"
                                         : "SELECT ifnull(sum(c.rows), 0) FROM view_counts c WHERE " + plan.countWhere);
    int at = 0;
    Plan::Bind(statement, at, plan.search ? plan.values : plan.countValues);
    if (plan.search)
        statement.Bind(++at, kSearchCountCap + 1);
    if (statement.Next() != Statement::Step::kRow) {
        if (why)
            *why = "cannot count the log's rows: " + statement.Error();
        return count;
    }
    count.rows = statement.Integer(0);
    if (plan.search && count.rows > kSearchCountCap) {
        count.rows = kSearchCountCap;
        count.capped = true;
    }
    return count;
}

std::vector<LogEntry> LogQuery::Page(const LogSelection& selection, const std::optional<LogPosition>& before, int rows,
                                     std::string* why)
{
    std::vector<LogEntry> page;
    Plan plan;
    std::string failure;
    if (!Prepare(selection, plan, failure)) {
        if (why)
            *why = "cannot read the log's rows: " + failure;
        return page;
    }
    if (plan.none || rows <= 0)
        return page;
    if (before)
        plan.Add("(r.t, r.id) < (?, ?)", {std::int64_t {before->t}, before->id});
    if (!plan.search)
        plan.from = "records r JOIN exes e ON e.id = r.exe_id LEFT JOIN hosts h ON h.id = r.host";
    Statement statement(db_, std::string("SELECT ") + kColumns + " FROM " + plan.from + " WHERE " + plan.where
                                 + " ORDER BY r.t DESC, r.id DESC LIMIT ?");
    int at = 0;
    Plan::Bind(statement, at, plan.values);
    statement.Bind(++at, std::int64_t {rows});
    const auto port = [&](int column) {
        return statement.IsNull(column) ? std::nullopt : std::optional<int>(static_cast<int>(statement.Integer(column)));
    };
    Statement::Step step;
    while ((step = statement.Next()) == Statement::Step::kRow) {
        LogEntry entry;
        entry.id = statement.Integer(0);
        entry.t = static_cast<std::time_t>(statement.Integer(1));
        entry.incoming = statement.Integer(2) == 0;
        entry.perm = static_cast<int>(statement.Integer(3));
        entry.tcp = statement.Integer(4) == 1;
        entry.service = statement.Integer(5) != 0;
        entry.backstop = statement.Integer(6) != 0;
        entry.exePath = statement.Text(7);
        entry.app = statement.Text(8);
        entry.ip = statement.Text(9);
        entry.localPort = port(10);
        entry.remotePort = port(11);
        entry.host = statement.Text(12);
        entry.reason = statement.Text(13);
        entry.list = statement.Text(14);
        page.push_back(std::move(entry));
    }
    if (step == Statement::Step::kFailed) {
        if (why)
            *why = "cannot read the log's rows: " + statement.Error();
        page.clear();
    }
    return page;
}

}  // namespace logstore
