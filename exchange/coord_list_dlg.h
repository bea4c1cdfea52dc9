#pragma once

#include "view/point_store.h"

#include <QDialog>

#include <span>

namespace kav {

class CListingField;

// Shows the coordinate listing in an editable, wrapping text field; nothing
// reads the field back.
class CCoordListDlg : public QDialog {
    Q_OBJECT

public:
    explicit CCoordListDlg(QWidget* parent = nullptr);

    // The listing of `points` relative to `centre`, written straight into
    // the field: the text exists once, in the field, however long it is.
    // The points must stay as they are while the dialog shows them.
    void SetListing(std::span<const Point> points, Point centre);
    CListingField* TextField() const { return m_field; }

private:
    CListingField* m_field;
};

} // namespace kav
