// Expression files: every line evaluated over a small certificate (two universals,
// three existentials with real true and false sets), the results written beside the
// file. The file is read from its path, like "-eval FILE" does.
#include "certificate/reconstruct.h"
#include "expressions/expression_file.h"
#include "fuzz_support.h"

namespace {

QBModel& model() {
    static std::unique_ptr<QBModel> m = [] {
        // internal 1..3 existential (external 1, 2, 5), 4 and 5 universal (external 3, 4)
        std::unique_ptr<QBModel> made = newReplayModel("f.qdimacs", 6, {0, 4, 5}, {0, 1, 2, 5, 3, 4}, 5);
        bdd::Bdd u1 = bdd::ithVar(1), u2 = bdd::ithVar(2);
        made->posBdd[1] = u1;
        made->negBdd[1] = !u1;
        made->posBdd[2] = u1 & u2;
        made->negBdd[2] = !u2;
        made->posBdd[3] = u1 | u2;
        return made;
    }();
    return *m;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::silenceOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QBModel& m = model();
    std::string path = fuzzsupport::writeInput(data, size, "input.exp");
    fuzzsupport::guarded([&] { Status evaluated = expEvaluateFile(m, path, {}, steps::silent()); });
    fuzzsupport::clearScratch();
    return 0;
}
