#pragma once

#include <QtGlobal>

class QMessageLogContext;
class QString;

// The process-wide message handler: warning, critical and info messages become one
// line each in log.txt ("yyyy-MM-dd hh:mm:ss ddd message\r\n"); debug is dropped.
// A full log.txt is rotated first (Zorvel::kLogRotateBytes, kLogFiles).
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
