#include "tools/audit/audit_model.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "assembly/genlu.h"
#include "driver/model_input.h"
#include "driver/work_alloc.h"
#include "factor/factor_system.h"
#include "factor/reference/ludecomp.h"
#include "params/model_files.h"
#include "params/rcom.h"
#include "recio/binrec.h"
#include "recio/fatal.h"
#include "tools/audit/audit_linalg.h"

namespace drav::audit {

void load_model(Model& m) {
  COMPAR& c = m.c;
  WorkArrays& W = m.W;
  RCOM(c, kComzorFile.unit, kComzorFile.name);
  // The program's own allocation groups and model input.
  if (!allocate_group1(c, W) || !allocate_group2(c, W)) {
    recio::fail("cannot allocate the model arrays of " + std::to_string(c.NNODE) + " nodes and " +
                std::to_string(c.NUMEL) + " elements");
  }
  read_model(c, W);
}

void build_matrix(Model& m, Matrix& A) {
  const COMPAR& c = m.c;
  if (!A.allocate(c.NEQ)) {
    recio::fail("cannot allocate the matrix of order NEQ = " + std::to_string(c.NEQ));
  }
  // The program's own generation, less its report.
  generate_matrix(c, m.W, A);
  check_finite(c, m.W, A);
}

namespace {

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

bool symmetric(const Matrix& A, int32_t n) {
  for (int32_t I = 1; I <= n; ++I)
    for (int32_t J = I + 1; J <= n; ++J)
      if (!same_bits(A(I, J), A(J, I))) return false;
  return true;
}

}  // namespace

RepeatedFactorization factor_as_the_program(COMPAR& c, Matrix& LU) {
  RepeatedFactorization f;
  const int32_t n = std::max(c.NEQ, 0);
  f.IORD.assign(static_cast<size_t>(n), 0);
  FactorOutcome r;
  if (!symmetric(LU, n)) {
    // Not a matrix the program generates: every kernel gives the literal scheme's result, so
    // the literal one stands for them.
    r = LUDECOMP_OUTCOME(LU, n, f.IORD.data());
  } else {
    // The program factors the matrix from the compact form of its upper triangle, and LU then
    // serves as the dense kernels' matrix, which starts as +0.0 everywhere.
    UpperRows U;
    for (int32_t I = 1; I <= n; ++I) {
      for (int32_t J = I; J <= n; ++J)
        if (!same_bits(LU(I, J), 0.0)) U.add(J, LU(I, J));
      U.end_row();
    }
    for (int32_t I = 1; I <= n; ++I) std::fill(LU.row(I), LU.row(I) + n, 0.0);
    Factorization F;
    r = factor_system(U, LU, f.IORD.data(), F);
    // The band kernels keep the factors in storage of their own.
    if (F.kernel == Kernel::Band || F.kernel == Kernel::WideBand) {
      for (int32_t p = 1; p <= n; ++p) F.row(p, LU.row(p));
    }
  }
  f.complete = r.stop == FactorOutcome::Stop::Complete;
  f.KSTEP = r.KSTEP;
  f.pivot = r.pivot;
  return f;
}

std::vector<int32_t> node_elements(const Model& m, int32_t node) {
  std::vector<int32_t> out;
  const int64_t nemax = nonneg(m.c.NEMAX);
  if (node < 1 || node > m.c.NNODE) return out;
  for (int64_t s = 0; s < nemax; ++s) {
    const int64_t slot = (static_cast<int64_t>(node) - 1) * nemax + s;
    if (slot < m.W.NEI.size() && m.W.NEI[slot] != 0) out.push_back(m.W.NEI[slot]);
  }
  return out;
}

std::vector<int32_t> elements_ending_at(const Model& m, int32_t node) {
  std::vector<int32_t> out;
  for (int32_t e : node_elements(m, node)) {
    if (e >= 1 && e <= m.c.NUMEL && (m.W.NI[e - 1] == node || m.W.NF[e - 1] == node)) {
      out.push_back(e);
    }
  }
  return out;
}

std::string read_text_file(int unit, const std::string& path, uint64_t max_bytes) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) recio::io_fail(recio::kFileNotFound, unit, path);
  if (!std::filesystem::is_regular_file(path, ec)) {
    recio::io_fail(recio::kOpenFailure, unit, path, "not a regular file");
  }
  const uint64_t size = std::filesystem::file_size(path, ec);
  if (ec) recio::io_fail(recio::kOpenFailure, unit, path, ec.message());
  if (size > max_bytes) {
    recio::io_fail(recio::kReadError, unit, path,
                   std::to_string(size) + " bytes, more than the " + std::to_string(max_bytes) +
                       " that its content can take");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) recio::io_fail(recio::kOpenFailure, unit, path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) recio::io_fail(recio::kReadError, unit, path);
  return text;
}

