// Reading the model files into the work arrays (names, units, layouts and the equation
// numbering: driver/model_files.h).
#pragma once

#include <cstdint>

#include "params/compar.h"
#include "params/model_files.h"
#include "params/work.h"

namespace drav {

// The work arrays of groups 1 (NEI, NI, NF, A0, S0) and 2 (V, VMOD, YY, T, IND, AL0), sized
// from the parameters; false when one of the group cannot be had.
bool allocate_group1(const COMPAR& c, WorkArrays& W);
bool allocate_group2(const COMPAR& c, WorkArrays& W);

// The model input of a run, into arrays of groups 1 and 2: nei.UNF, x0.UNF, the equation
// table (allocated here and checked against NEQ), el.unf.
void read_model(const COMPAR& c, WorkArrays& W);

// nei.UNF (unit 2): NEI, NI, NF.
void read_nei(const COMPAR& c, WorkArrays& W);
// x0.UNF (unit 2): records 2 and 4 into A0 and S0; records 1 and 3 passed over.
void read_x0(const COMPAR& c, WorkArrays& W);
// el.unf (unit 2, direct access): one record per element into V, VMOD, YY, T, IND, AL0.
void read_el(const COMPAR& c, WorkArrays& W);

}  // namespace drav
