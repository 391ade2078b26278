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
    void closeEvent(QCloseEvent *event) override;

private:
    Updater *updater;
};
