// Answers every message box that comes up while it lives, as an operator
// would: a timer keeps looking for a shown box and presses the chosen button,
// or the box's first one where it has no such button, so that no box can hang
// a test. Remembers what the last box answered showed.
#pragma once

#include <QMessageBox>
#include <QTimer>

#include <functional>

class MessageBoxAnswerer
{
public:
    explicit MessageBoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::No);

    void setAnswer(QMessageBox::StandardButton button) { answer = button; }
    // The operator answers with the Enter key, whatever the box's default is.
    void answerWithEnter() { byEnter = true; }

    // Runs before a box is answered, while it is still up. It may leave the
    // box unanswered by returning false; it is then called again at the next
    // look. A box gone when it returns is left alone.
    std::function<bool(QMessageBox *)> beforeAnswer;

    int answered() const { return count; }
    QString title() const { return lastTitle; }
    QString text() const { return lastText; }
    QMessageBox::Icon icon() const { return lastIcon; }
    QMessageBox::StandardButtons buttons() const { return lastButtons; }

private:
    void look();

    QMessageBox::StandardButton answer;
    bool byEnter = false;
    QTimer timer;
    bool looking = false; // beforeAnswer may wait, and the timer fires meanwhile
    int count = 0;
    QString lastTitle;
    QString lastText;
    QMessageBox::Icon lastIcon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons lastButtons;
};
