// drav-audit: lists the program's binary files and checks the results of a finished run.
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "recio/fatal.h"
#include "tools/lib/audit_check.h"
#include "tools/lib/audit_dump.h"
#include "tools/lib/audit_mechanism.h"

namespace {

using drav::audit::kCheckError;

constexpr const char* kSynopsis =
    "usage:\n"
    "  drav-audit dump FILE [--as int|real|double|el] [--ndofn N] [--max N]\n"
    "  drav-audit check [DIR] [--tol X]\n"
    "  drav-audit --help\n";

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
    "  pivot vanished: its equation, node and direction, and the elements at that node.\n"
    "\n"
    "exit status: 0 the check passed (or the singular unknown was named) / the file was\n"
    "  listed, 1 the results disagree with the model, 2 a file is missing or damaged, or the\n"
    "  command line is wrong.\n";

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

int run_mechanism(const std::vector<std::string>& args) {
  std::optional<std::string> dir;
  drav::audit::MechanismOptions opt;
  bool json = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--json") {
      json = true;
    } else if (a == "--zero" && has_value) {
      if (!parse_number(args[++i], opt.zero) || !(opt.zero >= 0 && opt.zero < 1)) {
        return usage_error("bad --zero (0 <= X < 1): " + args[i]);
      }
    } else if (a == "--max-order" && has_value) {
      if (!parse_number(args[++i], opt.max_order) || opt.max_order < 0) {
        return usage_error("bad --max-order: " + args[i]);
      }
    } else if (a == "--min-share" && has_value) {
      if (!parse_number(args[++i], opt.min_share) || !(opt.min_share > 0 && opt.min_share <= 1)) {
        return usage_error("bad --min-share (0 < X <= 1): " + args[i]);
      }
    } else if (a == "--lines" && has_value) {
      if (!parse_number(args[++i], opt.max_lines) || opt.max_lines < 0) {
        return usage_error("bad --lines: " + args[i]);
      }
    } else if (a.rfind("--", 0) == 0) {
      return usage_error("unknown or incomplete option " + a);
    } else if (!dir) {
      dir = a;
    } else {
      return usage_error("mechanism takes one directory");
    }
  }
  if (!enter(dir)) return kCheckError;
  drav::audit::Model m;
  drav::audit::load_model(m);
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
  try {
    if (cmd == "dump") return run_dump(args);
    if (cmd == "check") return run_check(args);
    if (cmd == "mechanism") return run_mechanism(args);
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
