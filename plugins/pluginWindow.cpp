#include "plugins/pluginWindow.h"

#include "app/clipUtils.h"
#include "platform/DesktopOpener.h"
#include "plugins/PluginHost.h"
#include "ui_pluginWindow.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QUrl>

namespace {
pluginWindow::FileDialog &fileDialogHook()
{
    static pluginWindow::FileDialog hook;
    return hook;
}
} // namespace

void pluginWindow::setFileDialogForTests(FileDialog dialog)
{
    fileDialogHook() = std::move(dialog);
}

pluginWindow::pluginWindow()
    : ui(new Ui::pluginWindow)
{
    ui->setupUi(this);
    ui->tableWidget->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    fillTable();
}

pluginWindow::~pluginWindow() = default;

void pluginWindow::fillTable()
{
    const QList<PluginObject> plugins = PluginHost::instance()->plugins();
    QTableWidget *table = ui->tableWidget;
    table->clear();
    table->setRowCount(0);
    table->setHorizontalHeaderLabels(
        {QStringLiteral("名称"), QStringLiteral("描述"), QStringLiteral("版本"), QStringLiteral("作者")});
    for (const PluginObject &plugin : plugins) {
        const int row = table->rowCount();
        table->insertRow(row);
        table->setItem(row, 0, new QTableWidgetItem(plugin.name));
        table->setItem(row, 1, new QTableWidgetItem(plugin.description));
        table->setItem(row, 2, new QTableWidgetItem(plugin.version));
        table->setItem(row, 3, new QTableWidgetItem(plugin.author));
    }
}

void pluginWindow::on_button_add_clicked()
{
    const QString filter = QStringLiteral("*.cpk");
    const QStringList files = fileDialogHook() ? fileDialogHook()(this, QString(), QString(), filter)
                                               : QFileDialog::getOpenFileNames(this, QString(), QString(), filter);
    if (files.isEmpty())
        return;
    for (const QString &file : files)
        PluginHost::instance()->install(file);
    fillTable();
    Q_EMIT pluginsChanged();
}

void pluginWindow::on_button_delete_clicked()
{
    const QModelIndexList rows = ui->tableWidget->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    const int row = rows.first().row();
    const QList<PluginObject> plugins = PluginHost::instance()->plugins();
    if (row < 0 || row >= plugins.size())
        return;
    PluginHost::instance()->remove(plugins.at(row));
    fillTable();
    Q_EMIT pluginsChanged();
}

void pluginWindow::on_button_help_clicked()
{
    DesktopOpener::open(QUrl(clipUtils::developerPageUrl(), QUrl::TolerantMode));
}

void pluginWindow::closeEvent(QCloseEvent *event)
{
    hide();
    event->ignore();
}
