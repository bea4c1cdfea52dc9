#include "app/polish_file_columns.h"

#include <QFileSystemModel>
#include <QLocale>

namespace kav {

namespace {

// The columns of QFileSystemModel.
constexpr int kSizeColumn = 1;
constexpr int kDateColumn = 3;

} // namespace

QVariant PolishFileColumns::data(const QModelIndex& index, int role) const
{
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (role == Qt::DisplayRole && files != nullptr) {
        const QModelIndex source = mapToSource(index);
        const QLocale locale;
        if (index.column() == kSizeColumn && !files->isDir(source))
            return locale.formattedDataSize(files->size(source));
        if (index.column() == kDateColumn)
            return locale.toString(files->lastModified(source), QLocale::ShortFormat);
    }
    return QIdentityProxyModel::data(index, role);
}

} // namespace kav
