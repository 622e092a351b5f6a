#include "app/CommandLine.h"

#include "app/Constants.h"

#include <cstdio>

CommandLine::CommandLine(const QStringList &arguments)
{
    m_parser.setApplicationDescription(tr("Zorvel：系统托盘中的剪贴板历史，可在多台设备间端对端加密同步。"));
    // Our own help and version options so that their descriptions are translated with the rest.
    m_parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, tr("显示此帮助并退出。")));
    m_parser.addOption(QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")}, tr("显示版本号并退出。")));
    m_parser.addOption(QCommandLineOption(QStringLiteral("show"), tr("在鼠标指针处打开菜单（由正在运行的实例打开）。")));
    // The options QGuiApplication takes for itself (it removes them from argv), known
    // here too so that the command line is checked before any display is opened.
    for (const char *name : {"platform", "platformpluginpath", "platformtheme", "plugin", "display", "style",
                             "stylesheet", "session", "geometry", "qwindowgeometry", "qwindowtitle", "qwindowicon",
                             "name", "title", "visual", "qmljsdebugger"}) {
        QCommandLineOption option(QLatin1String(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        m_parser.addOption(option);
    }
    for (const char *name : {"reverse", "nograb", "dograb", "sync", "widgetcount"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        m_parser.addOption(option);
    }
    // Qt's single-dash long options ("-platform xcb") rather than compacted short ones.
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parsed = m_parser.parse(arguments);
}

QStringList CommandLine::arguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
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
