#include "singlecopyguard.h"

// A platform without a guard of its own: every copy counts as the only one.
SingleCopyGuard::SingleCopyGuard(const QString &)
    : result(Held)
{ }

SingleCopyGuard::~SingleCopyGuard() = default;
