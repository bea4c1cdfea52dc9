#pragma once

#include "exchange/listing_index.h"
#include "exchange/listing_text.h"
#include "view/point_store.h"

#include <QAbstractScrollArea>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class QMenu;
class QTimer;

namespace kav {

// The listing's text field: an editable, wrapping view of one long line of
// coordinates that appears at once however long the line is.
//
// In a fixed-pitch font every line holds the same number of characters, so
// line k starts at character k * Columns(), and the field draws only the
// lines in view, reading them from the points through a ListingIndex that a
// thread fills meanwhile; what needs the whole length (the end, Ctrl+A, an
// edit) waits for it. No copy of the text is kept: copying writes out the
// selection when asked. Typed text is kept as edits over the listing (a
// piece table), so typing costs what was typed, not the listing's size, and
// the edits go when the field does (ListingText).
class CListingField : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit CListingField(QWidget* parent = nullptr);
    ~CListingField() override;

    // Shows the listing of `points` relative to `centre`, dropping any
    // edits. The points must stay as they are while the field shows them.
    void SetListing(std::span<const Point> points, Point centre);

    // Characters per line, as the field lays them out now.
    int Columns() const { return m_text.Columns(); }
    std::int64_t LineCount() const { return m_text.LineCount(); }
    QString LineText(std::int64_t line) const;
    QString toPlainText() const;
    QString SelectedText() const;
    std::uint64_t CaretPosition() const { return m_caret; }

    void SelectAll();
    void Copy();
    void Cut();
    void Paste();
    void DeleteSelection();
    // The context menu's entries, with Qt's own texts.
    QMenu* CreateContextMenu(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void WaitForIndex() const;
    void OnIndexPoll();
    std::uint64_t Size() const { return m_text.Size(); }
    QString Text(std::uint64_t from, std::uint64_t to) const;
    // Puts `text` in place of the selection, and the caret after it.
    void Replace(std::u16string_view text);
    void Relayout();

    int ColumnsThatFit() const;
    int LineHeight() const;
    int RowsInView() const;
    void UpdateScrollBar();
    void MoveCaret(std::uint64_t offset, bool extend, bool keepColumn = false);
    bool Move(QKeyEvent* event);
    std::uint64_t OffsetAt(QPoint pos) const;
    std::uint64_t SelectionStart() const { return std::min(m_anchor, m_caret); }
    std::uint64_t SelectionEnd() const { return std::max(m_anchor, m_caret); }

    std::span<const Point> m_points;
    std::unique_ptr<ListingIndex> m_index;
    // Builds m_index; stopped and joined before a new index or the end.
    mutable std::thread m_indexer;
    std::atomic<bool> m_stopIndex = false;
    QTimer* m_indexPoll;

    ListingText m_text;

    std::uint64_t m_caret = 0;
    std::uint64_t m_anchor = 0;
    std::uint64_t m_goalColumn = 0; // kept by moves up and down
};

} // namespace kav
