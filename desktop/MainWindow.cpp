#include "desktop/MainWindow.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/Translation.h"
#include "app/Logging.h"
#include "app/clipUtils.h"
#include "capture/ConfigureManager.h"
#include "capture/Selvane.h"
#include "desktop/EmailAddress.h"
#include "desktop/HotKeyChoice.h"
#include "desktop/Icons.h"
#include "desktop/MenuManager.h"
#include "desktop/PasteKeys.h"
#include "desktop/QGlobalShortcut.h"
#include "desktop/TextExport.h"
#include "desktop/EncryptWindow.h"
#include "e2ee/ZeroManager.h"
#include "net/SyncHandOver.h"
#include "platform/HotKeyRegistrar.h"
#include "push/MqttManager.h"
#include "store/HistoryStore.h"
#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QStringListModel>
#include <QUrl>

using namespace Zorvel;

namespace {

// A modal question with OK and Cancel, OK the default; true for OK.
bool ask(QWidget *parent, const QString &text, const QString &informative)
{
    QMessageBox box(parent);
    box.setText(text);
    box.setInformativeText(informative);
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

void selectText(QComboBox *box, const QString &text)
{
    if (text.isEmpty())
        return;
    const int index = box->findText(text);
    if (index >= 0)
        box->setCurrentIndex(index);
}

// "无" is always item 0 of the hot-key boxes.
QString boxText(const QComboBox *box)
{
    return box->currentIndex() <= 0 ? QString() : box->currentText();
}

} // namespace

MainWindow::MainWindow()
    : QMainWindow(nullptr)
    , ui(new Ui::MainWindow)
{
    ensureIcons();
    // The tray icon first: laying out the settings tabs loads fonts, which the
    // icon does not need.
    m_trayIcon = new QSystemTrayIcon(this);
    m_trayIcon->setIcon(QIcon(QStringLiteral(":/tray.png")));
    m_trayIcon->setToolTip(QStringLiteral("Zorvel"));
    m_trayIcon->setContextMenu(MenuManager::instance()->menu());
    m_trayIcon->setVisible(true);
    ui->setupUi(this);
    m_keywordModel = new QStringListModel(this);
    loadKeywords();
    setFixedSize(486, 283);

    ui->tabWidget->removeTab(ui->tabWidget->indexOf(ui->tab_login));
    ui->tabWidget->removeTab(ui->tabWidget->indexOf(ui->tab_logout));
    updateLoginUi();

    if (!QSystemTrayIcon::isSystemTrayAvailable())
        qInfo("No system tray on this desktop: the hot key opens the menu");

    QSettings *settings = clipUtils::settings();
    if (settings->value(QLatin1String(Key::FirstShow), 0).toInt() == 0) {
        // Names the two ways in: the tray icon and the hot key (when one is set).
        const HotKeyChoice hotKey = HotKeyChoice::load();
        // Spelled as the settings boxes show it ("Shift+Alt+V"); Qt would say "Alt+Shift+V".
        QStringList keys{hotKey.first, hotKey.middle, hotKey.last.toUpper()};
        keys.removeAll(QString());
        const QString text = hotKey.isComplete()
            ? tr("Zorvel在任务栏：点击托盘图标或按 %1 打开剪贴板历史").arg(keys.join(QLatin1Char('+')))
            : tr("Zorvel在任务栏：点击托盘图标打开剪贴板历史");
        m_trayIcon->showMessage(QStringLiteral("Zorvel"), text, QSystemTrayIcon::Information, kFirstShowBalloonMs);
        settings->setValue(QLatin1String(Key::FirstShow), 1);
    }

    ui->list_user_keywords->setModel(m_keywordModel);
    ui->list_sys_keywords->addItems(ConfigureManager::builtInKeywords());

    ui->check_auto_start->setChecked(clipUtils::isAutoStart());
    ui->cleanupMenu->setChecked(clipUtils::menuCleanup());
    ui->check_secert->setChecked(clipUtils::checkSecret());
    ui->check_file_secert->setChecked(clipUtils::fileAsSecret());
    ui->checkAutoSet->setChecked(clipUtils::isAutoSetClipboard());
    ui->label_version->setText(QStringLiteral("Zorvel ver ") + clipUtils::appVersion());
    ui->combo_language->setCurrentIndex(Translation::storedChoice());

    connectControls();
    presetHotKeyBoxes();

    m_shortcut = new QGlobalShortcut(nullptr);
    connect(m_shortcut, &QGlobalShortcut::activated, this, &MainWindow::keyPressed);
    registerHotKeyFromBoxes();
    sendStartupRequests();
    ZeroManager::instance();
}

MainWindow::~MainWindow()
{
    delete m_shortcut;
    delete ui;
}

void MainWindow::connectControls()
{
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::systemTrayClick);
    connect(ui->radio_login, &QRadioButton::clicked, this, &MainWindow::radioChange);
    connect(ui->radio_register, &QRadioButton::clicked, this, &MainWindow::radioChange);
    connect(ui->radio_findpwd, &QRadioButton::clicked, this, &MainWindow::radioChange);
    connect(ui->button_login, &QPushButton::clicked, this, &MainWindow::loginButtonClicked);
    connect(ui->button_logout, &QPushButton::clicked, this, &MainWindow::logoutButtonClicked);
    connect(ui->check_auto_start, &QCheckBox::clicked, this, &MainWindow::autoStartCheck);
    connect(ui->cleanupMenu, &QCheckBox::clicked, this, &MainWindow::menuCleanupCheck);
    connect(ui->check_secert, &QCheckBox::clicked, this, &MainWindow::checkSecert);
    connect(ui->check_file_secert, &QCheckBox::clicked, this, &MainWindow::fileAsSecertClicked);
    connect(ui->clear_button, &QPushButton::clicked, this, &MainWindow::clearButtonClicked);
    connect(ui->checkAutoSet, &QCheckBox::clicked, this, &MainWindow::autoSetClipboard);
    connect(ui->button_check_update, &QPushButton::clicked, this, &MainWindow::checkUpdate);
    connect(ui->button_link_home_site, &QPushButton::clicked, this, &MainWindow::gotoHomePage);
    connect(ui->button_check_service, &QPushButton::clicked, this, &MainWindow::showMQTTerr);
    connect(SyncHandOver::instance(), &SyncHandOver::sessionEnded, this, &MainWindow::sessionEnded,
            Qt::QueuedConnection);
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &MainWindow::tabChanged);
    connect(ui->button_add, &QPushButton::clicked, this, &MainWindow::addButtonClicked);
    connect(ui->button_remove, &QPushButton::clicked, this, &MainWindow::removeButtonClickec);
    connect(ui->export_txt, &QPushButton::clicked, this, &MainWindow::exportButtonClicked);
    connect(ui->comboBox, QOverload<int>::of(&QComboBox::activated), this, &MainWindow::comBoxChanged);
    connect(ui->comboBox_2, QOverload<int>::of(&QComboBox::activated), this, &MainWindow::comBoxMChanged);
    connect(ui->comboBox_3, QOverload<int>::of(&QComboBox::activated), this, &MainWindow::comBoxLChanged);
    connect(ui->comboBox_4, QOverload<int>::of(&QComboBox::activated), this, &MainWindow::comBoxPChanged);
    connect(ui->combo_language, QOverload<int>::of(&QComboBox::activated), this, &Translation::storeChoice);
    connect(ui->button_encrypt, &QPushButton::clicked, this, &MainWindow::showEncryptWindow);
    connect(ui->button_send_log, &QPushButton::clicked, this, &MainWindow::sendLog);
    connect(ui->list_user_keywords->itemDelegate(), &QAbstractItemDelegate::commitData, this,
            &MainWindow::commitData);
}

