#include "logreader.h"

#include <QTextBlock>
#include <QTextEdit>

QStringList LogReader::lines() const
{
    QStringList lines;
    for (QTextBlock block = log->document()->begin(); block.isValid(); block = block.next()) {
        // An empty paragraph has no fragment; its own format holds its colour.
        QString tag = colourTag(block.charFormat());
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QString fragmentTag = colourTag(it.fragment().charFormat());
            tag = it == block.begin() || fragmentTag == tag ? fragmentTag
                                                            : QStringLiteral("<mixed>");
        }
        lines << tag + block.text();
    }
    return lines;
}

QString LogReader::colourTag(const QTextCharFormat &format) const
{
    if (!format.hasProperty(QTextFormat::ForegroundBrush))
        return {};
    const QColor colour = format.foreground().color();
    if (colour == log->palette().color(QPalette::Text))
        return {};
    if (colour == QColor(34, 177, 76))
        return QStringLiteral("<green>");
    if (colour == QColor(Qt::red))
        return QStringLiteral("<red>");
    return QLatin1Char('<') + colour.name() + QLatin1Char('>');
}
