#include "app/CommandLine.h"

#include "app/Constants.h"

#include <cstdio>

CommandLine::CommandLine(const QStringList &arguments)
{
    m_parser.setApplicationDescription(tr("Zorvel：系统托盘中的剪贴板历史，可在多台设备间端对端加密同步。"));
    // Our own help and version options so that their descriptions are translated with the rest.
    m_parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, tr("显示此帮助并退出。")));
    m_parser.addOption(QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")}, tr("显示版本号并退出。")));
    m_parsed = m_parser.parse(arguments);
}

bool CommandLine::asksForInformation(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--")
            break;
        if (argument == "-h" || argument == "--help" || argument == "-v" || argument == "--version")
            return true;
    }
    return false;
}

bool CommandLine::startsProgram() const
{
    return m_parsed && !m_parser.isSet(QStringLiteral("help")) && !m_parser.isSet(QStringLiteral("version"))
           && m_parser.positionalArguments().isEmpty();
}

QString CommandLine::helpText() const
{
    return m_parser.helpText() + QLatin1Char('\n')
           + tr("设置：~/.config/brenmoor/zorvel.conf\n历史记录和文件：~/Documents/ZClipboard/\n");
}

QString CommandLine::versionText()
{
    return QStringLiteral("zorvel %1\n").arg(QLatin1String(Zorvel::kAppVersion));
}

int CommandLine::report() const
{
    // Help and version win over a mistyped neighbour, as most programs do.
    if (m_parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(helpText()), stdout);
        return 0;
    }
    if (m_parser.isSet(QStringLiteral("version"))) {
        std::fputs(qPrintable(versionText()), stdout);
        return 0;
    }
    const QString error = m_parsed ? tr("多余的参数：%1").arg(m_parser.positionalArguments().join(QLatin1Char(' ')))
                                   : m_parser.errorText();
    std::fprintf(stderr, "zorvel: %s\n%s\n", qPrintable(error), qPrintable(tr("用 zorvel --help 查看可用的选项。")));
    return 2;
}
