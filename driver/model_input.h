// Reading the model files into the work arrays, and the equation numbering.
#pragma once

#include <cstdint>

#include "params/compar.h"
#include "params/work.h"

namespace drav {

// nei.UNF (unit 2): NEI, NI, NF.
void read_nei(const COMPAR& c, WorkArrays& W);
// x0.UNF (unit 2): records 2 and 4 into A0 and S0; records 1 and 3 passed over.
void read_x0(const COMPAR& c, WorkArrays& W);
// el.unf (unit 2, direct access): one record per element into V, VMOD, YY, T, IND, AL0.
void read_el(const COMPAR& c, WorkArrays& W);

// The number of free degrees of freedom that LOCARRAY numbers.
int64_t count_free_dofs(const COMPAR& c);

}  // namespace drav
