// The expression parser: classification, parsing and the canonical text in the buffer
// sizes the callers use; a canonical text must parse again to the same text.
#include <cstdlib>
#include <cstring>
#include <string>

#include "expressions/parser.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::silenceOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, std::strlen(text.c_str()));
    fuzzsupport::guarded([&] {
        int count = 0;
        expClassify(text.c_str(), &count);
        ExpList* list = expParseList(text.c_str());
        if (!list) return;
        static char small[100], medium[1000], large[1 << 16];
        expFormatList(small, sizeof small, list, -1, false);
        expFormatList(medium, sizeof medium, list, 0, false);
        int n = expFormatList(large, sizeof large, list, -1, false);
        // The canonical text reads back as itself; not so a single direct expression
        // that is no literal, which prints bracketed ("<or(1,2)>(3)"), a form the
        // grammar keeps for lists of two or more.
        bool bracketedSingle = list->mode == 0 && list->count == 1 && list->exprs[0]->kind != EXP_LIT;
        if (n < static_cast<int>(sizeof large) - 1 && !bracketedSingle) {
            ExpList* again = expParseList(large);
            if (!again) std::abort();
            static char second[1 << 16];
            expFormatList(second, sizeof second, again, -1, false);
            if (std::strcmp(large, second) != 0) std::abort();
            expListFree(again);
        }
        expListFree(list);
    });
    return 0;
}
