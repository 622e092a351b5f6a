#pragma once

#include <cstddef>
#include <cstdint>

// Limits, reply codes and fixed names of zorvel-service. The protocol they belong to
// is described in service/README.md.

namespace ZorvelService {

inline constexpr char kDefaultListen[] = "127.0.0.1:8443";
inline constexpr char kDefaultBroker[] = "tcp://127.0.0.1:1883";
inline constexpr char kBrokerUser[] = "pubclient";
inline constexpr char kBrokerPassword[] = "5d2a9e41";
inline constexpr char kTopicPrefix[] = "user_id_";
inline constexpr char kDefaultVersion[] = "2.1.15";
inline constexpr char kAccessId[] = "zorvel-local";

// Every request body, JSON or form, is at most this large.
inline constexpr std::size_t kMaxBodyBytes = 8u * 1024u * 1024u;
// An object may hold the largest entry the client pushes (5.5 MiB) plus its
// encryption overhead.
inline constexpr std::int64_t kMaxObjectBytes = 6 * 1024 * 1024;
inline constexpr int kMaxJsonDepth = 32;
inline constexpr std::size_t kMaxShortText = 1024;
// One pull answer carries at most this many items and roughly this many bytes of
// content; the rest follows with the next pull.
inline constexpr int kPullMaxItems = 500;
inline constexpr std::size_t kPullMaxBytes = 4u * 1024u * 1024u;
inline constexpr int kFavouritesMax = 100;

inline constexpr std::int64_t kUploadPolicySeconds = 15 * 60;
inline constexpr std::int64_t kDownloadUrlSeconds = 5 * 60;
inline constexpr std::int64_t kResetTokenSeconds = 60 * 60;
inline constexpr std::int64_t kDefaultTokenDays = 365;

// HTTP statuses of the limits: quota used up, too many requests, password work busy.
inline constexpr int kQuotaStatus = 507;
inline constexpr int kRateStatus = 429;
inline constexpr int kBusyStatus = 503;

namespace Code {
inline constexpr int Ok = 0;
inline constexpr int BadRequest = -1;      // malformed body, member or parameter
inline constexpr int InternalError = -2;
inline constexpr int FavouriteGone = -4;   // set_favourite/: the service deleted the entry
inline constexpr int WrongPassword = -5;   // revert_key/: sealed account password wrong
inline constexpr int StaleKey = -6;        // push/: content encrypted under a key the user no longer has
inline constexpr int UnknownEntry = -10;   // push/ PUT and GET, set_favourite/: no such entry
inline constexpr int NoKey = 404;          // key/ GET and POST: no key pair stored
inline constexpr int WrongPin = 401;       // key/ POST: last PIN hash does not match
inline constexpr int KeyConflict = 409;    // key/ PUT and POST: would replace another key
inline constexpr int EmailTaken = 1001;    // register/
inline constexpr int UnknownEmail = 1002;  // forget_pwd/
inline constexpr int LoginRefused = 1003;  // login_v2/: unknown user, wrong or missing password
} // namespace Code

} // namespace ZorvelService
