// The program's one window: a frame around the operator console, titled with
// the target firmware version.
#pragma once

#include <QMainWindow>
#include <QPointer>

class QMessageBox;
class Updater;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);

public slots:
    // A request to end the program that did not come through the window
    // (a signal): held while a worker runs, honoured once its flow is done.
    void requestClose();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void explainRefusedClose();
    void fitFrameToScreen();

    Updater *updater;
    QPointer<QMessageBox> closeRefusal; // while shown, a further close shows no second one
    bool iconRequested = false;
    bool frameFitted = false;
};
