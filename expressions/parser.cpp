// The "-eval" language: classification of a text as direct, inverse or malformed, the
// recursive-descent parser, the canonical printer and the disposal of a list.
//
// The lexical rules are deliberately loose and scripts depend on them: only the blank
// (code 32) is skipped, keywords are recognised as prefixes with no look at what follows
// ("order" is "or" and "der"), integers are read like the "%i" conversion (which skips
// white space of any kind itself), and a literal swallows everything up to the next
// delimiter.
#include "expressions/parser.h"

#include <climits>
#include <cstring>

#include "expressions/evaluate.h"
#include "expressions/text_sink.h"

namespace {

using expressions::TextSink;

const ExpKindInfo kKinds[] = {
    {"?", 0},  {"", 0},     {"!", 1},   {"and", 2}, {"or", 2},
    {"implies", 2}, {"xor", 2}, {"dc", 1},
};

// Keywords in the order they are tried.
struct Keyword {
    const char* text;
    int kind;
};
const Keyword kKeywords[] = {
    {"!", EXP_NOT}, {"not", EXP_NOT}, {"and", EXP_AND}, {"or", EXP_OR},
    {"implies", EXP_IMPLIES}, {"xor", EXP_XOR}, {"dc", EXP_DC},
};

bool isCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// An integer read as the "%i" input conversion reads it: leading white space of any
// kind, an optional sign, then decimal, 0x/0X hexadecimal or 0-prefixed octal digits.
// A number outside the int range is no integer: cut to an int as the C library stores
// it, 99999999999999999999 would name the literal -1.
struct ReadInt {
    bool ok = false;
    int value = 0;
    int end = 0;  // position after the number
};

ReadInt readInt(const char* text, int pos) {
    ReadInt r;
    int p = pos;
    while (isCSpace(text[p])) ++p;
    bool negative = false;
    if (text[p] == '+' || text[p] == '-') {
        negative = text[p] == '-';
        ++p;
    }
    int base = 10;
    if (text[p] == '0') {
        if ((text[p + 1] == 'x' || text[p + 1] == 'X') && digitValue(text[p + 2]) < 16) {
            base = 16;
            p += 2;
        } else {
            base = 8;
        }
    }
    if (digitValue(text[p]) >= base) return r;
    unsigned long magnitude = 0;
    const unsigned long limit = negative ? static_cast<unsigned long>(LONG_MAX) + 1 : LONG_MAX;
    bool overflow = false;
    while (digitValue(text[p]) < base) {
        unsigned long d = static_cast<unsigned long>(digitValue(text[p]));
        if (!overflow && magnitude > (limit - d) / base) overflow = true;
        if (!overflow) magnitude = magnitude * base + d;
        ++p;
    }
    if (overflow) return r;
    long value;
    if (negative)
        value = magnitude == static_cast<unsigned long>(LONG_MAX) + 1 ? LONG_MIN : -static_cast<long>(magnitude);
    else
        value = static_cast<long>(magnitude);
    if (value < INT_MIN || value > INT_MAX) return r;
    r.ok = true;
    r.value = static_cast<int>(value);
    r.end = p;
    return r;
}

void skipBlanks(const char* text, int* pos) {
    while (text[*pos] == ' ') ++*pos;
}

std::unique_ptr<ExpNode> parseNode(const char* text, int* pos, int depth) {
    if (depth > kExpMaxDepth) return nullptr;
    skipBlanks(text, pos);
    int kind = 0;
    for (const Keyword& k : kKeywords) {
        std::size_t n = std::strlen(k.text);
        if (std::strncmp(text + *pos, k.text, n) == 0) {
            kind = k.kind;
            *pos += static_cast<int>(n);
            skipBlanks(text, pos);
            break;
        }
    }
    auto node = std::make_unique<ExpNode>();
    if (kind == 0) {
        ReadInt r = readInt(text, *pos);
        if (!r.ok || r.value == 0) return nullptr;
        // Whatever follows the digits up to the next delimiter belongs to the literal.
        int p = *pos;
        while (text[p] != '\0' && std::strchr("()>,", text[p]) == nullptr) ++p;
        *pos = p;
        node->kind = EXP_LIT;
        node->literal = r.value;
        return node;
    }
    node->kind = kind;
    if (text[*pos] == '(') {
        ++*pos;
        skipBlanks(text, pos);
        node->left = parseNode(text, pos, depth + 1);
        if (!node->left) return nullptr;
        skipBlanks(text, pos);
        if (expIsBinary(kind)) {
            if (text[*pos] != ',') return nullptr;
            ++*pos;
            skipBlanks(text, pos);
            node->right = parseNode(text, pos, depth + 1);
            if (!node->right) return nullptr;
            skipBlanks(text, pos);
        }
        if (text[*pos] != ')') return nullptr;
        ++*pos;
        skipBlanks(text, pos);
        return node;
    }
    if (expIsBinary(kind)) return nullptr;
    node->left = parseNode(text, pos, depth + 1);
    if (!node->left) return nullptr;
    return node;
}

// Skips blanks, requires c, skips it and the blanks after it.
bool expect(const char* text, int* pos, char c) {
    skipBlanks(text, pos);
    if (text[*pos] != c) return false;
    ++*pos;
    skipBlanks(text, pos);
    return true;
}

int textLengthAt(const char* text, int p) {
    int i = p - 1;
    while (i > 0 && text[i] == ' ') --i;
    return i + 1;
}

bool parseScenario(const char* text, int* pos, IntVector& scenario) {
    if (!expect(text, pos, '(')) return false;
    for (;;) {
        ReadInt r = readInt(text, *pos);
        int v = r.ok ? r.value : 0;
        if (v != 0) {
            scenario.append(v);
            int p = *pos;
            while (text[p] != '\0' && text[p] != ')' && text[p] != ',') ++p;
            *pos = p;
        }
        skipBlanks(text, pos);
        if (text[*pos] == ')') {
            ++*pos;
            skipBlanks(text, pos);
            return true;
        }
        if (text[*pos] != ',' || v == 0) return false;
        ++*pos;
        skipBlanks(text, pos);
    }
}

// Canonical text of a tree, without recursion: an explicit stack of (node, next operand).
void formatNode(TextSink& out, const ExpNode* root) {
    struct Frame {
        const ExpNode* node;
        int stage;
    };
    std::vector<Frame> stack;
    stack.push_back({root, 0});
    while (!stack.empty() && !out.full()) {
        Frame& f = stack.back();
        const ExpNode* n = f.node;
        if (!n) {
            stack.pop_back();
            continue;
        }
        if (n->kind == EXP_LIT) {
            out.number(n->literal);
            stack.pop_back();
            continue;
        }
        if (f.stage == 0) {
            out.put(expKindInfo(n->kind).name);
            out.put('(');
            f.stage = 1;
            stack.push_back({n->left.get(), 0});
        } else if (f.stage == 1 && expIsBinary(n->kind)) {
            out.put(',');
            f.stage = 2;
            stack.push_back({n->right.get(), 0});
        } else {
            out.put(')');
            stack.pop_back();
        }
    }
}

void formatOne(TextSink& out, const ExpList* list, int index) {
    const ExpNode* node = list->exprs[index].get();
    bool bracket = list->direct() && node && node->kind != EXP_LIT;
    if (bracket) out.put('<');
    formatNode(out, node);
    if (bracket) out.put('>');
}

}  // namespace

