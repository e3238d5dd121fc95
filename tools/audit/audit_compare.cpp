// Which files two run directories hold, what each of them is, and the verdict on them.
#include "tools/audit/audit_compare.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string_view>

#include "params/compar.h"
#include "params/model_files.h"
#include "params/rcom.h"
#include "recio/fatal.h"

namespace drav::audit {

namespace {

namespace fs = std::filesystem;

// The regular files under `dir` (links followed), by their paths relative to it.
std::vector<std::string> files_under(const std::string& dir) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) recio::fail("cannot compare " + dir + ": not a directory");
  std::vector<std::string> names;
  fs::recursive_directory_iterator it(dir, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code kind;
    if (fs::is_regular_file(it->path(), kind)) {
      names.push_back(it->path().lexically_relative(dir).generic_string());
    }
  }
  if (ec) recio::fail("cannot list the directory " + dir + " (" + ec.message() + ")");
  return names;
}

std::string in_dir(const std::string& dir, const std::string& name) {
  return (fs::path(dir) / fs::path(name)).string();
}

bool is_stiffness_report(const std::string& name) {
  constexpr std::string_view head = "rig-case", tail = ".dat";
  return name.size() > head.size() + tail.size() && name.starts_with(head) &&
         name.ends_with(tail) && name.find('/') == std::string::npos;
}

// The model's parameters, from the COMZOR.DAT of the first directory that has one. The file
// itself is compared as bytes; one that the program cannot read leaves the entries unlocated,
// with a note, and does not stop the comparison.
std::optional<COMPAR> read_parameters(const std::string& a, const std::string& b,
                                      const std::map<std::string, std::pair<bool, bool>>& names,
                                      std::vector<std::string>& notes) {
  const auto it = names.find(kComzorFile.name);
  if (it == names.end()) return std::nullopt;
  std::optional<COMPAR> c(std::in_place);
  try {
    RCOM(*c, kComzorFile.unit, in_dir(it->second.first ? a : b, kComzorFile.name));
  } catch (const recio::FatalError& e) {
    notes.push_back(std::string(e.what()) + ": the entries are not located");
    return std::nullopt;
  }
  return c;
}

// The equation table of the model (node and direction of each equation), when the supports
// leave NEQ free directions.
void number_equations(const COMPAR& c, Equations& eq, std::vector<std::string>& notes) {
  const int64_t free = count_free_dofs(c);
  if (free != c.NEQ) {
    notes.push_back("COMZOR.DAT gives NEQ = " + std::to_string(c.NEQ) +
                    ", but the supports leave " + std::to_string(free) +
                    " free directions: the entries are not located");
    return;
  }
  for_each_free_dof(
      c.NNODE, c.NDOFN, [&](int32_t n, int32_t d) { return c.iblk(n, d) != 0; },
      [&](int32_t n, int32_t d) {
        eq.node.push_back(n);
        eq.dir.push_back(d);
      });
}

// The report file named in COMZOR.DAT, as a name inside the directories (none when it lies
// elsewhere).
std::optional<std::string> report_name(const COMPAR& c, std::vector<std::string>& notes) {
  const std::string path = c.report_path();
  if (path.empty()) return std::nullopt;
  const fs::path p = fs::path(path).lexically_normal();
  const std::string name = p.generic_string();
  if (p.is_absolute() || name.starts_with("..")) {
    notes.push_back("the report file " + path + " lies outside the directories: not compared");
    return std::nullopt;
  }
  return name;
}

FileKind kind_of(const std::string& name, const std::optional<std::string>& report) {
  if (name == kMatrixFileFirst.name || name == kMatrixFileLater.name) return FileKind::Matrix;
  if (name == kOrderFile.name) return FileKind::Order;
  if (name == kStatusFile.name) return FileKind::Status;
  if (is_stiffness_report(name)) return FileKind::Stiffness;
  if (report && name == *report) return FileKind::Report;
  return FileKind::Bytes;
}

// The unit the program reads a model file on, 0 for other files.
int unit_of(const std::string& name) {
  for (const RunFile& f : {kComzorFile, kNeiFile, kX0File, kElFile, kTempFile}) {
    if (name == f.name) return f.unit;
  }
  return 0;
}

