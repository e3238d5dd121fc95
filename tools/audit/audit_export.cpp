#include "tools/audit/audit_export.h"

#include <cstdio>
#include <fstream>

#include "recio/fatal.h"

namespace drav::audit {

namespace {

void header(const char* kind, int32_t n, int64_t entries, const std::vector<std::string>& comments,
            std::ostream& out) {
  out << "%%MatrixMarket matrix coordinate real " << kind << "\n";
  for (const std::string& c : comments) out << "% " << c << "\n";
  out << n << " " << n << " " << entries << "\n";
}

void entry(int32_t i, int32_t j, double v, std::ostream& out) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d %d %.17g\n", i, j, v);
  out << buf;
}

template <class Keep>
void write_mm(const Matrix& A, const char* kind, Keep keep,
              const std::vector<std::string>& comments, std::ostream& out) {
  const int32_t n = A.order();
  int64_t entries = 0;
  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t j = 1; j <= n; ++j) entries += keep(i, j) && A(i, j) != 0.0;
  }
  header(kind, n, entries, comments, out);
  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t j = 1; j <= n; ++j) {
      if (keep(i, j) && A(i, j) != 0.0) entry(i, j, A(i, j), out);
    }
  }
}

// Opens a file for the export; a failure ends with the fatal report.
std::ofstream create(const std::string& path) {
  // Binary: the line ends stay LF on every platform.
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) recio::fail("cannot create " + path);
  return f;
}

void finish(std::ofstream& f, const std::string& path) {
  f.close();
  if (!f) recio::fail("error during write of " + path);
}

std::vector<std::string> equation_table(const Model& m) {
  std::vector<std::string> c;
  for (int32_t k = 1; k <= m.c.NEQ; ++k) {
    c.push_back("equation " + std::to_string(k) + ": node " + std::to_string(m.W.loc_node(k)) +
                ", direction " + std::to_string(m.W.loc_dir(k)));
  }
  return c;
}

}  // namespace

void write_mm_symmetric(const Matrix& A, const std::vector<std::string>& comments,
                        std::ostream& out) {
  write_mm(
      A, "symmetric", [](int32_t i, int32_t j) { return i >= j; }, comments, out);
}

void write_mm_general(const Matrix& A, const std::vector<std::string>& comments,
                      std::ostream& out) {
  write_mm(
      A, "general", [](int32_t, int32_t) { return true; }, comments, out);
}

ExportResult export_run(Model& m, const std::string& prefix) {
  ExportResult r;
  const COMPAR& c = m.c;
  // The factors first, so that damaged result files fail before anything is written.
  Matrix F;
  std::vector<int32_t> IORD;
  const bool finished = read_factors_if_finished(c, F, IORD, r.note);

  Matrix A;
  build_matrix(m, A);
  std::vector<std::string> comments = {
      "stiffness matrix rebuilt by drav-audit from the model files",
      "NEQ = " + std::to_string(c.NEQ) + ", NBAND = " + std::to_string(c.NBAND) +
          ": entries with |i-j| >= NBAND are zero",
      "entries that are zero are not listed"};
  for (std::string& line : equation_table(m)) comments.push_back(std::move(line));
  {
    const std::string path = prefix + ".mtx";
    std::ofstream f = create(path);
    write_mm_symmetric(A, comments, f);
    finish(f, path);
    r.files.push_back(path);
  }
  if (!finished) return r;
  A.release();
  {
    const std::string path = prefix + "-factors.mtx";
    std::ofstream f = create(path);
    write_mm_general(F,
                     {"the factor array of " + matrix_file_name(c) +
                          ": row i of P*A = L*U, P the row order of order.dat",
                      "L = strictly lower part + identity (unit lower factor), U = upper part "
                      "with the diagonal",
                      "entries that are zero are not listed"},
                     f);
    finish(f, path);
    r.files.push_back(path);
  }
  {
    const std::string path = prefix + "-order.txt";
    std::ofstream f = create(path);
    for (int32_t v : IORD) f << v << "\n";
    finish(f, path);
    r.files.push_back(path);
  }
  return r;
}

}  // namespace drav::audit
