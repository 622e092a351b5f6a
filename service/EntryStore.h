#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>



namespace ZorvelService {

class Database;
class SqlConnection;

// One history entry as the service keeps it. Every entry has one file (the full text,
// the image or the copied file), identified by file_id and held by the object store.
struct Entry {
    std::int64_t historyId = 0;
    std::int64_t userId = 0;
    std::string fileHash;
    std::string content;
    double timestamp = 0;
    std::string deviceName;
    std::string type;
    std::string fileName;
    double fileSize = 0;
    std::int64_t favourite = 0;
    std::string keyHash;
    std::int64_t fileId = 0;
    bool fileReady = false;

    // The history item of the wire format.
    nlohmann::json toJson() const;
    // Reads a history item sent by a client. Unknown members are ignored; members of
    // the wrong type, a missing or malformed "file_hash" and over-long texts are not.
    // Marks are times in seconds with a sign: anything at or beyond ±2^62 is refused.
    static bool validMark(std::int64_t mark);
    static std::optional<Entry> fromItem(const nlohmann::json &item, bool requireContent, std::string *reason);
};

// Entries, deletions and clear times of every user, ordered by the revision clock
// (Database::nextRevision) so that pulls see exactly the changes since their last one.
class EntryStore {
public:
    // A user holds at most `maxEntries` entries and `maxBytes` of content and files
    // (as their sizes are pushed).
    EntryStore(Database &db, std::int64_t maxEntries, std::int64_t maxBytes);

    struct PostResult {
        Entry entry;
        std::int64_t discardedFileId = 0; // an older file the entry no longer uses
        // The item is encrypted under another key than the user's stored one (a key
        // reset on another node came first); nothing was stored.
        bool staleKey = false;
        bool overQuota = false;           // nothing was stored
    };
    // Creates the entry or finds it by file hash. Content under another key hash than
    // the stored one replaces the stored entry's content and file.
    PostResult post(std::int64_t userId, const Entry &item);
    // Metadata update of a known entry; nullopt when the user has no entry with the
    // hash, or has it under another key hash.
    std::optional<Entry> update(std::int64_t userId, const Entry &item);
    std::optional<Entry> remove(std::int64_t userId, std::int64_t historyId);
    std::optional<Entry> findById(std::int64_t userId, std::int64_t historyId);
    std::optional<Entry> findByHash(std::int64_t userId, const std::string &fileHash);
    std::optional<Entry> findByFile(std::int64_t userId, std::int64_t fileId);
    std::optional<Entry> markFileReady(std::int64_t userId, std::int64_t fileId, const std::string &fileHash);

    struct Changes {
        std::vector<Entry> items;
        std::vector<std::int64_t> deleted;
        std::optional<std::int64_t> clearTime;
        std::int64_t requestTimestamp = 0;
        bool more = false; // the answer was full: changes from requestTimestamp on are left
    };
    Changes changesSince(std::int64_t userId, std::int64_t since);

    // Removes every entry whose favourite mark is not positive; the removed entries are
    // returned so that their files can go too.
    std::vector<Entry> clearNonFavourites(std::int64_t userId, std::int64_t *clearTime);

    struct FavouriteMerge {
        std::vector<std::int64_t> deleted;
        std::vector<std::pair<std::int64_t, std::int64_t>> unmarked; // history id, mark
        std::vector<Entry> favourites;
    };
    // Marks the client holds (history id → positive mark) merged with the service's:
    // the larger absolute value, the later toggle, wins on both sides.
    FavouriteMerge mergeFavourites(std::int64_t userId, const std::map<std::int64_t, std::int64_t> &marks);
    // nullopt when the service has no entry with the hash.
    std::optional<Entry> setFavourite(std::int64_t userId, const Entry &item);
    // The user deleted an entry with this hash here (push DELETE) and has not pushed
    // it again since.
    bool wasDeleted(std::int64_t userId, const std::string &fileHash);

    // Removes the user's encrypted entries and favourites and, in the same
    // transaction, runs storeKey (the new key pair replacing the old one).
    std::vector<Entry> purgeForNewKey(std::int64_t userId, const std::function<void(SqlConnection &)> &storeKey);

private:
    Database &m_db;
    std::int64_t m_maxEntries;
    std::int64_t m_maxBytes;
};

} // namespace ZorvelService
