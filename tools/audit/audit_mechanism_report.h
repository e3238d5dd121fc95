// The mechanism analysis as a report: readable text, or JSON for scripts.
#pragma once

#include <ostream>

#include "tools/audit/audit_mechanism.h"

namespace drav::audit {

// The text lists at most opt.max_lines moves and elements a motion; JSON lists all.
void write_mechanism_text(const Model& m, const MechanismReport& r, const MechanismOptions& opt,
                          std::ostream& out);
void write_mechanism_json(const Model& m, const MechanismReport& r, const MechanismOptions& opt,
                          std::ostream& out);

}  // namespace drav::audit
