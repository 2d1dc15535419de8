// BuDDy behind the engine interface of bdd/engine.h.
#include "bdd/engine.h"
#include "bdd/engine_raw.h"

#include <stdio.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

// BuDDy's header declares a global class named like our namespace; keep it apart.
namespace buddy {
#include <bdd.h>
}
#undef bdd_init
#undef bdd_ithvar
using namespace buddy;
#include <unordered_map>
#include <utility>
#include <vector>

#include "bdd/memory_bound.h"
#include "outcomes/outcome.h"

// BuDDy's own node constructor, table growth, collection and table sizes (exported, not
// in its header).
extern "C" int bdd_makenode(unsigned int level, int low, int high);
extern "C" void bdd_noderesize(int rehash);
extern "C" void bdd_gbc(void);
extern "C" int bdd_prime_lte(int);

namespace bdd {

namespace {

// BuDDy's two constant nodes.
constexpr int kFalse = 0;
constexpr int kTrue = 1;

// BuDDy is one per process, so the engine is too: the live manager (null when there is
// none), and the count of managers made so far, which stamps each one's generation.
// Everything else a manager needs (its size, its reordering hooks) lives in the
// manager itself.
Manager* g_current = nullptr;
std::uint32_t g_managersMade = 0;
// The live manager's node limit, and the table size BuDDy stops growing at (the largest
// prime up to the limit); 0 when no limit was set.
long g_nodeLimit = 0;
long g_fullTable = 0;

void onError(int code) {
    if (code == BDD_MEMORY || code == BDD_NODENUM) outcome::memout();
    outcome::abnormalExit(bdd_errstring(code), __LINE__, "BddEngine");
}

// After a collection: a table that may grow no more and is still nearly full would be
// collected again every few nodes, a run that crawls instead of ending. It ends here.
void afterCollection(int pre, bddGbcStat* stat) {
    if (pre || g_fullTable <= 0) return;
    if (stat->nodes >= g_fullTable && stat->freenodes < stat->nodes / 16) outcome::memout();
}

// Reordering works on blocks; every variable is a block of its own. BuDDy keeps the
// blocks in a list sorted by level and walks it for every block added, so blocks are
// added from the bottom level up: each goes to the front, and the cost stays linear
// (BuDDy's own block-every-variable call, adding from the top, is quadratic and walks
// the list recursively, which overflows the stack for some 100,000 variables).
void blockEveryVariable() {
    bdd_clrvarblocks();
    for (int level = bdd_varnum() - 1; level >= 0; --level) {
        int var = bdd_level2var(level);
        bdd_intaddvarblock(var, var, 1);
    }
}

// The engine always keeps at least one variable: BuDDy cannot run with none.
void growEngine(int numVars) {
    int want = numVars < 1 ? 1 : numVars;
    if (want > bdd_varnum()) {
        bdd_extvarnum(want - bdd_varnum());
        blockEveryVariable();
    }
}

// Nearest BuDDy method for each reordering method number of the reference library.
struct MethodRow {
    int cudd;
    const char* cuddName;
    int engine;
};
constexpr MethodRow kMethods[] = {
    {0, "SAME", BDD_REORDER_NONE},
    {1, "NONE", BDD_REORDER_NONE},
    {2, "RANDOM", BDD_REORDER_RANDOM},
    {3, "RANDOM_PIVOT", BDD_REORDER_RANDOM},
    {4, "SIFT", BDD_REORDER_SIFT},
    {5, "SIFT_CONVERGE", BDD_REORDER_SIFTITE},
    {6, "SYMM_SIFT", BDD_REORDER_SIFT},
    {7, "SYMM_SIFT_CONV", BDD_REORDER_SIFTITE},
    {8, "WINDOW2", BDD_REORDER_WIN2},
    {9, "WINDOW3", BDD_REORDER_WIN3},
    {10, "WINDOW4", BDD_REORDER_WIN3},
    {11, "WINDOW2_CONV", BDD_REORDER_WIN2ITE},
    {12, "WINDOW3_CONV", BDD_REORDER_WIN3ITE},
    {13, "WINDOW4_CONV", BDD_REORDER_WIN3ITE},
    {14, "GROUP_SIFT", BDD_REORDER_SIFT},
    {15, "GROUP_SIFT_CONV", BDD_REORDER_SIFTITE},
    {16, "ANNEALING", BDD_REORDER_SIFT},
    {17, "GENETIC", BDD_REORDER_RANDOM},
    {18, "LINEAR", BDD_REORDER_SIFT},
    {19, "LINEAR_CONVERGE", BDD_REORDER_SIFTITE},
    {20, "LAZY_SIFT", BDD_REORDER_SIFT},
    {21, "EXACT", BDD_REORDER_SIFTITE},
};

}  // namespace

// The private parts the engine's free functions and BuDDy's hooks reach.
struct ManagerAccess {
    static void onReorder(int prestate) {
        if (!g_current) return;
        if (prestate) {
            if (g_current->preHook_) g_current->preHook_();
        } else if (g_current->postHook_) {
            g_current->postHook_();
        }
    }
    static Bdd adopt(int node) { return Bdd(node, false); }
    // A handle made by the live manager holds a reference; a null one, or one of an
    // earlier manager (whose nodes are gone), has none to take or drop.
    static bool ownsReference(int node, std::uint32_t generation) {
        return node >= 0 && g_current && generation == g_current->generation_;
    }
    static void ensureVars(int numVars) {
        if (!g_current) outcome::abnormalExit("No BDD manager", __LINE__, "BddEngine");
        if (numVars > g_current->size_) g_current->ensureVars(numVars);
    }
    static int node(const Bdd& f) {
        f.check();
        return f.node_;
    }
};

int engineMethodFor(int cuddMethod) {
    for (const MethodRow& row : kMethods)
        if (row.cudd == cuddMethod) return row.engine;
    return BDD_REORDER_NONE;
}

namespace {

// Fixed operator caches: with a cache ratio BuDDy resizes its caches when the node
// table grows in the middle of an operation, while the operation still holds a
// pointer into the old cache (heap corruption, seen as crashes in the collector).
// Their size, measured on building and combining a 3M-node forest (bench_hard):
// 64K entries 15.6 s, 256K 12.4 s, 1M 9.2 s; each step costs four times the memory
// of six caches of 24-byte entries (9, 38, 150 MB). Clearing 256K-entry caches costs a
// small instance more than all its work (1,000 logs of a few KB: 26.2 s against 6.9 s
// with 16K entries), so they are sized from the input: an entry per 16 bytes of it,
// a power of two between 2K and 256K. Below 16K entries the gain is the set-up alone:
// a log of 2 KB takes 4.8 ms instead of 6.0 ms, most of the difference page faults.
int cacheEntriesFor(long inputBytes) {
    constexpr int kSmallest = 1 << 11, kLargest = 1 << 18;
    if (inputBytes < 0) return kLargest;
    int entries = kSmallest;
    while (entries < kLargest && static_cast<long>(entries) * 16 < inputBytes) entries *= 2;
    return entries;
}

// The node table's limit: what it holds now plus what the memory the process may still
// use (memory_bound.h) can pay for. A node costs 20 bytes of the table and 8 more while
// the writers walk it (the visitor's slot per table entry); an eighth of the room and
// 32 MB are left for everything else the run holds (the formula's tables, the checks,
// the writers' buffers). The engine numbers nodes with ints: 2^30 at most.
long nodeLimitFor(long long room, long allocated) {
    constexpr long long kBytesPerNode = 32, kMost = 1LL << 30;
    long long spare = kMost;
    if (room != kNoMemoryBound) spare = std::max(0LL, room - room / 8 - (32LL << 20)) / kBytesPerNode;
    return static_cast<long>(std::max<long long>(allocated + 1, std::min(kMost, allocated + spare)));
}

}  // namespace

Manager::Manager(int numVars, long inputBytes) {
    if (g_current) outcome::abnormalExit("Second BDD manager", __LINE__, "BddEngine");
    // The node table starts at four nodes a cache entry, at most 64K: it grows on demand,
    // and a small input should not pay for setting up a table it never fills.
    const int cacheEntries = cacheEntriesFor(inputBytes);
    if (bdd_init(std::min(4 * cacheEntries, 1 << 16), cacheEntries) < 0) outcome::memout();
    // bdd_init puts BuDDy's own handler back (message on standard error, exit 1).
    bdd_error_hook(onError);
    bdd_gbc_hook(afterCollection);
    bdd_resize_hook(nullptr);
    bdd_reorder_verbose(0);
    bdd_reorder_hook(ManagerAccess::onReorder);
    bdd_setmaxincrease(1 << 22);
    g_nodeLimit = nodeLimitFor(memoryHeadroom(), bdd_getallocnum());
    bdd_setmaxnodenum(static_cast<int>(g_nodeLimit));
    g_fullTable = bdd_prime_lte(static_cast<int>(g_nodeLimit));
    g_current = this;
    generation_ = ++g_managersMade;
    size_ = numVars < 0 ? 0 : numVars;
    bdd_setvarnum(size_ < 1 ? 1 : size_);
    blockEveryVariable();
    bdd_autoreorder(BDD_REORDER_NONE);
}

Manager::~Manager() {
    g_current = nullptr;
    g_nodeLimit = g_fullTable = 0;
    bdd_done();
}

bool Manager::live() { return g_current != nullptr; }

Manager& Manager::current() {
    if (!g_current) outcome::abnormalExit("No BDD manager", __LINE__, "BddEngine");
    return *g_current;
}

void Manager::setOrder(const std::vector<int>& levelToIndex) {
    // The order in force costs nothing (BuDDy's own call always rebuilds its reordering
    // tables, a bit per pair of variables).
    bool same = true;
    for (std::size_t level = 0; same && level < levelToIndex.size(); ++level)
        same = levelToIndex[level] >= 0 && levelToIndex[level] < bdd_varnum() &&
               bdd_level2var(static_cast<int>(level)) == levelToIndex[level];
    if (same) return;
    // BuDDy takes the whole order, the always-present spare variable included.
    std::vector<int> order(levelToIndex);
    std::vector<char> seen(bdd_varnum(), 0);
    for (int index : order) {
        if (index < 0 || index >= bdd_varnum() || seen[index])
            outcome::abnormalExit("Bad variable order", __LINE__, "BddEngine");
        seen[index] = 1;
    }
    for (int index = 0; index < bdd_varnum(); ++index)
        if (!seen[index]) order.push_back(index);
    // BuDDy refuses an explicit order while reordering blocks are defined.
    bdd_clrvarblocks();
    bdd_setvarorder(order.data());
    blockEveryVariable();
}

int Manager::size() const { return size_; }

void Manager::ensureVars(int numVars) {
    if (numVars > size_) {
        growEngine(numVars);
        size_ = numVars;
    }
}

int Manager::levelOf(int index) const { return bdd_var2level(index); }
int Manager::indexAt(int level) const { return bdd_level2var(level); }

void Manager::enableReordering(int cuddMethod) {
    bdd_autoreorder(engineMethodFor(cuddMethod));
    bdd_enable_reorder();
}

void Manager::disableReordering() { bdd_autoreorder(BDD_REORDER_NONE); }

void Manager::reorder() {
    int method = bdd_getreorder_method();
    if (method == BDD_REORDER_NONE) return;
    // BuDDy runs the hook around automatic reorderings only.
    ManagerAccess::onReorder(1);
    bdd_reorder(method);
    ManagerAccess::onReorder(0);
}

void Manager::setReorderHooks(std::function<void()> pre, std::function<void()> post) {
    preHook_ = std::move(pre);
    postHook_ = std::move(post);
}

long Manager::liveNodes() const { return bdd_getnodenum(); }

long Manager::nodeLimit() const { return g_nodeLimit; }

bool Manager::withinNodes(long budget) {
    long used = bdd_getnodenum();
    if (used <= budget || (budget == checkedBudget_ && used <= collectedUpTo_)) return true;
    bdd_gbc();
    used = bdd_getnodenum();
    // Within the budget, the next collection waits for budget/8 more nodes.
    checkedBudget_ = budget;
    collectedUpTo_ = used <= budget ? used + budget / 8 : 0;
    return used <= budget;
}

// ---- handles ----

#ifndef NDEBUG
void Bdd::check() const {
    if (node_ >= 0 && !(g_current && generation_ == g_current->generation_))
        outcome::abnormalExit("BDD handle of another manager", __LINE__, "BddEngine");
}
#endif

// A fresh result of BuDDy carries no reference yet: take one before anything else runs.
Bdd::Bdd(int node, bool adopt) : node_(node), generation_(g_current ? g_current->generation_ : 0) {
    if (!adopt && node_ >= 0) bdd_addref(node_);
}

Bdd::Bdd(const Bdd& other) : node_(other.node_), generation_(other.generation_) {
    other.check();
    if (ManagerAccess::ownsReference(node_, generation_)) bdd_addref(node_);
}

Bdd::Bdd(Bdd&& other) noexcept : node_(other.node_), generation_(other.generation_) {
    other.node_ = -1;
}

Bdd& Bdd::operator=(const Bdd& other) {
    if (this != &other) {
        Bdd copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Bdd& Bdd::operator=(Bdd&& other) noexcept {
    if (this != &other) {
        release();
        node_ = other.node_;
        generation_ = other.generation_;
        other.node_ = -1;
    }
    return *this;
}

Bdd::~Bdd() { release(); }

void Bdd::release() {
    // With no manager live, a handle of an earlier one goes quietly (destruction order);
    // with another manager live it was kept across managers, which debug builds refuse.
    if (g_current) check();
    if (ManagerAccess::ownsReference(node_, generation_)) bdd_delref(node_);
    node_ = -1;
}

namespace {
Bdd adopt(int node) { return ManagerAccess::adopt(node); }
}  // namespace

bool Bdd::isOne() const {
    check();
    return node_ == kTrue;
}
bool Bdd::isZero() const {
    check();
    return node_ == kFalse;
}

Bdd Bdd::operator!() const { return adopt(bdd_not(ManagerAccess::node(*this))); }
Bdd Bdd::operator&(const Bdd& other) const {
    return adopt(bdd_and(ManagerAccess::node(*this), ManagerAccess::node(other)));
}
Bdd Bdd::operator|(const Bdd& other) const {
    return adopt(bdd_or(ManagerAccess::node(*this), ManagerAccess::node(other)));
}
Bdd Bdd::operator^(const Bdd& other) const {
    return adopt(bdd_xor(ManagerAccess::node(*this), ManagerAccess::node(other)));
}

int Bdd::var() const { return bdd_var(ManagerAccess::node(*this)); }
Bdd Bdd::high() const { return adopt(bdd_high(ManagerAccess::node(*this))); }
Bdd Bdd::low() const { return adopt(bdd_low(ManagerAccess::node(*this))); }

int RawNodes::var(int node) { return bdd_var(node); }
int RawNodes::low(int node) { return bdd_low(node); }
int RawNodes::high(int node) { return bdd_high(node); }

Bdd one() { return Bdd(kTrue, true); }
Bdd zero() { return Bdd(kFalse, true); }

Bdd ithVar(int index) {
    ManagerAccess::ensureVars(index + 1);
    return adopt(bdd_ithvar(index));
}

Bdd positiveCube(std::vector<int> indices) {
    if (indices.empty()) return one();
    // one growth for all of them, not one per new variable
    Manager::current().ensureVars(*std::max_element(indices.begin(), indices.end()) + 1);
    std::vector<Bdd> literals;
    literals.reserve(indices.size());
    for (int index : indices) literals.push_back(ithVar(index));
    return conjunction(std::move(literals));
}

Bdd conjunction(std::vector<Bdd> factors) { return conjunctionInPlace(factors); }

Bdd conjunctionInPlace(std::vector<Bdd>& factors) {
    if (factors.size() == 1) return factors[0];
    auto topLevel = [](const Bdd& f) {
        return f.isConstant() ? bdd_varnum() : bdd_var2level(bdd_var(ManagerAccess::node(f)));
    };
    std::stable_sort(factors.begin(), factors.end(),
                     [&](const Bdd& a, const Bdd& b) { return topLevel(a) > topLevel(b); });
    Bdd result = one();
    for (const Bdd& f : factors) result = f & result;
    return result;
}

Bdd exist(const Bdd& f, const Bdd& cube) {
    if (cube.isOne()) return f;
    return adopt(bdd_exist(ManagerAccess::node(f), ManagerAccess::node(cube)));
}

Bdd cofactor(const Bdd& f, const Bdd& cube) {
    if (cube.isOne()) return f;
    return adopt(bdd_restrict(ManagerAccess::node(f), ManagerAccess::node(cube)));
}

Bdd ite(const Bdd& c, const Bdd& t, const Bdd& e) {
    return adopt(bdd_ite(ManagerAccess::node(c), ManagerAccess::node(t), ManagerAccess::node(e)));
}


NodeBuilder::NodeBuilder() {
    Manager::current();
    // A node made outside an operation must not set off a reordering: BuDDy would jump
    // back into an operation that is not running.
    bdd_disable_reorder();
}

NodeBuilder::~NodeBuilder() { bdd_enable_reorder(); }

void NodeBuilder::reserve(long nodes) {
    // Beyond this the table grows as it goes.
    constexpr long kMost = 1L << 26;
    long want = std::min(nodes, kMost);
    for (;;) {
        long total = bdd_getallocnum();
        if (total - bdd_getnodenum() >= want) break;
        bdd_noderesize(1);
        if (bdd_getallocnum() <= total) break;  // at the table's limit
    }
}

Bdd NodeBuilder::node(int index, const Bdd& low, const Bdd& high) {
    int level = bdd_var2level(index);
    auto below = [level](int n) { return n == kFalse || n == kTrue || bdd_var2level(bdd_var(n)) > level; };
    int lo = ManagerAccess::node(low), hi = ManagerAccess::node(high);
    if (below(lo) && below(hi)) return adopt(bdd_makenode(static_cast<unsigned>(level), lo, hi));
    return ite(ithVar(index), high, low);
}

double mintermFraction(const Bdd& f) {
    if (f.isOne()) return 1.0;
    if (f.isZero()) return 0.0;
    // Share of satisfying assignments, computed bottom-up so that no power of two of
    // the variable count is ever formed.
    std::unordered_map<int, double> share;
    share[kFalse] = 0.0;
    share[kTrue] = 1.0;
    std::vector<int> stack{ManagerAccess::node(f)};
    while (!stack.empty()) {
        int n = stack.back();
        if (share.count(n)) {
            stack.pop_back();
            continue;
        }
        int lo = bdd_low(n);
        int hi = bdd_high(n);
        auto l = share.find(lo);
        auto h = share.find(hi);
        if (l != share.end() && h != share.end()) {
            share[n] = 0.5 * (l->second + h->second);
            stack.pop_back();
        } else {
            if (l == share.end()) stack.push_back(lo);
            if (h == share.end()) stack.push_back(hi);
        }
    }
    return share[ManagerAccess::node(f)];
}

int nodeCount(const Bdd& f) { return bdd_nodecount(static_cast<BDD>(ManagerAccess::node(f))); }

// ---- node visitor ----

std::vector<Edge> visitNodes(const std::vector<Bdd>& roots, NodeCallback callback, void* context) {
    std::vector<Edge> rootEdges;
    rootEdges.reserve(roots.size());
    // Per BuDDy node: its visitor index + 1 (0 while not visited) and its label, side
    // by side, so that reaching a child costs one memory access. Nothing is created
    // during the walk, so the table keeps its size and the roots keep every node alive.
    struct Seen {
        int indexPlusOne;
        int label;
    };
    std::vector<Seen> seen(static_cast<std::size_t>(bdd_getallocnum()), Seen{0, 0});
    int visited = 0;
    auto edgeTo = [&seen](int n) { return Edge{seen[n].indexPlusOne - 1, seen[n].label, false}; };
    // A node on the stack with its children, read once.
    struct Frame {
        int node;
        int high;
        int low;
    };
    std::vector<Frame> stack;
    // Constants are visited when first reached; other nodes go on the stack.
    auto reach = [&](int n) {
        if (n == kFalse || n == kTrue) {
            VisitedNode node{visited, -1, n == kTrue, Edge{-1, 0, false}, Edge{-1, 0, false}};
            seen[n] = Seen{++visited, callback(context, node)};
        } else {
            stack.push_back(Frame{n, bdd_high(n), bdd_low(n)});
        }
    };
    for (const Bdd& root : roots) {
        int r = ManagerAccess::node(root);
        if (r < 0) outcome::abnormalExit("Null root in a node walk", __LINE__, "BddEngine");
        if (!seen[r].indexPlusOne) reach(r);
        // Iterative post-order, then-child first: paths can be as long as the variable
        // count. The stack is always one path, so no node is on it twice.
        while (!stack.empty()) {
            Frame f = stack.back();
            if (!seen[f.high].indexPlusOne) {
                reach(f.high);
                continue;
            }
            if (!seen[f.low].indexPlusOne) {
                reach(f.low);
                continue;
            }
            stack.pop_back();
            VisitedNode node{visited, bdd_var(f.node), false, edgeTo(f.high), edgeTo(f.low)};
            seen[f.node] = Seen{++visited, callback(context, node)};
        }
        rootEdges.push_back(edgeTo(r));
    }
    return rootEdges;
}

}  // namespace bdd
