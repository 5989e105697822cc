// The line that pellan-decode rewrites in place on a terminal, made to fit its width: a line
// one column too wide wraps, and the next "\r" then rewrites only its second half, leaving the
// first on screen. Widths are counted in the terminal's columns, where a Japanese character
// takes two.
#pragma once

#include "app/BatchDecoding.h"

#include <string>
#include <string_view>
#include <vector>

namespace statusline {

// The columns UTF-8 text takes on a terminal: two for East Asian wide and full-width
// characters, none for combining marks and other zero-width characters, one for the rest (a
// byte that is not UTF-8 included).
size_t DisplayWidth(std::string_view text);

// The longest start of text, cut between characters, that takes at most columns columns.
std::string FitToColumns(std::string_view text, size_t columns);

// The parts joined by separator, most important first: as many whole parts as fit into
// columns, the first one cut when even it does not fit alone.
std::string JoinToFit(const std::vector<std::string>& parts, std::string_view separator,
                      size_t columns);

// A batch's status, most important first: songs done of all ("3/12"; failed and skipped
// songs are done too), the time since the batch began, the time left once it can be
// estimated, the songs running, failed and skipped.
std::vector<std::string> BatchStatusParts(const BatchCounts& counts, double elapsedSeconds);

// Seconds as "hh:mm:ss".
std::string ClockTime(double seconds);

} // namespace statusline
