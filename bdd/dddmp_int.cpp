// The binary integer code of the DDDMP node sections, on its own (the solver log
// stores its binary payload integers with it).
#include <cstdio>

#include "bdd/dddmp.h"
#include "bdd/dddmp_io.h"

namespace dddmp {

bool writeInt(std::FILE* fp, int value) {
    // Same bytes as the node section writer (detail::Out::binaryInt), unbuffered here.
    unsigned v = static_cast<unsigned>(value) & 0x0FFFFFFFu;
    int top = 0;
    while (top < 3 && (v >> (7 * (top + 1)))) ++top;
    for (int g = top; g >= 0; --g) {
        unsigned char byte = static_cast<unsigned char>((((v >> (7 * g)) & 0x7Fu) << 1) | (g > 0 ? 1u : 0u));
        int code = detail::escapeCode(byte);
        if (code < 0 ? std::putc(byte, fp) == EOF : (std::putc(0, fp) == EOF || std::putc(code, fp) == EOF))
            return false;
    }
    return true;
}

// Reads one escaped byte; -1 at end of file or on an escape code other than 0..3.
static int readEscaped(std::FILE* fp) {
    int c = std::getc(fp);
    if (c != 0) return c;  // EOF included
    c = std::getc(fp);
    return c == EOF ? -1 : detail::unescape(c);
}

bool readInt(std::FILE* fp, int* value) {
    // At most four bytes: the code keeps 28 bits.
    int v = 0;
    for (int i = 0; i < 4; ++i) {
        int byte = readEscaped(fp);
        if (byte < 0) return false;
        v = (v << 7) | (byte >> 1);
        if (!(byte & 1)) break;
    }
    *value = v;
    return true;
}

}  // namespace dddmp
