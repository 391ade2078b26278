#include "terminationrequests.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may do next to nothing: it writes one byte into this
// socket pair, and the GUI thread reads it from the other end. [0] is read,
// [1] written.
int requestPipe[2] = { -1, -1 };

constexpr int kSignals[] = { SIGINT, SIGTERM, SIGHUP };

void onSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // Non-blocking: when the pipe is full, a request is already waiting.
    [[maybe_unused]] const ssize_t written = ::write(requestPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationRequests::TerminationRequests(QObject *parent)
    : QObject(parent)
{
    if (requestPipe[0] < 0
        && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, requestPipe) != 0)
        return; // nothing can be held: the signals keep their default action
    auto *notifier = new QSocketNotifier(requestPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationRequests::readRequests);
}

void TerminationRequests::hold()
{
    if (requestPipe[0] < 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        struct sigaction current = {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

void TerminationRequests::release()
{
    for (const int signal : kSignals) {
        struct sigaction current = {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == onSignal)
            ::signal(signal, SIG_DFL);
    }
}

// Several signals in a row are one request.
void TerminationRequests::readRequests()
{
    char bytes[64];
    bool requested = false;
    while (::read(requestPipe[0], bytes, sizeof bytes) > 0)
        requested = true;
    if (requested)
        emit this->requested();
}
