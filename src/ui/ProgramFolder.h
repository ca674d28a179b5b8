#pragma once

#include <string>

namespace quindel {

// The folder of the running executable, where the settings, the groups and the data files
// lie. Falls back to the working directory when the system cannot tell.
std::string programFolder();

} // namespace quindel
