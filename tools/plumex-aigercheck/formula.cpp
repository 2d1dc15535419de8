#include "formula.h"

#include <zlib.h>

#include <cstdlib>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

namespace aigercheck {

namespace {

// Variables are table indices here and in the solver: keep them to a size that fits.
constexpr long kMaxVar = 1L << 26;

bool readAll(const std::string& path, std::string& data) {
    gzFile gz = gzopen(path.c_str(), "rb");
    if (!gz) return false;
    char buffer[1 << 16];
    int n;
    while ((n = gzread(gz, buffer, sizeof buffer)) > 0) data.append(buffer, static_cast<size_t>(n));
    bool good = n == 0;
    gzclose(gz);
    return good;
}

}  // namespace

FormulaRead readFormula(const std::string& path) {
    FormulaRead r;
    std::string data;
    if (!readAll(path, data)) {
        r.error = "cannot read \"" + path + "\"";
        return r;
    }
    Formula& f = r.formula;
    bool header = false, inBody = false;
    long declared = 0;
    long aboveDeclared = 0;
    std::set<long> quantifiedAbove;
    int blocks = 0;
    char lastQuantifier = 0;
    std::vector<std::pair<char, std::vector<int>>> prefix;
    std::vector<int> clause;
    size_t pos = 0, lineNo = 0;
    auto fail = [&](const std::string& what) {
        r.error = what + " at line " + std::to_string(lineNo);
        return r;
    };
    while (pos < data.size()) {
        size_t end = data.find('\n', pos);
        if (end == std::string::npos) end = data.size();
        std::string line = data.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        const char* p = line.c_str();
        while (*p == ' ' || *p == '\t' || *p == '\r') ++p;
        if (*p == '\0' || *p == 'c') continue;
        if (*p == 'p') {
            long clauses = 0;
            if (header || std::sscanf(p, "p cnf %ld %ld", &declared, &clauses) != 2 || declared < 0 ||
                declared > kMaxVar)
                return fail("bad or repeated \"p cnf\" line");
            header = true;
            continue;
        }
        if (!header) return fail("no \"p cnf\" line before");
        char q = 0;
        if (*p == 'a' || *p == 'e') {
            if (inBody) return fail("quantifier line after the first clause");
            q = *p++;
            if (q != lastQuantifier) {
                prefix.push_back({q, {}});
                lastQuantifier = q;
            }
        } else {
            inBody = true;
        }
        while (true) {
            char* after;
            long v = std::strtol(p, &after, 10);
            if (after == p) {
                while (*after == ' ' || *after == '\t' || *after == '\r') ++after;
                if (*after != '\0') return fail("unexpected text");
                break;
            }
            p = after;
            long var = std::labs(v);
            if (var > kMaxVar) return fail("variable " + std::to_string(var) + " out of range");
            // Some formulas undercount on their problem line: a variable the prefix
            // quantifies is known above the count too; an unquantified one is not.
            if (q && var > declared) {
                quantifiedAbove.insert(var);
                aboveDeclared = std::max(aboveDeclared, var);
            }
            if (!q && var > declared && !quantifiedAbove.count(var))
                return fail("variable " + std::to_string(var) + " above the \"p cnf\" count");
            if (q) {
                if (v == 0) break;
                if (v < 0) return fail("negative number in a quantifier line");
                prefix.back().second.push_back(static_cast<int>(v));
            } else if (v == 0) {
                f.clauses.push_back(clause);
                clause.clear();
            } else {
                clause.push_back(static_cast<int>(v));
            }
        }
    }
    if (!header) {
        r.error = "no \"p cnf\" line";
        return r;
    }
    if (!clause.empty()) f.clauses.push_back(clause);  // a last clause without its 0
    f.maxVar = static_cast<int>(std::max(declared, aboveDeclared));
    f.quantifier.assign(f.maxVar + 1, 'e');
    f.block.assign(f.maxVar + 1, 0);
    std::vector<char> seen(f.maxVar + 1, 0);
    for (auto& [q, vars] : prefix) {
        ++blocks;
        for (int v : vars) {
            if (seen[v]) {
                r.error = "variable " + std::to_string(v) + " quantified twice";
                return r;
            }
            seen[v] = 1;
            f.quantifier[v] = q;
            f.block[v] = blocks;
            if (q == 'a') f.universals.push_back(v);
        }
    }
    for (int v = 1; v <= f.maxVar; ++v)
        if (!seen[v]) f.existentials.push_back(v);
    for (auto& [q, vars] : prefix)
        if (q == 'e') f.existentials.insert(f.existentials.end(), vars.begin(), vars.end());
    r.ok = true;
    return r;
}

}  // namespace aigercheck
