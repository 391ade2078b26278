// The console's log read back as the operator sees it: one entry per
// paragraph, its text after a tag naming its colour where it is drawn in
// another colour than the log's plain text: "<green>" for the success green,
// "<red>" for red, "<#rrggbb>" for any other, "<mixed>" where its parts differ.
#pragma once

#include <QStringList>

class QTextCharFormat;
class QTextEdit;

class LogReader
{
public:
    explicit LogReader(const QTextEdit *log)
        : log(log)
    { }

    QStringList lines() const;

private:
    QString colourTag(const QTextCharFormat &format) const;

    const QTextEdit *log;
};
