#pragma once

#include <QtGlobal>

// Names and limits shared across the program: settings keys, clipboard formats,
// categories, entry types and size limits. Spelled exactly as stored and sent.

namespace Zorvel {

inline constexpr char kAppIdentifier[] = "com.clipboard.zorvel";
inline constexpr char kOrganisation[] = "brenmoor";
inline constexpr char kApplication[] = "zorvel";
inline constexpr char kAppVersion[] = "2.1.15";
// Where "发送日志" addresses its mail; the user attaches log.txt by hand.
inline constexpr char kLogMailbox[] = "log@zorvel.example.org";
// log.txt moves to log.txt.1 (and that to log.txt.2) once it reaches this size:
// at most three files of about 1 MiB each.
inline constexpr qint64 kLogRotateBytes = 1024 * 1024;
inline constexpr int kLogFiles = 3;

namespace Key {
inline constexpr char DeviceToken[] = "deviceToken";
inline constexpr char UserToken[] = "user_token";
inline constexpr char UserId[] = "user_id";
inline constexpr char UserEmail[] = "user_email";
inline constexpr char CheckSecret[] = "check_secert";
inline constexpr char FileAsSecret[] = "file_as_secert";
inline constexpr char AutoSetClipboard[] = "auto_set_clipboard";
inline constexpr char MenuCleanup[] = "menu_cleanup";
inline constexpr char UserKeyWords[] = "user_key_words";
inline constexpr char NewVersion[] = "newversion";
inline constexpr char PastKey[] = "pastKey";
inline constexpr char FirstShow[] = "firstShow";
// The interface language: "zh", "en", or absent to follow the locale.
inline constexpr char Language[] = "language";
inline constexpr char HomePage[] = "homepage";
inline constexpr char Developer[] = "developer";
inline constexpr char E2eePage[] = "e2eePage";
inline constexpr char ServerPublicKey[] = "server_public_key";
inline constexpr char RequestTimestamp[] = "request_timestamp";
// The broker account the service issued with the user token.
inline constexpr char MqttUser[] = "mqtt_user";
inline constexpr char MqttPassword[] = "mqtt_password";
inline constexpr char MqttClientId[] = "mqtt_client_id";
inline constexpr char UserKeyRecord[] = "user_%1_key";
inline constexpr char ShortkeyFirst[] = "shortkey_first";
inline constexpr char ShortkeyMiddle[] = "shortkey_middle";
inline constexpr char ShortkeyLast[] = "shortkey_last";
inline constexpr char ShortkeyEnabled[] = "shortkey_enabled";
// Set once the sample plugins bundled with the program have been installed.
inline constexpr char SamplePluginsInstalled[] = "sample_plugins_installed";
} // namespace Key

// The stored key pair (under Key::UserKeyRecord) and the key dictionary exchanged with the service.
namespace KeyStore {
inline constexpr char KeyData[] = "keyData";
inline constexpr char CipherData[] = "cipherData";
} // namespace KeyStore

namespace KeyDict {
inline constexpr char KeyTimestamp[] = "key_timestamp";
inline constexpr char KeyHash[] = "key_hash";
inline constexpr char Cipher[] = "cipher";
inline constexpr char CipherTimestamp[] = "cipher_timestamp";
inline constexpr char CipherHash[] = "cipher_hash";
inline constexpr char Version[] = "version";
inline constexpr char Platform[] = "platform";
inline constexpr char VersionValue[] = "1.0";
} // namespace KeyDict

namespace Mime {
inline constexpr char Type[] = "zorvel";
inline constexpr char DataHash[] = "zorvel/data-hash";
inline constexpr char Data[] = "zorvel/data";
inline constexpr char UriList[] = "text/uri-list";
inline constexpr char GnomeCopiedFiles[] = "x-special/gnome-copied-files";
inline constexpr char PasswordManagerHint[] = "x-kde-passwordManagerHint";
// Value of the hint with which password managers mark what must not be kept.
inline constexpr char PasswordManagerSecret[] = "secret";
} // namespace Mime

namespace Category {
inline constexpr char History[] = "history";
inline constexpr char Favourite[] = "favourite";
} // namespace Category

namespace EntryType {
inline constexpr char Text[] = "text_txt+enc";
inline constexpr char Image[] = "image_tiff+zip+enc";
inline constexpr char FilePrefix[] = "file_";
inline constexpr char FileSuffix[] = "+zip+enc";
inline constexpr char UnknownExtension[] = "unknow";
} // namespace EntryType

// 5.5 MiB: the largest entry that is captured as a file or pushed to the service.
inline constexpr qint64 kMaxEntryBytes = 5767168;
inline constexpr int kCategoryLimit = 60;
inline constexpr int kMenuListLimit = 30;
inline constexpr int kPreviewLength = 50;
inline constexpr char kEmptyContentHash[] = "d41d8cd98f00b204e9800998ecf8427e";

// Cloud API client.
namespace Net {
inline constexpr char kUserAgent[] = "Windows Zorvel 1.0";
// A request whose connection stays silent this long ends as a network error.
inline constexpr int kApiTransferTimeoutMs = 60000;
// One sync applies at most this many pull pages (500 items each); the rest follows
// with the next sync.
inline constexpr int kPullMaxPages = 8;
// Larger replies are aborted and dropped; real ones are far below this.
inline constexpr qint64 kMaxReplyBytes = 16 * 1024 * 1024;
inline constexpr int kMaxRedirects = 8;
// Uploads and downloads of entry files: long enough for 6 MiB on a slow line.
inline constexpr int kFileTransferTimeoutMs = 300000;
// An extracted download never exceeds this; larger archive entries are refused.
inline constexpr qint64 kMaxExtractedBytes = 64 * 1024 * 1024;
} // namespace Net

namespace Mqtt {
// Used only while the service has issued no broker account (an older service).
inline constexpr char kUserName[] = "pubclient";
inline constexpr char kPassword[] = "5d2a9e41";
inline constexpr int kKeepAliveSeconds = 20;
inline constexpr int kConnectTimeoutSeconds = 30;
inline constexpr int kMaxInflight = 10;
inline constexpr int kTraceLevel = 7;
inline constexpr int kCheckIntervalMs = 60000;
inline constexpr char kTopicPrefix[] = "user_id_";
// Notices are a few hundred bytes; anything far larger is not one of them.
inline constexpr int kMaxPayloadBytes = 64 * 1024;
inline constexpr char kUnknownFailure[] = QT_TRANSLATE_NOOP("MqttManager", "无法链接Zorvel自动同步服务，原因未知");
} // namespace Mqtt

// Clipboard capture
inline constexpr int kThumbnailWidth = 40;

// Desktop interaction: the paste keystrokes (Windows-style virtual keys), the delay
// that lets the menu close before pasting, and the menu label limits.
namespace VirtualKey {
inline constexpr quint32 Shift = 0x10;
inline constexpr quint32 Control = 0x11;
inline constexpr quint32 Insert = 0x2D;
inline constexpr quint32 V = 0x56;
} // namespace VirtualKey
inline constexpr int kPasteDelayMs = 150;
inline constexpr int kMenuLabelWhole = 16;
inline constexpr int kMenuLabelCut = 17;
inline constexpr int kMaxUserKeywords = 25;
inline constexpr int kFirstShowBalloonMs = 10000;
inline constexpr int kClipboardNoticeMs = 500;

} // namespace Zorvel
