// Storing a DDDMP-2.0 dump of an array of roots, text ('A') or binary ('B'), with the
// reference library's header variants and node numbering.
#include <algorithm>
#include <cstdio>
#include <string>

#include "bdd/dddmp.h"
#include "bdd/dddmp_form.h"
#include "bdd/dddmp_io.h"

namespace dddmp {

namespace {

using detail::Form;
using detail::Out;

// Binary code values of the var, then and else fields.
enum Code { Terminal = 0, Absolute = 1, Relative = 2, Relative1 = 3 };

// A name of the caller's table, or the generated name the reference library puts in
// place of a missing one (k: the index or level at which it was needed).
void putName(Out& out, const std::vector<std::string>& names, int index, int k) {
    if (index < static_cast<int>(names.size()) && !names[index].empty()) {
        out.put(names[index]);
    } else {
        out.put("DUMMY");
        out.num(k);
    }
}

// An aux id of the caller's table; a missing entry stands for the index itself.
int auxIdOf(const std::vector<int>& auxIds, int index) {
    return index < static_cast<int>(auxIds.size()) ? auxIds[index] : index;
}

void writeHeader(Out& out, const Form& form, const StoreOptions& options, bool text, int numRoots) {
    bdd::Manager& manager = bdd::Manager::current();
    out.put(".ver DDDMP-2.0\n");
    out.put(text ? ".mode A\n" : ".mode B\n");
    if (text) {
        out.put(".varinfo ");
        out.num(options.varInfo);
        out.put('\n');
    }
    if (options.ddName) {
        out.put(".dd ");
        out.put(options.ddName);
        out.put('\n');
    }
    out.put(".nnodes ");
    out.num(form.nnodes);
    out.put("\n.nvars ");
    out.num(manager.size());
    out.put("\n.nsuppvars ");
    out.num(static_cast<long>(form.support.size()));
    out.put('\n');
    if (!options.varNames.empty()) {
        out.put(".suppvarnames");
        for (int index : form.support) {
            out.put(' ');
            putName(out, options.varNames, index, index);
        }
        out.put("\n.orderedvarnames");
        for (int level = 0; level < manager.size(); ++level) {
            out.put(' ');
            putName(out, options.varNames, manager.indexAt(level), level);
        }
        out.put('\n');
    }
    out.put(".ids");
    for (int index : form.support) {
        out.put(' ');
        out.num(index);
    }
    out.put("\n.permids");
    for (int index : form.support) {
        out.put(' ');
        out.num(manager.levelOf(index));
    }
    out.put('\n');
    if (!options.auxIds.empty()) {
        out.put(".auxids");
        for (int index : form.support) {
            out.put(' ');
            out.num(auxIdOf(options.auxIds, index));
        }
        out.put('\n');
    }
    out.put(".nroots ");
    out.num(numRoots);
    out.put('\n');
    if (!options.rootNames.empty()) {
        out.put(".rootnames");
        for (int k = 0; k < numRoots; ++k) {
            out.put(' ');
            putName(out, options.rootNames, k, k);
        }
        out.put('\n');
    }
    out.put(".rootids");
    for (int id : form.rootIds) {
        out.put(' ');
        out.num(id);
    }
    out.put("\n.nodes\n");
}

void writeTextNodes(Out& out, const Form& form, const StoreOptions& options) {
    bdd::Manager& manager = bdd::Manager::current();
    // The extra field of the node lines; without the table it needs, the reference
    // writer drops the field but keeps the .varinfo it was given.
    int extra = options.varInfo;
    if ((extra == VarAuxIds && options.auxIds.empty()) || (extra == VarNames && options.varNames.empty()) ||
        extra < VarIds || extra > VarNames)
        extra = VarDefault;
    out.put(extra == VarDefault ? "1 1 0 0\n" : "1 T 1 0 0\n");
    for (int k = 2; k <= form.nnodes; ++k) {
        int index = form.var[k];
        out.num(k);
        out.put(' ');
        switch (extra) {
            case VarIds: out.num(index); out.put(' '); break;
            case VarPermIds: out.num(manager.levelOf(index)); out.put(' '); break;
            case VarAuxIds: out.num(auxIdOf(options.auxIds, index)); out.put(' '); break;
            case VarNames: putName(out, options.varNames, index, index); out.put(' '); break;
            default: break;
        }
        out.num(form.positionOf[index]);
        out.put(' ');
        out.num(form.thenNode[k]);
        out.put(' ');
        out.num(form.elseNode[k]);
        out.put('\n');
    }
}

// Code of a child reference from record k to record child (1: the constant).
inline int childCode(int k, int child, int* value) {
    if (child == 1) return Terminal;
    int d = k - child;
    if (d > child) {
        *value = child;
        return Absolute;
    }
    *value = d;
    return d == 1 ? Relative1 : Relative;
}

void writeBinaryNodes(Out& out, const Form& form) {
    int numSupport = static_cast<int>(form.support.size());
    auto positionOfNode = [&](int k) { return k == 1 ? numSupport : form.positionOf[form.var[k]]; };
    out.escaped(0);  // the constant: every field TERMINAL
    for (int k = 2; k <= form.nnodes; ++k) {
        int p = form.positionOf[form.var[k]];
        int t = form.thenNode[k];
        int e = form.elseNode[k] < 0 ? -form.elseNode[k] : form.elseNode[k];
        int d = std::min(positionOfNode(t), positionOfNode(e)) - p;
        int varCode, varValue = 0;
        if (d > p) {
            varCode = Absolute;
            varValue = p;
        } else {
            varCode = d == 1 ? Relative1 : Relative;
            varValue = d;
        }
        int thenValue = 0, elseValue = 0;
        int thenCode = childCode(k, t, &thenValue);
        int elseCode = childCode(k, e, &elseValue);
        out.escaped(static_cast<unsigned char>((varCode << 5) | (thenCode << 3) | (form.elseNode[k] < 0 ? 4 : 0) |
                                               elseCode));
        if (varCode == Absolute || varCode == Relative) out.binaryInt(varValue);
        if (thenCode == Absolute || thenCode == Relative) out.binaryInt(thenValue);
        if (elseCode == Absolute || elseCode == Relative) out.binaryInt(elseValue);
    }
}

}  // namespace

bool storeArray(std::FILE* fp, const std::vector<bdd::Bdd>& roots, const StoreOptions& options) {
    Form form = detail::buildForm(roots);
    bool text = options.mode == 'A';
    Out out(fp);
    writeHeader(out, form, options, text, static_cast<int>(roots.size()));
    if (text) {
        if (form.nnodes) writeTextNodes(out, form, options);
    } else if (form.nnodes) {
        writeBinaryNodes(out, form);
    }
    out.put(".end\n");
    return out.finish();
}

}  // namespace dddmp
