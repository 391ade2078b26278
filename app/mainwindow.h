// The program's one window: a frame around the operator console, titled with
// the target firmware version.
#pragma once

#include <QMainWindow>

class Updater;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void fitFrameToScreen();

    Updater *updater;
    bool iconRequested = false;
    bool frameFitted = false;
};
