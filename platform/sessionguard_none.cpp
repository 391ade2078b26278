#include "sessionguard.h"

// A platform without a session guard of its own asks for nothing.
struct SessionGuard::Requests
{
};

SessionGuard::SessionGuard(const QString &, QWidget *) { }

SessionGuard::~SessionGuard() = default;
