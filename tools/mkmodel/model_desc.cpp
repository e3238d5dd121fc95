// Parser of the model description read by drav-mkmodel.
//
// The description is a text file, one item per line:
//
//   # A comment runs from '#' to the end of the line; blank lines are ignored.
//   # Words are separated by blanks or tabs; keywords and key names may be in any case.
//   # Units are the user's: use one consistent set.
//
//   ndofn 2                  degrees of freedom per node: 2 for a plane, 3 for a space
//                            structure, any number >= 1 (required)
//   title Three-bay truss    descriptive text for COMZOR.DAT (rest of the line, <= 255 chars)
//   iter 1                   iteration number ITER (default 1)
//   case 1                   load-case number written to temp.dat (default 1)
//   report report.txt        report file the program appends to (default report.txt)
//   language english         english (default) or romanian; also e, r, romana
//   nemax 4                  slots per node in nei.UNF (default: the most bars at one node)
//   nband 5                  half band width (default: computed from the equation numbers)
//
//   node 3  4.0 0.0          node 3 at x = 4, y = 0 (ndofn coordinates). Nodes are numbered
//                            1 to NNODE, each exactly once, in any order.
//   fix 1 x y                rigid support of node 1 in x and y. A direction is x, y, z (1, 2,
//                            3), a direction number, or "all". Repeated fix lines add up.
//   spring 4 y 250           elastic support of node 4 in y, written as is into COMZOR.DAT
//                            (the program subtracts it from the node's diagonal entry once
//                            for every bar that meets the node).
//   default E=2.1e8 A=0.001  values for the bars that follow (until changed again)
//   bar 1  1 3               bar 1 from node 1 (NI) to node 3 (NF); bars are numbered 1 to
//   bar 2  3 4 A=0.002 T=5   NUMEL, each once, in any order; key=value pairs on the line
//                            override the defaults for that bar.
//
// Bar keys (no blanks around '='):
//   E or YY    Young's modulus (no default: give it on the bar or in a default line)
//   A or A0    area (no default)
//   AL0        factor of the axial rigidity AL0*E*A (default 1)
//   S0         reference length (default: the geometric length; "S0=length" in a default
//              line goes back to that)
//   T          axial force (default 0)
//   IND        state code (default 0): 0 elastic (axial and force terms), > 0 force terms
//              only (slack/cable state), < 0 the bar is left out of the matrix
//
// Settings may stand anywhere (ndofn too) but at most once each; default lines act on the
// bar lines after them only. Numbers are decimal, with an optional sign, point and exponent.
// Every error names the file and the line.
#include "tools/mkmodel/model_desc.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <system_error>
#include <utility>

#include "tools/mkmodel/model_items.h"

namespace drav::tools {
namespace {

struct Stmt {
  int line = 0;
  std::string key;                      // keyword, lower case
  std::vector<std::string_view> words;  // the words after the keyword
  std::string_view rest;                // the text after the keyword, trimmed
};

std::string lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> split_words(std::string_view s) {
  std::vector<std::string_view> w;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && is_blank(s[i])) ++i;
    size_t j = i;
    while (j < s.size() && !is_blank(s[j])) ++j;
    if (j > i) w.push_back(s.substr(i, j - i));
    i = j;
  }
  return w;
}

// The current defaults of the bar keys.
struct BarDefaults {
  std::optional<double> yy;
  std::optional<float> a0;
  float al0 = 1;
  std::optional<float> s0;  // none: geometric length
  double t = 0;
  int32_t ind = 0;
};

class Parser {
 public:
  explicit Parser(std::string_view file) { d_.file = std::string(file); }

  ModelDesc run(std::string_view text);

 private:
  [[noreturn]] void fail(int line, const std::string& msg) const {
    throw DescriptionError(d_.file, line, msg);
  }
  void warn(int line, const std::string& msg) {
    d_.warnings.push_back(located_warning(d_.file, line, msg));
  }

