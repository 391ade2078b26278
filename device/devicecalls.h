// Tells, as it happens, when a call into the device library starts and when
// it returns, on the thread that makes it: a call the device does not answer
// shows as one that started and has not returned.
#pragma once

#include <QObject>

class DeviceCalls : public QObject
{
    Q_OBJECT

public:
    static DeviceCalls *instance();

    // Reports one call for as long as it lasts.
    class Call
    {
    public:
        explicit Call(const char *function);
        ~Call();
        Q_DISABLE_COPY_MOVE(Call)
    };

signals:
    void started(const QString &function);
    void returned();
};
