#include "app/kav_doc.h"

#include "exchange/file_errors.h"
#include "exchange/point_file.h"

#include <QFile>

namespace kav {

bool CKavDoc::OnNewDocument()
{
    m_pathName.clear();
    return true;
}

bool CKavDoc::OnOpenDocument(const QByteArray& path, QString* reason)
{
    int error = 0;
    if (!OpenForReading(path, error).IsOpen()) {
        if (reason)
            *reason = SystemErrorReason(error, FileAccess::Read);
        return false;
    }
    m_pathName = QFile::decodeName(path);
    return true;
}

} // namespace kav