  int32_t to_int(const Stmt& s, std::string_view w, const char* what) const;
  double to_real(const Stmt& s, std::string_view w, const char* what) const;
  float to_float(const Stmt& s, std::string_view w, const char* what) const;
  std::vector<int32_t> to_dirs(const Stmt& s, size_t first, size_t last) const;
  void set_key(const Stmt& s, std::string_view kv, BarDefaults& target) const;
  void need_words(const Stmt& s, size_t lo, size_t hi, const char* form) const;
  void setting(const Stmt& s);
  void item(const Stmt& s);

  ModelDesc d_;
  std::map<std::string, int> seen_;  // setting -> line
  BarDefaults defaults_;
  DescItems items_;
};

int32_t Parser::to_int(const Stmt& s, std::string_view w, const char* what) const {
  std::string_view v = w;
  if (v.size() > 1 && v.front() == '+' && std::isdigit(static_cast<unsigned char>(v[1])))
    v.remove_prefix(1);
  int64_t x = 0;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), x);
  if (v.empty() || (v.front() == '-' && v.size() == 1) || ec == std::errc::invalid_argument ||
      p != v.data() + v.size())
    fail(s.line, "'" + std::string(w) + "' is not a whole number (" + what + ")");
  if (ec == std::errc::result_out_of_range || x < std::numeric_limits<int32_t>::min() ||
      x > std::numeric_limits<int32_t>::max())
    fail(s.line, std::string(what) + " " + std::string(w) + " is out of range");
  return static_cast<int32_t>(x);
}

double Parser::to_real(const Stmt& s, std::string_view w, const char* what) const {
  std::string_view v = w;
  if (v.size() > 1 && v.front() == '+' &&
      (std::isdigit(static_cast<unsigned char>(v[1])) || v[1] == '.'))
    v.remove_prefix(1);
  double x = 0;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), x, std::chars_format::general);
  if (v.empty() || ec == std::errc::invalid_argument || p != v.data() + v.size() ||
      !std::isfinite(x))
    fail(s.line, "'" + std::string(w) + "' is not a number (" + what + ")");
  if (ec == std::errc::result_out_of_range) {
    // The value is left unset then: underflow reads as zero, overflow is an error.
    const double r = std::strtod(std::string(v).c_str(), nullptr);
    if (std::fabs(r) > 1) fail(s.line, std::string(what) + " " + std::string(w) + " is too large");
    x = 0;
  }
  return x;
}

float Parser::to_float(const Stmt& s, std::string_view w, const char* what) const {
  double x = to_real(s, w, what);
  if (std::fabs(x) > std::numeric_limits<float>::max())
    fail(s.line, std::string(what) + " " + std::string(w) + " is too large for a real");
  return static_cast<float>(x);
}

std::vector<int32_t> Parser::to_dirs(const Stmt& s, size_t first, size_t last) const {
  std::vector<int32_t> dirs;
  for (size_t i = first; i < last; ++i) {
    std::string w = lower(s.words[i]);
    if (w == "all") {
      dirs.push_back(kAllDirs);
      continue;
    }
    int32_t dir = 0;
    if (w == "x") {
      dir = 1;
    } else if (w == "y") {
      dir = 2;
    } else if (w == "z") {
      dir = 3;
    } else if (!w.empty() && (std::isdigit(static_cast<unsigned char>(w[0])) || w[0] == '+')) {
      dir = to_int(s, s.words[i], "direction");
    } else {
      fail(s.line, "'" + std::string(s.words[i]) +
                       "' is not a direction (x, y, z, a number 1 to ndofn, or all)");
    }
    if (dir < 1 || dir > d_.ndofn)
      fail(s.line, "direction " + std::string(s.words[i]) + " does not exist with ndofn " +
                       std::to_string(d_.ndofn));
    dirs.push_back(dir);
  }
  return dirs;
}

