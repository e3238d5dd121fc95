#include "tools/lib/audit_model.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "assembly/genlu.h"
#include "driver/drav.h"
#include "driver/model_input.h"
#include "driver/work_alloc.h"
#include "params/rcom.h"
#include "recio/fatal.h"

namespace drav::audit {

void load_model(Model& m) {
  COMPAR& c = m.c;
  WorkArrays& W = m.W;
  RCOM(c, 2);
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

std::vector<int32_t> node_elements(const Model& m, int32_t node) {
  std::vector<int32_t> out;
  const int64_t nemax = nonneg(m.c.NEMAX);
  if (node < 1 || node > m.c.NNODE) return out;
  for (int64_t s = 0; s < nemax; ++s) {
    const int64_t at = (static_cast<int64_t>(node) - 1) * nemax + s;
    if (at < m.W.NEI.size() && m.W.NEI[at] != 0) out.push_back(m.W.NEI[at]);
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
