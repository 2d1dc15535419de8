// Engine nodes to the complement-edge form of the DDDMP files (see dddmp_form.h).
#include "bdd/dddmp_form.h"

#include <cstdint>
#include <cstdlib>

#include "bdd/dddmp.h"
#include "outcomes/outcome.h"

namespace dddmp::detail {

namespace {

// Open-addressing table from (var, then, signed else) to the node number that has
// them; the keys live in the form's arrays, the table only holds node numbers.
class NodeTable {
  public:
    explicit NodeTable(const Form& form) : form_(form), slots_(1u << 12, 0) {}

    // The node with these fields, or 0 when there is none yet; `slot` is where to
    // insert it then.
    int find(int var, int thenNode, int elseNode, std::size_t* slot) const {
        std::size_t mask = slots_.size() - 1;
        std::size_t i = hash(var, thenNode, elseNode) & mask;
        while (int k = slots_[i]) {
            if (form_.var[k] == var && form_.thenNode[k] == thenNode && form_.elseNode[k] == elseNode) return k;
            i = (i + 1) & mask;
        }
        *slot = i;
        return 0;
    }

    void insert(std::size_t slot, int node) {
        slots_[slot] = node;
        if (++used_ * 2 > slots_.size()) grow();
    }

  private:
    static std::size_t hash(int var, int thenNode, int elseNode) {
        std::uint64_t h = static_cast<std::uint32_t>(var);
        h = h * 0x9E3779B97F4A7C15ull + static_cast<std::uint32_t>(thenNode);
        h = h * 0xC2B2AE3D27D4EB4Full + static_cast<std::uint32_t>(elseNode);
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        return static_cast<std::size_t>(h ^ (h >> 32));
    }

    void grow() {
        std::vector<int> old(slots_.size() * 2, 0);
        old.swap(slots_);
        std::size_t mask = slots_.size() - 1;
        for (int k : old) {
            if (!k) continue;
            std::size_t i = hash(form_.var[k], form_.thenNode[k], form_.elseNode[k]) & mask;
            while (slots_[i]) i = (i + 1) & mask;
            slots_[i] = k;
        }
    }

    const Form& form_;
    std::vector<int> slots_;
    std::size_t used_ = 0;
};

}  // namespace

Form buildForm(const std::vector<bdd::Bdd>& roots, bool withSupport) {
    Form form;
    form.var.push_back(-1);  // slot 0: no node
    form.thenNode.push_back(0);
    form.elseNode.push_back(0);
    bdd::Manager& manager = bdd::Manager::current();
    if (!roots.empty()) {
        // The constant is always the first node finished (the then-path ends there).
        form.nnodes = 1;
        form.var.push_back(-1);
        form.thenNode.push_back(0);
        form.elseNode.push_back(0);
    }
    // Each node's label is its signed file node number: a constant is the file's
    // constant, complemented for false.
    NodeTable table(form);
    for (const bdd::Bdd& root : roots)
        if (root.isNull()) outcome::abnormalExit("Null root in a DDDMP dump", __LINE__, "Dddmp");
    auto sign = [](bdd::Edge e) { return e.complemented ? -e.label : e.label; };
    std::vector<bdd::Edge> rootEdges = bdd::visitNodes(roots, [&](const bdd::VisitedNode& n) {
        if (n.var < 0) return n.value ? 1 : -1;
        int hi = sign(n.thenChild);
        int lo = sign(n.elseChild);
        // n is 1 at all ones exactly when its then-child is: then n is regular.
        bool complemented = hi < 0;
        int thenNode = std::abs(hi);
        int elseNode = (lo < 0) != complemented ? -std::abs(lo) : std::abs(lo);
        std::size_t slot = 0;
        int k = table.find(n.var, thenNode, elseNode, &slot);
        if (!k) {
            k = ++form.nnodes;
            form.var.push_back(n.var);
            form.thenNode.push_back(thenNode);
            form.elseNode.push_back(elseNode);
            table.insert(slot, k);
        }
        return complemented ? -k : k;
    });
    form.rootIds.reserve(rootEdges.size());
    for (bdd::Edge e : rootEdges) form.rootIds.push_back(sign(e));
    if (!withSupport) return form;

    int size = manager.size();
    form.positionOf.assign(static_cast<std::size_t>(size), -1);
    std::vector<char> inSupport(static_cast<std::size_t>(size), 0);
    for (int k = 2; k <= form.nnodes; ++k) inSupport[form.var[k]] = 1;
    for (int index = 0; index < size; ++index)
        if (inSupport[index]) form.support.push_back(index);
    for (int level = 0; level < size; ++level) {
        int index = manager.indexAt(level);
        if (index < size && inSupport[index]) {
            form.positionOf[index] = static_cast<int>(form.byPosition.size());
            form.byPosition.push_back(index);
        }
    }
    return form;
}

}  // namespace dddmp::detail

namespace dddmp {

int sharingSize(const std::vector<bdd::Bdd>& roots) { return detail::buildForm(roots, false).nnodes; }

}  // namespace dddmp
