// The result files of a run and the singular-matrix report.
#pragma once

#include <cstdint>
#include <string>

#include "factor/factor_system.h"
#include "params/compar.h"
#include "params/work.h"
#include "recio/binrec.h"
#include "recio/textio.h"

namespace drav {

// The factored matrix, one record of NEQ doubles per row, into the open matrix file; a large
// one in up to `threads` stretches side by side where the file allows it.
void write_matrix_rows(const Factorization& F, recio::SeqWriter& out, int threads = 1);

// order.dat (unit 7): the row order as one free-format write. Like drav0.dat it is replaced
// whole: the old file stays until the new one is complete.
void write_order(const ZArray<int32_t>& IORD, int32_t NEQ);

// drav0.dat (unit 3): the run status as one free-format write.
void write_status(int32_t ISTAT);

// The two empty records and the title line of the main program's reports.
void write_title_block(const RunHeader& h, recio::TextSink& out);

// The direction label of a singular equation: X, Y or Z; blank above direction 3.
char direction_label(int32_t dir, int32_t NDOFN);

// The name of a direction in the audit tool's reports and pictures: "X", "Y", "Z" for
// directions 1 to 3 whatever NDOFN (unlike the label above, which calls direction 2 of a
// spatial model Z), the number above.
std::string direction_name(int32_t dir);

// The singular-matrix report for equation KSTEP: title block and four lines, in the chosen
// language, to the console and appended to the report file (unit 1).
void report_singular(const COMPAR& c, const RunHeader& h, const WorkArrays& W, int32_t KSTEP,
                     recio::TextSink& console);

}  // namespace drav
