#include "app/kav_doc.h"

#include "exchange/point_file.h"

#include <QFile>

namespace kav {

bool CKavDoc::OnNewDocument()
{
    m_pathName.clear();
    return true;
}

FileResult CKavDoc::OnOpenDocument(const QByteArray& path)
{
    FileHandle file;
    const FileResult opened = OpenForReading(path, file);
    if (opened.Ok())
        m_pathName = QFile::decodeName(path);
    return opened;
}

} // namespace kav
