#include "desktop/MenuManager.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/clipUtils.h"
#include "capture/Selvane.h"
#include "desktop/Icons.h"
#include "desktop/PasteKeys.h"
#include "e2ee/ZeroManager.h"
#include "net/EntryActions.h"
#include "plugins/PluginHost.h"
#include "push/MqttManager.h"
#include "plugins/pluginWindow.h"
#include "store/HistoryQueries.h"
#include "store/StoreEvents.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QStandardPaths>

using namespace Zorvel;

namespace {

const QString kText = QStringLiteral("text");
const QString kImage = QStringLiteral("image");
const QString kFile = QStringLiteral("file");

// Menu texts treat "&" as a mnemonic marker; entries show their content literally.
QString literal(QString text)
{
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

QString textLabel(const History &record)
{
    QString text = record.content().simplified();
    if (text.size() > kMenuLabelWhole) {
        text.truncate(kMenuLabelCut);
        if (text.at(text.size() - 1).isHighSurrogate()) // never cut a character in half
            text.chop(1);
        text += QLatin1String(" ...");
    }
    if (record.secert())
        text.prepend(MenuManager::tr("[*机密*] "));
    return text;
}

// The stored text of an entry, up to its first zero byte; empty when the file is missing.
QString storedText(const History &record)
{
    QByteArray bytes = CFileManager::readFile(record.file_hash());
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return QString::fromUtf8(bytes);
}

// A paste of an entry whose file is not here yet sends no keystroke: it would paste
// what the clipboard held before.
void contentMissing()
{
    emit MenuManager::instance()->noticeRequested(MenuManager::tr("该条目的内容尚未下载到本机"));
}

QString desktopFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

// Copies an entry's stored file to the desktop; an existing file there is kept.
void copyToDesktop(const QString &source, const QString &fileName)
{
    const QString folder = desktopFolder();
    QDir().mkpath(folder);
    const QString target = folder + QLatin1Char('/') + fileName;
    if (!QFile::copy(source, target))
        qInfo("Save to desktop: %s not written (it exists or the desktop is not writable)", qPrintable(target));
}

// An empty sub-menu shared by every entry until its real one is built: it only
// makes the entry show the sub-menu arrow.
QMenu *placeholderMenu()
{
    static QMenu *placeholder = new QMenu;
    return placeholder;
}

} // namespace

MenuManager::MenuManager()
{
    ensureIcons();
    qRegisterMetaType<History>("History");
    PluginObject::registerMetaType();
    m_menu = new QMenu;
    m_favouriteMenu = new QMenu;
    m_favouriteMenu->setTitle(tr("收藏", "the favourites sub-menu"));
    connect(m_menu, &QMenu::hovered, this, &MenuManager::hovered);
    connect(m_menu, &QMenu::aboutToShow, this, &MenuManager::refresh);
    connect(StoreEvents::instance(), &StoreEvents::changed, this, &MenuManager::markDirty);
    updateMenu();
}

QString MenuManager::commandState() const
{
    const bool signedIn = clipUtils::hasUserToken();
    return QStringLiteral("%1%2%3%4")
        .arg(signedIn)
        .arg(clipUtils::hasNewVersion())
        .arg(clipUtils::menuCleanup())
        .arg(signedIn && needsEncryptionKey());
}

void MenuManager::markDirty()
{
    m_dirty = true;
    if (m_menu->isVisible())
        updateMenu();
}

void MenuManager::refresh()
{
    if (m_dirty || commandState() != m_builtState)
        updateMenu();
}

void MenuManager::updateMenu()
{
    m_dirty = false;
    m_builtState = commandState();
    m_menu->clear();
    appendEntries(m_menu, HistoryQueries::list(QLatin1String(Category::History)));

    const bool signedIn = clipUtils::hasUserToken();
    auto *quitItem = new QAction(tr("退出"), m_menu);
    connect(quitItem, &QAction::triggered, this, &MenuManager::quit);
    QAction *accountItem = nullptr;
    if (signedIn) {
        accountItem = new QAction(tr("同步剪贴板"), m_menu);
        connect(accountItem, &QAction::triggered, this, &MenuManager::pull);
    } else {
        accountItem = new QAction(tr("登录/注册"), m_menu);
        connect(accountItem, &QAction::triggered, this, &MenuManager::login);
    }
    QAction *settingItem = nullptr;
    if (clipUtils::hasNewVersion())
        settingItem = new QAction(pngIcon(QStringLiteral(":/new")), tr("设置 (有新版本!)"), m_menu);
    else
        settingItem = new QAction(tr("设置"), m_menu);
    connect(settingItem, &QAction::triggered, this, &MenuManager::setting);
    auto *pluginItem = new QAction(pngIcon(QStringLiteral(":/plugin")), tr("插件"), m_menu);
    connect(pluginItem, &QAction::triggered, this, &MenuManager::openPlugin);

    m_menu->addSeparator();
    rebuildFavourites();
    m_menu->addMenu(m_favouriteMenu);
    m_menu->addSeparator();
    if (clipUtils::menuCleanup()) {
        auto *cleanupItem = m_menu->addAction(tr("清空剪贴板"));
        connect(cleanupItem, &QAction::triggered, this, &MenuManager::cleanup);
        m_menu->addSeparator();
    }
    m_menu->addAction(accountItem);
    m_menu->addAction(pluginItem);
    m_menu->addAction(settingItem);
    if (signedIn && needsEncryptionKey()) {
        auto *zeroItem = m_menu->addAction(pngIcon(QStringLiteral(":/alert")), tr("激活端对端加密"));
        connect(zeroItem, &QAction::triggered, this, &MenuManager::activeZero);
    }
    m_menu->addAction(quitItem);
}

void MenuManager::rebuildFavourites()
{
    m_favouriteMenu->clear();
    appendEntries(m_favouriteMenu, HistoryQueries::list(QLatin1String(Category::Favourite)));
    if (clipUtils::hasUserToken()) {
        m_favouriteMenu->addSeparator();
        auto *syncItem = m_favouriteMenu->addAction(tr("同步收藏"));
        connect(syncItem, &QAction::triggered, this, &MenuManager::syncFav);
    }
}

void MenuManager::appendEntries(QMenu *menu, const HistoryList &records)
{
    for (History record : records) {
        QAction *item = ActionFromHistory(record);
        if (!item)
            continue;
        item->setData(QVariant::fromValue(record));
        // Owned by the menu, so the next clear() deletes it together with its sub-menu.
        item->setParent(menu);
        menu->addAction(item);
    }
}

QAction *MenuManager::ActionFromHistory(History &history)
{
    const QString &type = history.type();
    QAction *item = nullptr;
    if (type.startsWith(kImage)) {
        const QString label = history.file_size() <= kMaxEntryBytes ? tr("<图片>")
                                                                    : tr("<图片>(大于5M,无法上传)");
        const QPixmap thumbnail = QPixmap::fromImage(clipUtils::imageFromBase64(history.content()));
        item = new QAction(QIcon(thumbnail), label);
    } else if (type.startsWith(kText)) {
        item = new QAction(literal(textLabel(history)));
    } else if (type.startsWith(kFile)) {
        item = new QAction(pngIcon(QStringLiteral(":/file_icon")),
                           literal(tr("[文件]%1").arg(history.file_name())));
    } else {
        return nullptr;
    }
    item->setMenu(placeholderMenu());
    return item;
}

void MenuManager::hovered(QAction *action)
{
    QMenu *current = action->menu();
    if (!current || !current->isEmpty())
        return;
    const QVariant data = action->data();
    if (data.userType() != qMetaTypeId<History>())
        return;
    QMenu *subMenu = subMenuFor(data.value<History>());
    if (!subMenu)
        return;
    // The entry owns its real sub-menu: both go with the next rebuild.
    connect(action, &QObject::destroyed, subMenu, &QObject::deleteLater);
    action->setMenu(subMenu);
}

QMenu *MenuManager::subMenuFor(const History &record)
{
    const QString &type = record.type();
    const bool text = type.startsWith(kText);
    const bool image = type.startsWith(kImage);
    const bool file = type.startsWith(kFile);
    if (record.isEmpty() || !(text || image || file))
        return nullptr;

    const QVariantMap map = record.toMap();
    auto *subMenu = new QMenu;
    if (text || image) {
        QAction *paste = subMenu->addAction(tr("复制并粘贴"));
        paste->setData(map);
        connect(paste, &QAction::triggered, this, &MenuManager::item_clicked);
        subMenu->addSeparator();
    }
    if (text) {
        QAction *batch = subMenu->addAction(tr("由此批量粘贴"));
        batch->setData(map);
        connect(batch, &QAction::triggered, this, &MenuManager::batch_clicked);
        subMenu->addSeparator();
        appendPluginItems(subMenu, record);
    }
    if (record.secert()) {
        QAction *unlock = subMenu->addAction(pngIcon(QStringLiteral(":/unlock")), tr("解除机密并上传"));
        unlock->setData(record.file_hash());
        connect(unlock, &QAction::triggered, this, &MenuManager::unlockSecertClick);
        subMenu->setIcon(pngIcon(QStringLiteral(":/lock")));
    }
    if (!desktopFolder().isEmpty() && (image || file)) {
        QAction *save = subMenu->addAction(tr("保存到桌面"));
        save->setData(map);
        connect(save, &QAction::triggered, this, image ? &MenuManager::saveImageClicked : &MenuManager::saveFileClicked);
    }
    subMenu->addSeparator();
    QAction *favourite =
        subMenu->addAction(record.favourite() > 0 ? tr("取消收藏") : tr("收藏", "add the entry to the favourites"));
    favourite->setData(map);
    connect(favourite, &QAction::triggered, this, [favourite] {
        EntryActions::instance()->toggleFavourite(History::fromMap(favourite->data().toMap()));
    });
    subMenu->addSeparator();
    QAction *remove = subMenu->addAction(tr("删除"));
    remove->setData(map);
    connect(remove, &QAction::triggered, this, &MenuManager::delete_clicked);
    return subMenu;
}

History MenuManager::senderRecord() const
{
    const auto *item = qobject_cast<const QAction *>(sender());
    return item ? History::fromMap(item->data().toMap()) : History();
}

void MenuManager::pasteLater()
{
    PasteKeys::pasteLater();
}

void MenuManager::pasteV()
{
    PasteKeys::sendShiftCtrlV();
}

void MenuManager::pasteCV()
{
    PasteKeys::sendShiftInsert();
}

// --- entry operations ---

void MenuManager::item_clicked()
{
    // Nothing written means the keystroke would paste whatever was there before.
    if (!Selvane::copyRecord(senderRecord())) {
        contentMissing();
        return;
    }
    pasteLater();
}

void MenuManager::batch_clicked()
{
    const History from = senderRecord();
    if (storedText(from).isEmpty()) {
        contentMissing();
        return;
    }
    if (from.category() != QLatin1String(Category::History)) {
        History copy = from;
        copy.setCategory(QLatin1String(Category::History));
        if (copy.exists()) {
            copy.load();
            copy.setFavourite(from.favourite());
        }
        copy.save();
    }
    QString text;
    for (const History &record : HistoryQueries::textSince(static_cast<qint64>(from.timeStamp()))) {
        if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        text += storedText(record);
    }
    Selvane::instance()->setClipboardText(text, false);
    pasteLater();
}

void MenuManager::plugin_clicked()
{
    const auto *item = qobject_cast<const QAction *>(sender());
    if (!item)
        return;
    const QVariantMap data = item->data().toMap();
    History record = History::fromMap(data.value(QStringLiteral("his_map")).toMap());
    if (!record.exists())
        return;
    record.load();
    if (record.type().startsWith(kText) && !record.secert())
        runPlugin(record, data.value(QStringLiteral("plugin")));
}

void MenuManager::unlockSecertClick()
{
    const auto *item = qobject_cast<const QAction *>(sender());
    if (!item)
        return;
    EntryActions::instance()->unlockSecret(item->data().toString());
}

void MenuManager::saveImageClicked()
{
    History record = senderRecord();
    if (!record.exists())
        return;
    record.load();
    const QString source = CFileManager::entryPath(CFileManager::filesPath(), record.file_hash());
    if (source.isEmpty() || !QFile::exists(source))
        return;
    copyToDesktop(source, record.file_hash() + QLatin1Char('.') + clipUtils::imageFileFormat(source));
}

void MenuManager::saveFileClicked()
{
    History record = senderRecord();
    if (!record.exists())
        return;
    record.load();
    const QString source = CFileManager::entryPath(CFileManager::filesPath(), record.file_hash());
    if (source.isEmpty() || !QFile::exists(source))
        return;
    // Only the base name: a name such as "../../.bashrc" from another device must
    // not choose where the file lands.
    const QString name = QFileInfo(record.file_name()).fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        qWarning("Save to desktop: the entry has no usable file name");
        return;
    }
    copyToDesktop(source, name);
}

