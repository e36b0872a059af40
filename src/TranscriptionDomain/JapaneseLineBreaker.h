#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tc {

// Breaks Japanese text into display rows of a fixed width, counted in half-width columns (a full-width
// character takes two). Rows are cut only where Japanese allows: never before "。", "、", a small kana, "ー" or a
// closing bracket, never after an opening bracket, never inside a number or a Latin word; a cut after
// punctuation is preferred when it keeps the row at least half full. A run that cannot be cut and is wider than a
// row is cut at the row's end. Pure, callable from any thread.
class JapaneseLineBreaker {
public:
    // The rows of the text, each at most maxColumns wide; a row that starts a group of rowsPerGroup rows (the
    // first row when rowsPerGroup is 0) leaves room for `indent` columns, the width of a tag shown before it.
    // Line breaks and tabs in the text count as spaces; spaces at a cut are dropped. Empty for blank text.
    static std::vector<std::string> breakIntoRows(std::string_view text, int maxColumns, int indent = 0,
                                                  std::size_t rowsPerGroup = 0);
    // Columns the text takes: 2 for a full-width character, 0 for a combining mark, 1 otherwise.
    static int columns(std::string_view text);
    // Code points in the text (an invalid byte counts as one); how a cue's share of a line's time is measured.
    static std::size_t characterCount(std::string_view text);
};

} // namespace tc
