// Confidential-text detection and the pending clipboard hash.
#include "support/TestMain.h"

#include "app/Constants.h"
#include "app/clipUtils.h"
#include "capture/ConfigureManager.h"

class TestSecretDetection : public QObject
{
    Q_OBJECT

    const QString builtIn = QStringLiteral("码|名|卡|账|号|password|account|username");

private Q_SLOTS:
    void init()
    {
        clipUtils::setCheckSecret(true);
        ConfigureManager::instance()->setUserKeywords({});
        ConfigureManager::instance()->saveUserKeywords();
    }

    void builtInKeywordsAreCaseSensitiveAndSwitchable()
    {
        QCOMPARE(ConfigureManager::instance()->pattern(), builtIn);
        QVERIFY(ConfigureManager::isSecretText(QStringLiteral("my password is hunter2")));
        QVERIFY(!ConfigureManager::isSecretText(QStringLiteral("my Password is hunter2")));
        QVERIFY(ConfigureManager::isSecretText(QStringLiteral("手机号 13800000000")));
        QVERIFY(ConfigureManager::isSecretText(QStringLiteral("line one\nusername: bob")));
        QVERIFY(!ConfigureManager::isSecretText(QStringLiteral("USERNAME and ACCOUNT")));
        QVERIFY(!ConfigureManager::isSecretText(QStringLiteral("an ordinary sentence")));

        clipUtils::setCheckSecret(false);
        QVERIFY(!ConfigureManager::isSecretText(QStringLiteral("password 密码 account")));
    }

    void userKeywordsComeFirstAndAreRegularExpressions()
    {
        ConfigureManager *config = ConfigureManager::instance();
        config->setUserKeywords({QStringLiteral("a.c"), QStringLiteral("pin\\d{4}")});
        QCOMPARE(config->pattern(), builtIn); // not yet saved
        config->saveUserKeywords();
        QCOMPARE(config->pattern(), QStringLiteral("a.c|pin\\d{4}|") + builtIn);
        QCOMPARE(clipUtils::settings()->value(QLatin1String(Zorvel::Key::UserKeyWords)).toStringList(),
                 config->userKeywords());
        QVERIFY(ConfigureManager::isSecretText(QStringLiteral("xxabcxx")));
        QVERIFY(ConfigureManager::isSecretText(QStringLiteral("a-c")));
        QVERIFY(ConfigureManager::isSecretText(QStringLiteral("my pin0042")));
        QVERIFY(!ConfigureManager::isSecretText(QStringLiteral("ac pin42")));
    }

    // One keyword that is not a valid expression must not switch detection off:
    // the pattern stays as written, the other keywords still apply, and the log
    // says so without naming any keyword.
    void invalidUserKeywordKeepsTheOthersDetecting()
    {
        ConfigureManager *config = ConfigureManager::instance();
        config->setUserKeywords({QStringLiteral("("), QStringLiteral("a.c")});
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^ConfigureManager: the user keywords do not form a "
                                                               "valid regular expression \\([^()]* at offset \\d+\\); "
                                                               "detecting with the valid ones and the built-in keywords$")));
        config->saveUserKeywords();
        QCOMPARE(config->pattern(), QStringLiteral("(|a.c|") + builtIn);
        QVERIFY(ConfigureManager::isSecretText(QStringLiteral("password")));
        QVERIFY(ConfigureManager::isSecretText(QStringLiteral("abc")));
        QVERIFY(!ConfigureManager::isSecretText(QStringLiteral("an ordinary sentence")));
    }

    void pendingHashIsTakenOnce()
    {
        ConfigureManager *config = ConfigureManager::instance();
        QVERIFY(config->pendingHash().isNull());
        const QString hash = clipUtils::md5Hex("arriving");
        config->setPendingHash(hash);
        QVERIFY(!config->takePendingHash(clipUtils::md5Hex("other")));
        QVERIFY(config->takePendingHash(hash));
        QVERIFY(config->pendingHash().isNull());
        QVERIFY(!config->takePendingHash(hash));
    }
};

ZORVEL_TEST_MAIN(TestSecretDetection)
#include "tst_secret_detection.moc"