const ExpKindInfo& expKindInfo(int kind) {
    if (kind < EXP_LIT || kind > EXP_DC) return kKinds[0];
    return kKinds[kind];
}

ExpNode::~ExpNode() {
    // A deep tree would take the recursive destructor as deep as the tree: move the
    // subtrees onto a list first, so that every node dies childless.
    std::vector<std::unique_ptr<ExpNode>> pending;
    if (left) pending.push_back(std::move(left));
    if (right) pending.push_back(std::move(right));
    while (!pending.empty()) {
        std::unique_ptr<ExpNode> n = std::move(pending.back());
        pending.pop_back();
        if (n->left) pending.push_back(std::move(n->left));
        if (n->right) pending.push_back(std::move(n->right));
    }
}

IntVector::IntVector(int initialCapacity) : capacity(initialCapacity > 0 ? initialCapacity : 0) {
    items.resize(static_cast<std::size_t>(capacity));
}

void IntVector::append(int value) {
    if (count == capacity) {
        capacity = capacity == 0 ? 5 : 2 * capacity;
        items.resize(static_cast<std::size_t>(capacity));
    }
    items[static_cast<std::size_t>(count++)] = value;
}

int expClassify(const char* text, int* count) {
    int n = 1;
    int p = 0;
    while (text[p] == ' ') ++p;
    if (text[p] == '<') {
        int depth = 0;
        ++p;
        while (text[p] != '\0' && text[p] != '>') {
            if (text[p] == '(')
                ++depth;
            else if (text[p] == ')')
                --depth;
            else if (text[p] == ',' && depth == 0)
                ++n;
            ++p;
        }
        *count = n;
        if (text[p] != '>') return 2;
        ++p;
        while (text[p] == ' ') ++p;
        return text[p] == '(' ? 0 : 1;
    }
    *count = 1;
    ReadInt first = readInt(text, 0);
    bool leadingInteger = first.ok && first.value != 0;
    int depth = 0;
    bool closedGroup = false;
    bool anyParen = false;
    for (p = 0; text[p] != '\0'; ++p) {
        if (text[p] == '(') {
            anyParen = true;
            ++depth;
            if (depth == 1 && closedGroup) return 0;
        } else if (text[p] == ')') {
            --depth;
            if (depth == 0) closedGroup = true;
        }
    }
    if (leadingInteger) return anyParen ? 0 : 1;
    return anyParen ? 1 : 2;
}