void Parser::set_key(const Stmt& s, std::string_view kv, BarDefaults& target) const {
  size_t eq = kv.find('=');
  if (eq == std::string_view::npos || eq == 0 || eq + 1 == kv.size())
    fail(s.line, "'" + std::string(kv) +
                     "' is not KEY=VALUE (keys: E, A, AL0, S0, T, IND; no blanks around '=')");
  std::string key = lower(kv.substr(0, eq));
  std::string_view val = kv.substr(eq + 1);
  if (key == "e" || key == "yy") {
    target.yy = to_real(s, val, "E");
  } else if (key == "a" || key == "a0") {
    target.a0 = to_float(s, val, "A");
  } else if (key == "al0") {
    target.al0 = to_float(s, val, "AL0");
  } else if (key == "s0") {
    if (lower(val) == "length") {
      target.s0.reset();
    } else {
      float s0 = to_float(s, val, "S0");
      if (!(s0 > 0)) fail(s.line, "S0 must be positive, not " + std::string(val));
      target.s0 = s0;
    }
  } else if (key == "t") {
    target.t = to_real(s, val, "T");
  } else if (key == "ind") {
    target.ind = to_int(s, val, "IND");
  } else {
    fail(s.line,
         "unknown bar key '" + std::string(kv.substr(0, eq)) + "' (keys: E, A, AL0, S0, T, IND)");
  }
}

void Parser::need_words(const Stmt& s, size_t lo, size_t hi, const char* form) const {
  if (s.words.size() < lo || s.words.size() > hi) fail(s.line, std::string("expected: ") + form);
}

void Parser::setting(const Stmt& s) {
  auto [it, fresh] = seen_.emplace(s.key, s.line);
  if (!fresh)
    fail(s.line, s.key + " is given twice (first on line " + std::to_string(it->second) + ")");
  if (s.key == "title" || s.key == "report") {
    if (s.rest.size() > 255) fail(s.line, s.key + " is longer than 255 characters");
    if (s.key == "title") {
      d_.title = std::string(s.rest);
    } else {
      if (s.rest.empty()) fail(s.line, "expected: report PATH");
      d_.report = std::string(s.rest);
    }
    return;
  }
  if (s.key == "language") {
    need_words(s, 1, 1, "language english|romanian");
    std::string l = lower(s.words[0]);
    if (l == "english" || l == "e" || l == "en") {
      d_.romanian = false;
    } else if (l == "romanian" || l == "romana" || l == "r" || l == "ro") {
      d_.romanian = true;
    } else {
      fail(s.line, "language '" + std::string(s.words[0]) + "' is neither english nor romanian");
    }
    return;
  }
  // The numeric settings.
  need_words(s, 1, 1, (s.key + " NUMBER").c_str());
  int32_t v = to_int(s, s.words[0], s.key.c_str());
  if (s.key == "ndofn") {
    // The el.unf record length, 8*NDOFN+56 four-byte units, must stay a 32-bit integer.
    if (v < 1 || v > (std::numeric_limits<int32_t>::max() - 56) / 8)
      fail(s.line, "ndofn must be at least 1, not " + std::string(s.words[0]));
    d_.ndofn = v;
  } else if (s.key == "iter") {
    d_.iter = v;
  } else if (s.key == "case") {
    d_.load_case = v;
    items_.case_line = s.line;
  } else if (s.key == "nemax") {
    if (v < 1) fail(s.line, "nemax must be at least 1");
    d_.nemax = v;
    d_.nemax_line = s.line;
  } else if (s.key == "nband") {
    if (v < 1) fail(s.line, "nband must be at least 1");
    d_.nband = v;
    d_.nband_line = s.line;
  }
}

