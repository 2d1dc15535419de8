// Block reading of formulas against the reference, zlib's gzgets a line at a time: random
// formulas (comments, blank lines, tabs, CRLF, several clauses on a line, stray bytes),
// plain and gzip-compressed as one or several members split anywhere (inside clauses
// too), cut short, with trailing garbage, or damaged, read with blocks of a few bytes to
// a MiB. The clauses the callback sees, the result and every printed message must be
// the same.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "inputs/block_input.h"
#include "inputs/qdimacs_reader.h"
#include "tests/support/recorder.h"
#include "tests/support/run.h"

namespace {

struct Read {
    int result = -1;
    std::vector<std::vector<int>> clauses;
    std::string out;
    bool operator==(const Read& o) const { return result == o.result && clauses == o.clauses && out == o.out; }
};

Read readWith(const std::string& path, std::size_t blockBytes, int numVars, int reject) {
    qdimacs::setBlockBytes(blockBytes);
    Read r;
    testsupport::Recorder recorder;
    r.result = qdimacs::read(
        path, {numVars, 40},
        [&](const int* l, int n) {
            r.clauses.emplace_back(l, l + n);
            return static_cast<int>(r.clauses.size()) - 1 == reject ? 0 : 1;
        },
        recorder);
    r.out = recorder.text;
    qdimacs::setBlockBytes(1 << 20);
    return r;
}

std::string formula(std::mt19937& rng, int* quantified) {
    const int vars = 30;
    std::string f = "c random\np cnf " + std::to_string(vars) + " " + std::to_string(40 + rng() % 200) + "\n";
    *quantified = 0;
    for (char q : {'a', 'e'}) {
        f += q;
        for (int v = (q == 'a' ? 1 : 11); v <= (q == 'a' ? 10 : vars); ++v) {
            f += " " + std::to_string(v);
            ++*quantified;
        }
        f += " 0\n";
    }
    int lines = 20 + static_cast<int>(rng() % 400);
    for (int i = 0; i < lines; ++i) {
        unsigned k = rng() % 100;
        if (k < 3) {
            f += "c a remark\n";
            continue;
        }
        if (k < 5) {
            f += (k == 3) ? "\n" : "  \t\n";
            continue;
        }
        int clauses = k < 15 ? 2 : 1;
        for (int c = 0; c < clauses; ++c) {
            int n = 1 + static_cast<int>(rng() % 6);
            for (int j = 0; j < n; ++j) {
                int v = 1 + static_cast<int>(rng() % vars);
                f += std::to_string(rng() % 2 ? v : -v) + (rng() % 20 == 0 ? "\t" : " ");
            }
            f += "0 ";
        }
        unsigned end = rng() % 100;
        if (end < 3)
            f += "\r\n";
        else if (end == 3)
            f += std::string(1, '\0') + "7 0\n";
        else if (end == 4)
            f += "x1 0\n";
        else
            f += "\n";
    }
    if (rng() % 4 == 0) f += "5 -6";  // the last clause without its 0, or a cut line
    return f;
}

std::string gzipMember(const std::string& data, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Every kind of file of the test below, its bytes.
std::string fileOfKind(std::mt19937& rng, const std::string& text, int kind) {
    if (kind == 0) return text;
    std::string bytes;
    int members = kind == 2 || kind == 7 ? 2 + static_cast<int>(rng() % 4) : 1;
    std::size_t from = 0;
    std::vector<std::size_t> starts;
    for (int m = 0; m < members; ++m) {
        std::size_t to = m + 1 == members ? text.size() : from + rng() % (text.size() - from + 1);
        starts.push_back(bytes.size());
        bytes += gzipMember(text.substr(from, to - from), 1 + static_cast<int>(rng() % 9));
        from = to;
    }
    if (kind == 7) {
        // A header zlib refuses or checks: reserved flag bits, a header CRC, another method.
        std::size_t at = starts[rng() % starts.size()];
        const unsigned char flags[] = {0x20, 0x40, 0x80, 0x02};
        if (rng() % 5 == 0)
            bytes[at + 2] = 7;
        else
            bytes[at + 3] = static_cast<char>(bytes[at + 3] | flags[rng() % 4]);
    }
    if (kind == 3) bytes.resize(rng() % bytes.size());
    if (kind == 4) bytes += rng() % 2 ? "\x1f" : "trailing bytes\n1 2 0\n";
    if (kind == 5) bytes += std::string("\x1f\x8b") + (rng() % 2 ? "\x08" : "junk");
    if (kind == 6) bytes[10 + rng() % (bytes.size() - 18)] ^= static_cast<char>(1 + rng() % 255);
    return bytes;
}

// The lines (as strings) and the final zlib status of a reading.
std::pair<std::vector<std::string>, int> linesOf(const std::string& path, std::size_t lineSize, unsigned gzBuffer,
                                                 std::size_t block, bool gzgetsOnly) {
    inputs::LineReader lines(lineSize, gzBuffer, block, gzgetsOnly);
    std::pair<std::vector<std::string>, int> out;
    if (!lines.open(path)) return {{"(not opened)"}, -100};
    while (char* line = lines.next()) out.first.emplace_back(line);
    out.second = lines.zlibError();
    return out;
}

}  // namespace

// The expression files' reading: short lines, zlib's default buffer, large files so that
// damage falls in later pieces of inflated data too.
TEST(FormulaReadingProperty, LinesAreGzgetsLinesWithTheDefaultBuffer) {
    testsupport::TempDir dir;
    std::mt19937 rng(99);
    for (int round = 0; round < 35; ++round) {
        int quantified = 0;
        std::string text;
        for (int k = 0; k < 1 + round % 5 * 30; ++k) text += formula(rng, &quantified);
        int kind = round % 8;
        std::string path = dir.file("e" + std::to_string(round));
        testsupport::writeFile(path, fileOfKind(rng, text, kind));
        auto reference = linesOf(path, 1024, 8192, 0, true);
        auto blocks = linesOf(path, 1024, 8192, 1 + rng() % 5000, false);
        EXPECT_EQ(blocks.second, reference.second) << "kind " << kind << ", round " << round;
        EXPECT_TRUE(blocks.first == reference.first)
            << "kind " << kind << ", round " << round << ": " << blocks.first.size() << " lines, reference "
            << reference.first.size();
    }
}

TEST(FormulaReadingProperty, BlocksReadWhatGzgetsReads) {
    testsupport::TempDir dir;
    std::mt19937 rng(1512);
    const std::size_t blocks[] = {1, 2, 3, 7, 61, 4096, 1 << 20};
    const char* const kinds[] = {"plain", "gzip", "members", "truncated", "garbage", "magic garbage", "damaged",
                                 "odd header"};
    int compared = 0;
    for (int round = 0; round < 160; ++round) {
        int quantified = 0;
        std::string text = formula(rng, &quantified);
        int kind = round % 8;
        // Members split anywhere: inside numbers, clauses and line ends.
        std::string bytes = fileOfKind(rng, text, kind);
        std::string path = dir.file("f" + std::to_string(round) + (kind ? ".qdimacs.gz" : ".qdimacs"));
        testsupport::writeFile(path, bytes);
        int reject = rng() % 3 == 0 ? static_cast<int>(rng() % 50) : -1;
        Read reference = readWith(path, 0, quantified + 1, reject);
        for (int k = 0; k < 2; ++k) {
            std::size_t block = blocks[rng() % 7];
            Read r = readWith(path, block, quantified + 1, reject);
            EXPECT_TRUE(r == reference) << kinds[kind] << " file, blocks of " << block << " bytes, round " << round
                                        << "\nreference: " << reference.result << " " << reference.clauses.size()
                                        << " clauses " << reference.out << "\nblocks:    " << r.result << " "
                                        << r.clauses.size() << " clauses " << r.out;
            ++compared;
        }
    }
    EXPECT_GE(compared, 280);
}
