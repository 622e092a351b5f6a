#include "plugins/pluginWindow.h"

#include "app/clipUtils.h"
#include "platform/DesktopOpener.h"
#include "plugins/PluginHost.h"
#include "ui_pluginWindow.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
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

void pluginWindow::answerPluginsOnFirstUse()
{
    PluginHost::instance()->setDialogs(
        [](const QString &question, std::function<void(bool)> answer) { instance()->ask(question, std::move(answer)); },
        [](const QString &message) { instance()->tell(message); });
}

pluginWindow::pluginWindow()
    : ui(new Ui::pluginWindow)
{
    ui->setupUi(this);
    ui->tableWidget->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    fillTable();
    PluginHost *host = PluginHost::instance();
    host->setDialogs([this](const QString &question, std::function<void(bool)> answer) { ask(question, answer); },
                     [this](const QString &message) { tell(message); });
    connect(host, &PluginHost::pluginsChanged, this, &pluginWindow::fillTable);
}

void pluginWindow::ask(const QString &question, std::function<void(bool)> answer)
{
    auto *box = new QMessageBox(QMessageBox::Question, tr("插件"), question, QMessageBox::Yes | QMessageBox::No, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setDefaultButton(QMessageBox::No);
    box->setWindowModality(Qt::NonModal);
    connect(box, &QMessageBox::finished, box, [box, answer](int) {
        answer(box->clickedButton() == box->button(QMessageBox::Yes));
    });
    box->show();
}

void pluginWindow::tell(const QString &message)
{
    auto *box = new QMessageBox(QMessageBox::Warning, tr("插件"), message, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

pluginWindow::~pluginWindow() = default;

void pluginWindow::fillTable()
{
    const QList<PluginObject> plugins = PluginHost::instance()->plugins();
    QTableWidget *table = ui->tableWidget;
    table->clear();
    table->setRowCount(0);
    table->setHorizontalHeaderLabels({tr("名称"), tr("描述"), tr("版本"), tr("作者"), tr("状态")});
    for (const PluginObject &plugin : plugins) {
        const int row = table->rowCount();
        table->insertRow(row);
        table->setItem(row, 0, new QTableWidgetItem(plugin.name));
        table->setItem(row, 1, new QTableWidgetItem(plugin.description));
        table->setItem(row, 2, new QTableWidgetItem(plugin.version));
        table->setItem(row, 3, new QTableWidgetItem(plugin.author));
        table->setItem(row, 4, new QTableWidgetItem(plugin.disabled ? tr("已停用") : tr("可用")));
    }
}

void pluginWindow::on_button_add_clicked()
{
    const QString filter = QStringLiteral("*.cpk");
    const QStringList files = fileDialogHook() ? fileDialogHook()(this, QString(), QString(), filter)
                                               : QFileDialog::getOpenFileNames(this, QString(), QString(), filter);
    if (files.isEmpty())
        return;
    // Installs finish later (the runner reads each plugin.lua); the list
    // refreshes on every change.
    for (const QString &file : files)
        PluginHost::instance()->install(file);
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
}

void pluginWindow::on_button_enable_clicked()
{
    const QModelIndexList rows = ui->tableWidget->selectionModel()->selectedRows();
    const QList<PluginObject> plugins = PluginHost::instance()->plugins();
    if (rows.isEmpty() || rows.first().row() >= plugins.size())
        return;
    PluginHost::instance()->setEnabled(plugins.at(rows.first().row()).id, true);
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
