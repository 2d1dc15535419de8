// The instance pipeline: obtain the certificate of one log or QBM file, check it,
// evaluate, narrow, write the requested files, and return the instance's result code.
#pragma once

#include <string>

int processInstance(const std::string& path);
