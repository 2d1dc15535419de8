#include "expressions/parser.h"

// Placeholder until the expression language lands: no text is an expression yet.
int expClassify(const char*, int* count) {
    if (count) *count = 0;
    return 2;
}
ExpList* expParseList(const char*) { return nullptr; }
void expListFree(ExpList* list) { delete list; }
