#pragma once

#include <optional>

namespace kav {

// The Windows-1250 byte of a Unicode code point, or nothing when the code
// page has no such character. Separators are stored as one byte of it.
std::optional<unsigned char> ToWindows1250(char32_t codePoint);

// The code point of a Windows-1250 byte; 0 for the five unassigned bytes.
char32_t FromWindows1250(unsigned char byte);

} // namespace kav
