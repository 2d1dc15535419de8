#include "certificate/strip.h"

#include <algorithm>

void stripVariables(QBModel& model, const std::vector<int>& low, const std::vector<int>& high,
                    steps::Reporter& reporter) {
    std::size_t n = std::min(low.size(), high.size());
    model.inScope.assign(static_cast<std::size_t>(model.numVars), n == 0 ? 1 : 0);
    reporter.open("Stripping variables");
    model.complete = n == 0 ? 1 : 0;
    long top = static_cast<long>(model.extToInt.size()) - 1;
    for (std::size_t k = 0; k < n; ++k) {
        reporter.print("[%i-%i] ", low[k], high[k]);
        // Only numbers that can name a variable are walked: an interval reaching far beyond
        // the formula costs nothing.
        long from = std::max<long>(low[k], 1);
        long to = std::min<long>(high[k], top);
        for (long e = from; e <= to; ++e)
            if (model.knowsExternal(e) && model.extToInt[e] < model.numVars) model.inScope[model.extToInt[e]] = 1;
    }
    for (int i = 0; i < model.numVars; ++i) {
        if (model.inScope[i]) continue;
        if (i < static_cast<int>(model.negBdd.size())) model.negBdd[i].release();
        if (i < static_cast<int>(model.posBdd.size())) model.posBdd[i].release();
    }
    reporter.close();
}