std::string plural(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What differs in one file, for the verdict.
std::string verdict_of(const FileComparison& f) {
  if (!f.in_a || !f.in_b) return f.name + " only in " + (f.in_a ? "a" : "b");
  if (f.same()) return f.name + " same";
  std::vector<std::string> what;
  if (const auto* m = std::get_if<MatrixDiff>(&f.diff)) {
    if (m->records_a != m->records_b) {
      what.push_back(std::to_string(m->records_a) + " records against " +
                     std::to_string(m->records_b));
    } else if (m->framing) {
      what.push_back(plural(m->framing, "record length", "record lengths"));
    }
    if (m->differ) {
      std::vector<std::string> kinds;
      if (m->signed_zero) kinds.push_back(plural(m->signed_zero, "signed zero", "signed zeros"));
      if (m->nan_payload) kinds.push_back(plural(m->nan_payload, "NaN payload", "NaN payloads"));
      if (m->not_finite) kinds.push_back(std::to_string(m->not_finite) + " not finite");
      if (m->max_ulps)
        kinds.push_back("max " + plural(static_cast<int64_t>(m->max_ulps->ulps), "ulp", "ulps"));
      std::string s = plural(m->differ, "entry", "entries") + " (";
      for (size_t i = 0; i < kinds.size(); ++i) s += (i ? ", " : "") + kinds[i];
      what.push_back(s + ")");
    }
  } else if (const auto* o = std::get_if<OrderDiff>(&f.diff)) {
    if (o->differ) what.push_back(plural(o->differ, "position", "positions"));
    if (o->layout_line) what.push_back("layout from line " + std::to_string(o->layout_line));
  } else if (const auto* s = std::get_if<StiffnessDiff>(&f.diff)) {
    for (const LineDiff& h : s->header) what.push_back(h.line == 1 ? "title" : "band line");
    if (s->fields) what.push_back(plural(s->fields, "field", "fields"));
    if (s->other) what.push_back(plural(s->other, "other line", "other lines"));
    if (s->lines.line_ends) what.push_back("line ends");
  } else if (const auto* l = std::get_if<LinesDiff>(&f.diff)) {
    if (l->differ) what.push_back(plural(l->differ, "line", "lines"));
    if (l->line_ends) what.push_back("line ends");
  } else if (const auto* st = std::get_if<StatusDiff>(&f.diff)) {
    what.push_back(st->a != st->b ? std::to_string(st->a) + " against " + std::to_string(st->b)
                                  : "laid out differently");
  } else if (const auto* b = std::get_if<BytesDiff>(&f.diff)) {
    what.push_back("differs at byte " + std::to_string(b->first));
  }
  std::string s = f.name;
  for (size_t i = 0; i < what.size(); ++i) s += (i ? " and " : " ") + what[i];
  return s;
}

}  // namespace

bool FileComparison::same() const {
  if (!in_a || !in_b) return false;
  return std::visit(
      [](const auto& d) {
        if constexpr (std::is_same_v<std::decay_t<decltype(d)>, std::monostate>) {
          return false;
        } else {
          return d.same();
        }
      },
      diff);
}

bool CompareReport::identical() const {
  return std::all_of(files.begin(), files.end(), [](const FileComparison& f) { return f.same(); });
}

std::string CompareReport::verdict() const {
  if (identical()) return "identical";
  std::string s = "differ:";
  int64_t other_same = 0;
  bool first = true;
  for (const FileComparison& f : files) {
    if (f.kind == FileKind::Bytes && f.same()) {
      ++other_same;
      continue;
    }
    s += (first ? " " : ", ") + verdict_of(f);
    first = false;
  }
  if (other_same) s += ", " + plural(other_same, "other file same", "other files same");
  return s;
}

CompareReport compare_runs(const std::string& a, const std::string& b, const CompareOptions& opt) {
  CompareReport r;
  r.dir_a = a;
  r.dir_b = b;
  std::map<std::string, std::pair<bool, bool>> names;  // in a, in b
  for (const std::string& n : files_under(a)) names[n].first = true;
  for (const std::string& n : files_under(b)) names[n].second = true;

  std::optional<std::string> report;
  uint64_t order_bytes = uint64_t{1} << 30;
  if (const std::optional<COMPAR> c = read_parameters(a, b, names, r.notes)) {
    number_equations(*c, r.equations, r.notes);
    report = report_name(*c, r.notes);
    r.equations.matrix_file = matrix_file_of(c->ITER).name;
    // Six I12 fields and CR LF a line, and some slack.
    order_bytes = (static_cast<uint64_t>(std::max(c->NEQ, 0)) / 6 + 1) * 74 + 1024;
  } else if (names.count(kMatrixFileFirst.name) != names.count(kMatrixFileLater.name)) {
    r.equations.matrix_file =
        names.count(kMatrixFileFirst.name) ? kMatrixFileFirst.name : kMatrixFileLater.name;
  }

  for (const auto& [name, where] : names) {
    FileComparison f;
    f.name = name;
    f.kind = kind_of(name, report);
    f.in_a = where.first;
    f.in_b = where.second;
    if (f.in_a && f.in_b) {
      const std::string pa = in_dir(a, name), pb = in_dir(b, name);
      switch (f.kind) {
        case FileKind::Matrix:
          f.diff = compare_matrix_files(pa, pb, opt);
          break;
        case FileKind::Order:
          f.diff =
              compare_order_files(pa, pb, order_bytes, opt, r.equations.IORD_a, r.equations.IORD_b);
          break;
        case FileKind::Stiffness:
          f.diff = compare_stiffness_reports(pa, pb, opt);
          break;
        case FileKind::Report:
          f.diff = compare_text_files(kReportUnit, pa, pb, opt);
          break;
        case FileKind::Status:
          f.diff = compare_status_files(pa, pb, opt);
          break;
        case FileKind::Bytes:
          f.diff = compare_bytes(unit_of(name), pa, pb);
          break;
      }
    }
    r.files.push_back(std::move(f));
  }
  // The matrix files first, then the row order, the stiffness reports, the report file, the
  // status and the rest; by name within a kind.
  std::stable_sort(
      r.files.begin(), r.files.end(),
      [](const FileComparison& x, const FileComparison& y) { return x.kind < y.kind; });
  return r;
}

}  // namespace drav::audit
