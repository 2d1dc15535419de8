// The DDDMP loader: one array dump read from a stream. The first byte picks the mode
// the caller asks for ('A' text, 'B' binary, anything else: either), the rest is the dump.
#include <cstdio>

#include "bdd/dddmp.h"
#include "bdd/engine.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::silenceOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    char mode = data[0] == 'A' || data[0] == 'B' ? static_cast<char>(data[0]) : 'D';
    std::string path = fuzzsupport::writeInput(data + 1, size - 1, "input.dddmp");
    // One manager for the whole run: a manager per input would cost more than the load.
    static bdd::Manager manager(4);
    fuzzsupport::guarded([&] {
        std::FILE* fp = std::fopen(path.c_str(), "rb");
        if (!fp) return;
        dddmp::LoadResult result = dddmp::loadArray(fp, mode);
        std::fclose(fp);
        if (result.ok()) {
            // What the loader hands out must be usable: count the shared nodes.
            (void)dddmp::sharingSize(*result);
        }
    });
    return 0;
}
