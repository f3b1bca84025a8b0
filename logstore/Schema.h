#pragma once

#include <functional>
#include <string>
#include <vector>

namespace logstore {

class Database;

// One step from a schema version to the next: SQL statements, or code where
// a step must move data the SQL alone cannot.
struct MigrationStep {
    std::string sql;
    std::function<bool(Database& db, std::string& why)> apply = nullptr;
};

// The database's schema as the steps that make it; its version (kept in
// PRAGMA user_version) is the number of steps. Steps are only ever added at
// the end: a step once released is never changed.
class Schema {
public:
    explicit Schema(std::vector<MigrationStep> steps) : steps_(std::move(steps)) {}

    // The schema this build of the firewall writes.
    static const Schema& Current();

    int Version() const { return static_cast<int>(steps_.size()); }

    // Runs the steps after version from, and records the new version, in one
    // transaction: either all of them are done or none. false with why when
    // one fails (the database is then as it was), and failureCode then gets
    // SQLite's code for the failure (to tell a damaged file from the rest).
    bool Migrate(Database& db, int from, std::string& why, int* failureCode = nullptr) const;

private:
    std::vector<MigrationStep> steps_;
};

}  // namespace logstore
