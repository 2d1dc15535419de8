// The QDIMACS-1.1-style partial certificate: the existentials whose value is the same in
// every universal scenario.
#pragma once

#include <string>

#include "certificate/model.h"

// A failure saying why, and nothing under the final name, when the file cannot be written.
Status writeQdc(const QBModel& model, const std::string& path);
