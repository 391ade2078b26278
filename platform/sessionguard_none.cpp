#include "sessionguard.h"

// A platform without a session guard of its own asks for nothing.
struct SessionGuard::Requests
{
};

SessionGuard::SessionGuard(const QString &, QWidget *) { }

SessionGuard::~SessionGuard() = default;

// Nothing is held here, and nothing is said either: the platform's own
// behaviour is not known.
QString SessionGuard::unheldWarning()
{
    return QString();
}
