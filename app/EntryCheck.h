#pragma once

#include <QString>

// Whether decrypted content can belong to the entry it came with. The service can
// hand one entry's ciphertext out under another's hash (both decrypt under the key);
// the MD5 file_hash of texts and files is what binds content to its entry.
namespace EntryCheck {

// A text entry carries its whole text, or its preview (clipUtils::previewText) when
// the text is longer or its white space was folded. Content that is neither the
// text hashed in fileHash nor any preview of it is foreign.
bool textMayBelong(const QString &content, const QString &fileHash);

// Text and file entries name the MD5 of their plain bytes; images do not (their hash
// may be of another clipboard format).
bool hashNamesPlainBytes(const QString &type);

} // namespace EntryCheck
