// Natural-order string comparison: digit runs compare by value ("a2" < "a10"), runs with
// a leading zero compare left-aligned as fractions ("x007" < "x07"), white space is
// skipped.
#pragma once

namespace strnatcmp {

// -1, 0 or +1. With foldCase, letters compare as their upper-case forms. Both strings
// must be given.
int strnatcmp0(const char* a, const char* b, bool foldCase);

}  // namespace strnatcmp
