// The command line of drav-audit. One table (commands(), in commands.cpp) names every command
// with its operands, its options and the function that runs it; from it come the parser, the
// text of --help and the synopsis and command sections of the manual page
// (docs/man/drav-audit.1, which a test holds to the table, as it does the synopsis in
// tools/README.md).
//
// To add a command: a row in commands() and its run function; a value that one of its options
// stores gets a member in Settings. An option row can serve several commands.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/audit/audit_check.h"
#include "tools/audit/audit_compare.h"
#include "tools/audit/audit_draw.h"
#include "tools/audit/audit_dump.h"
#include "tools/audit/audit_mechanism.h"

namespace drav::audit {

// Everything the options of all commands set; each command reads what its options store.
struct Settings {
  std::vector<std::string> operands;  // as given: FILE, DIR, ...
  std::optional<std::string> out;     // -o as given
  // Where the command's output file goes (commands with a default output name): `shown` as the
  // user named it, `path` made absolute before the run directory is entered.
  std::string out_path, out_shown;
  bool json = false;
  std::optional<RecordType> record_type;  // dump --as
  std::optional<int32_t> ndofn;           // dump --ndofn
  DumpOptions dump;
  CheckOptions check;
  MechanismOptions mechanism;  // mechanism, and draw's motions
  DrawOptions draw;            // its `mechanism` member is taken from `mechanism`
  SpyOptions spy;
  CompareOptions compare;
};

struct Option;
// Stores the value of option `o` (empty for a flag); returns "" or the error text.
using TakeOption = std::string (*)(Settings& s, const Option& o, const std::string& value);

struct Option {
  const char* name;   // "--zero"
  const char* value;  // what follows it in the synopsis ("X"), or nullptr for a flag
  const char* help;   // one sentence for --help and the manual page, defaults included
  TakeOption take;
  const char* range = "";    // the values allowed, named in the error of a bad one
  bool or_previous = false;  // shown with the option before it: [--labels | --no-labels]
  const char* missing = "";  // the error of a missing value ("" the general one)
};

struct Operands {
  std::vector<const char*> names;  // "FILE"; "DIR"; "DIR_A", "DIR_B"
  int required = 0;                // how many of them must be given (the rest are optional)
  const char* noun = "";           // "file", for "dump needs a file"
  const char* nouns = "";          // "files"
};

struct Command {
  const char* name;
  Operands operands;
  const char* summary;  // what it does, one line
  std::vector<Option> options;
  int (*run)(const Settings& s);
  // The operand is a run directory, entered before the command runs (the model files have
  // fixed names); a fatal error then names it.
  bool enters_run = false;
  // The output file's name in the run directory when -o is not given (nullptr: none).
  const char* default_out = nullptr;
};

// The commands of drav-audit, in the order of the synopsis.
const std::vector<Command>& commands();

// The command of that name, or null.
const Command* find_command(const std::string& name);

// Parses the arguments after the command's name into `s`; "" or the error text.
std::string parse_arguments(const Command& c, const std::vector<std::string>& args, Settings& s);

// Whole drav-audit: the arguments after the program's name; returns the exit status.
int audit_main(const std::vector<std::string>& args);

// A wrong command line: "drav-audit: what" and the usage on standard error; kCheckError.
int usage_error(const std::string& what);

// The text forms of the table.
// One line per command, not wrapped (as tools/README.md shows them): "drav-audit dump FILE ...".
std::vector<std::string> synopsis_lines();
// "usage:" and the synopsis wrapped to the width of a terminal, as usage errors end.
std::string usage_text();
// --help: the usage, then each command with its options.
std::string help_text();
// drav-audit COMMAND --help: the usage of that command, then its options.
std::string command_help_text(const Command& c);
// The manual page's SYNOPSIS and COMMANDS sections, each from its ".SH" line to the next.
std::string man_synopsis();
std::string man_commands();

}  // namespace drav::audit
