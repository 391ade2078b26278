// The modal "Please Wait" busy dialog shown while a worker talks to the
// device. Only the end of the worker takes it away: it has no close,
// minimise or maximise button, and ignores Escape and close requests.
#pragma once

#include <QProgressDialog>

class MQProgressDialog : public QProgressDialog
{
    Q_OBJECT

public:
    explicit MQProgressDialog(const QString &labelText, QWidget *parent = nullptr);

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
