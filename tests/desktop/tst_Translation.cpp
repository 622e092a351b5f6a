// The interface language: the choice between the locale and the stored setting, and
// the tray menu, settings window and PIN wizard in the language CTest starts this program
// with (LANG=en_US.UTF-8 or zh_CN.UTF-8; ZORVEL_EXPECTED_LANGUAGE names the answer).
// (That every text has an English translation, scripts/translations --check says.)
#include "support/TestMain.h"
#include "MenuFixture.h"

#include "app/Constants.h"
#include "app/Translation.h"
#include "app/clipUtils.h"
#include "desktop/MainWindow.h"
#include "desktop/MenuManager.h"
#include "desktop/PINWizard.h"
#include "store/DBFetcher.h"

namespace {

const char *const kLocaleVariables[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

QStringList wizardTexts(int mode)
{
    PINWizard wizard(nullptr, mode);
    QStringList texts{wizard.windowTitle()};
    for (int id : wizard.pageIds())
        texts << wizard.page(id)->title() << wizard.page(id)->subTitle();
    return texts;
}

} // namespace

class TestTranslation : public QObject
{
    Q_OBJECT

    bool m_english = qgetenv("ZORVEL_EXPECTED_LANGUAGE") == "en";
    QString pick(const char *chinese, const char *english) const
    {
        return QString::fromUtf8(m_english ? english : chinese);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(qEnvironmentVariableIsSet("ZORVEL_EXPECTED_LANGUAGE"));
        DBFetcher::instance();
        clipUtils::setMenuCleanup(true); // one more item to read
        Translation::install();
    }

    void languageFollowsLocaleUnlessChosen_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("environment"); // LANGUAGE, LC_ALL, LC_MESSAGES, LANG
        QTest::addColumn<QString>("expected");
        const QString none;
        QTest::newRow("zh_CN") << none << QStringList{"", "", "", "zh_CN.UTF-8"} << "zh";
        QTest::newRow("zh alone") << none << QStringList{"", "", "", "ZH"} << "zh";
        QTest::newRow("zh-Hans") << none << QStringList{"", "", "", "zh-Hans"} << "zh";
        QTest::newRow("Zhuang") << none << QStringList{"", "", "", "zha_CN.UTF-8"} << "en";
        QTest::newRow("garbage") << none << QStringList{"", "", "", "\xff;rm -rf /"} << "en";
        QTest::newRow("LC_ALL over LANG") << none << QStringList{"", "zh_CN.UTF-8", "", "en_US.UTF-8"} << "zh";
        QTest::newRow("LC_MESSAGES over LANG") << none << QStringList{"", "", "en_GB", "zh_CN.UTF-8"} << "en";
        QTest::newRow("LANGUAGE first entry") << none << QStringList{"zh_CN:en", "", "", "en_US.UTF-8"} << "zh";
        QTest::newRow("LANGUAGE empty entries") << none << QStringList{"::en_US", "", "", "zh_CN.UTF-8"} << "en";
        QTest::newRow("C ignores LANGUAGE") << none << QStringList{"zh_CN", "C", "", ""} << "en";
        QTest::newRow("C.UTF-8 ignores LANGUAGE") << none << QStringList{"zh_CN", "", "", "C.UTF-8"} << "en";
        QTest::newRow("unset ignores LANGUAGE") << none << QStringList{"zh_CN", "", "", ""} << "en";
        QTest::newRow("chosen English") << "en" << QStringList{"", "", "", "zh_CN.UTF-8"} << "en";
        QTest::newRow("unknown choice") << "fr" << QStringList{"", "", "", "zh_CN.UTF-8"} << "zh";
    }

    void languageFollowsLocaleUnlessChosen()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, environment);
        QFETCH(QString, expected);
        const QString key = QLatin1String(Zorvel::Key::Language);
        stored.isEmpty() ? clipUtils::settings()->remove(key) : clipUtils::settings()->setValue(key, stored);
        QByteArray saved[4];
        for (int i = 0; i < 4; ++i) {
            saved[i] = qgetenv(kLocaleVariables[i]);
            qputenv(kLocaleVariables[i], environment.at(i).toUtf8());
        }
        const QString chosen = Translation::chosenLanguage();
        for (int i = 0; i < 4; ++i)
            qputenv(kLocaleVariables[i], saved[i]);
        clipUtils::settings()->remove(key);
        QCOMPARE(chosen, expected);
    }

    void settingsBoxStoresTheChoice()
    {
        QSettings *settings = clipUtils::settings();
        for (int index : {1, 2, 0}) {
            Translation::storeChoice(index);
            QCOMPARE(Translation::storedChoice(), index);
        }
        QVERIFY(!settings->contains(QLatin1String(Zorvel::Key::Language)));
    }

    void trayMenuWindowAndWizardSpeakTheLanguage()
    {
        QCOMPARE(MenuFixture::labels(MenuManager::instance()->menu()),
                 QStringList({pick("收藏>", "Favourites>"), pick("清空剪贴板", "Clear clipboard"),
                              pick("登录/注册", "Sign in / Sign up"), pick("插件", "Plugins"), pick("设置", "Settings"),
                              pick("退出", "Quit")}));
        // The window's texts come from its layout file, through another path.
        QCOMPARE(MainWindow::instance()->windowTitle(), pick("设置", "Settings"));
        QCOMPARE(wizardTexts(PINWizard::ChangePin),
                 QStringList({pick("端对端加密", "End-to-end encryption"), pick("当前加密PIN", "Current encryption PIN"),
                              pick("请输入当前加密PIN", "Enter the current encryption PIN"), pick("新的PIN", "New PIN"),
                              pick("请输入新的加密PIN", "Enter the new encryption PIN"),
                              pick("再次输入新的加密PIN", "Enter the new encryption PIN again"),
                              pick("再次输入新的加密PIN", "Enter the new encryption PIN again")}));
        QCOMPARE(wizardTexts(PINWizard::Reset).at(1), pick("登录密码验证", "Verify your account password"));
    }
};

ZORVEL_TEST_MAIN(TestTranslation)
#include "tst_Translation.moc"
