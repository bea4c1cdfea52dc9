#include "exchange/file_errors.h"

#include "res/strings.h"

#include <QFileDevice>
#include <QFileInfo>

namespace kav {

namespace {

QString Other(const QFileDevice& file)
{
    return ui::kReasonOther.arg(file.errorString());
}

} // namespace

QString ReadErrorReason(const QFileDevice& file)
{
    const QFileInfo info(file.fileName());
    if (!info.exists())
        return ui::kReasonMissing;
    if (info.isDir())
        return ui::kReasonDirectory;
    if (!info.isReadable())
        return ui::kReasonNoReadPermission;
    return Other(file);
}

QString WriteErrorReason(const QFileDevice& file, const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return ui::kReasonDirectory;
    if (file.error() == QFileDevice::ResourceError)
        return ui::kReasonDiskFull;
    const QFileInfo folder(info.absolutePath());
    if ((info.exists() && !info.isWritable()) || (!folder.isWritable()))
        return ui::kReasonNoWritePermission;
    return Other(file);
}

} // namespace kav