void MainWindow::showTab(int index)
{
    ui->tabWidget->setCurrentIndex(index);
    show();
    raise();
    activateWindow();
}

void MainWindow::updateLoginUi()
{
    QTabWidget *tabs = ui->tabWidget;
    const bool signedIn = clipUtils::hasUserToken();
    QWidget *unwanted = signedIn ? ui->tab_login : ui->tab_logout;
    QWidget *wanted = signedIn ? ui->tab_logout : ui->tab_login;
    const int unwantedIndex = tabs->indexOf(unwanted);
    if (unwantedIndex > 0)
        tabs->removeTab(unwantedIndex);
    if (tabs->indexOf(wanted) < 0)
        tabs->insertTab(tabs->indexOf(ui->tab_setting) + 1, wanted,
                        signedIn ? tr("用户信息") : tr("登录/注册"));
    if (signedIn)
        ui->label_user_email->setText(clipUtils::userEmail());
    tabs->setCurrentIndex(TabAccount);
    if (signedIn) {
        MenuManager *menu = MenuManager::instance();
        menu->pull();
        menu->syncFav();
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The window lives as long as the program; the tray and the hot key bring it back.
    hide();
    event->ignore();
}

void MainWindow::alert(const QString &text)
{
    QMessageBox box(this);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

void MainWindow::showClipboardNotice(const QString &text, const QImage &image)
{
    if (!text.isEmpty())
        m_trayIcon->showMessage(tr("剪贴板已更新"), text, QSystemTrayIcon::Information,
                                kClipboardNoticeMs);
    if (!image.isNull())
        m_trayIcon->showMessage(tr("剪贴板已更新"), QString(), QIcon(QPixmap::fromImage(image)),
                                kClipboardNoticeMs);
}

void MainWindow::showTrayNotice(const QString &text)
{
    qInfo("notice: %s", qPrintable(text));
    m_trayIcon->showMessage(QStringLiteral("Zorvel"), text, QSystemTrayIcon::Information, kClipboardNoticeMs);
}

void MainWindow::test() {}

void MainWindow::tabChanged(int index)
{
    qCDebug(lcDesktop, "settings tab %d", index);
}

void MainWindow::systemTrayClick(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger: {
        qCDebug(lcDesktop, "trigger");
        MenuManager::instance()->refresh(); // measured before it is shown
        QMenu *menu = MenuManager::instance()->menu();
        const QPoint pointer = QCursor::pos();
        menu->move(pointer.x(), qRound(pointer.y() - double(menu->sizeHint().height())));
        menu->popup(pointer);
        menu->activateWindow();
        break;
    }
    case QSystemTrayIcon::Context: qCDebug(lcDesktop, "context"); break;
    case QSystemTrayIcon::DoubleClick: qCDebug(lcDesktop, "double"); break;
    case QSystemTrayIcon::MiddleClick: qCDebug(lcDesktop, "middle"); break;
    case QSystemTrayIcon::Unknown: qCDebug(lcDesktop, "unknow"); break;
    }
}

void MainWindow::keyPressed()
{
    MenuManager::instance()->refresh(); // measured before it is shown
    QMenu *menu = MenuManager::instance()->menu();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QPoint at = QCursor::pos();
    // The size the menu will have: a menu that was never shown reports a default size.
    const int height = menu->sizeHint().height();
    if (at.y() + height > area.y() + area.height())
        at.setY(area.y() + area.height() - height);
    menu->move(at);
    menu->popup(at);
    menu->activateWindow();
}

// --- general settings ---

void MainWindow::autoStartCheck(bool checkValue) { clipUtils::setAutoStart(checkValue); }
void MainWindow::checkSecert(bool checkValue) { clipUtils::setCheckSecret(checkValue); }
void MainWindow::fileAsSecertClicked(bool checkValue) { clipUtils::setFileAsSecret(checkValue); }
void MainWindow::autoSetClipboard(bool checkValue) { clipUtils::setAutoSetClipboard(checkValue); }

void MainWindow::menuCleanupCheck(bool checkValue)
{
    clipUtils::setMenuCleanup(checkValue);
}

void MainWindow::clearButtonClicked()
{
    if (!ask(this, tr("清空历史记录?"), tr("清空操作会清空您所有的历史记录(除收藏外)"))) {
        qCDebug(lcDesktop, "cancel");
        return;
    }
    ui->clear_button->setEnabled(false);
    if (clipUtils::hasUserToken()) {
        clearHistorySignedIn();
        return;
    }
    const int removed = HistoryStore::clearNonFavourites();
    alert(tr("删除了%1条").arg(removed));
    ui->clear_button->setEnabled(true);
}

void MainWindow::exportButtonClicked()
{
    QFileDialog dialog(this, QString(), QString(), QStringLiteral("*.txt"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString name = dialog.selectedFiles().constFirst();
    if (!name.isEmpty())
        TextExport::write(name);
}

// --- hot key and paste keystroke ---

void MainWindow::presetHotKeyBoxes()
{
    const HotKeyChoice choice = HotKeyChoice::load();
    selectText(ui->comboBox, choice.first);
    selectText(ui->comboBox_2, choice.middle);
    selectText(ui->comboBox_3, choice.last);

    const QString pasteKey = clipUtils::settings()->value(QLatin1String(Key::PastKey)).toString();
    if (pasteKey.isEmpty())
        ui->comboBox_4->setCurrentIndex(0);
    else
        selectText(ui->comboBox_4, pasteKey);

    // What this desktop does not allow, said where the choice would be made.
    QStringList notes;
    if (!HotKeyRegistrar::system()->registersItself())
        notes << tr("此桌面不允许程序注册全局热键：请在桌面设置中把快捷键绑定到命令 “zorvel --show”。");
    if (!PasteKeys::canPaste()) {
        notes << tr("此桌面不允许程序模拟按键：条目复制后请手动粘贴。");
        ui->comboBox_4->setEnabled(false);
    }
    ui->label_platform_note->setText(notes.join(QLatin1Char('\n')));
    ui->label_platform_note->setVisible(!notes.isEmpty());
}

HotKeyChoice MainWindow::boxChoice() const
{
    return HotKeyChoice{boxText(ui->comboBox), boxText(ui->comboBox_2), boxText(ui->comboBox_3)};
}

void MainWindow::registerHotKeyFromBoxes()
{
    const HotKeyChoice choice = boxChoice();
    if (choice.isNone())
        return;
    // Grabbing a modifier alone or a bare letter would take that key away from
    // every other program; such a stored choice is left unregistered.
    if (!choice.isComplete()) {
        qWarning("Hot key \"%s\" ignored: it needs a letter and at least one modifier", qPrintable(choice.text()));
        return;
    }
    m_shortcut->setKey(choice.sequence());
}

void MainWindow::updateHotKey()
{
    const HotKeyChoice choice = boxChoice();
    if (choice.isNone()) {
        HotKeyChoice::storeSwitchedOff();
        m_shortcut->setKey(QKeySequence());
        return;
    }
    if (!choice.isComplete())
        return; // a modifier without a letter: keep what is registered
    choice.store();
    registerHotKeyFromBoxes();
}

void MainWindow::comBoxChanged(int index)
{
    Q_UNUSED(index)
    updateHotKey();
}

void MainWindow::comBoxMChanged(int index)
{
    Q_UNUSED(index)
    updateHotKey();
}

void MainWindow::comBoxLChanged(int index)
{
    Q_UNUSED(index)
    if (ui->comboBox->currentIndex() == 0 && ui->comboBox_2->currentIndex() == 0)
        ui->comboBox_3->setCurrentIndex(0);
    updateHotKey();
}

void MainWindow::comBoxPChanged(int index)
{
    if (index == 1)
        clipUtils::settings()->setValue(QLatin1String(Key::PastKey), ui->comboBox_4->currentText());
    else
        clipUtils::settings()->remove(QLatin1String(Key::PastKey));
}

// --- account tab ---

void MainWindow::radioChange(bool change)
{
    Q_UNUSED(change)
    if (ui->radio_login->isChecked()) {
        ui->button_login->setText(tr("登录"));
        ui->line_passwd->setEnabled(true);
    } else if (ui->radio_register->isChecked()) {
        ui->button_login->setText(tr("注册"));
        ui->line_passwd->setEnabled(true);
    } else if (ui->radio_findpwd->isChecked()) {
        ui->button_login->setText(tr("找回密码"));
        ui->line_email->setFocus();
        ui->line_passwd->setEnabled(false);
    }
}

void MainWindow::loginButtonClicked()
{
    const QString address = EmailAddress::normalise(ui->line_email->text());
    if (address.isEmpty())
        return;
    if (!EmailAddress::isValid(address)) {
        alert(tr("邮箱格式存在问题"));
        return;
    }
    startAccountRequest(address);
}

// Signing out forgets the keys and every local entry, favourites included.
void MainWindow::logoutButtonClicked()
{
    ZeroManager::instance()->clearAllKeys();
    clipUtils::removeUserToken();
    Selvane::instance()->clearAndRecapture();
    updateLoginUi();
    signedOut();
    EncryptWindow::instance()->refresh();
}

void MainWindow::showEncryptWindow()
{
    EncryptWindow *window = EncryptWindow::instance();
    window->show();
    window->raise();
    window->activateWindow();
}

// --- privacy tab ---

void MainWindow::addButtonClicked()
{
    if (m_keywordModel->rowCount() >= kMaxUserKeywords) {
        QMessageBox box(this);
        box.setText(tr("超出最大数"));
        box.setInformativeText(tr("自定义关键字最多支持25个"));
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return;
    }
    const int row = m_keywordModel->rowCount();
    m_keywordModel->insertRows(row, 1);
    const QModelIndex index = m_keywordModel->index(row);
    m_keywordModel->setData(index, tr("新关键字"));
    ui->list_user_keywords->setCurrentIndex(index);
    ui->list_user_keywords->edit(index);
}

void MainWindow::loadKeywords()
{
    m_keywordModel->setStringList(ConfigureManager::instance()->userKeywords());
}

void MainWindow::storeKeywords()
{
    ConfigureManager *keywords = ConfigureManager::instance();
    keywords->setUserKeywords(m_keywordModel->stringList());
    keywords->saveUserKeywords();
}

void MainWindow::commitData(QWidget *widget)
{
    Q_UNUSED(widget)
    storeKeywords();
}

void MainWindow::removeButtonClickec()
{
    const QModelIndex current = ui->list_user_keywords->currentIndex();
    if (!current.isValid())
        return;
    m_keywordModel->removeRows(current.row(), 1);
    storeKeywords();
}

// --- about tab ---

void MainWindow::gotoHomePage()
{
    QDesktopServices::openUrl(QUrl(clipUtils::homePageUrl()));
}

void MainWindow::showMQTTerr()
{
    if (!clipUtils::hasUserToken()) {
        QMessageBox::information(this, QString(), tr("未登录无法检测服务"));
        return;
    }
    const QString error = MqttManager::instance()->lastError();
    if (error.isEmpty())
        QMessageBox::information(this, tr("自动同步服务状态正常"), tr("自动同步服务状态正常"));
    else
        QMessageBox::information(this, tr("自动同步服务状态错误："), error);
}

void MainWindow::sendLog()
{
    QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + QLatin1String(kLogMailbox) + QStringLiteral("?subject=SendLog")));
    QDesktopServices::openUrl(QUrl::fromLocalFile(CFileManager::rootPath()));
}
