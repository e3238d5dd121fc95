// The text and JSON forms of a mechanism analysis.
#include <cstdio>
#include <string>

#include "driver/results.h"
#include "factor/pivot_rule.h"
#include "tools/audit/audit_mechanism_report.h"
#include "tools/audit/json_out.h"

namespace drav::audit {

namespace {

std::string num(double v, const char* format = "%.7g") {
  char buf[48];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

const char* state_word(int32_t ind) {
  return ind < 0 ? "left out" : ind == 0 ? "elastic" : "force-only";
}

void write_list_limit(std::ostream& out, size_t shown, size_t total) {
  if (shown < total) out << "    ... and " << total - shown << " more\n";
}

void write_motion_text(const Model& m, const Motion& mo, const MechanismOptions& opt,
                       std::ostream& out) {
  const size_t limit = opt.max_lines > 0 ? static_cast<size_t>(opt.max_lines) : SIZE_MAX;
  if (mo.moves.empty()) {
    out << "  nothing moves\n";
    return;
  }
  out << "  classification: " << kind_word(mo.classification) << ": " << mo.reasons.front().text
      << "\n";
  for (size_t i = 1; i < mo.reasons.size(); ++i) {
    out << "  also " << kind_word(mo.reasons[i].kind) << ": " << mo.reasons[i].text << "\n";
  }
  out << "  moves (node, direction, share, component):\n";
  size_t shown = 0;
  for (const Move& mv : mo.moves) {
    if (shown == limit) break;
    ++shown;
    out << "    node " << mv.node << " " << direction_name(mv.dir) << "  " << num(mv.share, "%.6f")
        << "  " << num(mv.value, "%+.6g") << "\n";
  }
  write_list_limit(out, shown, mo.moves.size());
  if (mo.unlisted_share > 0) {
    out << "    (smaller moves, " << num(mo.unlisted_share, "%.2g")
        << " of the motion, not listed)\n";
  }
  if (mo.elements.empty()) {
    out << "  no element meets the moving nodes\n";
    return;
  }
  out << "  elements at the moving nodes:\n";
  shown = 0;
  for (int32_t e : mo.elements) {
    if (shown == limit) break;
    ++shown;
    const int32_t ind = m.W.IND[e - 1];
    out << "    " << e << ": nodes " << m.W.NI[e - 1] << " - " << m.W.NF[e - 1] << ", IND = " << ind
        << " (" << state_word(ind) << "), T = " << num(m.W.T[e - 1]) << "\n";
  }
  write_list_limit(out, shown, mo.elements.size());
}

void write_motion_json(const Model& m, const Motion& mo, JsonOut& j) {
  j.begin_object();
  j.key("energy").value(mo.energy);
  j.key("classification").value(kind_word(mo.classification));
  j.key("explanation").value(mo.reasons.empty() ? std::string() : mo.reasons.front().text);
  if (mo.rigid.empty()) {
    j.key("rigid").null();
  } else {
    j.key("rigid").value(mo.rigid);
  }
  j.key("reasons").begin_array();
  for (const Reason& r : mo.reasons) {
    j.begin_object();
    j.key("kind").value(kind_word(r.kind));
    j.key("text").value(r.text);
    j.key("nodes").value(r.nodes);
    j.key("elements").value(r.elements);
    j.end_object();
  }
  j.end_array();
  j.key("moves").begin_array();
  for (const Move& mv : mo.moves) {
    j.begin_object();
    j.key("node").value(mv.node);
    j.key("direction").value(mv.dir);
    j.key("label").value(direction_name(mv.dir));
    j.key("equation").value(mv.equation);
    j.key("share").value(mv.share);
    j.key("value").value(mv.value);
    j.end_object();
  }
  j.end_array();
  j.key("unlisted_share").value(mo.unlisted_share);
  j.key("nodes").value(mo.nodes);
  j.key("elements").begin_array();
  for (int32_t e : mo.elements) {
    j.begin_object();
    j.key("element").value(e);
    j.key("ni").value(m.W.NI[e - 1]);
    j.key("nf").value(m.W.NF[e - 1]);
    j.key("ind").value(m.W.IND[e - 1]);
    j.key("state").value(state_word(m.W.IND[e - 1]));
    j.key("t").value(m.W.T[e - 1]);
    j.end_object();
  }
  j.end_array();
  j.end_object();
}

}  // namespace

void write_mechanism_text(const Model& m, const MechanismReport& r, const MechanismOptions& opt,
                          std::ostream& out) {
  const COMPAR& c = m.c;
  out << "model: NNODE = " << c.NNODE << ", NUMEL = " << c.NUMEL << ", NDOFN = " << c.NDOFN
      << ", NEQ = " << c.NEQ << ", NBAND = " << c.NBAND << ", ITER = " << c.ITER << "\n";
  if (r.status) {
    out << "status: " << *r.status << "\n";
  } else {
    out << "status: no drav0.dat\n";
  }
  if (r.singular) {
    const int32_t k = r.KSTEP;
    const int32_t node = m.W.loc_node(k), dir = m.W.loc_dir(k);
    out << "singular: the factorization stops at step " << k << ", pivot u(" << k << "," << k
        << ") = " << num(r.pivot) << " below the tolerance " << num(PIVTOL) << ": equation " << k
        << ", node " << node << ", direction " << dir;
    const char label = direction_label(dir, c.NDOFN);
    if (label != ' ' && label != '\0') out << " (" << label << ")";
    out << "\n";
    out << "motion at the failing step: ";
    if (k > 1) {
      out << "equations 1 to " << k - 1 << " solved with the factors of the leading block, ";
    }
    out << "equation " << k
        << " set to 1, the rest held; |A x| = " << num(r.failing_residual, "%.3e")
        << " for |x| = 1\n";
    write_motion_text(m, *r.failing, opt, out);
  } else {
    out << "regular: the factorization completes\n";
  }
  if (!r.eigen_done) {
    out << "eigenvalues: not computed";
    if (r.largest_part > opt.max_order) {
      out << ": the largest connected part of the matrix has " << r.largest_part
          << " equations, more than " << opt.max_order << " (--max-order)";
    }
    out << "\n";
    return;
  }
  out << "eigenvalues: " << c.NEQ << " in " << r.parts << " connected part"
      << (r.parts == 1 ? "" : "s") << ", largest |lambda| = " << num(r.largest_eigenvalue, "%.6g")
      << ", counted as zero up to " << num(r.zero_limit, "%.3e") << " (--zero "
      << num(opt.zero, "%.3g") << ")\n";
  out << "zero-energy modes: " << r.modes.size();
  if (!r.modes.empty())
    out << " (largest |lambda| among them " << num(r.largest_zero, "%.3e") << ")";
  if (r.smallest_nonzero > 0) {
    out << "; smallest |lambda| beyond: " << num(r.smallest_nonzero, "%.6g");
  }
  out << "; negative eigenvalues: " << r.negative << "\n";
  if (r.modes.empty() && r.singular) {
    out << "note: no eigenvalue is small against the largest; the pivot tolerance of the "
           "factorization is absolute, so a matrix of small entries fails it as a whole\n";
  }
  for (size_t i = 0; i < r.modes.size(); ++i) {
    out << "mode " << i + 1 << ": energy " << num(r.modes[i].energy, "%.3e") << "\n";
    write_motion_text(m, r.modes[i], opt, out);
  }
}

void write_mechanism_json(const Model& m, const MechanismReport& r, const MechanismOptions& opt,
                          std::ostream& out) {
  const COMPAR& c = m.c;
  JsonOut j(out);
  j.begin_object();
  j.key("model").begin_object();
  j.key("nnode").value(c.NNODE);
  j.key("numel").value(c.NUMEL);
  j.key("ndofn").value(c.NDOFN);
  j.key("neq").value(c.NEQ);
  j.key("nband").value(c.NBAND);
  j.key("iter").value(c.ITER);
  j.end_object();
  if (r.status) {
    j.key("status").value(*r.status);
  } else {
    j.key("status").null();
  }
  j.key("singular").value(r.singular);
  if (r.singular) {
    const int32_t k = r.KSTEP;
    j.key("failing_step").begin_object();
    j.key("step").value(k);
    j.key("equation").value(k);
    j.key("node").value(m.W.loc_node(k));
    j.key("direction").value(m.W.loc_dir(k));
    j.key("pivot").value(r.pivot);
    j.key("residual").value(r.failing_residual);
    j.key("motion");
    write_motion_json(m, *r.failing, j);
    j.end_object();
  } else {
    j.key("failing_step").null();
  }
  j.key("eigen").begin_object();
  j.key("computed").value(r.eigen_done);
  j.key("parts").value(r.parts);
  j.key("largest_part").value(r.largest_part);
  j.key("max_order").value(opt.max_order);
  j.key("zero").value(opt.zero);
  if (r.eigen_done) {
    j.key("largest_abs").value(r.largest_eigenvalue);
    j.key("zero_limit").value(r.zero_limit);
    j.key("largest_zero").value(r.largest_zero);
    j.key("smallest_nonzero").value(r.smallest_nonzero);
    j.key("negative").value(r.negative);
  }
  j.end_object();
  j.key("modes").begin_array();
  for (const Motion& mo : r.modes) write_motion_json(m, mo, j);
  j.end_array();
  j.end_object();
  j.finish();
}

}  // namespace drav::audit
