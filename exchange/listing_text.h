#pragma once

#include "exchange/listing_index.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kav {

// The listing's text as the field edits and lays it out: the listing that
// a ListingIndex writes, with what the user typed kept as edits over it (a
// piece table), so that typing costs what was typed, not the listing's
// size. Lines hold Columns() characters; a typed line break ends a
// paragraph, and every paragraph starts a line. Until the first edit the
// text is the listing, as long as the index says.
class ListingText {
public:
    // The listing of `index`, which must outlive this text, with no edits.
    void Reset(const ListingIndex* index);
    void SetColumns(int columns);
    int Columns() const { return m_columns; }

    bool Edited() const { return m_edited; }
    std::uint64_t Size() const;
    // Writes the characters from `from` on, `room` of them or up to the end,
    // and returns how many; nothing when the listing's index does not reach
    // `from` yet.
    std::optional<std::size_t> Read(std::uint64_t from, char16_t* out, std::size_t room) const;
    std::u16string Text(std::uint64_t from, std::uint64_t to) const;
    // Puts `text` in place of [from, to). The listing's index must be
    // complete.
    void Replace(std::uint64_t from, std::uint64_t to, std::u16string_view text);

    std::int64_t LineCount() const;
    std::uint64_t LineStart(std::int64_t line) const;
    std::uint64_t LineLength(std::int64_t line) const;
    // A caret at the end of a full line stands at the start of the next
    // one, except at the end of a paragraph.
    std::int64_t LineOf(std::uint64_t offset) const;

private:
    // A run of the text: of the listing, or of what was typed.
    struct Piece {
        std::uint64_t from;
        std::uint64_t length;
        bool typed;
    };
    // The text between two line breaks that the user typed.
    struct Paragraph {
        std::uint64_t start;
        std::uint64_t length;
        std::int64_t firstLine;
    };

    void Relayout();
    std::int64_t LinesOf(const Paragraph& paragraph) const;
    template <class Key> Paragraph FindParagraph(Key key, Key Paragraph::*field) const;

    const ListingIndex* m_index = nullptr;
    bool m_edited = false;
    std::vector<Piece> m_pieces;
    std::vector<std::uint64_t> m_pieceStarts;
    std::u16string m_typed;
    std::vector<std::uint64_t> m_typedBreaks; // where m_typed holds a line break
    std::uint64_t m_size = 0;
    std::vector<Paragraph> m_paragraphs;
    int m_columns = 1;
};

} // namespace kav
