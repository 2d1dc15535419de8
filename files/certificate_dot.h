// DOT drawings of a certificate's BDDs: the shared writer (also used by the expression
// dumps) and the drawing of the whole certificate.
#pragma once

#include <string>
#include <vector>

#include "bdd/engine.h"
#include "certificate/model.h"

// Draws the roots with their names; BDD variable k is named "a" followed by the external
// number of the k-th universal. A failure saying why, and nothing under the final name,
// when the file cannot be written.
Status writeDot(const QBModel& model, const std::string& path, const std::vector<bdd::Bdd>& roots,
                const std::vector<std::string>& rootNames);

// The in-scope existentials, consecutive ones with the same or the complementary
// function drawn as one group: the true set named "e1 !e2 ...", the false set (unless it
// is the complement of the true set) named with the prefixes exchanged.
Status writeCertificateDot(const QBModel& model, const std::string& path);

// The drawing of why a clause fails: its three BDDs named "satIndexSet", "univHypothesis"
// and "alwaysSat", with no input names.
Status writeClauseDot(const bdd::Bdd& satisfied, const bdd::Bdd& hypothesis, const bdd::Bdd& alwaysSat,
                      const std::string& path);
