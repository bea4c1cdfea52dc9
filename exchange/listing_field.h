#pragma once

#include "view/point_store.h"

#include <QPlainTextEdit>

#include <span>

namespace kav {

// The listing's text field: an editable, wrapping view of one long line of
// coordinates that appears at once however long the line is.
//
// One paragraph of millions of characters would have to be laid out whole
// before the first paint. So the field holds the line as paragraphs of whole
// lines: in a fixed-pitch font every line holds the same number of
// characters, so a paragraph of that many lines ends exactly where wrapping
// would end a line anyway, and only the paragraphs in view are ever laid
// out. The breaks between the paragraphs are taken out again on copy. The
// text is written straight into the field, a paragraph at a time, so that
// it exists once.
class CListingField : public QPlainTextEdit {
    Q_OBJECT

public:
    static constexpr int kLinesPerParagraph = 256;

    explicit CListingField(QWidget* parent = nullptr);

    // Shows the listing of `points` relative to `centre`. The points are
    // read again should the field's width change while they are shown.
    void SetListing(std::span<const Point> points, Point centre);
    // Characters per line, as the field lays them out now.
    int Columns() const { return m_columns; }

protected:
    QMimeData* createMimeDataFromSelection() const override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int ColumnsThatFit() const;
    void Fill();

    std::span<const Point> m_points;
    Point m_centre;
    int m_columns = 0;
};

} // namespace kav
