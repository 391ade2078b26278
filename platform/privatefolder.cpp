#include "privatefolder.h"

#include <QDir>

QString PrivateFolder::path(QString &why)
{
    const QString folder = candidate();
    const QString problem = refusal(folder);
    if (problem.isEmpty())
        return folder;
    why = QStringLiteral("Cannot keep private copies of the firmware images in %1: %2.")
              .arg(QDir::toNativeSeparators(folder), problem);
    return QString();
}
