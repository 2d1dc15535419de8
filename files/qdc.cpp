#include "files/qdc.h"

#include <cstdio>

#include "files/output_file.h"

Status writeQdc(const QBModel& model, const std::string& path) {
    OutputFile out(path);
    if (!out.ok()) return out.commit();  // says why it could not be created
    std::FILE* fp = out.stream();
    std::fprintf(fp, "c Solver: Tobrin v%s-beta, (revision 311, compiled %s)\n", "0.3", "Nov 10 2006");
    std::fprintf(fp, "c Instance: \"%s\"\n", model.formula.c_str());
    // A countermodel answers "false" (0); its values are the universals'.
    std::fprintf(fp, "s cnf %i %i [unknown]\n", model.countermodel() ? 0 : 1, model.numVars);
    std::fputs("v ", fp);
    // An existential qualifies when its certificate carries dependency information and
    // it depends on no universal, or both its sets are constants. A certificate read
    // from a QBM file carries none, so its line lists nothing. In a countermodel the same
    // holds for the universals and the existentials before them.
    for (int v = 1; v < model.numVars; ++v) {
        if (model.univIndex[v] != 0) continue;
        if (!model.keeps(v)) continue;
        if (v >= static_cast<int>(model.indepCube.size()) || model.indepCube[v].isNull()) continue;
        const bdd::Bdd& pos = model.posBdd[v];
        const bdd::Bdd& neg = model.negBdd[v];
        bool constants = !pos.isNull() && !neg.isNull() && pos.isConstant() && neg.isConstant();
        if (model.indepCube[v] != model.allUnivCube && !constants) continue;
        if (!pos.isNull() && pos.isOne())
            std::fprintf(fp, "%i ", model.intToExt[v]);
        else if (!neg.isNull() && neg.isOne())
            std::fprintf(fp, "%i ", -model.intToExt[v]);
    }
    std::fputc('\n', fp);
    return out.commit();
}
