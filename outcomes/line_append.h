// Appending whole lines to a file that other processes may append to at the same time
// (report files, outcome records): the text goes out in one write on a descriptor opened
// for appending, under an exclusive lock. A file never ends in part of a line: a write
// that comes out short (a full disk) is cut back off, and a torn last line left behind
// by an earlier writer is removed before the text is added.
#pragma once

#include <string>

#include "outcomes/status.h"

namespace line_append {

// Opens (creating) the file for appending; the descriptor, or "cannot create \"F\": why".
Result<int> open(const std::string& path);

// Appends text (whole lines) to the open descriptor; `path` names it in the message
// "cannot append to \"F\": why".
Status append(int fd, const std::string& path, const std::string& text);

// Opens, appends and closes.
Status appendTo(const std::string& path, const std::string& text);

}  // namespace line_append
