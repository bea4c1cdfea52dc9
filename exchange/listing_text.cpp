#include "exchange/listing_text.h"

#include <algorithm>
#include <iterator>

namespace kav {

void ListingText::Reset(const ListingIndex* index)
{
    m_index = index;
    m_edited = false;
    m_pieces.clear();
    m_typed.clear();
    m_typedBreaks.clear();
    m_size = 0;
    Relayout();
}

void ListingText::SetColumns(int columns)
{
    columns = std::max(columns, 1);
    if (columns == m_columns)
        return;
    m_columns = columns;
    Relayout();
}

std::uint64_t ListingText::Size() const
{
    if (m_edited)
        return m_size;
    return m_index ? m_index->Size() : 0;
}

std::optional<std::size_t> ListingText::Read(std::uint64_t from, char16_t* out, std::size_t room) const
{
    if (!m_edited)
        return m_index ? m_index->Read(from, out, room) : std::optional<std::size_t>(0);
    if (from >= m_size)
        return 0;
    std::size_t written = 0;
    auto piece = std::upper_bound(m_pieceStarts.begin(), m_pieceStarts.end(), from) - m_pieceStarts.begin() - 1;
    for (auto i = static_cast<std::size_t>(std::max<std::ptrdiff_t>(piece, 0)); i < m_pieces.size() && written < room;
         ++i) {
        const Piece& p = m_pieces[i];
        const std::uint64_t skip = from + written - m_pieceStarts[i];
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(p.length - skip, room - written));
        if (p.typed)
            std::copy_n(m_typed.data() + p.from + skip, take, out + written);
        else
            m_index->Read(p.from + skip, out + written, take);
        written += take;
    }
    return written;
}

std::u16string ListingText::Text(std::uint64_t from, std::uint64_t to) const
{
    std::u16string text(static_cast<std::size_t>(to - from), u'\0');
    text.resize(Read(from, text.data(), text.size()).value_or(0));
    return text;
}

void ListingText::Replace(std::uint64_t from, std::uint64_t to, std::u16string_view text)
{
    if (!m_edited) {
        m_size = Size();
        if (m_size > 0)
            m_pieces.push_back({0, m_size, false});
        m_edited = true;
    }
    std::vector<Piece> pieces;
    bool inserted = false;
    auto insert = [&] {
        inserted = true;
        if (text.empty())
            return;
        // Typing on from the last typed character extends its piece.
        if (!pieces.empty() && pieces.back().typed && pieces.back().from + pieces.back().length == m_typed.size())
            pieces.back().length += text.size();
        else
            pieces.push_back({m_typed.size(), text.size(), true});
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == u'\n')
                m_typedBreaks.push_back(m_typed.size() + i);
        }
        m_typed.append(text);
    };
    std::uint64_t at = 0;
    for (const Piece& p : m_pieces) {
        const std::uint64_t end = at + p.length;
        if (end <= from) {
            pieces.push_back(p);
        } else if (at >= to) {
            if (!inserted)
                insert();
            pieces.push_back(p);
        } else {
            if (at < from)
                pieces.push_back({p.from, from - at, p.typed});
            if (!inserted)
                insert();
            if (end > to)
                pieces.push_back({p.from + (to - at), end - to, p.typed});
        }
        at = end;
    }
    if (!inserted)
        insert();
    m_pieces = std::move(pieces);
    m_size = m_size - (to - from) + text.size();
    Relayout();
}

// The paragraphs, from the line breaks in what was typed: found by their
// places, since a paste may have typed a whole listing.
void ListingText::Relayout()
{
    m_pieceStarts.clear();
    m_paragraphs.clear();
    std::uint64_t at = 0;
    std::uint64_t start = 0;
    auto close = [&](std::uint64_t end) {
        const std::int64_t line
            = m_paragraphs.empty() ? 0 : m_paragraphs.back().firstLine + LinesOf(m_paragraphs.back());
        m_paragraphs.push_back({start, end - start, line});
    };
    for (const Piece& p : m_pieces) {
        m_pieceStarts.push_back(at);
        if (p.typed) {
            for (auto b = std::lower_bound(m_typedBreaks.begin(), m_typedBreaks.end(), p.from);
                 b != m_typedBreaks.end() && *b < p.from + p.length; ++b) {
                close(at + (*b - p.from));
                start = at + (*b - p.from) + 1;
            }
        }
        at += p.length;
    }
    close(m_edited ? at : 0);
}

std::int64_t ListingText::LinesOf(const Paragraph& paragraph) const
{
    return std::max<std::int64_t>(1, static_cast<std::int64_t>((paragraph.length + m_columns - 1) / m_columns));
}

// The last paragraph whose `field` is at most `key`. Before the first edit
// the text is one paragraph, as long as the index says.
template <class Key> ListingText::Paragraph ListingText::FindParagraph(Key key, Key Paragraph::*field) const
{
    if (!m_edited)
        return {0, Size(), 0};
    auto it = std::upper_bound(m_paragraphs.begin(), m_paragraphs.end(), key,
                               [field](Key k, const Paragraph& p) { return k < p.*field; });
    return *std::prev(it);
}

std::int64_t ListingText::LineCount() const
{
    const Paragraph last = m_edited ? m_paragraphs.back() : FindParagraph(std::int64_t{0}, &Paragraph::firstLine);
    return last.firstLine + LinesOf(last);
}

std::uint64_t ListingText::LineStart(std::int64_t line) const
{
    const Paragraph p = FindParagraph(line, &Paragraph::firstLine);
    return p.start + static_cast<std::uint64_t>(line - p.firstLine) * static_cast<std::uint64_t>(m_columns);
}

std::uint64_t ListingText::LineLength(std::int64_t line) const
{
    const Paragraph p = FindParagraph(line, &Paragraph::firstLine);
    const std::uint64_t start = LineStart(line);
    return std::min<std::uint64_t>(static_cast<std::uint64_t>(m_columns),
                                   p.start + p.length - std::min(start, p.start + p.length));
}

std::int64_t ListingText::LineOf(std::uint64_t offset) const
{
    const Paragraph p = FindParagraph(offset, &Paragraph::start);
    const auto within = static_cast<std::int64_t>((offset - p.start) / static_cast<std::uint64_t>(m_columns));
    return p.firstLine + std::min(within, LinesOf(p) - 1);
}

} // namespace kav
