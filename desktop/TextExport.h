#pragma once

#include <QString>

// "导出所有文本": the newest text entries, each followed by two blank-line breaks.
class TextExport
{
public:
    // Appends ".txt" when missing. Returns the path written, or empty text when
    // the file could not be opened.
    static QString write(QString path);
};
