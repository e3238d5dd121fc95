// drav-audit's command line: the parser of every command, and the option lists outside the code
// (the manual page, tools/README.md) held to the command table.
#include "tools/audit/command_line.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tool_runs.h"

namespace drav::audit {
namespace {

using drav::tooltest::read_file;
namespace fs = std::filesystem;

// `text` with the part from the first `head` up to the next `next` replaced by `part`.
std::string with_part(const std::string& text, const std::string& head, const std::string& part,
                      const std::string& next) {
  const size_t from = text.find(head);
  if (from == std::string::npos) return text + "\n(no " + head + ")";
  const size_t to = text.find(next, from + head.size() - 1);
  return text.substr(0, from) + part + (to == std::string::npos ? "" : text.substr(to + 1));
}

// The committed file must be what the table gives; when it is not, the file it should be is
// written into the test's folder, to be copied over it.
void expect_follows(const std::string& committed, const std::string& want, const char* name) {
  const fs::path source = fs::path(DRAV_SOURCE_DIR) / committed;
  if (read_file(source) == want) return;
  std::ofstream(name, std::ios::binary) << want;
  ADD_FAILURE() << committed << " does not follow the command table of tools/audit/commands.cpp;"
                << " the file as it should be: cp " << (fs::current_path() / name).string() << " "
                << source.string();
}

TEST(AuditCommandLine, ManualPageAndReadmeFollowTheCommandTable) {
  const std::string page = read_file(fs::path(DRAV_SOURCE_DIR) / "docs/man/drav-audit.1");
  const std::string synopsis = with_part(page, ".SH SYNOPSIS\n", man_synopsis(), "\n.SH ");
  expect_follows("docs/man/drav-audit.1",
                 with_part(synopsis, ".SH COMMANDS\n", man_commands(), "\n.SH "), "drav-audit.1");
  // The README gives the synopsis as one block of indented lines.
  std::string block;
  for (const std::string& line : synopsis_lines()) block += "    " + line + "\n";
  const std::string readme = read_file(fs::path(DRAV_SOURCE_DIR) / "tools/README.md");
  expect_follows("tools/README.md", with_part(readme, "    drav-audit ", block, "\n\n"),
                 "tools-README.md");
}

// What the parser makes of the arguments of each kind of command.
TEST(AuditCommandLine, ParsesOperandsOptionsAndTheirErrors) {
  struct Case {
    const char* command;
    std::vector<std::string> args;
    const char* error;  // "" for none
  };
  const Case cases[] = {
      {"dump", {"x.bin", "--as", "el", "--ndofn", "3", "--max", "4"}, ""},
      {"dump", {}, "dump needs a file"},
      {"dump", {"a", "b"}, "dump takes one file"},
      {"dump", {"a", "--as", "float"}, "--as takes int, real, double or el: float"},
      {"dump", {"a", "--max"}, "unknown or incomplete option --max"},
      {"dump", {"a", "--ndofn", "-1"}, "bad --ndofn: -1"},
      {"check", {}, ""},
      {"check", {"run", "--tol", "x"}, "bad --tol: x"},
      {"check", {"-o", "x"}, "unknown or incomplete option -o"},
      {"mechanism", {"--zero", "1"}, "bad --zero (0 <= X < 1): 1"},
      {"mechanism", {"d", "e"}, "mechanism takes one directory"},
      {"draw", {"d", "--no-labels", "-o", "p.svg", "--max-order", "7"}, ""},
      {"draw", {"-o"}, "-o needs a file"},
      {"spy", {"--cells", "4097"}, "bad --cells (1..4096): 4097"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + ::testing::PrintToString(c.args));
    const Command* cmd = find_command(c.command);
    ASSERT_NE(cmd, nullptr);
    Settings s;
    EXPECT_EQ(parse_arguments(*cmd, c.args, s), c.error);
  }
  // The values reach the settings.
  Settings s;
  ASSERT_EQ(parse_arguments(*find_command("dump"), cases[0].args, s), "");
  EXPECT_EQ(s.operands, std::vector<std::string>{"x.bin"});
  EXPECT_EQ(s.record_type, RecordType::Element);
  EXPECT_EQ(s.ndofn, 3);
  EXPECT_EQ(s.dump.max_values, 4);
  s = {};
  ASSERT_EQ(parse_arguments(*find_command("draw"), cases[11].args, s), "");
  EXPECT_EQ(s.draw.labels, 0);
  EXPECT_EQ(s.out, "p.svg");
  EXPECT_EQ(s.mechanism.max_order, 7);
}

}  // namespace
}  // namespace drav::audit