void MenuManager::delete_clicked()
{
    EntryActions::instance()->remove(senderRecord());
}

void MenuManager::cleanup()
{
    EntryActions::instance()->clearHistory();
}

// --- global commands ---

void MenuManager::pull()
{
    EntryActions::instance()->pull();
}

void MenuManager::syncFav()
{
    EntryActions::instance()->syncFavourites();
}

void MenuManager::login()
{
    emit accountRequested();
}

void MenuManager::setting()
{
    emit settingsRequested();
}

void MenuManager::activeZero()
{
    emit accountRequested();
    emit encryptWindowRequested();
}

void MenuManager::openPlugin()
{
    showPluginWindow();
}

void MenuManager::quit()
{
    disconnectBroker();
    Selvane::instance()->stop();
    m_menu->clear();
    QCoreApplication::exit(0);
}

// --- plugins, the service and the other windows ---

// Confidential texts never go to a plugin; disabled plugins are not offered.
void MenuManager::appendPluginItems(QMenu *subMenu, const History &record)
{
    if (record.secert())
        return;
    const QVariantMap entry = record.toMap();
    for (const PluginObject &plugin : PluginHost::instance()->plugins()) {
        if (plugin.disabled)
            continue;
        QAction *item = subMenu->addAction(pngIcon(QStringLiteral(":/plugin_menu")), literal(plugin.name));
        QVariantMap data;
        data.insert(QStringLiteral("his_map"), entry);
        data.insert(QStringLiteral("plugin"), QVariant::fromValue(plugin));
        item->setData(data);
        connect(item, &QAction::triggered, this, &MenuManager::plugin_clicked);
    }
}

// The result is captured like any copy, so it becomes an entry of its own. The
// plugin runs in the runner; the menu stays responsive meanwhile.
void MenuManager::runPlugin(const History &record, const QVariant &plugin)
{
    const QString source = storedText(record);
    if (source.isEmpty()) {
        contentMissing();
        return;
    }
    PluginHost::instance()->execute(source, plugin.value<PluginObject>(), this, [this](const QString &result) {
        Selvane::putText(result);
        pasteLater();
    });
}

bool MenuManager::needsEncryptionKey() const
{
    return !ZeroManager::instance()->hasKey();
}

void MenuManager::showPluginWindow()
{
    pluginWindow *window = pluginWindow::instance();
    window->show();
    window->raise();
    window->activateWindow();
}
void MenuManager::showEncryptWindow()
{
    emit encryptWindowRequested();
}
void MenuManager::disconnectBroker()
{
    MqttManager::instance()->disconnectBroker();
}
