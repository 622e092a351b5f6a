#include "desktop/KeyNotice.h"

#include <QMessageBox>

void showKeyNotice(QWidget *parent, const QString &text)
{
    QMessageBox box(parent);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}