std::unique_ptr<ExpNode> expParseNode(const char* text, int* pos) { return parseNode(text, pos, 0); }

ExpList* expParseList(const char* text) {
    auto list = std::make_unique<ExpList>();
    int count = 0;
    int mode = expClassify(text, &count);
    if (mode == 2) return nullptr;
    list->mode = mode;
    list->count = count;
    list->exprs.resize(static_cast<std::size_t>(count));
    int pos = 0;
    if (count > 1 && !expect(text, &pos, '<')) return nullptr;
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !expect(text, &pos, ',')) return nullptr;
        list->exprs[i] = expParseNode(text, &pos);
        if (!list->exprs[i]) return nullptr;
    }
    if (count > 1 && !expect(text, &pos, '>')) return nullptr;
    if (mode == 0) {
        // Trailing characters of an inverse text are never looked at; a direct text
        // goes on with its scenario.
        list->scenario = std::make_unique<IntVector>(count);
        if (!parseScenario(text, &pos, *list->scenario)) return nullptr;
    }
    list->textLength = textLengthAt(text, pos);
    return list.release();
}

int expFormatNode(char* buffer, std::size_t size, const ExpNode* node) {
    TextSink out(buffer, size);
    formatNode(out, node);
    return out.length();
}

int expFormatList(char* buffer, std::size_t size, const ExpList* list, int index, bool withResults) {
    TextSink out(buffer, size);
    if (index >= 0 || list->count == 1) {
        formatOne(out, list, index >= 0 ? index : 0);
    } else {
        out.put('<');
        for (int i = 0; i < list->count && !out.full(); ++i) {
            if (i > 0) out.put(',');
            formatNode(out, list->exprs[i].get());
        }
        out.put('>');
    }
    if (list->direct() && list->scenario) {
        out.put('(');
        const IntVector& s = *list->scenario;
        for (int i = 0; i < s.count && !out.full(); ++i) {
            out.number(s[i]);
            if (i + 1 < s.count) out.put(',');
        }
        out.put(')');
    }
    if (withResults) {
        out.put(" = ");
        int n = expFormatResults(out.end(), out.room(), list, index);
        out.advance(n);
    }
    return out.length();
}

void expListFree(ExpList* list) { delete list; }
