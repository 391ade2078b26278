// A window manager's request to close a window reaches the widget only while
// no modal dialog blocks that window: the toolkit drops it otherwise, without
// a word. While a flow runs, its busy dialog blocks the main window, so this
// watches the window system (the X11 connection on Linux) for the request
// itself and reports it, for the window to say why it stays open.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>

class BlockedCloseRequests : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit BlockedCloseRequests(QWidget *window);
    ~BlockedCloseRequests() override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    void closeRequested();

private:
    QWidget *window;
    // X11: the two atoms that make up a close request.
    uint32_t protocolsAtom = 0;
    uint32_t deleteWindowAtom = 0;
};
