#include "files/qdc.h"

#include <cstdio>

#include "files/output_file.h"

bool writeQdc(const QBModel& model, const std::string& path, std::string* error) {
    OutputFile out(path);
    if (!out.ok()) {
        if (error) *error = out.error();
        return false;
    }
    std::FILE* fp = out.stream();
    std::fprintf(fp, "c Solver: Tobrin v%s-beta, (revision 311, compiled %s)\n", "0.3", "Nov 10 2006");
    std::fprintf(fp, "c Instance: \"%s\"\n", model.formula.c_str());
    std::fprintf(fp, "s cnf 1 %i [unknown]\n", model.numVars);
    std::fputs("v ", fp);
    // An existential is listed when one of its sets is every scenario. The functions say
    // so by themselves, so a certificate read back from a QBM file, which carries no
    // dependency cubes, lists the same literals as the reconstructed one.
    for (int v = 1; v < model.numVars; ++v) {
        if (model.univIndex[v] != 0) continue;
        if (!model.keeps(v)) continue;
        const bdd::Bdd& pos = model.posBdd[v];
        const bdd::Bdd& neg = model.negBdd[v];
        if (!pos.isNull() && pos.isOne())
            std::fprintf(fp, "%i ", model.intToExt[v]);
        else if (!neg.isNull() && neg.isOne())
            std::fprintf(fp, "%i ", -model.intToExt[v]);
    }
    std::fputc('\n', fp);
    if (!out.commit()) {
        if (error) *error = out.error();
        return false;
    }
    return true;
}
