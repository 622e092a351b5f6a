// A window of another program for the paste tests: one focused line edit that
// prints its text (one line, escaped newlines) whenever it changes. Like a
// terminal it also pastes on Shift+Ctrl+V, which plain line edits ignore.
#include <QApplication>
#include <QLineEdit>
#include <QShortcut>
#include <QTextStream>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLineEdit edit;
    edit.setWindowTitle(QStringLiteral("paste target"));
    QTextStream out(stdout);
    out.setCodec("UTF-8");
    QObject::connect(&edit, &QLineEdit::textChanged, [&out](const QString &text) {
        QString line = text;
        line.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        out << "text:" << line << '\n';
        out.flush();
    });
    auto *terminalPaste = new QShortcut(QKeySequence(QStringLiteral("Shift+Ctrl+V")), &edit);
    QObject::connect(terminalPaste, &QShortcut::activated, &edit, &QLineEdit::paste);
    edit.resize(300, 40);
    edit.show();
    edit.activateWindow();
    edit.setFocus();
    QTimer::singleShot(0, [&edit, &out] {
        edit.activateWindow();
        out << "ready" << '\n';
        out.flush();
    });
    return app.exec();
}
