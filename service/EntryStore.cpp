#include "EntryStore.h"

#include "Codec.h"
#include "Database.h"
#include "Json.h"
#include "ServiceConstants.h"

#include <algorithm>
#include <cstdlib>

namespace ZorvelService {

namespace {

constexpr const char *kColumns = "history_id, user_id, file_hash, content, timestamp, device_name, type, file_name, "
                                 "file_size, favourite, key_hash, file_id, file_ready, rev";
// Marks are times; anything this large is not one and would overflow abs().
constexpr std::int64_t kMaxMark = std::int64_t(1) << 62;

Entry readEntry(const SqlStatement &row)
{
    Entry e;
    e.historyId = row.integer(0);
    e.userId = row.integer(1);
    e.fileHash = row.text(2);
    e.content = row.text(3);
    e.timestamp = row.real(4);
    e.deviceName = row.text(5);
    e.type = row.text(6);
    e.fileName = row.text(7);
    e.fileSize = row.real(8);
    e.favourite = row.integer(9);
    e.keyHash = row.text(10);
    e.fileId = row.integer(11);
    e.fileReady = row.integer(12) != 0;
    return e;
}

std::string selectWhere(const char *condition)
{
    return std::string("SELECT ") + kColumns + " FROM entries WHERE " + condition;
}

std::optional<Entry> selectOne(SqlConnection &db, const char *condition, std::int64_t userId, std::int64_t number,
                               const std::string &text = {})
{
    SqlStatement select(db, selectWhere(condition).c_str());
    select.bind(1, userId).bind(2, number);
    if (!text.empty())
        select.bind(3, text);
    if (!select.step())
        return std::nullopt;
    return readEntry(select);
}

std::optional<Entry> byHash(SqlConnection &db, std::int64_t userId, const std::string &fileHash)
{
    SqlStatement select(db, selectWhere("user_id = ?1 AND file_hash = ?2").c_str());
    select.bind(1, userId).bind(2, fileHash);
    if (!select.step())
        return std::nullopt;
    return readEntry(select);
}

// The later toggle wins; an equal age keeps what is stored.
bool laterMark(std::int64_t candidate, std::int64_t stored)
{
    // Both are within ±2^62 (validMark), so the magnitudes cannot overflow.
    const auto magnitude = [](std::int64_t v) { return v < 0 ? -v : v; };
    return magnitude(candidate) > magnitude(stored);
}

void writeEntry(SqlConnection &db, const Entry &e, std::int64_t rev)
{
    SqlStatement update(db, "UPDATE entries SET content = ?2, timestamp = ?3, device_name = ?4, type = ?5, "
                            "file_name = ?6, file_size = ?7, favourite = ?8, key_hash = ?9, file_id = ?10, "
                            "file_ready = ?11, rev = ?12 WHERE history_id = ?1");
    update.bind(1, e.historyId)
        .bind(2, e.content)
        .bind(3, e.timestamp)
        .bind(4, e.deviceName)
        .bind(5, e.type)
        .bind(6, e.fileName)
        .bind(7, e.fileSize)
        .bind(8, e.favourite)
        .bind(9, e.keyHash)
        .bind(10, e.fileId)
        .bind(11, e.fileReady ? 1 : 0)
        .bind(12, rev)
        .run();
}

void addTombstone(SqlConnection &db, std::int64_t userId, std::int64_t historyId, std::int64_t rev)
{
    SqlStatement insert(db, "INSERT INTO tombstones(user_id, history_id, rev) VALUES (?1, ?2, ?3)");
    insert.bind(1, userId).bind(2, historyId).bind(3, rev).run();
}

bool isEncrypted(const Entry &e)
{
    return !e.keyHash.empty() || e.type.find("enc") != std::string::npos;
}

} // namespace

nlohmann::json Entry::toJson() const
{
    return {{"history_id", historyId}, {"file_id", fileId},       {"file_ready", fileReady},
            {"content", content},      {"timestamp", timestamp},  {"device_name", deviceName},
            {"type", type},            {"file_size", fileSize},   {"file_hash", fileHash},
            {"file_name", fileName},   {"favourite", favourite},  {"key_hash", keyHash}};
}

std::optional<Entry> Entry::fromItem(const nlohmann::json &item, bool requireContent, std::string *reason)
{
    if (!item.is_object()) {
        *reason = "\"history\" must be an object";
        return std::nullopt;
    }
    bool ok = true;
    Entry e;
    e.fileHash = Json::text(item, "file_hash", ok);
    e.content = Json::text(item, "content", ok);
    e.timestamp = Json::number(item, "timestamp", ok);
    e.deviceName = Json::text(item, "device_name", ok);
    e.type = Json::text(item, "type", ok);
    e.fileName = Json::text(item, "file_name", ok);
    e.fileSize = Json::number(item, "file_size", ok);
    e.favourite = Json::integer(item, "favourite", ok);
    e.keyHash = Json::text(item, "key_hash", ok);
    if (!ok) {
        *reason = "a member of \"history\" has the wrong type";
        return std::nullopt;
    }
    if (!Codec::isFileHash(e.fileHash)) {
        *reason = "\"file_hash\" must be 32 lower-case hexadecimal digits";
        return std::nullopt;
    }
    if (requireContent && item.find("content") == item.end()) {
        *reason = "\"content\" is missing";
        return std::nullopt;
    }
    if (!e.keyHash.empty() && !Codec::isHashText(e.keyHash, 64)) {
        *reason = "\"key_hash\" is malformed";
        return std::nullopt;
    }
    if (e.deviceName.size() > kMaxShortText || e.type.size() > kMaxShortText || e.fileName.size() > kMaxShortText) {
        *reason = "\"device_name\", \"type\" or \"file_name\" is too long";
        return std::nullopt;
    }
    if (e.timestamp < 0 || e.fileSize < 0 || !validMark(e.favourite)) {
        *reason = "\"timestamp\", \"file_size\" or \"favourite\" is out of range";
        return std::nullopt;
    }
    return e;
}

bool Entry::validMark(std::int64_t mark)
{
    return mark > -kMaxMark && mark < kMaxMark;
}

EntryStore::EntryStore(Database &db, std::int64_t maxEntries, std::int64_t maxBytes)
    : m_db(db)
    , m_maxEntries(maxEntries)
    , m_maxBytes(maxBytes)
{
}

EntryStore::PostResult EntryStore::post(std::int64_t userId, const Entry &item)
{
    auto lease = m_db.lease();
    SqlConnection &db = lease.handle();
    Database::Transaction tx(db, Database::Transaction::Write);
    Database::lockUser(db, userId);
    PostResult result;
    // Checked again under the user's lock: revert_key/ replaces the key in a
    // transaction of its own that may have committed since the caller looked.
    if (!item.keyHash.empty()) {
        SqlStatement key(db, "SELECT key_hash FROM key_pairs WHERE user_id = ?1");
        key.bind(1, userId);
        if (key.step() && !key.text(0).empty() && key.text(0) != item.keyHash) {
            result.staleKey = true;
            return result;
        }
    }
    auto stored = byHash(db, userId, item.fileHash);
    if (!stored || item.keyHash != stored->keyHash) {
        SqlStatement usage(db, ("SELECT count(*), coalesce(sum(" + Database::byteLength(db, "content")
                                + " + file_size), 0) FROM entries WHERE user_id = ?1")
                                   .c_str());
        usage.bind(1, userId);
        usage.step();
        const double bytes = usage.real(1) - (stored ? double(stored->content.size()) + stored->fileSize : 0.0)
            + double(item.content.size()) + item.fileSize;
        if ((!stored && usage.integer(0) >= m_maxEntries) || bytes > double(m_maxBytes)) {
            result.overQuota = true;
            return result;
        }
    }
    if (!stored) {
        Entry e = item;
        e.userId = userId;
        e.fileId = Database::nextFileId(db);
        e.fileReady = false;
        SqlStatement insert(db, "INSERT INTO entries(user_id, file_hash, content, timestamp, device_name, type, "
                                "file_name, file_size, favourite, key_hash, file_id, file_ready, rev) "
                                "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, 0, ?12) RETURNING history_id");
        insert.bind(1, userId)
            .bind(2, e.fileHash)
            .bind(3, e.content)
            .bind(4, e.timestamp)
            .bind(5, e.deviceName)
            .bind(6, e.type)
            .bind(7, e.fileName)
            .bind(8, e.fileSize)
            .bind(9, e.favourite)
            .bind(10, e.keyHash)
            .bind(11, e.fileId)
            .bind(12, Database::nextRevision(db, userId));
        if (!insert.step())
            throw DatabaseError("the new entry has no id");
        SqlStatement(db, "DELETE FROM deleted_hashes WHERE user_id = ?1 AND file_hash = ?2")
            .bind(1, userId)
            .bind(2, e.fileHash)
            .run();
        e.historyId = insert.integer(0);
        insert.run();
        result.entry = e;
    } else {
        Entry e = *stored;
        bool changed = false;
        if (item.keyHash != e.keyHash) {
            // Encrypted under another key: the stored content and file are unreadable
            // for the user's devices now, so the pushed copy replaces them.
            result.discardedFileId = e.fileId;
            e.content = item.content;
            e.type = item.type;
            e.keyHash = item.keyHash;
            e.fileName = item.fileName;
            e.fileSize = item.fileSize;
            e.deviceName = item.deviceName;
            e.fileId = Database::nextFileId(db);
            e.fileReady = false;
            changed = true;
        }
        if (item.timestamp > e.timestamp) {
            e.timestamp = item.timestamp;
            changed = true;
        }
        if (laterMark(item.favourite, e.favourite)) {
            e.favourite = item.favourite;
            changed = true;
        }
        if (changed)
            writeEntry(db, e, Database::nextRevision(db, userId));
        result.entry = e;
    }
    tx.commit();
    return result;
}

std::optional<Entry> EntryStore::update(std::int64_t userId, const Entry &item)
{
    auto lease = m_db.lease();
    SqlConnection &db = lease.handle();
    Database::Transaction tx(db, Database::Transaction::Write);
    Database::lockUser(db, userId);
    auto stored = byHash(db, userId, item.fileHash);
    // A copy under another key is not the entry the client knows.
    if (!stored || (!item.keyHash.empty() && item.keyHash != stored->keyHash))
        return std::nullopt;
    Entry e = *stored;
    e.timestamp = std::max(e.timestamp, item.timestamp);
    if (laterMark(item.favourite, e.favourite))
        e.favourite = item.favourite;
    if (!item.fileName.empty())
        e.fileName = item.fileName;
    if (!item.deviceName.empty())
        e.deviceName = item.deviceName;
    writeEntry(db, e, Database::nextRevision(db, userId));
    tx.commit();
    return e;
}

std::optional<Entry> EntryStore::remove(std::int64_t userId, std::int64_t historyId)
{
    auto lease = m_db.lease();
    SqlConnection &db = lease.handle();
    Database::Transaction tx(db, Database::Transaction::Write);
    Database::lockUser(db, userId);
    auto stored = selectOne(db, "user_id = ?1 AND history_id = ?2", userId, historyId);
    if (!stored)
        return std::nullopt;
    SqlStatement(db, "DELETE FROM entries WHERE history_id = ?1").bind(1, historyId).run();
    addTombstone(db, userId, historyId, Database::nextRevision(db, userId));
    // set_favourite/ tells a deletion from an entry it never received by the hash.
    SqlStatement(db, "INSERT INTO deleted_hashes(user_id, file_hash) VALUES (?1, ?2) ON CONFLICT DO NOTHING")
        .bind(1, userId)
        .bind(2, stored->fileHash)
        .run();
    tx.commit();
    return stored;
}

std::optional<Entry> EntryStore::findById(std::int64_t userId, std::int64_t historyId)
{
    auto lease = m_db.lease();
    return selectOne(lease.handle(), "user_id = ?1 AND history_id = ?2", userId, historyId);
}

std::optional<Entry> EntryStore::findByHash(std::int64_t userId, const std::string &fileHash)
{
    auto lease = m_db.lease();
    return byHash(lease.handle(), userId, fileHash);
}

std::optional<Entry> EntryStore::findByFile(std::int64_t userId, std::int64_t fileId)
{
    auto lease = m_db.lease();
    return selectOne(lease.handle(), "user_id = ?1 AND file_id = ?2", userId, fileId);
}

std::optional<Entry> EntryStore::markFileReady(std::int64_t userId, std::int64_t fileId, const std::string &fileHash)
{
    auto lease = m_db.lease();
    SqlConnection &db = lease.handle();
    Database::Transaction tx(db, Database::Transaction::Write);
    Database::lockUser(db, userId);
    auto stored = selectOne(db, "user_id = ?1 AND file_id = ?2 AND file_hash = ?3", userId, fileId, fileHash);
    if (!stored)
        return std::nullopt;
    stored->fileReady = true;
    // A new revision, so that devices that pulled the entry before its file existed
    // pull it again.
    writeEntry(db, *stored, Database::nextRevision(db, userId));
    tx.commit();
    return stored;
}

EntryStore::Changes EntryStore::changesSince(std::int64_t userId, std::int64_t since)
{
    auto lease = m_db.lease();
    SqlConnection &db = lease.handle();
    Database::Transaction tx(db, Database::Transaction::Read);
    Changes changes;
    const std::int64_t current = Database::currentRevision(db, userId);
    // A client ahead of the clock knows a former database: it gets everything.
    if (since < 0 || since > current + 1)
        since = 0;
    std::int64_t next = current + 1;

    SqlStatement items(db, (selectWhere("user_id = ?1 AND rev >= ?2") + " ORDER BY rev").c_str());
    items.bind(1, userId).bind(2, since);
    std::size_t bytes = 0;
    std::int64_t lastRev = -1;
    while (items.step()) {
        const std::int64_t rev = items.integer(13);
        const bool full = static_cast<int>(changes.items.size()) >= kPullMaxItems || bytes >= kPullMaxBytes;
        // Entries of one revision travel together, so every answer makes progress.
        if (full && rev != lastRev) {
            next = rev;
            changes.more = true;
            break;
        }
        changes.items.push_back(readEntry(items));
        bytes += changes.items.back().content.size() + 256;
        lastRev = rev;
    }

    SqlStatement deleted(db, "SELECT history_id FROM tombstones WHERE user_id = ?1 AND rev >= ?2 AND rev < ?3 "
                             "ORDER BY rev");
    deleted.bind(1, userId).bind(2, since).bind(3, next);
    while (deleted.step())
        changes.deleted.push_back(deleted.integer(0));

    SqlStatement cleared(db, "SELECT clear_ts, clear_rev FROM users WHERE id = ?1");
    cleared.bind(1, userId);
    if (cleared.step() && cleared.integer(1) > 0 && cleared.integer(1) >= since && cleared.integer(1) < next)
        changes.clearTime = cleared.integer(0);
    changes.requestTimestamp = next;
    return changes;
}

std::vector<Entry> EntryStore::clearNonFavourites(std::int64_t userId, std::int64_t *clearTime)
{
    auto lease = m_db.lease();
    SqlConnection &db = lease.handle();
    Database::Transaction tx(db, Database::Transaction::Write);
    Database::lockUser(db, userId);
    std::vector<Entry> removed;
    SqlStatement select(db, selectWhere("user_id = ?1 AND favourite <= 0").c_str());
    select.bind(1, userId);
    while (select.step())
        removed.push_back(readEntry(select));
    SqlStatement(db, "DELETE FROM entries WHERE user_id = ?1 AND favourite <= 0").bind(1, userId).run();
    *clearTime = Codec::now();
    SqlStatement(db, "UPDATE users SET clear_ts = ?2, clear_rev = ?3 WHERE id = ?1")
        .bind(1, userId)
        .bind(2, *clearTime)
        .bind(3, Database::nextRevision(db, userId))
        .run();
    tx.commit();
    return removed;
}

EntryStore::FavouriteMerge EntryStore::mergeFavourites(std::int64_t userId,
                                                       const std::map<std::int64_t, std::int64_t> &marks)
{
    auto lease = m_db.lease();
    SqlConnection &db = lease.handle();
    Database::Transaction tx(db, Database::Transaction::Write);
    Database::lockUser(db, userId);
    FavouriteMerge merge;
    std::int64_t rev = 0;
    for (const auto &[historyId, mark] : marks) {
        auto stored = selectOne(db, "user_id = ?1 AND history_id = ?2", userId, historyId);
        if (!stored) {
            merge.deleted.push_back(historyId);
        } else if (laterMark(stored->favourite, mark)) {
            if (stored->favourite < 0)
                merge.unmarked.emplace_back(historyId, stored->favourite);
        } else if (laterMark(mark, stored->favourite)) {
            stored->favourite = mark;
            if (rev == 0)
                rev = Database::nextRevision(db, userId);
            writeEntry(db, *stored, rev);
        }
    }
    SqlStatement favourites(
        db, (selectWhere("user_id = ?1 AND favourite > ?2") + " ORDER BY timestamp DESC LIMIT " +
             std::to_string(kFavouritesMax))
                .c_str());
    favourites.bind(1, userId).bind(2, 0);
    while (favourites.step())
        merge.favourites.push_back(readEntry(favourites));
    tx.commit();
    return merge;
}

std::optional<Entry> EntryStore::setFavourite(std::int64_t userId, const Entry &item)
{
    auto lease = m_db.lease();
    SqlConnection &db = lease.handle();
    Database::Transaction tx(db, Database::Transaction::Write);
    Database::lockUser(db, userId);
    auto stored = byHash(db, userId, item.fileHash);
    if (!stored)
        return std::nullopt;
    bool changed = false;
    if (laterMark(item.favourite, stored->favourite)) {
        stored->favourite = item.favourite;
        changed = true;
    }
    if (item.timestamp > stored->timestamp) {
        stored->timestamp = item.timestamp;
        changed = true;
    }
    if (changed)
        writeEntry(db, *stored, Database::nextRevision(db, userId));
    tx.commit();
    return stored;
}

bool EntryStore::wasDeleted(std::int64_t userId, const std::string &fileHash)
{
    auto lease = m_db.lease();
    SqlStatement select(lease.handle(), "SELECT 1 FROM deleted_hashes WHERE user_id = ?1 AND file_hash = ?2");
    select.bind(1, userId).bind(2, fileHash);
    return select.step();
}

std::vector<Entry> EntryStore::purgeForNewKey(std::int64_t userId, const std::function<void(SqlConnection &)> &storeKey)
{
    auto lease = m_db.lease();
    SqlConnection &db = lease.handle();
    Database::Transaction tx(db, Database::Transaction::Write);
    Database::lockUser(db, userId);
    std::vector<Entry> removed;
    SqlStatement select(db, selectWhere("user_id = ?1").c_str());
    select.bind(1, userId);
    while (select.step()) {
        Entry e = readEntry(select);
        if (isEncrypted(e) || e.favourite > 0)
            removed.push_back(std::move(e));
    }
    // No tombstones: the other devices learn of the new key from the "cipher" of their
    // next reply and upload their copies again under it.
    for (const Entry &e : removed)
        SqlStatement(db, "DELETE FROM entries WHERE history_id = ?1").bind(1, e.historyId).run();
    storeKey(db);
    tx.commit();
    return removed;
}

} // namespace ZorvelService
