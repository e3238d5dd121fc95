// drav-audit: lists the program's binary files, checks the results of a finished run,
// explains a singular matrix, draws the structure and the matrix, writes Matrix Market files.
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "drav/version.h"
#include "recio/fatal.h"
#include "tools/audit/audit_check.h"
#include "tools/audit/audit_compare.h"
#include "tools/audit/audit_draw.h"
#include "tools/audit/audit_dump.h"
#include "tools/audit/audit_export.h"
#include "tools/audit/audit_mechanism.h"
#include "tools/audit/audit_mechanism_report.h"

namespace {

using drav::audit::kCheckError;

constexpr const char* kSynopsis =
    "usage:\n"
    "  drav-audit dump FILE [--as int|real|double|el] [--ndofn N] [--max N]\n"
    "  drav-audit check [DIR] [--tol X]\n"
    "  drav-audit mechanism [DIR] [--json] [--zero X] [--max-order N] [--min-share X]\n"
    "                       [--lines N]\n"
    "  drav-audit draw [DIR] [-o FILE] [--modes N] [--labels | --no-labels] [--zero X]\n"
    "                  [--max-order N]\n"
    "  drav-audit spy [DIR] [-o FILE] [--cells N]\n"
    "  drav-audit export [DIR] [-o PREFIX]\n"
    "  drav-audit compare DIR_A DIR_B [--json] [--max N]\n"
    "  drav-audit --help\n"
    "  drav-audit --version\n";

constexpr const char* kDetails =
    "\n"
    "dump: lists a binary file of the program record by record.\n"
    "  Sequential files (nei.UNF as int, x0.UNF as real, AA0.UNF and AA.UNF as double, any\n"
    "  other file with --as): each record's number, its data length in bytes and its values,\n"
    "  several to a line, each line led by the number of its first value. Records made of\n"
    "  several subrecords are shown as the one record they are.\n"
    "  el.unf (or --as el): each direct-access element record decoded into V(1..NDOFN), VMOD,\n"
    "  YY, T, IND and AL0; NDOFN from --ndofn, else from the COMZOR.DAT beside the file.\n"
    "  --max N shows at most N values of each record.\n"
    "\n"
    "check: checks the finished run in DIR (default: the current directory). Reads\n"
    "  COMZOR.DAT and the model files, rebuilds the stiffness matrix A and reads drav0.dat.\n"
    "  Status 0: the matrix file (AA0.UNF when ITER = 1, else AA.UNF) must hold NEQ records\n"
    "  of 8*NEQ bytes and order.dat a permutation IORD of 1..NEQ; prints the relative residual\n"
    "  max |(L*U)(i,j) - A(IORD(i),j)| / max |A(i,j)| and the 1-norm condition number\n"
    "  ||A||_1 * ||A^-1||_1 (exact inverse up to order 400, Hager-Higham estimate above), and\n"
    "  passes when the residual is at most X (--tol, default 1e-10).\n"
    "  Status -1: repeats the factorization on the rebuilt matrix and names the unknown whose\n"
    "  pivot vanished: its equation, node and direction, the elements at that node, and what\n"
    "  moves at the failing step.\n"
    "\n"
    "mechanism: why the matrix of the run in DIR is singular. The motion that the failing\n"
    "  step of the factorization reveals (the null vector of the leading block), and, while no\n"
    "  connected part of the matrix has more than N equations (--max-order, default 3000),\n"
    "  every independent zero-energy mode: eigenvalues with |lambda| <= X * largest |lambda|\n"
    "  (--zero, default 1e-12), in a readable basis (rigid-body motions of parts that nothing\n"
    "  holds, then modes as local as the space allows). For each: the nodes and directions\n"
    "  that move with their share (largest first, down to --min-share, default 1e-6), the\n"
    "  elements there with their states, and a classification: rigid-body, left-out-elements,\n"
    "  collinear-bars, slack-elements, unreached-node, mechanism or unclassified. --lines N\n"
    "  lists at most N moves and elements a motion (default 20, 0 all); --json writes JSON.\n"
    "\n"
    "draw: the structure as SVG (default DIR/model.svg): positions rebuilt from the element\n"
    "  vectors V, bars coloured by state and as wide as their force, supports and springs; for\n"
    "  a singular matrix the failing node ringed and each zero-energy motion as a displaced\n"
    "  shape (at most --modes N panels, default 12). Spatial models in a fixed oblique view.\n"
    "  Node numbers up to 60 nodes, or always (--labels) or never (--no-labels).\n"
    "\n"
    "spy: the nonzero pattern of the matrix and of the stored factors as SVG (default\n"
    "  DIR/spy.svg), NBAND marked; more than N rows (--cells, default 256) gathered into cells.\n"
    "\n"
    "export: Matrix Market files (default PREFIX DIR/K): PREFIX.mtx, the matrix (symmetric,\n"
    "  lower triangle, 17 digits), and for a finished run PREFIX-factors.mtx (the stored\n"
    "  factors) and PREFIX-order.txt (the row order). Text files of the tools end lines in LF.\n"
    "\n"
    "compare: the results of two runs of the same model, file by file: the matrix file\n"
    "  (framing, then entries: how many differ, those only in the sign of a zero or in a\n"
    "  NaN's payload apart, the largest difference in ulps and relative to the row's largest\n"
    "  entry, and the first N with row, column, IORD, node and direction; --max, default 10),\n"
    "  order.dat by position, the stiffness report by field (the entry (I,J) and both values),\n"
    "  drav0.dat and the report file by line, any other file by bytes. A one-line verdict\n"
    "  (identical, or differ: ...) first; --json writes one JSON object. Exit status 0\n"
    "  identical, 1 different, 2 a file that cannot be read as its format says.\n"
    "\n"
    "exit status: 0 success (the check passed, the singular unknown was named, the file was\n"
    "  listed or written), 1 the results disagree with the model, 2 a file is missing or\n"
    "  damaged, or the command line is wrong.\n";

int usage_error(const std::string& what) {
  std::cerr << "drav-audit: " << what << "\n" << kSynopsis;
  return kCheckError;
}

template <class T>
bool parse_number(const std::string& s, T& v) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

int run_dump(const std::vector<std::string>& args) {
  std::optional<std::string> file;
  std::optional<drav::audit::Layout> layout;
  std::optional<int32_t> ndofn;
  drav::audit::DumpOptions opt;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--as" && has_value) {
      layout = drav::audit::layout_from_word(args[++i]);
      if (!layout) return usage_error("--as takes int, real, double or el: " + args[i]);
    } else if (a == "--ndofn" && has_value) {
      int32_t n = 0;
      if (!parse_number(args[++i], n) || n < 0) return usage_error("bad --ndofn: " + args[i]);
      ndofn = n;
    } else if (a == "--max" && has_value) {
      if (!parse_number(args[++i], opt.max_values) || opt.max_values < 0) {
        return usage_error("bad --max: " + args[i]);
      }
    } else if (a.rfind("--", 0) == 0) {
      return usage_error("unknown or incomplete option " + a);
    } else if (!file) {
      file = a;
    } else {
      return usage_error("dump takes one file");
    }
  }
  if (!file) return usage_error("dump needs a file");
  if (!layout) layout = drav::audit::layout_for_name(*file);
  if (!layout) {
    return usage_error("cannot tell the record type of " + *file +
                       " from its name; give --as int|real|double|el");
  }
  if (*layout == drav::audit::Layout::Element) {
    const int32_t n = ndofn ? *ndofn : drav::audit::ndofn_beside(*file);
    drav::audit::dump_elements(*file, n, opt, std::cout);
  } else {
    drav::audit::dump_sequential(*file, *layout, opt, std::cout);
  }
  return 0;
}

