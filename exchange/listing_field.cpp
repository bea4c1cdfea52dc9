#include "exchange/listing_field.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace kav {

namespace {

constexpr int kMargin = 4; // as a text document's margin
constexpr int kIndexPollMs = 20;

qreal Advance(const QFont& font)
{
    return QFontMetricsF(font).horizontalAdvance(QLatin1Char('0'));
}

std::u16string_view View(const QString& text)
{
    return {reinterpret_cast<const char16_t*>(text.constData()), static_cast<std::size_t>(text.size())};
}

// Qt's own entry text with its shortcut, as its text fields show it.
QString EntryText(const char* text, QKeySequence::StandardKey key)
{
    return QCoreApplication::translate("QWidgetTextControl", text) + u'\t'
        + QKeySequence(key).toString(QKeySequence::NativeText);
}

} // namespace

CListingField::CListingField(QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_indexPoll(new QTimer(this))
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(this->font().pointSizeF());
    setFont(font);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    m_indexPoll->setInterval(kIndexPollMs);
    connect(m_indexPoll, &QTimer::timeout, this, &CListingField::OnIndexPoll);
    SetListing({}, {});
}

CListingField::~CListingField()
{
    m_stopIndex = true;
    WaitForIndex();
}

void CListingField::SetListing(std::span<const Point> points, Point centre)
{
    m_stopIndex = true; // the build of the last index ends
    WaitForIndex();
    m_stopIndex = false;
    m_points = points;
    m_index = std::make_unique<ListingIndex>(points, centre.x, centre.y);
    m_indexer = std::thread([index = m_index.get(), stop = &m_stopIndex] { index->Build(stop); });
    m_indexPoll->start();
    m_text.Reset(m_index.get());
    m_caret = m_anchor = m_goalColumn = 0;
    Relayout();
    verticalScrollBar()->setValue(0);
}

void CListingField::WaitForIndex() const
{
    if (m_indexer.joinable())
        m_indexer.join();
}

// Until the index is full, lines beyond it are drawn blank and the scroll
// bar stands on a guess.
void CListingField::OnIndexPoll()
{
    if (m_index->Complete()) {
        m_indexPoll->stop();
        WaitForIndex();
        UpdateScrollBar();
    }
    viewport()->update();
}

// Read straight into the string: a copied selection may be the whole of a
// listing of millions of points.
QString CListingField::Text(std::uint64_t from, std::uint64_t to) const
{
    QString text(static_cast<qsizetype>(to - from), Qt::Uninitialized);
    const std::size_t read = m_text.Read(from, reinterpret_cast<char16_t*>(text.data()), text.size()).value_or(0);
    text.truncate(static_cast<qsizetype>(read));
    return text;
}

void CListingField::Replace(std::u16string_view text)
{
    WaitForIndex();
    const std::uint64_t from = SelectionStart();
    m_text.Replace(from, SelectionEnd(), text);
    m_caret = m_anchor = from + text.size();
    Relayout();
    MoveCaret(m_caret, false);
}

void CListingField::Relayout()
{
    m_text.SetColumns(ColumnsThatFit());
    UpdateScrollBar();
    viewport()->update();
}

QString CListingField::LineText(std::int64_t line) const
{
    WaitForIndex();
    const std::uint64_t start = m_text.LineStart(line);
    return Text(start, start + m_text.LineLength(line));
}

QString CListingField::toPlainText() const
{
    WaitForIndex();
    return Text(0, Size());
}

QString CListingField::SelectedText() const
{
    return Text(SelectionStart(), SelectionEnd());
}

void CListingField::SelectAll()
{
    WaitForIndex();
    m_anchor = 0;
    m_caret = Size();
    viewport()->update();
}

// The clipboard's text is written only now, and only the selection.
void CListingField::Copy()
{
    if (m_caret != m_anchor)
        QGuiApplication::clipboard()->setText(SelectedText());
}

void CListingField::Cut()
{
    Copy();
    DeleteSelection();
}

void CListingField::Paste()
{
    const QString text = QGuiApplication::clipboard()->text();
    if (!text.isEmpty())
        Replace(View(text));
}

void CListingField::DeleteSelection()
{
    if (m_caret != m_anchor)
        Replace({});
}

