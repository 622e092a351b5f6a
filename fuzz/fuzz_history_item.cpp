// Service items (the JSON the service sends in pull replies and push-GET replies)
// turned into records and stored: whatever the input, a stored row has a file_hash
// of 32 lower-case hex digits, and the database stays sound.
#include "FuzzApp.h"

#include "app/clipUtils.h"
#include "store/History.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariant>

namespace {

void apply(const QVariantMap &item)
{
    History h = History::fromServiceItem(item);
    h.toPushMap();
    h.toMap();
    h.cipherHash();
    h.setCategory(item.value(QStringLiteral("category"), QStringLiteral("history")).toString());
    if (h.isEmpty())
        return;
    h.save();
    if (h.exists() && !clipUtils::isFileHash(h.file_hash()))
        std::abort();
    History again;
    again.setFileHash(h.file_hash());
    again.setCategory(h.category());
    again.load();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzApp::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    if (doc.isObject()) {
        apply(doc.object().toVariantMap());
    } else if (doc.isArray()) {
        for (const QJsonValue &v : doc.array())
            apply(v.toObject().toVariantMap());
    }
    FuzzApp::checkHashes();
    FuzzApp::trim();
    return 0;
}
