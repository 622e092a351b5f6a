#pragma once

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

// The program's command-line options. One parser for everything: a new option is one
// more QCommandLineOption in the constructor and an isSet() where it takes effect.
class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)

public:
    explicit CommandLine(const QStringList &arguments);

    static QStringList arguments(int argc, char **argv);

    // True when the program should start; otherwise report() prints help, version or
    // the error and gives the exit status. Checked before the GUI application exists,
    // so none of these needs a display.
    bool startsProgram() const;
    int report() const;
    bool isSet(const QString &name) const { return m_parser.isSet(name); }

    QString helpText() const;
    static QString versionText();

private:
    QCommandLineParser m_parser;
    bool m_parsed = false;
};
