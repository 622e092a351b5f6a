#pragma once

class QString;
class QWidget;

// The encryption window's and the PIN wizard's outcome messages: a modal box with
// one OK button, returning when the user closed it.
void showKeyNotice(QWidget *parent, const QString &text);
