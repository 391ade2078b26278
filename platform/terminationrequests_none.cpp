#include "terminationrequests.h"

// A platform without termination requests of its own: the program ends as
// the platform ends it, and requested() is never emitted.
TerminationRequests::TerminationRequests(QObject *parent)
    : QObject(parent)
{ }

void TerminationRequests::hold() { }

void TerminationRequests::release() { }

void TerminationRequests::readRequests() { }
