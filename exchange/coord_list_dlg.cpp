#include "exchange/coord_list_dlg.h"

#include "exchange/dialog_layout.h"
#include "res/strings.h"

#include <QPlainTextEdit>
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

    m_field = new QPlainTextEdit(this);
    m_field->setObjectName(QStringLiteral("coordText"));
    layout.Place(m_field, 7, 7, 162, 64);
    m_field->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_field->setWordWrapMode(QTextOption::WrapAnywhere); // one long line of numbers
    m_field->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_field->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_field->setTabChangesFocus(true);

    setTabOrder(close, m_field);
    layout.Apply(176, 95);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    close->setFocus();
}

void CCoordListDlg::SetText(QString text)
{
    m_text = std::move(text);
    m_field->setPlainText(m_text);
}

} // namespace kav
