// The folder where the updater keeps what no other user may read or change
// while it works: the private copies of the firmware images that the device
// library reads. It is created where it is missing and checked each time: a
// folder, not a link, of this user's, that nobody else can enter.
#pragma once

#include <QString>

class PrivateFolder
{
public:
    // The folder's absolute path; empty, with `why` set to a sentence for the
    // operator that names the folder, when it cannot be used.
    static QString path(QString &why);

private:
    // What the platform proposes, and why it refuses the folder (empty when
    // it may be used), once created.
    static QString candidate();
    static QString refusal(const QString &folder);
};
