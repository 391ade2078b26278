#include "terminationrequests.h"

// A platform without termination requests of its own: the program ends as
// the platform ends it, and closeRequested() is never emitted.
void TerminationRequests::catchSignals() { }

void TerminationRequests::releaseSignals() { }

TerminationRequests::TerminationRequests() = default;

void TerminationRequests::readRequests() { }
