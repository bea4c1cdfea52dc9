#include "app/kav_doc.h"

#include "exchange/file_errors.h"

#include <QFile>

namespace kav {

bool CKavDoc::OnNewDocument()
{
    m_pathName.clear();
    return true;
}

bool CKavDoc::OnOpenDocument(const QString& path, QString* reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (reason)
            *reason = ReadErrorReason(file);
        return false;
    }
    m_pathName = path;
    return true;
}

} // namespace kav
