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
#include "desktop/PasteKeys.h"
#include "desktop/TextExport.h"
#include "desktop/EncryptWindow.h"
#include "net/EntryActions.h"
#include "net/SyncHandOver.h"
#include "platform/HotKeyRegistrar.h"
#include "push/MqttManager.h"
#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
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

namespace {
MainWindow *s_window = nullptr;
}

MainWindow *MainWindow::existing()
{
    return s_window;
}

MainWindow::MainWindow()
    : QMainWindow(nullptr)
    , ui(new Ui::MainWindow)
{
    // The tray icon and hot key come first, as when the program starts without this window.
    TrayPresence::instance();
    s_window = this;
    qInfo("settings window: made on first use");
    ui->setupUi(this);
    m_keywordModel = new QStringListModel(this);
    loadKeywords();
    setFixedSize(486, 283);

    ui->tabWidget->removeTab(ui->tabWidget->indexOf(ui->tab_login));
    ui->tabWidget->removeTab(ui->tabWidget->indexOf(ui->tab_logout));
    layoutLoginTabs();

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
}

MainWindow::~MainWindow()
{
    s_window = nullptr;
    delete ui;
}

void MainWindow::connectControls()
{
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
    connect(EntryActions::instance(), &EntryActions::historyCleared, this, &MainWindow::historyCleared);
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
    connectAccountFlow();
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
    layoutLoginTabs();
    if (clipUtils::hasUserToken()) {
        EntryActions *actions = EntryActions::instance();
        actions->pull();
        actions->syncFavourites();
    }
}

void MainWindow::layoutLoginTabs()
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
    TrayPresence::instance()->showClipboardNotice(text, image);
}

void MainWindow::showTrayNotice(const QString &text)
{
    TrayPresence::instance()->showTrayNotice(text);
}

void MainWindow::test() {}

void MainWindow::tabChanged(int index)
{
    qCDebug(lcDesktop, "settings tab %d", index);
}

void MainWindow::systemTrayClick(QSystemTrayIcon::ActivationReason reason)
{
    TrayPresence::instance()->systemTrayClick(reason);
}

void MainWindow::keyPressed()
{
    TrayPresence::instance()->keyPressed();
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
    m_clearAsked = true;
    EntryActions::instance()->clearHistory();
}

// Only a clear asked for here ends in a box; one from the tray menu ends quietly.
void MainWindow::historyCleared(bool ok, qint64 count)
{
    if (!m_clearAsked)
        return;
    m_clearAsked = false;
    ui->clear_button->setEnabled(true);
    if (ok)
        alert(tr("删除了%1条").arg(count));
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

// The tray's hot key follows the boxes at once.
void MainWindow::updateHotKey()
{
    const HotKeyChoice choice = boxChoice();
    if (choice.isNone())
        HotKeyChoice::storeSwitchedOff();
    else if (!choice.isComplete())
        return; // a modifier without a letter: keep what is registered
    else
        choice.store();
    TrayPresence::instance()->useHotKey(choice);
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
    AccountFlow::instance()->signOut();
    Selvane::instance()->clearAndRecapture();
    updateLoginUi();
    EncryptWindow::instance()->refresh();
}

void MainWindow::showEncryptWindow()
{
    TrayPresence::instance()->showEncryptWindow();
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
