#pragma once

#include <string>

namespace quindel {

// The folder of the running executable, where its data files lie (fonts, flag pictures,
// manuals). Falls back to the working directory when the system cannot tell.
std::string programFolder();

} // namespace quindel
