// The BDD engine: one manager, reference-counted handles and the operations the
// certificate work needs. This header is the only face of the engine; the package
// underneath (BuDDy) is included by bdd/engine.cpp alone.
//
// Only one manager is live at a time. That is enough for Plumex: every instance runs
// alone in its process (or forked child), and a certificate owns the one manager.
//
// Handles carry the generation of the manager that made them. In debug builds every
// operation on a handle of another manager ends with the abnormal exit; in release
// builds that check is compiled out. Either way a handle that outlives its manager may
// still be destroyed: it then leaves the engine alone.
#pragma once

#include <cstdint>
#include <functional>
#include <type_traits>
#include <vector>

namespace bdd {

class Bdd;

// The live manager. Variables are numbered by index 0..size()-1; each index sits at a
// level of the current order (level 0 on top). A variable used beyond size() is created
// on demand at the bottom of the order, as the DDDMP loader of the reference library does.
class Manager {
  public:
    // inputBytes: the size of the file the BDDs come from, which sizes the operator
    // caches (small inputs, small caches); -1 when there is none or it is unknown.
    explicit Manager(int numVars, long inputBytes = -1);
    ~Manager();
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    // Number of variables (what the reference library calls the manager size).
    int size() const;
    void ensureVars(int numVars);

    int levelOf(int index) const;
    int indexAt(int level) const;
    // Puts the variables in this order (levelToIndex[level] = index, a permutation of
    // 0..size()-1); functions are kept. Nothing happens when it is the order in force.
    void setOrder(const std::vector<int>& levelToIndex);
    // A change of order (setOrder, reorder(), automatic reordering) costs time in the
    // square of the variable count however few nodes there are (a bit per pair of
    // variables, a swap per pair out of order: 0.06 s for 256 variables, 0.3 s for 512,
    // 6 s for 2,048). Up to this many variables a builder may set an order of its own
    // for free, as it were; beyond, it keeps the order it has.
    static constexpr int kCheapOrderVariables = 512;

    // Dynamic reordering, chosen by the reference library's method number (1 = none).
    void enableReordering(int cuddMethod);
    void disableReordering();
    // Reorders now, with the method of automatic reordering (nothing while that is off),
    // the hooks around it: for builders that keep their BDDs small between operations
    // instead of waiting for the node table to fill.
    void reorder();
    // Called around every reordering, automatic or forced.
    void setReorderHooks(std::function<void()> pre, std::function<void()> post);

    // Nodes in use in the node table: those the live handles hold, and garbage not yet
    // collected (a collection runs when the table fills). Constant time, so builders may
    // ask after every operation.
    long liveNodes() const;
    // For builders that give up on BDDs above a budget: true when the live handles hold at
    // most `budget` nodes, give or take an eighth. Constant time while liveNodes() is
    // within the budget; above it, one garbage collection tells, and another comes only
    // after budget/8 more nodes. A single operation is not interrupted: the check goes
    // between operations, and the node limit below still ends a runaway one.
    bool withinNodes(long budget);
    // The most nodes the table may hold: what it held when the manager was made plus what
    // the memory the process may still use pays for (bdd/memory_bound.h: available
    // memory, control-group limits, RLIMIT_AS, RLIMIT_DATA). Past it the run ends with
    // MEMOUT, as it does when the table is at its limit and a collection frees almost
    // nothing.
    long nodeLimit() const;

    static bool live();
    // The live manager (abnormal exit when there is none).
    static Manager& current();

  private:
    friend class Bdd;
    friend struct ManagerAccess;
    std::uint32_t generation_ = 0;  // stamped on every handle this manager makes
    int size_ = 0;                  // the manager size as the reference library counts it
    long checkedBudget_ = -1;       // withinNodes answers yes for this budget up to
    long collectedUpTo_ = 0;        // this many nodes without collecting
    std::function<void()> preHook_;
    std::function<void()> postHook_;
};

// Which BuDDy method stands in for a reference-library reordering method number.
int engineMethodFor(int cuddMethod);

// A handle that holds one reference on a node for as long as it lives. A default
// handle is null (no function), as an absent entry of a certificate table.
class Bdd {
  public:
    Bdd() = default;
    Bdd(const Bdd& other);
    Bdd(Bdd&& other) noexcept;
    Bdd& operator=(const Bdd& other);
    Bdd& operator=(Bdd&& other) noexcept;
    ~Bdd();

    bool isNull() const { return node_ < 0; }
    explicit operator bool() const { return !isNull(); }
    bool isOne() const;
    bool isZero() const;
    bool isConstant() const { return isOne() || isZero(); }
    bool operator==(const Bdd& other) const {
        check();
        other.check();
        return node_ == other.node_;
    }
    bool operator!=(const Bdd& other) const { return !(*this == other); }