std::vector<int32_t> parse_integers(int unit, const std::string& path, const std::string& text) {
  std::vector<int32_t> out;
  int64_t line = 1;
  size_t i = 0;
  const auto sep = [](char ch) {
    return ch == ' ' || ch == '\t' || ch == ',' || ch == '\r' || ch == '\n';
  };
  while (i < text.size()) {
    if (text[i] == '\n') ++line;
    if (sep(text[i])) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < text.size() && !sep(text[j])) ++j;
    std::string_view tok(text.data() + i, j - i);
    // An optional sign and digits, nothing else.
    std::string_view digits = tok;
    if (digits.front() == '+') digits.remove_prefix(1);
    const size_t first_digit = !digits.empty() && digits.front() == '-' ? 1 : 0;
    bool well_formed = digits.size() > first_digit && !(tok.front() == '+' && first_digit == 1);
    for (size_t k = first_digit; k < digits.size(); ++k) {
      well_formed = well_formed && digits[k] >= '0' && digits[k] <= '9';
    }
    const std::string where = "line " + std::to_string(line) + ": \"" + std::string(tok) + "\"";
    if (!well_formed) recio::io_fail(recio::kSyntaxError, unit, path, where);
    int32_t v = 0;
    const auto [end, err] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (err != std::errc() || end != digits.data() + digits.size()) {
      recio::io_fail(recio::kConversionError, unit, path, where);
    }
    out.push_back(v);
    i = j;
  }
  return out;
}

std::string free_format_integers(const std::vector<int32_t>& values) {
  if (values.empty()) return " \r\n";
  std::string out;
  char field[16];
  for (size_t k = 0; k < values.size(); ++k) {
    std::snprintf(field, sizeof field, "%12d", static_cast<int>(values[k]));
    out += field;
    if (k % 6 == 5 || k + 1 == values.size()) out += "\r\n";
  }
  return out;
}

int32_t read_status(std::string& text) {
  text = read_text_file(kStatusFile.unit, kStatusFile.name, 4096);
  const std::vector<int32_t> status = parse_integers(kStatusFile.unit, kStatusFile.name, text);
  if (status.size() != 1) {
    recio::io_fail(recio::kReadError, kStatusFile.unit, kStatusFile.name,
                   "one status expected, " + std::to_string(status.size()) + " numbers found");
  }
  return status[0];
}

std::string matrix_file_name(const COMPAR& c) {
  return matrix_file_of(c.ITER).name;
}

namespace {

constexpr int kMatrixUnit = kMatrixFileFirst.unit;

}  // namespace

RecordScan scan_matrix_file(const std::string& name, int32_t n) {
  const int64_t row_bytes = 8 * static_cast<int64_t>(n > 0 ? n : 0);
  RecordScan s;
  recio::SeqReader r(kMatrixUnit, name);
  while (!r.at_end()) {
    const int64_t len = r.record_length();
    ++s.records;
    if (len != row_bytes && s.bad_record == 0) {
      s.bad_record = s.records;
      s.bad_length = len;
    }
  }
  r.close();
  return s;
}

void read_matrix_rows(const std::string& name, Matrix& F) {
  recio::SeqReader r(kMatrixUnit, name);
  const size_t row_bytes = 8 * static_cast<size_t>(F.order());
  for (int32_t i = 1; i <= F.order(); ++i) r.read(F.row(i), row_bytes);
  r.close();
}

std::string read_order_text(int32_t n) {
  // Six I12 fields and CR LF a line, and some slack.
  const uint64_t limit = (static_cast<uint64_t>(n > 0 ? n : 0) / 6 + 1) * 74 + 1024;
  return read_text_file(kOrderFile.unit, kOrderFile.name, limit);
}

void read_stored_factors(const COMPAR& c, Matrix& F, std::vector<int32_t>& IORD) {
  const int32_t n = c.NEQ > 0 ? c.NEQ : 0;
  const std::string name = matrix_file_name(c);
  const RecordScan scan = scan_matrix_file(name, n);
  if (!scan.fits(n)) {
    recio::io_fail(
        recio::kReadError, kMatrixUnit, name,
        std::to_string(scan.records) + " records, " +
            (scan.bad_record != 0 ? "record " + std::to_string(scan.bad_record) + " of " +
                                        std::to_string(scan.bad_length) + " bytes, "
                                  : std::string()) +
            "where NEQ = " + std::to_string(n) + " needs " + std::to_string(n) + " records of " +
            std::to_string(8 * int64_t{n}) + " bytes");
  }
  IORD = parse_integers(kOrderFile.unit, kOrderFile.name, read_order_text(n));
  if (!is_permutation(IORD, n)) {
    recio::io_fail(recio::kReadError, kOrderFile.unit, kOrderFile.name,
                   "not a permutation of 1.." + std::to_string(n));
  }
  if (!F.allocate(n)) recio::fail("cannot allocate the factors of order " + std::to_string(n));
  read_matrix_rows(name, F);
}

std::optional<int32_t> status_if_present() {
  std::error_code ec;
  if (!std::filesystem::exists(kStatusFile.name, ec)) return std::nullopt;
  std::string text;
  return read_status(text);
}

bool read_factors_if_finished(const COMPAR& c, Matrix& F, std::vector<int32_t>& IORD,
                              std::string& why_not) {
  const std::optional<int32_t> status = status_if_present();
  if (status && *status == 0) {
    read_stored_factors(c, F, IORD);
    return true;
  }
  if (!status) {
    why_not = "no drav0.dat: the program has not run here, so there are no stored factors";
  } else if (*status == -1) {
    why_not = "the run ended with a singular matrix: no factors were stored";
  } else {
    why_not = "drav0.dat holds " + std::to_string(*status) + ", not the status of a finished run";
  }
  return false;
}

int64_t first_differing_line(const std::string& expected, const std::string& actual) {
  if (expected == actual) return 0;
  int64_t line = 1;
  const size_t n = std::min(expected.size(), actual.size());
  for (size_t i = 0; i < n && expected[i] == actual[i]; ++i) {
    if (expected[i] == '\n') ++line;
  }
  return line;
}

}  // namespace drav::audit
