// The commands of drav-audit: the table of their operands and options, and what each runs.
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "drav/version.h"
#include "recio/fatal.h"
#include "tools/audit/audit_export.h"
#include "tools/audit/audit_mechanism_report.h"
#include "tools/audit/command_line.h"

namespace drav::audit {

namespace {

template <class T>
bool parse_number(const std::string& s, T& v) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// A number into `v` when it reads whole and `ok` takes it, else the error naming the range.
template <class T, class Ok>
std::string number(const Option& o, const std::string& text, T& v, Ok ok) {
  if (parse_number(text, v) && ok(v)) return "";
  return std::string("bad ") + o.name + (*o.range ? std::string(" (") + o.range + ")" : "") + ": " +
         text;
}

bool at_least_0(int32_t v) {
  return v >= 0;
}

// Where the output file named by -o, or the command's default in the run directory, goes.
void resolve_output(const Command& c, Settings& s) {
  if (!c.default_out) return;
  const std::string dir = s.operands.empty() ? "." : s.operands.front();
  s.out_shown = s.out ? *s.out : (std::filesystem::path(dir) / c.default_out).string();
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(s.out_shown, ec);
  s.out_path = ec ? s.out_shown : p.string();
}

// Enters the run directory: the model files have fixed names in the working directory.
bool enter(const std::string& dir) {
  std::error_code ec;
  std::filesystem::current_path(dir, ec);
  if (ec) {
    std::cerr << "drav-audit: cannot enter " << dir << ": " << ec.message() << "\n";
    return false;
  }
  return true;
}

// Writes `text` into the output file (binary: LF line ends on every platform); a failure is
// fatal.
void write_output(const Settings& s, const std::string& text) {
  std::ofstream f(s.out_path, std::ios::binary | std::ios::trunc);
  f << text;
  f.close();
  if (!f) recio::fail("cannot write " + s.out_shown);
  std::cout << "wrote " << s.out_shown << "\n";
}

int run_dump(const Settings& s) {
  const std::string& file = s.operands.front();
  const std::optional<RecordType> type = s.record_type ? s.record_type : record_type_for_name(file);
  if (!type) {
    return usage_error("cannot tell the record type of " + file +
                       " from its name; give --as int|real|double|el");
  }
  if (*type == RecordType::Element) {
    dump_elements(file, s.ndofn ? *s.ndofn : ndofn_beside(file), s.dump, std::cout);
  } else {
    dump_sequential(file, *type, s.dump, std::cout);
  }
  return 0;
}

int run_check(const Settings& s) {
  return check_run(s.check, std::cout);
}

int run_mechanism(const Settings& s) {
  Model m;
  load_model(m);
  const MechanismReport r = analyse_mechanism(m, s.mechanism);
  if (s.json) {
    write_mechanism_json(m, r, s.mechanism, std::cout);
  } else {
    write_mechanism_text(m, r, s.mechanism, std::cout);
  }
  // The status the run left must be the one the model gives.
  if (r.status && *r.status != (r.singular ? -1 : 0)) {
    std::cout.flush();
    std::cerr << "drav-audit: drav0.dat holds " << *r.status << ", but the rebuilt matrix "
              << (r.singular ? "is singular" : "factors completely") << "\n";
    return kCheckFail;
  }
  return 0;
}

int run_draw(const Settings& s) {
  DrawOptions opt = s.draw;
  opt.mechanism = s.mechanism;
  Model m;
  load_model(m);
  std::ostringstream svg;
  std::vector<std::string> notes;
  draw_model(m, opt, svg, notes);
  write_output(s, svg.str());
  for (const std::string& n : notes) std::cout << "note: " << n << "\n";
  return 0;
}

int run_spy(const Settings& s) {
  Model m;
  load_model(m);
  std::ostringstream svg;
  draw_spy(m, s.spy, svg);
  write_output(s, svg.str());
  return 0;
}

int run_export(const Settings& s) {
  Model m;
  load_model(m);
  const ExportResult r = export_run(m, s.out_path);
  // The files as the user named them.
  for (const std::string& f : r.files)
    std::cout << "wrote " << s.out_shown << f.substr(s.out_path.size()) << "\n";
  if (!r.note.empty()) std::cout << "note: " << r.note << "\n";
  return 0;
}

int run_compare(const Settings& s) {
  const CompareReport r = compare_runs(s.operands[0], s.operands[1], s.compare);
  if (s.json) {
    write_compare_json(r, std::cout);
  } else {
    write_compare_text(r, std::cout);
  }
  return r.identical() ? kCompareSame : kCompareDiffer;
}

// Options that several commands take.
Option output_option(const char* value, const char* help) {
  return {.name = "-o",
          .value = value,
          .help = help,
          .take =
              [](Settings& s, const Option&, const std::string& v) {
                s.out = v;
                return std::string();
              },
          .missing = "-o needs a file"};
}
const Option kJson{"--json", nullptr, "one JSON object instead of the text",
                   [](Settings& s, const Option&, const std::string&) {
                     s.json = true;
                     return std::string();
                   }};
const Option kZero{"--zero", "X",
                   "an eigenvalue counts as zero when |lambda| <= X * the largest |lambda| "
                   "(default 1e-12)",
                   [](Settings& s, const Option& o, const std::string& v) {
                     return number(o, v, s.mechanism.zero,
                                   [](double x) { return x >= 0 && x < 1; });
                   },
                   "0 <= X < 1"};
const Option kMaxOrder{"--max-order", "N",
                       "the eigenvalues only while no connected part of the matrix has more than "
                       "N equations (default 3000)",
                       [](Settings& s, const Option& o, const std::string& v) {
                         return number(o, v, s.mechanism.max_order, at_least_0);
                       },
                       "N >= 0"};

const Operands kRunDir{{"DIR"}, 0, "directory", "directories"};

}  // namespace

const std::vector<Command>& commands() {
  static const std::vector<Command> table = {
      {.name = "dump",
       .operands = {{"FILE"}, 1, "file", "files"},
       .summary = "lists a binary file of the program record by record",
       .options = {{"--as", "int|real|double|el",
                    "the record type (default: from the file's name: nei.UNF int, x0.UNF real, "
                    "AA0.UNF and AA.UNF double, el.unf the element records)",
                    [](Settings& s, const Option&, const std::string& v) -> std::string {
                      s.record_type = record_type_from_word(v);
                      return s.record_type ? "" : "--as takes int, real, double or el: " + v;
                    }},
                   {"--ndofn", "N",
                    "the directions per node of el.unf (default: from the COMZOR.DAT beside it)",
                    [](Settings& s, const Option& o, const std::string& v) {
                      int32_t n = 0;
                      const std::string err = number(o, v, n, at_least_0);
                      if (err.empty()) s.ndofn = n;
                      return err;
                    }},
                   {"--max", "N", "at most N values of each record (default: all)",
                    [](Settings& s, const Option& o, const std::string& v) {
                      return number(o, v, s.dump.max_values, [](int64_t n) { return n >= 0; });
                    }}},
       .run = run_dump},
      {.name = "check",
       .operands = kRunDir,
       .summary =
           "checks a finished run against its model: the factors, the row order and the status",
       .options = {{"--tol", "X",
                    "the largest relative residual of the factors accepted (default 1e-10)",
                    [](Settings& s, const Option& o, const std::string& v) {
                      return number(o, v, s.check.tol, [](double x) { return x >= 0; });
                    }}},
       .run = run_check,
       .enters_run = true},
      {.name = "mechanism",
       .operands = kRunDir,
       .summary = "explains a singular matrix: the motions of the structure that cost no energy, "
                  "what moves and why",
       .options = {kJson,
                   kZero,
                   kMaxOrder,
                   {"--min-share", "X",
                    "moves with a smaller share of a motion are not listed (default 1e-6)",
                    [](Settings& s, const Option& o, const std::string& v) {
                      return number(o, v, s.mechanism.min_share,
                                    [](double x) { return x > 0 && x <= 1; });
                    },
                    "0 < X <= 1"},
                   {"--lines", "N",
                    "at most N moves and elements a motion in the text (default 20, 0 all)",
                    [](Settings& s, const Option& o, const std::string& v) {
                      return number(o, v, s.mechanism.max_lines, at_least_0);
                    },
                    "N >= 0"}},
       .run = run_mechanism,
       .enters_run = true},
      {.name = "draw",
       .operands = kRunDir,
       .summary =
           "pictures the structure as SVG, and for a singular matrix each zero-energy motion",
       .options = {output_option("FILE", "the picture (default DIR/model.svg)"),
                   {"--modes", "N", "at most N panels of motions (default 12)",
                    [](Settings& s, const Option& o, const std::string& v) {
                      return number(o, v, s.draw.max_modes, at_least_0);
                    },
                    "N >= 0"},
                   {"--labels", nullptr, "node numbers always (default: up to 60 nodes)",
                    [](Settings& s, const Option&, const std::string&) {
                      s.draw.labels = 1;
                      return std::string();
                    }},
                   {.name = "--no-labels",
                    .value = nullptr,
                    .help = "no node numbers",
                    .take =
                        [](Settings& s, const Option&, const std::string&) {
                          s.draw.labels = 0;
                          return std::string();
                        },
                    .or_previous = true},
                   kZero,
                   kMaxOrder},
       .run = run_draw,
       .enters_run = true,
       .default_out = "model.svg"},
      {.name = "spy",
       .operands = kRunDir,
       .summary = "pictures the nonzero pattern of the matrix and of the stored factors as SVG",
       .options = {output_option("FILE", "the picture (default DIR/spy.svg)"),
                   {"--cells", "N",
                    "at most N cells a side, 1 to 4096; larger orders gather entries into cells "
                    "(default 256)",
                    [](Settings& s, const Option& o, const std::string& v) {
                      return number(o, v, s.spy.max_cells,
                                    [](int32_t n) { return n >= 1 && n <= 4096; });
                    },
                    "1..4096"}},
       .run = run_spy,
       .enters_run = true,
       .default_out = "spy.svg"},
      {.name = "export",
       .operands = kRunDir,
       .summary = "writes the matrix, and for a finished run its factors and row order, as "
                  "Matrix Market files",
       .options = {output_option("PREFIX",
                                 "the files' common start (default DIR/K): PREFIX.mtx, "
                                 "PREFIX-factors.mtx, PREFIX-order.txt")},
       .run = run_export,
       .enters_run = true,
       .default_out = "K"},
      {.name = "compare",
       .operands = {{"DIR_A", "DIR_B"}, 2, "directory", "directories"},
       .summary = "compares the results of two runs of the same model file by file, each in "
                  "the terms of its format; a one-line verdict first",
       .options = {kJson,
                   {"--max", "N",
                    "at most N differences of each kind listed for a file (default 10)",
                    [](Settings& s, const Option& o, const std::string& v) {
                      return number(o, v, s.compare.max_listed, [](int64_t n) { return n >= 0; });
                    },
                    "N >= 0"}},
       .run = run_compare},
  };
  return table;
}

int audit_main(const std::vector<std::string>& all) {
  if (all.empty()) return usage_error("no command");
  const std::string& name = all.front();
  const std::vector<std::string> args(all.begin() + 1, all.end());
  if (name == "--help" || name == "-h" || name == "help") {
    std::cout << help_text();
    return 0;
  }
  if (name == "--version" && args.empty()) {
    std::cout << "drav-audit " << kVersion << "\n";
    return 0;
  }
  const Command* c = find_command(name);
  if (!c) return usage_error("unknown command " + name);
  if (args.size() == 1 && args.front() == "--help") {
    std::cout << command_help_text(*c);
    return 0;
  }
  Settings s;
  const std::string err = parse_arguments(*c, args, s);
  if (!err.empty()) return usage_error(err);
  resolve_output(*c, s);
  // Where the command works, for its error lines: the model files' names are relative to it.
  const std::string dir = c->enters_run && !s.operands.empty() ? s.operands.front() : "";
  if (!dir.empty() && !enter(dir)) return kCheckError;
  try {
    return c->run(s);
  } catch (const recio::FatalError& e) {
    std::cout.flush();
    std::cerr << "drav-audit: " << (dir.empty() ? "" : dir + ": ") << e.what() << "\n";
    return kCheckError;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "drav-audit: " << e.what() << "\n";
    return kCheckError;
  }
}

}  // namespace drav::audit
