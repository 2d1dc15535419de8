// The QBM certificate file: a text header (origin, completeness, storage mode and the
// numbering of universals and existentials) followed by the forest of the existentials'
// true and false sets as one DDDMP-2.0 array dump.
#pragma once

#include <memory>
#include <string>

#include "certificate/model.h"

// Writes the in-scope existentials of the certificate under a temporary name and renames
// the file into place once it is complete. Sets nodeCount. A failure saying why (and
// nothing under the final name replaced) when the file cannot be written.
Status writeQbm(QBModel& model, const std::string& path);

// Reads a certificate written by writeQbm. The header, the numbering and the forest are
// checked (counts against the bytes left, positive and distinct numbers, 2E roots over
// the universals only); a file that fails gives no model and a message. Creates the
// certificate's manager, so no other manager may be live.
ModelResult readQbm(const std::string& path);
