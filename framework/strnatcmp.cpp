#include "framework/strnatcmp.h"

#include <cctype>

namespace strnatcmp {

namespace {

bool digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Digit runs of equal length decide by their first difference; a shorter run is smaller.
int compareRight(const char* a, const char* b) {
    int bias = 0;
    for (;; ++a, ++b) {
        bool da = digit(*a), db = digit(*b);
        if (!da && !db) return bias;
        if (!da) return -1;
        if (!db) return +1;
        if (bias == 0 && *a != *b) bias = *a < *b ? -1 : +1;
    }
}

// Runs compared digit by digit from the left, as the digits of a fraction.
int compareLeft(const char* a, const char* b) {
    for (;; ++a, ++b) {
        bool da = digit(*a), db = digit(*b);
        if (!da && !db) return 0;
        if (!da) return -1;
        if (!db) return +1;
        if (*a != *b) return *a < *b ? -1 : +1;
    }
}

}  // namespace

int strnatcmp0(const char* a, const char* b, bool foldCase) {
    int i = 0, j = 0;
    for (;;) {
        while (space(a[i])) ++i;
        while (space(b[j])) ++j;
        char ca = a[i], cb = b[j];
        if (digit(ca) && digit(cb)) {
            int result = (ca == '0' || cb == '0') ? compareLeft(a + i, b + j) : compareRight(a + i, b + j);
            if (result != 0) return result;
        }
        if (ca == '\0' && cb == '\0') return 0;
        if (foldCase) {
            ca = static_cast<char>(std::toupper(static_cast<unsigned char>(ca)));
            cb = static_cast<char>(std::toupper(static_cast<unsigned char>(cb)));
        }
        // Compared as signed bytes: bytes from 128 up rank below every ASCII character.
        signed char sa = static_cast<signed char>(ca), sb = static_cast<signed char>(cb);
        if (sa < sb) return -1;
        if (sa > sb) return +1;
        ++i;
        ++j;
    }
}

}  // namespace strnatcmp
