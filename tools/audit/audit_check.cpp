#include "tools/audit/audit_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "assembly/element.h"
#include "driver/results.h"
#include "factor/pivot_rule.h"
#include "params/model_files.h"
#include "recio/binrec.h"
#include "recio/fatal.h"
#include "recio/textio.h"
#include "tools/audit/audit_linalg.h"
#include "tools/audit/audit_mechanism.h"
#include "tools/audit/audit_model.h"

namespace drav::audit {

namespace {

std::string sci(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.3e", v);
  return buf;
}

std::string num(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.7g", v);
  return buf;
}

const char* state_text(int32_t ind) {
  if (ind < 0) return "negative state: left out of the matrix";
  if (ind == 0) return "elastic state";
  return "force-only state";
}

int check_factors(Model& m, std::ostream& out, const CheckOptions& opt, int fails) {
  const COMPAR& c = m.c;
  const int32_t n = c.NEQ;
  const std::string name = matrix_file_name(c);
  const int64_t row_bytes = 8 * static_cast<int64_t>(n > 0 ? n : 0);

  // The framing and the record sizes first: nothing large is allocated for a file that cannot
  // be the matrix.
  const RecordScan scan = scan_matrix_file(name, n);
  const int64_t records = scan.records, bad_record = scan.bad_record;
  if (!scan.fits(n)) {
    out << "FAIL: " << name << " holds " << records << " records";
    if (bad_record != 0) {
      out << ", record " << bad_record << " of " << scan.bad_length << " bytes";
    }
    out << "; NEQ = " << n << " needs " << n << " records of " << row_bytes << " bytes\n";
    return kCheckFail;
  }
  out << name << ": " << records << " records of " << row_bytes << " bytes\n";

  const std::string order_text = read_order_text(n);
  const std::vector<int32_t> IORD = parse_integers(kOrderFile.unit, kOrderFile.name, order_text);
  if (!is_permutation(IORD, n)) {
    out << "FAIL: order.dat holds " << IORD.size() << " numbers that are not a permutation of 1.."
        << n << "\n";
    return kCheckFail;
  }
  int32_t moved = 0;
  for (int32_t k = 1; k <= n; ++k) moved += IORD[static_cast<size_t>(k - 1)] != k;
  out << "order.dat: a permutation of 1.." << n << ", " << moved << " rows out of place\n";
  if (const int64_t line = first_differing_line(free_format_integers(IORD), order_text)) {
    out << "FAIL: order.dat is not in the free-format layout (I12, six a line, CR LF), line "
        << line << "\n";
    ++fails;
  }
  if (n == 0) {
    out << "empty system: no factors to check\n";
    return fails ? kCheckFail : kCheckPass;
  }

  Matrix A;
  build_matrix(m, A);
  Matrix F;
  if (!F.allocate(n)) recio::fail("cannot allocate the factors of order " + std::to_string(n));
  read_matrix_rows(name, F);

  const double amax = max_abs(A);
  const double abs_res = lu_residual(A, F, IORD);
  const double rel = amax > 0 ? abs_res / amax : abs_res;
  out << "residual: " << sci(rel) << " = max |(L*U)(i,j) - A(IORD(i),j)| / max |A(i,j)|"
      << " (absolute " << sci(abs_res) << ", max |A| = " << sci(amax) << ")\n";

  int32_t kmin = 1;
  for (int32_t k = 2; k <= n; ++k) {
    if (std::fabs(F(k, k)) < std::fabs(F(kmin, kmin))) kmin = k;
  }
  out << "smallest pivot: |U(" << kmin << "," << kmin << ")| = " << sci(std::fabs(F(kmin, kmin)))
      << " (equation " << kmin << ": node " << m.W.loc_node(kmin) << ", direction "
      << m.W.loc_dir(kmin) << ")\n";

  const Condition cond = condition_1norm(A, F, IORD, opt.exact_limit);
  out << "condition estimate: " << sci(cond.kappa)
      << " = ||A||_1 * ||A^-1||_1 = " << sci(cond.norm_a) << " * " << sci(cond.norm_inv)
      << (cond.exact ? " (exact inverse)" : " (Hager-Higham estimate, a lower bound)") << "\n";

  if (!(rel <= opt.tol)) {
    out << "FAIL: residual " << sci(rel) << " above the tolerance " << sci(opt.tol) << "\n";
    return kCheckFail;
  }
  if (fails) return kCheckFail;
  out << "PASS: residual " << sci(rel) << " within the tolerance " << sci(opt.tol) << "\n";
  return kCheckPass;
}

int name_singular(Model& m, std::ostream& out, int fails) {
  COMPAR& c = m.c;
  const int32_t n = c.NEQ;
  if (n < 1) {
    out << "FAIL: drav0.dat reports a singular matrix, but the model has no equation\n";
    return kCheckFail;
  }
  Matrix LU;
  build_matrix(m, LU);
  const RepeatedFactorization f = factor_as_the_program(c, LU);
  if (f.complete) {
    out << "FAIL: drav0.dat reports a singular matrix, but the rebuilt matrix factors"
           " completely\n";
    return kCheckFail;
  }
  const int32_t k = f.KSTEP;
  const int32_t node = m.W.loc_node(k), dir = m.W.loc_dir(k);
  out << "singular: the factorization stops at step " << k << ", pivot u(" << k << "," << k
      << ") = " << num(f.pivot) << " below the tolerance " << num(PIVTOL) << "\n";
  const char label = direction_label(dir, c.NDOFN);
  out << "unknown: equation " << k << ", node " << node << ", direction " << dir;
  if (label != ' ' && label != '\0') out << " (" << label << ")";
  out << "\n";
  if (ELASTIC(c, node)) {
    out << "elastic support at node " << node << ":";
    for (int32_t d = 1; d <= c.NDOFN; ++d) out << " " << num(c.elsup(node, d));
    out << "\n";
  }
  const std::vector<int32_t> elems = node_elements(m, node);
  if (elems.empty()) out << "no element meets node " << node << "\n";
  for (int32_t e : elems) {
    out << "element " << e;
    if (e >= 1 && e <= c.NUMEL) {
      const int32_t ind = m.W.IND[e - 1];
      out << ": nodes " << m.W.NI[e - 1] << " - " << m.W.NF[e - 1] << ", IND = " << ind << " ("
          << state_text(ind) << ")";
    } else {
      out << ": not an element of the model";
    }
    out << "\n";
  }
  // What moves: the null vector of the leading block at the failing step.
  MechanismOptions mo;
  mo.eigen = MechanismOptions::Eigen::Never;
  const MechanismReport r = analyse_mechanism(m, mo);
  if (r.failing && !r.failing->moves.empty()) {
    out << "motion at the failing step (" << kind_word(r.failing->classification) << "):";
    const size_t shown = std::min<size_t>(r.failing->moves.size(), 8);
    for (size_t i = 0; i < shown; ++i) {
      const Move& mv = r.failing->moves[i];
      out << (i ? ", " : " ") << "node " << mv.node << " " << direction_name(mv.dir) << " "
          << num(mv.share);
    }
    if (shown < r.failing->moves.size()) out << ", ...";
    out << "\n(drav-audit mechanism describes it and every zero-energy mode)\n";
  }
  return fails ? kCheckFail : kCheckPass;
}

}  // namespace

int check_run(const CheckOptions& opt, std::ostream& out) {
  Model m;
  load_model(m);
  const COMPAR& c = m.c;
  out << "model: NNODE = " << c.NNODE << ", NUMEL = " << c.NUMEL << ", NDOFN = " << c.NDOFN
      << ", NEQ = " << c.NEQ << ", NBAND = " << c.NBAND << ", ITER = " << c.ITER << "\n";

  std::string status_text;
  const int32_t status = read_status(status_text);
  int fails = 0;
  out << "status: " << status << "\n";
  if (first_differing_line(free_format_integers({status}), status_text) != 0) {
    out << "FAIL: drav0.dat is not in the free-format layout (one I12 field, CR LF)\n";
    ++fails;
  }
  if (status == 0) return check_factors(m, out, opt, fails);
  if (status == -1) return name_singular(m, out, fails);
  out << "FAIL: drav0.dat holds " << status << ", a status the program never writes\n";
  return kCheckFail;
}

}  // namespace drav::audit
