// The DOT drawing of an array of roots, laid out like the reference library's: one
// rank per support variable in level order, a rank for the constant, solid or dotted
// root edges, dashed else-edges and dotted complemented ones.
//
// The reference names nodes after their addresses, which changes from run to run.
// Here a node is named after its number in the dump numbering: "%#x" of the number
// minus one, so the constant is "0" and the others "0x1", "0x2", ...
#include <cstdio>
#include <string>

#include "bdd/dddmp.h"
#include "bdd/dddmp_form.h"
#include "bdd/dddmp_io.h"

namespace dddmp {

namespace {

void nodeName(detail::Out& out, int k) {
    char name[24];
    std::snprintf(name, sizeof name, "\"%#x\"", static_cast<unsigned>(k - 1));
    out.put(name);
}

}  // namespace

bool dumpDot(std::FILE* fp, const std::vector<bdd::Bdd>& roots, const std::vector<std::string>& inputNames,
             const std::vector<std::string>& outputNames) {
    detail::Form form = detail::buildForm(roots);
    detail::Out out(fp);
    auto inputLabel = [&](int index) {
        out.put("\" ");
        if (index < static_cast<int>(inputNames.size()) && !inputNames[index].empty())
            out.put(inputNames[index]);
        else
            out.num(index);
        out.put(" \"");
    };
    auto outputLabel = [&](std::size_t k) {
        if (k < outputNames.size() && !outputNames[k].empty()) {
            out.put("\"  ");
            out.put(outputNames[k]);
            out.put("  \"");
        } else {
            out.put("\"F");
            out.num(static_cast<long>(k));
            out.put('"');
        }
    };

    out.put("digraph \"DD\" {\nsize = \"7.5,10\"\ncenter = true;\nedge [dir = none];\n"
            "{ node [shape = plaintext];\n  edge [style = invis];\n  \"CONST NODES\" [style = invis];\n");
    for (int index : form.byPosition) {
        inputLabel(index);
        out.put(" -> ");
    }
    out.put("\"CONST NODES\"; \n}\n{ rank = same; node [shape = box]; edge [style = invis];\n");
    for (std::size_t k = 0; k < roots.size(); ++k) {
        if (k) out.put(" -> ");
        outputLabel(k);
    }
    out.put("; }\n");

    // Nodes by support position (level order), increasing numbers inside a rank.
    std::size_t levels = form.byPosition.size();
    std::vector<int> first(levels + 1, 0), order(static_cast<std::size_t>(form.nnodes > 1 ? form.nnodes - 1 : 0));
    for (int k = 2; k <= form.nnodes; ++k) ++first[form.positionOf[form.var[k]] + 1];
    for (std::size_t p = 0; p < levels; ++p) first[p + 1] += first[p];
    {
        std::vector<int> fill(first.begin(), first.end() - 1);
        for (int k = 2; k <= form.nnodes; ++k) order[fill[form.positionOf[form.var[k]]]++] = k;
    }
    for (std::size_t p = 0; p < levels; ++p) {
        out.put("{ rank = same; ");
        inputLabel(form.byPosition[p]);
        out.put(";\n");
        for (int at = first[p]; at < first[p + 1]; ++at) {
            nodeName(out, order[at]);
            out.put(";\n");
        }
        out.put("}\n");
    }
    out.put("{ rank = same; \"CONST NODES\";\n{ node [shape = box]; ");
    if (form.nnodes) {
        nodeName(out, 1);
        out.put(";\n");
    }
    out.put("}\n}\n");

    for (std::size_t k = 0; k < roots.size(); ++k) {
        int id = form.rootIds[k];
        outputLabel(k);
        out.put(" -> ");
        nodeName(out, id < 0 ? -id : id);
        out.put(id < 0 ? " [style = dotted];\n" : " [style = solid];\n");
    }
    for (int k : order) {
        int e = form.elseNode[k];
        nodeName(out, k);
        out.put(" -> ");
        nodeName(out, form.thenNode[k]);
        out.put(";\n");
        nodeName(out, k);
        out.put(" -> ");
        nodeName(out, e < 0 ? -e : e);
        out.put(e < 0 ? " [style = dotted];\n" : " [style = dashed];\n");
    }
    if (form.nnodes) {
        nodeName(out, 1);
        out.put(" [label = \"1\"];\n");
    }
    out.put("}\n");
    return out.finish();
}

}  // namespace dddmp
