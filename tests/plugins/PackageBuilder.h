#pragma once

// Writes real zip archives with libzip, including the malformed ones an
// attacker would craft (names with "..", absolute names, symbolic links).

#include <QByteArray>
#include <QList>
#include <QString>

#include <sys/stat.h>
#include <zip.h>

class PackageBuilder
{
public:
    PackageBuilder &file(const QString &name, const QByteArray &data, bool stored = false)
    {
        return m_entries.append({name, data, false, stored}), *this;
    }
    PackageBuilder &symlink(const QString &name, const QByteArray &target)
    {
        return m_entries.append({name, target, true, true}), *this;
    }
    bool write(const QString &path) const
    {
        int err = 0;
        zip_t *zip = zip_open(path.toUtf8().constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
        if (!zip)
            return false;
        for (const Entry &e : m_entries) {
            zip_source_t *src = zip_source_buffer(zip, e.data.constData(), zip_uint64_t(e.data.size()), 0);
            const zip_int64_t index = zip_file_add(zip, e.name.toUtf8().constData(), src, ZIP_FL_ENC_UTF_8);
            if (index < 0) {
                zip_source_free(src);
                zip_discard(zip);
                return false;
            }
            if (e.stored)
                zip_set_file_compression(zip, zip_uint64_t(index), ZIP_CM_STORE, 0);
            if (e.link)
                zip_file_set_external_attributes(zip, zip_uint64_t(index), 0, ZIP_OPSYS_UNIX,
                                                 zip_uint32_t(S_IFLNK | 0777) << 16);
        }
        return zip_close(zip) == 0;
    }

private:
    struct Entry {
        QString name;
        QByteArray data;
        bool link, stored;
    };
    QList<Entry> m_entries;
};

// A plugin.lua whose run function has the given body (text is its argument).
inline QByteArray pluginScript(const QByteArray &id, const QByteArray &runBody = "return text",
                               const QByteArray &more = QByteArray())
{
    return "return { id = '" + id + "', name = 'Plugin " + id
           + "', description = 'test plugin', version = '1.0', author = 'tester', " + more
           + " run = function(text) " + runBody + " end }\n";
}

inline bool writePlugin(const QString &path, const QByteArray &id, const QByteArray &runBody = "return text",
                        const QByteArray &more = QByteArray())
{
    return PackageBuilder().file("plugin.lua", pluginScript(id, runBody, more)).write(path);
}
