#pragma once

#include "app/OnceOnly.h"

#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>

namespace Ui {
class pluginWindow;
}

// Lists, installs, removes and re-enables plugins, and shows the plugins'
// questions and notices to the user. Made on first use; closing it
// only hides it, so the tray menu shows the same window again.
class pluginWindow : public QMainWindow
{
    Q_OBJECT
    ZORVEL_ONCE_ONLY(pluginWindow)

public:
    // Stands in for QFileDialog::getOpenFileNames; an empty list means cancelled.
    using FileDialog = std::function<QStringList(QWidget *parent, const QString &caption, const QString &dir,
                                                 const QString &filter)>;
    // Tests answer the file dialog through this; an empty function restores the real one.
    static void setFileDialogForTests(FileDialog dialog);
    // Lets the window be made when first needed: a plugin's question or notice
    // before the user opened it makes it, and it shows them as always.
    static void answerPluginsOnFirstUse();

protected:
    void closeEvent(QCloseEvent *event) override;

private Q_SLOTS:
    void on_button_add_clicked();
    void on_button_delete_clicked();
    void on_button_enable_clicked();
    void on_button_help_clicked();

private:
    pluginWindow();
    ~pluginWindow() override;
    void fillTable();
    // Non-modal boxes: a run's question never holds up the event loop.
    void ask(const QString &question, std::function<void(bool)> answer);
    void tell(const QString &message);

    std::unique_ptr<Ui::pluginWindow> ui;
};
