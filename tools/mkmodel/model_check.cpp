// The checks of a whole description: what the parser's lines must agree on between them.
#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <utility>

#include "tools/mkmodel/model_items.h"

namespace drav::tools {

void check_items(const DescItems& items, ModelDesc& d) {
  auto fail = [&](int line, const std::string& msg) { throw DescriptionError(d.file, line, msg); };
  auto warn = [&](int line, const std::string& msg) {
    d.warnings.push_back(located_warning(d.file, line, msg));
  };
  const int32_t nd = d.ndofn;
  if (items.nodes.empty()) fail(0, "no nodes given (node N COORDINATES...)");
  const int64_t nnode = static_cast<int64_t>(items.nodes.size());
  // The support arrays of the program hold NNODE*NDOFN four-byte values, sized in 32 bits.
  if (nnode > std::numeric_limits<int32_t>::max() || nnode * nd > (int64_t{1} << 29))
    fail(0, "too many nodes and directions for the model files");
  d.nnode = static_cast<int32_t>(nnode);
  const std::string there_are =
      "there " + std::string(nnode == 1 ? "is 1 node" : "are " + std::to_string(nnode) + " nodes");

  std::vector<int> node_line(nnode, 0);
  d.coord.assign(nnode * nd, 0.0);
  for (const auto& n : items.nodes) {
    if (n.n > nnode)
      fail(n.line, "node " + std::to_string(n.n) + " is out of sequence: " + there_are +
                       ", numbered 1 to " + std::to_string(nnode));
    int& first = node_line[n.n - 1];
    if (first != 0)
      fail(n.line, "node " + std::to_string(n.n) + " is given twice (first on line " +
                       std::to_string(first) + ")");
    first = n.line;
    std::copy(n.c.begin(), n.c.end(), d.coord.begin() + (n.n - 1) * nd);
  }
  auto check_node = [&](int line, const std::string& who, int32_t n) {
    if (n < 1 || n > nnode)
      fail(line, who + " names node " + std::to_string(n) + ", but " + there_are);
  };

  d.fixed.assign(nnode * nd, 0);
  for (const auto& f : items.fixes) {
    check_node(f.line, "fix", f.n);
    each_dir(f.dirs, nd,
             [&](int32_t dir) { d.fixed[(f.n - 1) * static_cast<int64_t>(nd) + dir - 1] = 1; });
  }
  d.spring.assign(nnode * nd, 0.0f);
  std::vector<int> spring_line(nnode * nd, 0);
  for (const auto& sp : items.springs) {
    check_node(sp.line, "spring", sp.n);
    each_dir(sp.dirs, nd, [&](int32_t dir) {
      int64_t k = (sp.n - 1) * static_cast<int64_t>(nd) + dir - 1;
      if (spring_line[k] != 0)
        fail(sp.line, "node " + std::to_string(sp.n) + " has a spring in direction " +
                          std::to_string(dir) + " already (line " + std::to_string(spring_line[k]) +
                          ")");
      spring_line[k] = sp.line;
      d.spring[k] = sp.k;
    });
  }
  for (int64_t k = 0; k < nnode * nd; ++k)
    if (spring_line[k] != 0 && d.fixed[k] != 0)
      warn(spring_line[k], "the spring of node " + std::to_string(k / nd + 1) +
                               " acts in a fixed direction; it has no equation there");

  const int64_t numel = static_cast<int64_t>(items.bars.size());
  if (numel > std::numeric_limits<int32_t>::max() / 2) fail(0, "too many bars");
  std::vector<int> bar_line(numel, 0);
  d.bars.assign(numel, BarDesc{});
  for (const auto& b : items.bars) {
    const std::string name = "bar " + std::to_string(b.e);
    if (b.e > numel)
      fail(b.b.line,
           name + " is out of sequence: there " +
               (numel == 1 ? std::string("is 1 bar") : "are " + std::to_string(numel) + " bars") +
               ", numbered 1 to " + std::to_string(numel));
    if (bar_line[b.e - 1] != 0)
      fail(b.b.line,
           name + " is given twice (first on line " + std::to_string(bar_line[b.e - 1]) + ")");
    bar_line[b.e - 1] = b.b.line;
    check_node(b.b.line, name, b.b.ni);
    check_node(b.b.line, name, b.b.nf);
    if (b.b.ni == b.b.nf)
      fail(b.b.line, name + " joins node " + std::to_string(b.b.ni) + " to itself");
    d.bars[b.e - 1] = b.b;
  }
  // Between two nodes, only the first bar counts off the diagonal (the element contribution
  // stops at it), so a second one is worth a word.
  std::map<std::pair<int32_t, int32_t>, int32_t> pairs;
  for (int32_t e = 1; e <= numel; ++e) {
    const BarDesc& b = d.bars[e - 1];
    auto key = std::minmax(b.ni, b.nf);
    auto [it, fresh] = pairs.emplace(std::pair{key.first, key.second}, e);
    if (!fresh)
      warn(b.line, "bar " + std::to_string(e) + " joins the same nodes as bar " +
                       std::to_string(it->second) +
                       "; off the diagonal the program uses only the first of them");
  }
  if (d.nemax > 0 && d.nemax > std::max<int64_t>(numel, 1))
    fail(d.nemax_line, "nemax " + std::to_string(d.nemax) + " is more than the " +
                           std::to_string(numel) + " bars of the model");
  if (items.case_line > 0 && (d.load_case < 0 || d.load_case > 99))
    warn(items.case_line,
         "the program names its stiffness report after the case in two digits; "
         "case " +
             std::to_string(d.load_case) + " gives asterisks in the name");
  if (d.title.empty()) d.title = d.file.substr(0, std::min<size_t>(d.file.size(), 255));
}

}  // namespace drav::tools