QMenu* CListingField::CreateContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    const bool selected = m_caret != m_anchor;
    auto add = [&](const char* name, const char* text, QKeySequence::StandardKey key, bool enabled, auto handler) {
        QAction* action = menu->addAction(EntryText(text, key), this, handler);
        action->setObjectName(QLatin1String(name));
        action->setEnabled(enabled);
    };
    add("cut", "Cu&t", QKeySequence::Cut, selected, &CListingField::Cut);
    add("copy", "&Copy", QKeySequence::Copy, selected, &CListingField::Copy);
    add("paste", "&Paste", QKeySequence::Paste, !QGuiApplication::clipboard()->text().isEmpty(), &CListingField::Paste);
    QAction* remove = menu->addAction(QCoreApplication::translate("QWidgetTextControl", "Delete"), this,
                                      &CListingField::DeleteSelection);
    remove->setObjectName(QStringLiteral("delete"));
    remove->setEnabled(selected);
    menu->addSeparator();
    add("selectAll", "Select All", QKeySequence::SelectAll, Size() > 0, &CListingField::SelectAll);
    return menu;
}

int CListingField::ColumnsThatFit() const
{
    // Before the field is first shown its viewport has no size yet.
    const int viewportWidth
        = isVisible() ? viewport()->width() : contentsRect().width() - verticalScrollBar()->sizeHint().width();
    return std::max(1, static_cast<int>((viewportWidth - 2 * kMargin) / Advance(font())));
}

int CListingField::LineHeight() const
{
    return QFontMetrics(font()).lineSpacing();
}

int CListingField::RowsInView() const
{
    return std::max(1, (viewport()->height() - 2 * kMargin) / LineHeight());
}

void CListingField::UpdateScrollBar()
{
    const std::int64_t last = std::max<std::int64_t>(0, LineCount() - RowsInView());
    verticalScrollBar()->setRange(0, static_cast<int>(std::min<std::int64_t>(last, INT_MAX)));
    verticalScrollBar()->setPageStep(RowsInView());
    verticalScrollBar()->setSingleStep(1);
}

void CListingField::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
}

void CListingField::scrollContentsBy(int, int)
{
    viewport()->update();
}

void CListingField::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    const QFontMetricsF metrics(font());
    const qreal advance = Advance(font());
    const int height = LineHeight();
    const QPalette& colours = palette();
    const std::int64_t top = verticalScrollBar()->value();
    const std::int64_t lines = LineCount();
    const std::uint64_t selectionStart = SelectionStart();
    const std::uint64_t selectionEnd = SelectionEnd();
    QString text(m_text.Columns(), Qt::Uninitialized);
    for (int row = 0; kMargin + row * height < viewport()->height() && top + row < lines; ++row) {
        const std::int64_t line = top + row;
        const std::uint64_t start = m_text.LineStart(line);
        const std::optional<std::size_t> read
            = m_text.Read(start, reinterpret_cast<char16_t*>(text.data()), static_cast<std::size_t>(m_text.LineLength(line)));
        if (!read)
            continue; // the index is not there yet
        const int y = kMargin + row * height;
        // Before, in and after the selection.
        const std::uint64_t marks[] = {start, std::clamp(selectionStart, start, start + *read),
                                       std::clamp(selectionEnd, start, start + *read), start + *read};
        for (int part = 0; part < 3; ++part) {
            const auto from = static_cast<qsizetype>(marks[part] - start);
            const auto count = static_cast<qsizetype>(marks[part + 1] - marks[part]);
            if (count == 0)
                continue;
            const qreal x = kMargin + from * advance;
            if (part == 1) {
                painter.fillRect(QRectF(x, y, count * advance, height), colours.highlight());
                painter.setPen(colours.highlightedText().color());
            } else {
                painter.setPen(colours.text().color());
            }
            painter.drawText(QPointF(x, y + metrics.ascent()), text.mid(from, count));
        }
    }
    const std::int64_t caretLine = m_text.LineOf(m_caret);
    if (hasFocus() && caretLine >= top && caretLine - top < RowsInView() + 1) {
        const qreal x = kMargin + static_cast<qreal>(m_caret - m_text.LineStart(caretLine)) * advance;
        painter.fillRect(QRectF(x, kMargin + (caretLine - top) * height, 1, height), colours.text());
    }
}

void CListingField::MoveCaret(std::uint64_t offset, bool extend, bool keepColumn)
{
    m_caret = std::min(offset, Size());
    if (!extend)
        m_anchor = m_caret;
    const std::int64_t line = m_text.LineOf(m_caret);
    if (!keepColumn)
        m_goalColumn = m_caret - m_text.LineStart(line);
    const int top = verticalScrollBar()->value();
    if (line < top)
        verticalScrollBar()->setValue(static_cast<int>(line));
    else if (line >= top + RowsInView())
        verticalScrollBar()->setValue(static_cast<int>(line - RowsInView() + 1));
    viewport()->update();
}

