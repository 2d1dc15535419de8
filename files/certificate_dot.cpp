#include "files/certificate_dot.h"

#include "bdd/dddmp.h"
#include "files/output_file.h"

Status writeDot(const QBModel& model, const std::string& path, const std::vector<bdd::Bdd>& roots,
                const std::vector<std::string>& rootNames) {
    std::vector<std::string> inputNames(static_cast<std::size_t>(model.numUniv) + 1);
    for (int k = 1; k <= model.numUniv; ++k) inputNames[k] = model.inputLetter() + std::to_string(model.intToExt[model.univVar[k]]);
    OutputFile out(path);
    if (out.ok() && !dddmp::dumpDot(out.stream(), roots, inputNames, rootNames)) out.fail();
    return out.commit();
}

namespace {

struct Group {
    int first = 0;
    bool twoRoots = true;
    std::string posName;  // name of the first root
    std::string negName;  // name of the second root
};

}  // namespace

Status writeCertificateDot(const QBModel& model, const std::string& path) {
    std::vector<Group> groups;
    for (int v = 1; v < model.numVars; ++v) {
        if (model.univIndex[v] != 0) continue;
        if (!model.keeps(v)) continue;
        const bdd::Bdd& pos = model.posBdd[v];
        const bdd::Bdd& neg = model.negBdd[v];
        if (pos.isNull() || neg.isNull()) continue;
        std::string e = model.functionLetter() + std::to_string(model.intToExt[v]);
        if (!groups.empty()) {
            Group& g = groups.back();
            const bdd::Bdd& gp = model.posBdd[g.first];
            const bdd::Bdd& gn = model.negBdd[g.first];
            if (pos == gp && neg == gn) {
                g.posName += " " + e;
                g.negName += " !" + e;
                continue;
            }
            if (pos == gn && neg == gp) {
                g.posName += " !" + e;
                g.negName += " " + e;
                continue;
            }
        }
        Group g;
        g.first = v;
        g.twoRoots = neg != !pos;
        g.posName = e;
        g.negName = "!" + e;
        groups.push_back(std::move(g));
    }
    std::vector<bdd::Bdd> roots;
    std::vector<std::string> names;
    for (const Group& g : groups) {
        roots.push_back(model.posBdd[g.first]);
        names.push_back(g.posName);
        if (g.twoRoots) {
            roots.push_back(model.negBdd[g.first]);
            names.push_back(g.negName);
        }
    }
    return writeDot(model, path, roots, names);
}

Status writeClauseDot(const bdd::Bdd& satisfied, const bdd::Bdd& hypothesis, const bdd::Bdd& alwaysSat,
                      const std::string& path) {
    OutputFile dot(path);
    bool written = dot.ok() && dddmp::dumpDot(dot.stream(), {satisfied, hypothesis, alwaysSat}, {},
                                              {"satIndexSet", "univHypothesis", "alwaysSat"});
    if (!written) dot.fail();
    return dot.commit();
}
