// What the General Settings page asks before it queues a settings write, when the program gives
// it a guard: the changes to list in the Confirm box, and the go-ahead once the operator has
// confirmed (the guard backs up what the meter holds, and follows the writes to verify them).
#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

class ISettingsWriteGuard {
public:
    virtual ~ISettingsWriteGuard() = default;
    // "field: old -> new" for each field the write queries change; empty for none.
    virtual QStringList Changes(const std::vector<std::string>& writes) = 0;
    // False when the writes must not go out; the guard has told the operator why.
    virtual bool BeforeWrites(const std::vector<std::string>& writes) = 0;
};

// The Confirm box's text: the question, then the changes, or "No changes".
inline QString ConfirmWithChanges(const QString& question, const QStringList& changes) {
    return question + QStringLiteral("\n\n") +
           (changes.isEmpty() ? QStringLiteral("No changes") : changes.join(QLatin1Char('\n')));
}
