// The QDIMACS reader: a formula read from its path against a certificate of a few
// variables (the first byte is the number of prefix variables it expects), every clause
// accepted, so that the whole file is read.
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
        long literals = 0;
        qdimacs::read(
            path, expect,
            [&](const int* lits, int count) {
                for (int i = 0; i < count; ++i) literals += lits[i] != 0;
                return 1;
            },
            [](const qdimacs::Prefix&) { return 1; });
    });
    return 0;
}