    Bdd operator!() const;
    Bdd operator&(const Bdd& other) const;
    Bdd operator|(const Bdd& other) const;
    Bdd operator^(const Bdd& other) const;
    Bdd& operator&=(const Bdd& other) { return *this = *this & other; }
    Bdd& operator|=(const Bdd& other) { return *this = *this | other; }

    // Node traversal, one node at a time: only for non-constant nodes. Whole graphs are
    // walked with visitNodes.
    int var() const;   // variable index of the top node
    Bdd high() const;  // then-child
    Bdd low() const;   // else-child

    void release();  // drop the reference now; the handle becomes null

  private:
    explicit Bdd(int node, bool adopt);
#ifdef NDEBUG
    void check() const {}
#else
    // Abnormal exit unless the handle is null or made by the live manager.
    void check() const;
#endif
    int node_ = -1;
    std::uint32_t generation_ = 0;
    friend struct RawNodes;
    friend struct ManagerAccess;
    friend Bdd one();
    friend Bdd zero();
    friend Bdd ithVar(int);
    friend Bdd exist(const Bdd&, const Bdd&);
    friend Bdd cofactor(const Bdd&, const Bdd&);
    friend Bdd ite(const Bdd&, const Bdd&, const Bdd&);
    friend class NodeBuilder;
    friend Bdd conjunctionInPlace(std::vector<Bdd>&);
};

// Nodes made directly from their variable and children, as a file loader builds a
// forest from the bottom up: no operation per node. Automatic reordering waits while a
// builder lives (the node table may grow under it, but the variable order may not).
class NodeBuilder {
  public:
    NodeBuilder();
    ~NodeBuilder();
    NodeBuilder(const NodeBuilder&) = delete;
    NodeBuilder& operator=(const NodeBuilder&) = delete;

    // Room in the node table for this many more nodes, so that building them sets off
    // no collection and no step-by-step growth.
    void reserve(long nodes);
    // "if variable index then high else low": joined directly where both children lie
    // below the variable in the order (or are constants), through ite otherwise.
    Bdd node(int index, const Bdd& low, const Bdd& high);
};

// ---- node visitor ----
// A pointer from one node of a walk to another: the visitor's own index of the target
// node, the label the caller gave that node when it was visited, and whether the edge
// stands for the target's negation. An engine without complement edges never sets the
// flag, but walkers must honour it.
struct Edge {
    int node;
    int label;
    bool complemented;
};

// One node of a walk. Indices are the visitor's own, dense and in visiting order
// (0, 1, 2, ...); they mean nothing to the engine. A constant node has var -1, its
// value in `value` and no children (an engine with complement edges has the one
// constant `true` only; this one has two).
struct VisitedNode {
    int index;
    int var;
    bool value;
    Edge thenChild;
    Edge elseChild;
};

// Calls visit(node) once for every node of the roots (constants included), children
// before parents: the roots in order, each walked depth-first, then-child before
// else-child, a node visited when both its children are. The DDDMP numbering and the
// AIGER gate order depend on this order. visit returns the node's label (the caller's
// own number for it: a literal, a file node number), which the edges to the node carry
// from then on, so that a walker needs no table of its own. Roots must not be null,
// and visit must create no node. Returns the edge to each root.
template <typename Visit>
std::vector<Edge> visitNodes(const std::vector<Bdd>& roots, Visit&& visit);

// The visitor behind the template: one call through a function pointer per node.
using NodeCallback = int (*)(void* context, const VisitedNode& node);
std::vector<Edge> visitNodes(const std::vector<Bdd>& roots, NodeCallback callback, void* context);

template <typename Visit>
std::vector<Edge> visitNodes(const std::vector<Bdd>& roots, Visit&& visit) {
    using V = std::remove_reference_t<Visit>;
    return visitNodes(
        roots, [](void* context, const VisitedNode& node) -> int { return (*static_cast<V*>(context))(node); },
        const_cast<void*>(static_cast<const void*>(&visit)));
}

Bdd one();
Bdd zero();
Bdd ithVar(int index);                         // the variable with this index (created on demand)
// The conjunction of these variables, built from the bottom level up, so that its cost
// is linear in the count (from the top, each step would rebuild the cube so far).
Bdd positiveCube(std::vector<int> indices);
// The conjunction of these functions, taken from the one whose top variable is lowest
// upwards: for literals (a cube) each step then costs one node. The in-place form
// reorders the factors (for callers that keep one buffer across many calls).
Bdd conjunction(std::vector<Bdd> factors);
Bdd conjunctionInPlace(std::vector<Bdd>& factors);
Bdd exist(const Bdd& f, const Bdd& cube);      // exists the variables of a positive cube
Bdd cofactor(const Bdd& f, const Bdd& cube);   // f restricted by a cube of literals
Bdd ite(const Bdd& c, const Bdd& t, const Bdd& e);
double mintermFraction(const Bdd& f);          // share of all assignments that satisfy f
int nodeCount(const Bdd& f);                   // BuDDy nodes of f (no complement edges)

}  // namespace bdd
