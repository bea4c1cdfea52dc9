#pragma once

#include <QIdentityProxyModel>

namespace kav {

// Qt's file dialog writes sizes and dates in the system's locale, which on
// an English desktop is English; everything else in the program is Polish.
// Put over the dialog's file system model, this writes them in the default
// locale, which the program sets to Polish.
class PolishFileColumns final : public QIdentityProxyModel {
    Q_OBJECT

public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override;
};

} // namespace kav
