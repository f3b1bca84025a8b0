#include "logstore/Schema.h"

#include "logstore/Database.h"

#include <exception>
#include <sqlite3.h>

namespace logstore {

const Schema& Schema::Current()
{
    // The traffic index and the traffic counts add their tables here, each
    // as a step of its own.
    static const Schema schema {{}};
    return schema;
}

bool Schema::Migrate(Database& db, int from, std::string& why, int* failureCode) const
{
    const auto failed = [&](const std::string& text) {
        // Taken before the rollback clears it.
        if (failureCode)
            *failureCode = sqlite3_extended_errcode(db.Handle());
        why = "cannot bring the database from version " + std::to_string(from) + " to "
            + std::to_string(Version()) + ": " + text;
        return false;
    };
    Transaction transaction(db);
    if (!transaction)
        return failed(transaction.Error());
    for (int step = from; step < Version(); ++step) {
        const MigrationStep& migration = steps_[static_cast<size_t>(step)];
        std::string failure;
        bool done = false;
        try {
            done = migration.apply ? migration.apply(db, failure) : db.Run(migration.sql, &failure);
        } catch (const std::exception& error) {
            failure = error.what();
        }
        if (!done)
            return failed("step " + std::to_string(step + 1) + ": " + failure);
    }
    std::string failure;
    if (!db.Run("PRAGMA user_version = " + std::to_string(Version()), &failure))
        return failed(failure);
    if (!transaction.Commit())
        return failed(transaction.Error());
    return true;
}

}  // namespace logstore
