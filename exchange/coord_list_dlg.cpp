#include "exchange/coord_list_dlg.h"

#include "exchange/dialog_layout.h"
#include "exchange/listing_field.h"
#include "res/strings.h"

#include <QPushButton>

namespace kav {

CCoordListDlg::CCoordListDlg(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("coordListDlg"));
    setWindowTitle(ui::kListingCaption);
    DialogLayout layout(*this);

    auto* close = new QPushButton(ui::kListingClose, this);
    close->setObjectName(QStringLiteral("close"));
    layout.Place(close, 119, 74, 50, 14);
    close->setAutoDefault(false); // Enter belongs to the text field

    m_field = new CListingField(this);
    m_field->setObjectName(QStringLiteral("coordText"));
    layout.Place(m_field, 7, 7, 162, 64);

    setTabOrder(close, m_field);
    layout.Apply(176, 95);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    close->setFocus();
}

void CCoordListDlg::SetListing(std::span<const Point> points, Point centre)
{
    m_field->SetListing(points, centre);
}

} // namespace kav
