// Renders the encryption window in both states and every PIN wizard page into
// the folder given as the first argument (docs/). Run under Xvfb; not a test.
#include "support/TestMain.h"

#include "app/Constants.h"
#include "app/Translation.h"
#include "app/clipUtils.h"
#include "desktop/EncryptWindow.h"
#include "desktop/PINWizard.h"
#include "e2ee/ZeroManager.h"
#include "store/DBFetcher.h"

#include <QLineEdit>
#include <QSettings>
#include <QWizardPage>

namespace {

bool save(QWidget *widget, const QString &path)
{
    widget->show();
    if (!QTest::qWaitForWindowExposed(widget))
        return false;
    QApplication::processEvents();
    return widget->grab().save(path);
}

bool wizardPages(const QString &dir, int mode, const QString &name)
{
    PINWizard wizard(nullptr, mode);
    wizard.show();
    if (!QTest::qWaitForWindowExposed(&wizard))
        return false;
    int n = 0;
    do {
        // The first page (current PIN or password) differs from the new PIN, or the
        // change wizard would stop to say so.
        const bool current = n == 0;
        wizard.currentPage()->findChild<QLineEdit *>()->setText(current ? QStringLiteral("0000") : QStringLiteral("1234"));
        if (!save(&wizard, QStringLiteral("%1/pin-wizard-%2-%3.png").arg(dir, name).arg(++n)))
            return false;
        if (wizard.nextId() == -1)
            break;
        wizard.next();
    } while (true);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    TestEnv::makeHome();
    QApplication app(argc, argv);
    Translation::install(); // the locale's language, as the program does
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    DBFetcher::instance();
    clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::UserToken), QStringLiteral("screenshot"));
    clipUtils::settings()->setValue(QLatin1String(Zorvel::Key::UserId), QStringLiteral("1"));

    EncryptWindow *window = EncryptWindow::instance();
    bool ok = save(window, dir + QStringLiteral("/encrypt-window-inactive.png"));
    ZeroManager::instance()->createKey(QStringLiteral("1234"));
    ZeroManager::instance()->commitPendingKey();
    ok = ok && save(window, dir + QStringLiteral("/encrypt-window-active.png"));
    window->hide();

    ok = ok && wizardPages(dir, PINWizard::Unlock, QStringLiteral("unlock"));
    ok = ok && wizardPages(dir, PINWizard::ChangePin, QStringLiteral("change"));
    ok = ok && wizardPages(dir, PINWizard::Reset, QStringLiteral("reset"));
    return ok ? 0 : 1;
}
