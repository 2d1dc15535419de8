// The expression language's parser and canonical printer.
#pragma once

#include <cstddef>

#include "expressions/expression.h"

// 0 direct, 1 inverse, 2 malformed; count receives the number of expressions.
int expClassify(const char* text, int* count);
// A new list, or null when the text is not a valid expression text.
ExpList* expParseList(const char* text);
void expListFree(ExpList* list);