// The caret's moves, each with Shift to extend the selection.
bool CListingField::Move(QKeyEvent* event)
{
    enum Motion { Next, Previous, Down, Up, PageDown, PageUp, Home, End, Start, Finish };
    static constexpr struct {
        QKeySequence::StandardKey move;
        QKeySequence::StandardKey select;
        Motion motion;
    } kMoves[] = {
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Next},
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, Previous},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Down},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Up},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, PageDown},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, PageUp},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Home},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, End},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, Start},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, Finish},
    };
    for (const auto& move : kMoves) {
        const bool extend = event->matches(move.select);
        if (!extend && !event->matches(move.move))
            continue;
        const std::int64_t line = m_text.LineOf(m_caret);
        auto toLine = [&](std::int64_t target) {
            if (target < 0)
                return std::uint64_t{0};
            if (target >= LineCount())
                return Size();
            return m_text.LineStart(target) + std::min(m_goalColumn, m_text.LineLength(target));
        };
        const bool collapse = !extend && m_caret != m_anchor;
        switch (move.motion) {
        case Next:
            MoveCaret(collapse ? SelectionEnd() : m_caret + 1, extend);
            break;
        case Previous:
            MoveCaret(collapse ? SelectionStart() : m_caret - std::min<std::uint64_t>(m_caret, 1), extend);
            break;
        case Down:
            MoveCaret(toLine(line + 1), extend, true);
            break;
        case Up:
            MoveCaret(toLine(line - 1), extend, true);
            break;
        case PageDown:
            MoveCaret(toLine(line + RowsInView()), extend, true);
            break;
        case PageUp:
            MoveCaret(toLine(line - RowsInView()), extend, true);
            break;
        case Home:
            MoveCaret(m_text.LineStart(line), extend);
            break;
        case End:
            MoveCaret(m_text.LineStart(line) + m_text.LineLength(line), extend);
            break;
        case Start:
            MoveCaret(0, extend);
            break;
        case Finish:
            MoveCaret(Size(), extend);
            break;
        }
        return true;
    }
    return false;
}

void CListingField::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->ignore(); // the dialog closes, without waiting for the index
        return;
    }
    WaitForIndex();
    if (event->matches(QKeySequence::SelectAll))
        SelectAll();
    else if (event->matches(QKeySequence::Copy))
        Copy();
    else if (event->matches(QKeySequence::Cut))
        Cut();
    else if (event->matches(QKeySequence::Paste))
        Paste();
    else if (Move(event))
        ;
    else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        Replace(u"\n");
    else if (event->key() == Qt::Key_Backspace || event->matches(QKeySequence::Delete)) {
        if (m_caret == m_anchor) {
            const bool back = event->key() == Qt::Key_Backspace;
            if (back ? m_caret == 0 : m_caret == Size())
                return;
            m_anchor = back ? m_caret - 1 : m_caret + 1;
        }
        Replace({});
    } else if (!event->text().isEmpty() && event->text().front().isPrint()
               && !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)))
        Replace(View(event->text()));
    else
        event->ignore();
}

std::uint64_t CListingField::OffsetAt(QPoint pos) const
{
    const std::int64_t line = std::clamp<std::int64_t>(
        verticalScrollBar()->value() + (pos.y() - kMargin) / LineHeight(), 0, LineCount() - 1);
    const auto column = static_cast<std::int64_t>(std::lround((pos.x() - kMargin) / Advance(font())));
    return m_text.LineStart(line) + std::clamp<std::uint64_t>(std::max<std::int64_t>(column, 0), 0, m_text.LineLength(line));
}

void CListingField::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    WaitForIndex();
    setFocus(Qt::MouseFocusReason);
    MoveCaret(OffsetAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

// A drag past the top or the bottom scrolls as it selects.
void CListingField::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint pos = event->position().toPoint();
    if (pos.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (pos.y() >= viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    MoveCaret(OffsetAt(pos), true);
}

void CListingField::contextMenuEvent(QContextMenuEvent* event)
{
    WaitForIndex();
    std::unique_ptr<QMenu> menu(CreateContextMenu(this));
    menu->exec(event->globalPos());
}

void CListingField::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void CListingField::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

} // namespace kav
