// The expression language's parser, canonical printer and disposal.
#pragma once

#include <cstddef>

#include "expressions/expression.h"

// 0 direct, 1 inverse, 2 malformed; count receives the number of expressions. Looks at
// the text only, it does not parse it.
int expClassify(const char* text, int* count);

// A new list, or null when the text is not a valid expression text.
ExpList* expParseList(const char* text);

// One expression from text[*pos]; *pos moves past it and the blanks after it. Null on
// failure (*pos is then unspecified).
std::unique_ptr<ExpNode> expParseNode(const char* text, int* pos);

// Canonical text, written with bounded formatting: a text that does not fit is cut at
// the end of the buffer (which always ends up terminated); the count returned is the
// number of characters written, never more than size - 1.
int expFormatNode(char* buffer, std::size_t size, const ExpNode* node);
// Expression index of the list, or the whole list for index -1; with withResults,
// " = " and the results text follow.
int expFormatList(char* buffer, std::size_t size, const ExpList* list, int index, bool withResults);

void expListFree(ExpList* list);