// Where the check works, for its error lines: the model files' names are relative to it.
std::string check_dir;

// Enters the run directory: the model files have fixed names in the working directory.
bool enter(const std::optional<std::string>& dir) {
  if (!dir) return true;
  check_dir = *dir;
  std::error_code ec;
  std::filesystem::current_path(*dir, ec);
  if (ec) {
    std::cerr << "drav-audit: cannot enter " << *dir << ": " << ec.message() << "\n";
    return false;
  }
  return true;
}

// The directory and the options of a command that works on a run directory. Each command
// passes the options it knows to `take`, which consumes values with `value()`.
class RunArgs {
 public:
  RunArgs(const std::vector<std::string>& args, std::string command)
      : args_(args), command_(std::move(command)) {}

  // Walks the arguments; `take(option)` returns "" when it took the option, "?" when it does
  // not know it, or an error text. Returns the error text of a bad command line, else "".
  template <class Take>
  std::string parse(Take take) {
    for (i_ = 0; i_ < args_.size(); ++i_) {
      const std::string& a = args_[i_];
      if (a.size() > 1 && a[0] == '-') {
        if (a == "-o") {
          const std::string* v = value();
          if (!v) return "-o needs a file";
          out = *v;
          continue;
        }
        const std::string err = take(a);
        if (err == "?") return "unknown or incomplete option " + a;
        if (!err.empty()) return err;
      } else if (!dir) {
        dir = a;
      } else {
        return command_ + " takes one directory";
      }
    }
    return "";
  }
  // The value of the current option, or null at the end of the arguments.
  const std::string* value() { return i_ + 1 < args_.size() ? &args_[++i_] : nullptr; }
  // A number from value(), checked by `ok`.
  template <class T, class Ok>
  std::string number(const std::string& option, T& v, Ok ok, const char* range) {
    const std::string* s = value();
    if (!s) return "unknown or incomplete option " + option;
    if (!parse_number(*s, v) || !ok(v)) return "bad " + option + " (" + range + "): " + *s;
    return "";
  }

