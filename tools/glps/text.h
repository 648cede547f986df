// SPDX-License-Identifier: Apache-2.0
// Text helpers of the glps command: safe display of bytes from log files, tables and the parsing of
// numbers given on the command line.
#ifndef GLPS_TOOLS_TEXT_H_
#define GLPS_TOOLS_TEXT_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace glps_tool {

// The text for a terminal: valid UTF-8 passes unchanged; control characters, DEL and bytes that
// are not valid UTF-8 become "\xNN", and a backslash becomes "\\", so nothing read from a log
// directory can move the cursor or change the terminal's state, and every byte stays visible.
std::string Printable(const std::string& bytes);

// Whether the bytes are valid UTF-8 (no overlong forms, surrogates or code points above U+10FFFF).
bool IsUtf8(const std::string& bytes);

// The bytes as valid UTF-8: valid sequences unchanged, every other byte as U+FFFD.
std::string ToUtf8Lossy(const std::string& bytes);

// The columns a terminal gives the text: a wide (East Asian) character two, a combining mark none,
// any other character one, and a byte that is not valid UTF-8 one.
std::size_t DisplayWidth(const std::string& text);

// Columns of text, each as wide as its widest cell (by DisplayWidth), separated by two blanks;
// columns listed in `rightAligned` are aligned to the right. Cells are written as given: callers
// pass them through Printable first.
void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows,
                const std::vector<bool>& rightAligned, const std::string& indent = "");

// A decimal integer with an optional leading '-', nothing else, within the 64-bit range.
bool ParseInt64(const std::string& text, std::int64_t* value);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_TEXT_H_
