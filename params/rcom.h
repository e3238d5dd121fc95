#pragma once

#include <cstdint>
#include <string>

#include "params/compar.h"
#include "params/model_files.h"

namespace drav {

// Fills the parameter block from COMZOR.DAT (in the working directory, or `path`) read on
// unit IUNIT, and allocates and fills the support arrays IBLK and ELSUP. Any failure ends the
// run with the fatal report.
void RCOM(COMPAR& c, int32_t IUNIT, const std::string& path = kComzorFile.name);

}  // namespace drav