void Parser::item(const Stmt& s) {
  const int32_t nd = d_.ndofn;
  if (s.key == "node") {
    if (s.words.size() != static_cast<size_t>(nd) + 1)
      fail(s.line, "expected: node N and " + std::to_string(nd) + " coordinate" +
                       (nd == 1 ? "" : "s") + " (ndofn " + std::to_string(nd) + ")");
    NodeLine n{to_int(s, s.words[0], "node number"), {}, s.line};
    if (n.n < 1) fail(s.line, "node numbers start at 1, not " + std::string(s.words[0]));
    n.c.reserve(nd);
    for (int32_t i = 1; i <= nd; ++i) {
      double c = to_real(s, s.words[i], "coordinate");
      if (std::fabs(c) > std::numeric_limits<float>::max())
        fail(s.line, "coordinate " + std::string(s.words[i]) + " is too large for a real");
      n.c.push_back(c);
    }
    items_.nodes.push_back(std::move(n));
  } else if (s.key == "fix") {
    if (s.words.size() < 2) fail(s.line, "expected: fix NODE DIRECTION... (x, y, z, 1.., all)");
    items_.fixes.push_back(
        {to_int(s, s.words[0], "node number"), to_dirs(s, 1, s.words.size()), s.line});
  } else if (s.key == "spring") {
    need_words(s, 3, 3, "spring NODE DIRECTION STIFFNESS");
    items_.springs.push_back({to_int(s, s.words[0], "node number"), to_dirs(s, 1, 2),
                              to_float(s, s.words[2], "stiffness"), s.line});
  } else if (s.key == "default") {
    if (s.words.empty())
      fail(s.line, "expected: default KEY=VALUE... (keys: E, A, AL0, S0, T, IND)");
    BarDefaults next = defaults_;
    for (auto w : s.words) set_key(s, w, next);
    defaults_ = next;
  } else if (s.key == "bar") {
    if (s.words.size() < 3) fail(s.line, "expected: bar NUMBER NI NF [KEY=VALUE...]");
    BarLine b{to_int(s, s.words[0], "bar number"), {}};
    if (b.e < 1) fail(s.line, "bar numbers start at 1, not " + std::string(s.words[0]));
    b.b.ni = to_int(s, s.words[1], "node number");
    b.b.nf = to_int(s, s.words[2], "node number");
    BarDefaults v = defaults_;
    for (size_t i = 3; i < s.words.size(); ++i) set_key(s, s.words[i], v);
    const std::string name = "bar " + std::to_string(b.e);
    if (!v.yy) fail(s.line, name + " has no E (give E= on the bar or in a default line)");
    if (!v.a0) fail(s.line, name + " has no A (give A= on the bar or in a default line)");
    b.b.yy = *v.yy;
    b.b.a0 = *v.a0;
    b.b.al0 = v.al0;
    b.b.s0_given = v.s0.has_value();
    b.b.s0 = v.s0.value_or(0.0f);
    b.b.t = v.t;
    b.b.ind = v.ind;
    b.b.line = s.line;
    items_.bars.push_back(std::move(b));
  } else {
    fail(s.line, "unknown keyword '" + s.key +
                     "' (expected ndofn, title, iter, case, report, language, nemax, nband, "
                     "node, fix, spring, default or bar)");
  }
}

ModelDesc Parser::run(std::string_view text) {
  std::vector<Stmt> stmts;
  int line = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    ++line;
    size_t hash = raw.find('#');
    if (hash != std::string_view::npos) raw = raw.substr(0, hash);
    raw = trim(raw);
    if (raw.empty()) continue;
    if (raw.find('\0') != std::string_view::npos) fail(line, "the line holds a NUL character");
    Stmt s;
    s.line = line;
    size_t kend = 0;
    while (kend < raw.size() && !is_blank(raw[kend])) ++kend;
    s.key = lower(raw.substr(0, kend));
    s.rest = trim(raw.substr(kend));
    s.words = split_words(s.rest);
    stmts.push_back(std::move(s));
  }
  static constexpr std::array<std::string_view, 8> kSettings = {
      "ndofn", "title", "iter", "case", "report", "language", "nemax", "nband"};
  auto is_setting = [](const std::string& k) {
    return std::find(kSettings.begin(), kSettings.end(), k) != kSettings.end();
  };
  // Settings first: the node and direction items need ndofn.
  for (const auto& s : stmts)
    if (is_setting(s.key)) setting(s);
  if (d_.ndofn == 0) fail(0, "no ndofn line (ndofn 2 for a plane, 3 for a space structure)");
  for (const auto& s : stmts)
    if (!is_setting(s.key)) item(s);
  check_items(items_, d_);
  return std::move(d_);
}

}  // namespace

ModelDesc parse_description(std::string_view text, std::string_view file) {
  return Parser(file).run(text);
}

ModelDesc read_description(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    throw DescriptionError(path, 0, "is a directory, not a description");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw DescriptionError(path, 0, "cannot open the description");
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) throw DescriptionError(path, 0, "cannot read the description");
  return parse_description(ss.str(), path);
}

}  // namespace drav::tools
