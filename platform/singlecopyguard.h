// One copy of the updater per workstation, whoever runs it: two copies would
// work on one device at once. The guard is a name held in the kernel, shared by
// every user and session of the machine, that needs no shared folder and goes
// with its holder however the holder ends, killed or crashed included.
#pragma once

#include <QString>
#include <QtGlobal>

class SingleCopyGuard
{
public:
    enum Outcome {
        Held, // this copy is the only one
        HeldByAnotherCopy,
        Failed, // the guard could not be set up; failure() says why
    };

    // Takes the guard of the given name, held until destruction.
    explicit SingleCopyGuard(const QString &name);
    ~SingleCopyGuard();
    Q_DISABLE_COPY_MOVE(SingleCopyGuard)

    Outcome outcome() const { return result; }
    // Why the guard could not be set up, in the system's words.
    QString failure() const { return cause; }

private:
    Outcome result = Failed;
    QString cause;
    qintptr handle = -1; // what the platform holds the name with
};
