// The items of a description as the parser collects them, line by line, before the whole
// model is checked: the parser (model_desc.cpp) fills them, the checks (model_check.cpp) put
// them in number order into the ModelDesc.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/mkmodel/model_desc.h"

namespace drav::tools {

// "all" is kept as kAllDirs and expanded only once the nodes are known: ndofn alone may be
// hundreds of millions, and a two-line description must not make a list that long.
constexpr int32_t kAllDirs = 0;

// Calls f(dir) for every direction of a list from to_dirs.
template <class F>
void each_dir(const std::vector<int32_t>& dirs, int32_t ndofn, F f) {
  for (int32_t dir : dirs) {
    if (dir != kAllDirs) {
      f(dir);
      continue;
    }
    for (int32_t dd = 1; dd <= ndofn; ++dd) f(dd);
  }
}

// One line each, in the order given.
struct NodeLine {
  int32_t n;
  std::vector<double> c;
  int line;
};
struct FixLine {
  int32_t n;
  std::vector<int32_t> dirs;
  int line;
};
struct SpringLine {
  int32_t n;
  std::vector<int32_t> dirs;
  float k;
  int line;
};
struct BarLine {
  int32_t e;
  BarDesc b;
};

struct DescItems {
  std::vector<NodeLine> nodes;
  std::vector<FixLine> fixes;
  std::vector<SpringLine> springs;
  std::vector<BarLine> bars;
  int case_line = 0;  // line of the case setting, 0 when not given
};

// Puts the items in number order into d (nodes, coordinates, supports, bars) and checks what
// one line alone cannot: every number given once and in sequence, every node named exists, the
// sizes fit the model files, the settings fit the model. Throws DescriptionError naming the
// line; notes on legal but doubtful input go to d.warnings.
void check_items(const DescItems& items, ModelDesc& d);

}  // namespace drav::tools
