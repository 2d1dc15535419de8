// The QBM reader: a certificate file read from its path into a model.
#include "files/qbm.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::silenceOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzzsupport::writeInput(data, size, "input.qbm");
    fuzzsupport::guarded([&] { ModelResult read = readQbm(path); });
    return 0;
}
