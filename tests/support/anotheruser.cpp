#include "anotheruser.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <unistd.h>

namespace {
constexpr uid_t nobody = 65534;
}

AnotherUser::AnotherUser(bool wanted)
    : switched(wanted && ::geteuid() == 0 && ::seteuid(nobody) == 0)
{ }

AnotherUser::~AnotherUser()
{
    if (switched && ::seteuid(0) != 0)
        qFatal("cannot become root again");
}

bool AnotherUser::isOther() const
{
    return ::geteuid() != 0;
}
#else
AnotherUser::AnotherUser(bool) { }

AnotherUser::~AnotherUser() = default;

bool AnotherUser::isOther() const
{
    return false;
}
#endif
