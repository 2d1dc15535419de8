// The QBM certificate file: a text header (origin, completeness, storage mode and the
// numbering of universals and existentials) followed by the forest of the existentials'
// true and false sets as one DDDMP-2.0 array dump.
#pragma once

#include <memory>
#include <string>

#include "certificate/model.h"

// Writes the in-scope existentials of the certificate under a temporary name and renames
// the file into place once it is complete. Sets nodeCount. False, with *error saying why
// (and nothing under the final name replaced), when the file cannot be written.
bool writeQbm(QBModel& model, const std::string& path, std::string* error);

struct QbmRead {
    std::unique_ptr<QBModel> model;  // none when the file was refused
    std::string error;               // why, when there is no model
};

// Reads a certificate written by writeQbm. The header, the numbering and the forest are
// checked (counts against the bytes left, positive and distinct numbers, 2E roots over
// the universals only); a file that fails gives no model and a message. Creates the
// certificate's manager, so no other manager may be live.
QbmRead readQbm(const std::string& path);
