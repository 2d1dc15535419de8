// The maxterm CNF store of one root: one clause per path to logical zero, with the
// reference library's comment header, literal order and shortcut.
#include <algorithm>
#include <cstdio>
#include <string>

#include "bdd/dddmp.h"
#include "bdd/dddmp_form.h"
#include "bdd/dddmp_io.h"
#include "bdd/engine_raw.h"

namespace dddmp {

namespace {

using detail::Out;

// The "p cnf" values are known only after the clauses; the line is written padded to
// this width and filled in afterwards, as the reference writer does.
constexpr int kPLineWidth = 22;
constexpr int kRootIdsWidth = 11;

void padded(Out& out, const std::string& text, int width) {
    out.put(text);
    for (int k = static_cast<int>(text.size()); k < width; ++k) out.put(' ');
}

enum Literal : unsigned char { None = 0, Positive = 1, Negative = 2 };

}  // namespace

bool storeCnfMaxterm(std::FILE* fp, const bdd::Bdd& root, const std::vector<int>& cnfIds, int* clauses,
                     int* newVars) {
    if (clauses) *clauses = 0;
    if (newVars) *newVars = 0;
    detail::Form form = detail::buildForm({root});
    bdd::Manager& manager = bdd::Manager::current();
    if (!form.support.empty() && static_cast<int>(cnfIds.size()) <= form.support.back()) return false;
    long start = std::ftell(fp);
    if (start < 0) return false;  // the stream must be seekable

    Out out(fp);
    out.put("c # BDD stored by the DDDMP tool in CNF format\nc #\n"
            "c # Warning: BDD IDs missing ... evaluating them.\nc # \n"
            "c # Warning: AUX IDs missing ... equal to BDD IDs.\nc #\n"
            "c # Warning: null variable names ... create DUMMY names.\nc #\n"
            "c .ver DDDMP-2.0\nc .nnodes ");
    out.num(form.nnodes);
    out.put("\nc .nvars ");
    out.num(manager.size());
    out.put("\nc .nsuppvars ");
    out.num(static_cast<long>(form.support.size()));
    out.put("\nc .suppvarnames");
    for (int index : form.support) {
        out.put(" DUMMY");
        out.num(index);
    }
    out.put("\nc .orderedvarnames");
    for (int index = 0; index < manager.size(); ++index) {
        out.put(" DUMMY");
        out.num(index);
    }
    // These four lists have a space after the key and one before every value.
    out.put("\nc .ids ");
    for (int index : form.support) { out.put(' '); out.num(index); }
    out.put("\nc .permids ");
    for (int index : form.support) { out.put(' '); out.num(manager.levelOf(index)); }
    out.put("\nc .auxids ");
    for (int index : form.support) { out.put(' '); out.num(index); }
    out.put("\nc .cnfids ");
    for (int index : form.support) { out.put(' '); out.num(cnfIds[index]); }
    out.put("\nc .nroots 1\nc .rootids");
    // Constant roots write no clause at all, the constant 0 included (which the file
    // then wrongly shows as true); callers deal with constants themselves.
    bool constant = root.isConstant();
    padded(out, constant ? " -1" : " 1", kRootIdsWidth);
    out.put("\nc .nAddedCnfVar 0\nc #\nc # Init CNF Clauses\nc #\np cnf");
    long pLine = start + out.written();
    padded(out, "", kPLineWidth);
    out.put('\n');

    long count = 0;
    int maxId = -1;
    if (!constant) {
        // Depth-first over the paths, else branch first. A variable whose other child
        // is logical zero is left out of the clauses below its non-zero child.
        std::vector<unsigned char> literal(static_cast<std::size_t>(manager.size()), None);
        struct Frame {
            int node;
            int stage;  // 0: else branch next, 1: then branch next, 2: done
        };
        std::vector<Frame> stack{{bdd::RawNodes::of(root), 0}};
        std::vector<int> clause;
        while (!stack.empty()) {
            Frame& top = stack.back();
            int n = top.node;
            if (n <= 1) {
                if (n == 0) {
                    // The clause lists its literals by increasing variable index.
                    clause.clear();
                    for (const Frame& f : stack)
                        if (f.node > 1 && literal[bdd::RawNodes::var(f.node)]) clause.push_back(bdd::RawNodes::var(f.node));
                    std::sort(clause.begin(), clause.end());
                    for (int index : clause) {
                        int id = cnfIds[index];
                        if (id > maxId) maxId = id;
                        out.num(literal[index] == Positive ? id : -id);
                        out.put(' ');
                    }
                    out.put("0\n");
                    ++count;
                }
                stack.pop_back();
                continue;
            }
            int v = bdd::RawNodes::var(n);
            int lo = bdd::RawNodes::low(n), hi = bdd::RawNodes::high(n);
            if (top.stage == 0) {
                top.stage = 1;
                literal[v] = hi == 0 ? None : Positive;
                stack.push_back({lo, 0});
            } else if (top.stage == 1) {
                top.stage = 2;
                literal[v] = lo == 0 ? None : Negative;
                stack.push_back({hi, 0});
            } else {
                literal[v] = None;
                stack.pop_back();
            }
        }
    }
    out.put("c # End of Cnf From dddmp-2.0\n");
    if (!out.finish()) return false;

    // Fill in the "p cnf" line and leave the stream at the end of what was written
    // (the reference writer leaves it after the "p cnf" line instead, so that anything
    // written after it would overwrite the clauses).
    std::string values = " " + std::to_string(maxId) + " " + std::to_string(count);
    values.resize(kPLineWidth, ' ');
    if (std::fseek(fp, pLine, SEEK_SET) != 0) return false;
    if (std::fwrite(values.data(), 1, values.size(), fp) != values.size()) return false;
    if (std::fseek(fp, 0, SEEK_END) != 0 || std::fflush(fp) != 0) return false;
    if (clauses) *clauses = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
    return true;
}

}  // namespace dddmp
