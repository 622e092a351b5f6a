#pragma once

#include <QString>

// The settings file holds the content key and the account token: only its owner may
// read it. Its folder is created 0700 and the file 0600 (empty, before anything is
// written: QSettings replaces it through QSaveFile, which keeps the mode); both are
// narrowed when found wider. Parent folders above it are left as they are.
namespace PrivateFile {

// False when the folder or the file could not be made private (logged).
bool secure(const QString &filePath);

} // namespace PrivateFile
