// The launcher's refusals on screen. The launcher script says on standard
// error why it does not start the updater; started from the desktop menu,
// nobody sees that. It then also runs this program, which shows the same
// text, read from its standard input, in a box as plain text, and ends when
// the box is closed.
#include <QApplication>
#include <QMessageBox>
#include <QTextStream>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral(QD740N_APP_ID));
    const QString text = QTextStream(stdin).readAll().trimmed();
    // The text names folders from the environment: shown as it stands, never
    // read as markup.
    QMessageBox box(
        QMessageBox::Critical, QStringLiteral("QD740N firmware updater"), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return 0;
}
