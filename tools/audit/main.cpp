// drav-audit: lists the program's binary files, checks the results of a finished run,
// explains a singular matrix, draws the structure and the matrix, writes Matrix Market files.
// The commands and their options: tools/audit/command_line.h.
#include <string>
#include <vector>

#include "tools/audit/command_line.h"

int main(int argc, char** argv) {
  return drav::audit::audit_main(std::vector<std::string>(argv + 1, argv + argc));
}
