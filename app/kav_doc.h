#pragma once

#include "exchange/file_result.h"

#include <QByteArray>
#include <QString>

namespace kav {

// The document holds no points: they live in the view and reach files only
// through the view's own Save and Open. Opening a document only checks that
// the file can be read and records its path.
class CKavDoc {
public:
    bool OnNewDocument();
    // Opens `path` (the file system's bytes) for reading, without waiting on
    // a pipe or a device, and reads nothing.
    FileResult OnOpenDocument(const QByteArray& path);

    const QString& PathName() const { return m_pathName; }

private:
    QString m_pathName;
};

} // namespace kav
