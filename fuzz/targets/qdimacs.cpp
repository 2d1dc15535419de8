// The QDIMACS reader: a formula read from its path against a certificate of a few
// variables (the first byte is the number of prefix variables it expects), every clause
// accepted, so that the whole file is read. It is read twice, a line at a time with
// zlib's gzgets and in blocks of a few bytes (their size follows from the input's), and
// both readings must give the same clauses and the same result.
#include <vector>

#include "inputs/qdimacs_reader.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::silenceOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    qdimacs::Expect expect;
    expect.numVars = 1 + data[0];
    expect.maxKnown = expect.numVars - 1;
    std::string path = fuzzsupport::writeInput(data + 1, size - 1, "input.qdimacs");
    fuzzsupport::guarded([&] {
        auto readWith = [&](std::size_t block, std::vector<int>& seen) {
            qdimacs::setBlockBytes(block);
            int result = qdimacs::read(
                path, expect,
                [&](const int* lits, int count) {
                    seen.insert(seen.end(), lits, lits + count);
                    seen.push_back(0);
                    return 1;
                },
                steps::silent(), [](const qdimacs::Prefix&) { return 1; });
            qdimacs::setBlockBytes(1 << 20);
            return result;
        };
        std::vector<int> reference, blocks;
        std::size_t lineSize = qdimacs::lineSize();
        int a = readWith(0, reference);
        // A line that did not fit grew the line size for every later read: the second
        // reading would not start over where the first did.
        if (qdimacs::lineSize() != lineSize) return;
        int b = readWith(1 + size % 97, blocks);
        if (a != b || reference != blocks) __builtin_trap();
    });
    return 0;
}
