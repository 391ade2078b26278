// While it lives, asks the workstation not to cut the device's work short:
// no sleep or suspend (the lid, the suspend and hibernate keys included), no
// shutdown and no logout. It lives as long as an operator flow: taken when
// the flow starts and let go when it returns. Each request is made without
// waiting for its answer, so the window keeps painting; a service that is
// absent or refuses is passed over without a word, and an answer that comes
// after the flow has returned is let go at once.
#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class QWidget;

class SessionGuard
{
public:
    // `why` is shown where the desktop says what holds it off; `window` is the
    // window the requests are made for.
    SessionGuard(const QString &why, QWidget *window);
    ~SessionGuard();
    Q_DISABLE_COPY_MOVE(SessionGuard)

    // What the guard cannot hold off and the operator must, said as a write
    // starts; empty where it holds off everything a workstation asks for.
    static QString unheldWarning();

private:
    // What the platform asked for, shared with the answers still to come.
    struct Requests;
    std::shared_ptr<Requests> requests;
};