  // The output file: -o, or the default name in the run directory. `shown` is the path as
  // the user gave it; the path returned is made absolute before the tool enters the run
  // directory.
  std::string output(const char* default_name, std::string& shown) const {
    shown = out ? *out : (std::filesystem::path(dir.value_or(".")) / default_name).string();
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(shown, ec);
    return ec ? shown : p.string();
  }

  std::optional<std::string> dir, out;

 private:
  const std::vector<std::string>& args_;
  std::string command_;
  size_t i_ = 0;
};

// The options of the mechanism analysis that draw shares.
std::string mechanism_option(RunArgs& a, const std::string& o, drav::audit::MechanismOptions& opt) {
  if (o == "--zero") {
    return a.number(
        o, opt.zero, [](double v) { return v >= 0 && v < 1; }, "0 <= X < 1");
  }
  if (o == "--max-order") {
    return a.number(
        o, opt.max_order, [](int32_t v) { return v >= 0; }, "N >= 0");
  }
  return "?";
}

// Writes `text` into `path` (binary: LF line ends on every platform); a failure is fatal.
void write_output(const std::string& path, const std::string& shown, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
  f.close();
  if (!f) drav::recio::fail("cannot write " + shown);
  std::cout << "wrote " << shown << "\n";
}

// Enters the run directory and reads its model (a damaged file throws); false when the
// directory cannot be entered.
bool load_run(const RunArgs& a, drav::audit::Model& m) {
  if (!enter(a.dir)) return false;
  drav::audit::load_model(m);
  return true;
}

int run_mechanism(const std::vector<std::string>& args) {
  RunArgs a(args, "mechanism");
  drav::audit::MechanismOptions opt;
  bool json = false;
  const std::string err = a.parse([&](const std::string& o) -> std::string {
    if (o == "--json") {
      json = true;
      return "";
    }
    if (o == "--min-share") {
      return a.number(
          o, opt.min_share, [](double v) { return v > 0 && v <= 1; }, "0 < X <= 1");
    }
    if (o == "--lines")
      return a.number(
          o, opt.max_lines, [](int32_t v) { return v >= 0; }, "N >= 0");
    return mechanism_option(a, o, opt);
  });
  if (!err.empty()) return usage_error(err);
  if (a.out) return usage_error("mechanism writes to standard output; it takes no -o");
  drav::audit::Model m;
  if (!load_run(a, m)) return kCheckError;
  const drav::audit::MechanismReport r = drav::audit::analyse_mechanism(m, opt);
  if (json) {
    drav::audit::write_mechanism_json(m, r, opt, std::cout);
  } else {
    drav::audit::write_mechanism_text(m, r, opt, std::cout);
  }
  // The status the run left must be the one the model gives.
  if (r.status && *r.status != (r.singular ? -1 : 0)) {
    std::cout.flush();
    std::cerr << "drav-audit: drav0.dat holds " << *r.status << ", but the rebuilt matrix "
              << (r.singular ? "is singular" : "factors completely") << "\n";
    return drav::audit::kCheckFail;
  }
  return 0;
}

int run_draw(const std::vector<std::string>& args) {
  RunArgs a(args, "draw");
  drav::audit::DrawOptions opt;
  const std::string err = a.parse([&](const std::string& o) -> std::string {
    if (o == "--modes")
      return a.number(
          o, opt.max_modes, [](int32_t v) { return v >= 0; }, "N >= 0");
    if (o == "--labels" || o == "--no-labels") {
      opt.labels = o == "--labels" ? 1 : 0;
      return "";
    }
    return mechanism_option(a, o, opt.mechanism);
  });
  if (!err.empty()) return usage_error(err);
  std::string shown;
  const std::string out = a.output("model.svg", shown);
  drav::audit::Model m;
  if (!load_run(a, m)) return kCheckError;
  std::ostringstream svg;
  std::vector<std::string> notes;
  drav::audit::draw_model(m, opt, svg, notes);
  write_output(out, shown, svg.str());
  for (const std::string& n : notes) std::cout << "note: " << n << "\n";
  return 0;
}

