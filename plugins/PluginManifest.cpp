#include "plugins/PluginManifest.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

PluginManifest::PluginManifest(const QString &path)
    : m_path(path)
{
}

void PluginManifest::load()
{
    m_plugins.clear();
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(4 * 1024 * 1024), &error);
    if (!doc.isObject()) {
        qWarning("plugin list %s is damaged (%s); plugins are listed again from their folders", qPrintable(m_path),
                 qPrintable(error.errorString()));
        return;
    }
    const QJsonArray list = doc.object().value(QStringLiteral("plugins")).toArray();
    for (const QJsonValue &value : list) {
        const QJsonObject o = value.toObject();
        PluginObject p;
        p.id = o.value(QStringLiteral("id")).toString();
        p.name = o.value(QStringLiteral("name")).toString();
        p.description = o.value(QStringLiteral("description")).toString();
        p.version = o.value(QStringLiteral("version")).toString();
        p.author = o.value(QStringLiteral("author")).toString();
        p.extra = o.value(QStringLiteral("extra")).toString();
        p.disabled = o.value(QStringLiteral("disabled")).toBool();
        p.failures = qMax(0, o.value(QStringLiteral("failures")).toInt());
        if (!p.id.isEmpty() && !p.name.isEmpty())
            m_plugins.insert(p.id, p);
    }
}

bool PluginManifest::save() const
{
    QJsonArray list;
    for (const PluginObject &p : m_plugins) {
        list.append(QJsonObject{{QStringLiteral("id"), p.id},
                                {QStringLiteral("name"), p.name},
                                {QStringLiteral("description"), p.description},
                                {QStringLiteral("version"), p.version},
                                {QStringLiteral("author"), p.author},
                                {QStringLiteral("extra"), p.extra},
                                {QStringLiteral("disabled"), p.disabled},
                                {QStringLiteral("failures"), p.failures}});
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(QJsonObject{{QStringLiteral("plugins"), list}}).toJson()) < 0 || !file.commit()) {
        qWarning("cannot write the plugin list %s", qPrintable(m_path));
        return false;
    }
    return true;
}
