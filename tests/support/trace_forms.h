// Hand-made proof traces in their other forms: a text with one piece replaced, and the
// binary form of an ASCII trace (variable-length numbers, literals as 2v or 2v+1).
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace testsupport {

// text with the first `from` replaced by `to` (a failure of the test when it is missing).
inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

inline std::string varint(long v) {
    std::string out;
    do {
        unsigned char b = v & 0x7f;
        v >>= 7;
        if (v) b |= 0x80;
        out += static_cast<char>(b);
    } while (v);
    return out;
}

// The binary form of an ASCII trace.
inline std::string binaryTrace(const std::string& ascii) {
    std::string out;
    std::size_t pos = 0;
    while (pos < ascii.size()) {
        std::size_t end = ascii.find('\n', pos);
        std::string line = ascii.substr(pos, end - pos);
        pos = end + 1;
        if (line.rfind("p qrp", 0) == 0) {
            out += "p bqrp" + line.substr(5) + std::string(1, '\0');
        } else if (line[0] == 'a' || line[0] == 'e') {
            out += std::string(1, '\0') + line[0];
            long v;
            std::istringstream ls(line.substr(1));
            while (ls >> v && v) out += varint(v);
            out += std::string(1, '\0');
        } else if (line[0] == 'r') {
            out += std::string(1, '\0') + line + "\n";
        } else {
            std::istringstream ls(line);
            long v;
            ls >> v;
            out += varint(v);
            while (ls >> v && v) out += varint(v > 0 ? 2 * v : 2 * -v + 1);
            out += std::string(1, '\0');
            while (ls >> v && v) out += varint(v);
            out += std::string(1, '\0');
        }
    }
    return out;
}

}  // namespace testsupport