int run_spy(const std::vector<std::string>& args) {
  RunArgs a(args, "spy");
  drav::audit::SpyOptions opt;
  const std::string err = a.parse([&](const std::string& o) -> std::string {
    if (o == "--cells") {
      return a.number(
          o, opt.max_cells, [](int32_t v) { return v >= 1 && v <= 4096; }, "1..4096");
    }
    return "?";
  });
  if (!err.empty()) return usage_error(err);
  std::string shown;
  const std::string out = a.output("spy.svg", shown);
  drav::audit::Model m;
  if (!load_run(a, m)) return kCheckError;
  std::ostringstream svg;
  drav::audit::draw_spy(m, opt, svg);
  write_output(out, shown, svg.str());
  return 0;
}

int run_export(const std::vector<std::string>& args) {
  RunArgs a(args, "export");
  const std::string err = a.parse([](const std::string&) -> std::string { return "?"; });
  if (!err.empty()) return usage_error(err);
  std::string shown;
  const std::string prefix = a.output("K", shown);
  drav::audit::Model m;
  if (!load_run(a, m)) return kCheckError;
  const drav::audit::ExportResult r = drav::audit::export_run(m, prefix);
  // The files as the user named them.
  for (const std::string& f : r.files)
    std::cout << "wrote " << shown << f.substr(prefix.size()) << "\n";
  if (!r.note.empty()) std::cout << "note: " << r.note << "\n";
  return 0;
}

int run_check(const std::vector<std::string>& args) {
  std::optional<std::string> dir;
  drav::audit::CheckOptions opt;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--tol" && i + 1 < args.size()) {
      if (!parse_number(args[++i], opt.tol) || !(opt.tol >= 0)) {
        return usage_error("bad --tol: " + args[i]);
      }
    } else if (a.rfind("--", 0) == 0) {
      return usage_error("unknown or incomplete option " + a);
    } else if (!dir) {
      dir = a;
    } else {
      return usage_error("check takes one directory");
    }
  }
  if (!enter(dir)) return kCheckError;
  return drav::audit::check_run(opt, std::cout);
}

int run_compare(const std::vector<std::string>& args) {
  std::vector<std::string> dirs;
  drav::audit::CompareOptions opt;
  bool json = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--json") {
      json = true;
    } else if (a == "--max" && i + 1 < args.size()) {
      if (!parse_number(args[++i], opt.max_listed) || opt.max_listed < 0) {
        return usage_error("bad --max: " + args[i]);
      }
    } else if (a.rfind("--", 0) == 0) {
      return usage_error("unknown or incomplete option " + a);
    } else {
      dirs.push_back(a);
    }
  }
  if (dirs.size() != 2) return usage_error("compare takes two directories");
  const drav::audit::CompareReport r = drav::audit::compare_runs(dirs[0], dirs[1], opt);
  if (json) {
    drav::audit::write_compare_json(r, std::cout);
  } else {
    drav::audit::write_compare_text(r, std::cout);
  }
  return r.identical() ? drav::audit::kCompareSame : drav::audit::kCompareDiffer;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage_error("no command");
  const std::string cmd = args.front();
  args.erase(args.begin());
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    std::cout << kSynopsis << kDetails;
    return 0;
  }
  if (cmd == "--version" && args.empty()) {
    std::cout << "drav-audit " << drav::kVersion << "\n";
    return 0;
  }
  try {
    if (cmd == "dump") return run_dump(args);
    if (cmd == "check") return run_check(args);
    if (cmd == "mechanism") return run_mechanism(args);
    if (cmd == "draw") return run_draw(args);
    if (cmd == "spy") return run_spy(args);
    if (cmd == "export") return run_export(args);
    if (cmd == "compare") return run_compare(args);
    return usage_error("unknown command " + cmd);
  } catch (const drav::recio::FatalError& e) {
    std::cout.flush();
    std::cerr << "drav-audit: " << (check_dir.empty() ? "" : check_dir + ": ") << e.what() << "\n";
    return kCheckError;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "drav-audit: " << e.what() << "\n";
    return kCheckError;
  }
}
