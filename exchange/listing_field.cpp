#include "exchange/listing_field.h"

#include "exchange/coord_listing.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

namespace kav {

CListingField::CListingField(QWidget* parent)
    : QPlainTextEdit(parent)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(this->font().pointSizeF());
    setFont(font);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAnywhere); // one long line of numbers
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true);
    // An undo history of the whole listing would double its memory.
    document()->setUndoRedoEnabled(false);
}

void CListingField::SetListing(std::span<const Point> points, Point centre)
{
    m_points = points;
    m_centre = centre;
    m_columns = ColumnsThatFit();
    Fill();
}

// How many characters one line holds, by laying out a line of them the way
// the field lays out its paragraphs. Before the field is first shown its
// viewport has no size yet, so the width comes from the field's own.
int CListingField::ColumnsThatFit() const
{
    const int viewportWidth
        = isVisible() ? viewport()->width() : contentsRect().width() - verticalScrollBar()->sizeHint().width();
    // As the plain text layout takes it: the viewport less the margins.
    const qreal width = viewportWidth - 2 * document()->documentMargin();
    QTextLayout layout(QString(1024, u'0'), font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(std::max<qreal>(width, 1));
    layout.endLayout();
    return std::max(1, line.textLength());
}

void CListingField::Fill()
{
    const qsizetype paragraph = qsizetype{m_columns} * kLinesPerParagraph;
    QString piece(paragraph, Qt::Uninitialized);
    ListingWriter listing(m_points, m_centre.x, m_centre.y);
    document()->clear();
    QTextCursor cursor(document());
    cursor.beginEditBlock(); // one change: the layout marks every paragraph for later
    for (bool first = true; !listing.AtEnd(); first = false) {
        const std::size_t written
            = listing.Write(reinterpret_cast<char16_t*>(piece.data()), static_cast<std::size_t>(paragraph));
        if (!first)
            cursor.insertBlock();
        cursor.insertText(QString::fromRawData(piece.constData(), static_cast<qsizetype>(written)));
    }
    cursor.endEditBlock();
    setTextCursor(QTextCursor(document()));
}

void CListingField::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    // The width first guessed may be off by the scroll bar's true size.
    if (m_points.empty())
        return;
    const int columns = ColumnsThatFit();
    if (columns != m_columns) {
        m_columns = columns;
        Fill();
    }
}

QMimeData* CListingField::createMimeDataFromSelection() const
{
    auto* data = new QMimeData;
    QString text = textCursor().selectedText();
    text.remove(QChar::ParagraphSeparator); // the breaks between paragraphs are the field's own
    data->setText(text);
    return data;
}

} // namespace kav
