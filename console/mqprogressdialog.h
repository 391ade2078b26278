// The modal "Please Wait" busy dialog shown while a worker talks to the
// device. Only the end of the worker takes it away: it asks for no close,
// minimise or maximise button and cannot be resized, ignores Escape and close
// requests, and comes back at once where a window manager minimises it all
// the same.
#pragma once

#include <QProgressDialog>

class MQProgressDialog : public QProgressDialog
{
    Q_OBJECT

public:
    explicit MQProgressDialog(const QString &labelText, QWidget *parent = nullptr);

    // Shows the dialog as the busy dialog of owner's window. It keeps no
    // parent widget, but the window system is told whose dialog it is.
    void showFor(QWidget *owner);

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
