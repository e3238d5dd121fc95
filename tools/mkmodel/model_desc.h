// The readable description of a bar structure that the model builder turns into a working
// directory, and its parser. The format itself is described at the top of model_desc.cpp; the
// checks of the whole model (node and bar numbering, supports, settings) are in
// model_check.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/mkmodel/located_error.h"

namespace drav::tools {

// A description that cannot be turned into a model. what() names the file and, where there
// is one, the line: "model.txt:12: bar 7 names node 40, but there are 30 nodes".
class DescriptionError : public LocatedError {
 public:
  using LocatedError::LocatedError;
};

// One bar, with every value resolved (defaults applied).
struct BarDesc {
  int32_t ni = 0, nf = 0;  // end nodes
  double yy = 0;           // Young's modulus
  float a0 = 0;            // area
  float al0 = 1;           // factor of the axial rigidity
  bool s0_given = false;   // false: S0 is the geometric length
  float s0 = 0;
  double t = 0;     // axial force
  int32_t ind = 0;  // state code
  int line = 0;     // line of the bar in the description
};

// A parsed and checked description. Nodes and bars are stored in number order (index 0 is
// node 1 / bar 1); every node a bar, support or spring names exists.
struct ModelDesc {
  std::string file;  // file name used in messages
  int32_t ndofn = 0;
  int32_t nnode = 0;
  // Coordinates as given, node by node: coord[(n-1)*ndofn + d-1].
  std::vector<double> coord;
  // Supports, node by node: fixed[(n-1)*ndofn + d-1] is 1 for a blocked direction, spring[...]
  // the stiffness of an elastic support (0 for none).
  std::vector<int32_t> fixed;
  std::vector<float> spring;
  std::vector<BarDesc> bars;

  int32_t iter = 1;
  int32_t load_case = 1;
  std::string title;                  // descriptive text lines of COMZOR.DAT
  std::string report = "report.txt";  // REPFIL
  bool romanian = false;
  int32_t nemax = 0;                   // 0: the largest number of bars at one node (at least 1)
  int32_t nband = 0;                   // 0: computed from the equation numbers
  int nemax_line = 0, nband_line = 0;  // lines of the two settings, for messages

  // Notes on legal but probably unintended input ("file:line: warning: ...").
  std::vector<std::string> warnings;
};

// Parses the text of a description; `file` is the name used in messages.
ModelDesc parse_description(std::string_view text, std::string_view file);

// Reads and parses a description file.
ModelDesc read_description(const std::string& path);

}  // namespace drav::tools
