#pragma once

#include <QByteArray>
#include <QUrl>

// Which addresses a plugin's app.openURL may offer the user: http and https to
// public hosts, and mailto with only to, subject and body; at most 2 KiB.
namespace PluginUrlPolicy {

constexpr int MaxBytes = 2048;

// The address as it would be opened, or an invalid QUrl (with a log line) when refused.
QUrl check(const QByteArray &utf8);

} // namespace PluginUrlPolicy
