#include "tools/audit/audit_draw.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <numbers>

#include "assembly/element.h"
#include "driver/results.h"
#include "tools/audit/audit_geometry.h"
#include "tools/audit/svg_out.h"

namespace drav::audit {

namespace {

struct Point {
  double x = 0, y = 0;  // y up
};

// The fixed oblique view of a spatial model: turned 30 degrees about Z, seen 20 degrees from
// above, so that no axis hides another.
Point project(const double* v, int32_t dims) {
  const double x = dims >= 1 ? v[0] : 0, y = dims >= 2 ? v[1] : 0, z = dims >= 3 ? v[2] : 0;
  if (dims < 3) return {x, y};
  const double az = std::numbers::pi / 6, el = std::numbers::pi / 9;
  const double x1 = x * std::cos(az) - y * std::sin(az);
  const double y1 = x * std::sin(az) + y * std::cos(az);
  return {x1, z * std::cos(el) + y1 * std::sin(el)};
}

struct Box {
  double x0 = std::numeric_limits<double>::infinity(), y0 = x0, x1 = -x0, y1 = -x0;
  void add(Point p) {
    x0 = std::min(x0, p.x);
    x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y);
    y1 = std::max(y1, p.y);
  }
  bool empty() const { return !(x0 <= x1); }
  double w() const { return empty() ? 0 : x1 - x0; }
  double h() const { return empty() ? 0 : y1 - y0; }
};

// Screen positions of every node: each part of the structure relative to its root, the parts
// side by side, nodes that no element reaches in a row below.
struct Placement {
  std::vector<Point> at_node;
  Box box;
  double extent = 1;  // the larger side of the box (1 when everything is one point)
};

Placement place_nodes(const Model& m, const Geometry& g, std::vector<std::string>& notes) {
  const int32_t nn = std::max(m.c.NNODE, 0);
  Placement L;
  L.at_node.resize(static_cast<size_t>(nn));
  std::vector<Box> boxes(static_cast<size_t>(g.parts));
  for (int32_t n = 1; n <= nn; ++n) {
    if (!g.placed(n)) continue;
    L.at_node[at(n)] = project(&g.pos[at(n) * static_cast<size_t>(g.dims)], g.dims);
    boxes[at(g.part[at(n)])].add(L.at_node[at(n)]);
  }
  double biggest = 0;
  for (const Box& b : boxes) biggest = std::max({biggest, b.w(), b.h()});
  if (!(biggest > 0)) biggest = 1;
  const double gap = 0.25 * biggest;
  double next_x = 0;
  std::vector<Point> shift(boxes.size());
  for (size_t p = 0; p < boxes.size(); ++p) {
    shift[p] = {next_x - boxes[p].x0, -boxes[p].y0};
    next_x += boxes[p].w() + gap;
  }
  if (boxes.size() > 1) {
    notes.push_back("the structure falls into " + std::to_string(boxes.size()) +
                    " parts that no element joins; they are drawn side by side, their relative "
                    "position is unknown");
  }
  for (int32_t n = 1; n <= nn; ++n) {
    if (!g.placed(n)) continue;
    const Point s = shift[at(g.part[at(n)])];
    L.at_node[at(n)] = {L.at_node[at(n)].x + s.x, L.at_node[at(n)].y + s.y};
    L.box.add(L.at_node[at(n)]);
  }
  std::vector<int32_t> lone;
  for (int32_t n = 1; n <= nn; ++n) {
    if (!g.placed(n)) lone.push_back(n);
  }
  if (!lone.empty()) {
    const double y = L.box.empty() ? 0 : L.box.y0 - gap;
    const double step =
        lone.size() > 1 ? std::max(L.box.w(), biggest) / static_cast<double>(lone.size() - 1) : 0;
    for (size_t i = 0; i < lone.size(); ++i) {
      L.at_node[at(lone[i])] = {(L.box.empty() ? 0 : L.box.x0) + step * static_cast<double>(i), y};
    }
    for (int32_t n : lone) L.box.add(L.at_node[at(n)]);
    notes.push_back(std::to_string(lone.size()) + " node" + (lone.size() == 1 ? "" : "s") +
                    " that no element reaches, drawn in a row below the structure");
  }
  if (L.box.empty()) L.box.add({0, 0});
  L.extent = std::max(L.box.w(), L.box.h());
  if (!(L.extent > 0)) L.extent = 1;
  return L;
}

// From model plane to picture: the box drawn centred in a frame of the given size at
// (left, top), `pad` free on every side.
struct Frame {
  double left, top, scale = 1, x0 = 0, y1 = 0;
  Frame(const Box& box, double left_, double top_, double width, double height, double pad)
      : left(left_), top(top_) {
    const double extent = std::max({box.w(), box.h(), 1e-300});
    const double w = std::max(box.w(), 1e-9 * extent), h = std::max(box.h(), 1e-9 * extent);
    scale = std::min((width - 2 * pad) / w, (height - 2 * pad) / h);
    if (!(scale > 0) || !std::isfinite(scale)) scale = 1;
    x0 = box.x0 - ((width / scale) - box.w()) / 2;
    y1 = box.y1 + ((height / scale) - box.h()) / 2;
  }
  double X(Point p) const { return left + (p.x - x0) * scale; }
  double Y(Point p) const { return top + (y1 - p.y) * scale; }
};

// The frame height for a width that keeps the structure's proportions (within limits).
double height_for(const Placement& L, double width, double pad, double lo, double hi) {
  const double w = std::max(L.box.w(), 1e-9), h = L.box.h();
  return std::clamp((width - 2 * pad) * h / w + 2 * pad, lo, hi);
}

struct BarStyle {
  const char* colour;
  const char* dash;  // "" for a solid line
};

BarStyle bar_style(int32_t ind, double t) {
  if (ind < 0) return {"#9a9a9a", "4 3"};
  if (ind == 0) return {"#1f5fbf", ""};
  return {"#2e8b3e", t == 0.0 ? "2 2" : ""};
}

std::string line(Point a, Point b, const Frame& f, const char* colour, double width,
                 const char* dash) {
  std::string s = "<line x1=\"" + px(f.X(a)) + "\" y1=\"" + px(f.Y(a)) + "\" x2=\"" + px(f.X(b)) +
                  "\" y2=\"" + px(f.Y(b)) + "\" stroke=\"" + colour + "\" stroke-width=\"" +
                  px(width) + "\" stroke-linecap=\"round\"";
  if (*dash) s += std::string(" stroke-dasharray=\"") + dash + "\"";
  return s + "/>\n";
}

std::string circle(double x, double y, double r, const char* fill, const char* stroke,
                   double width = 1) {
  return "<circle cx=\"" + px(x) + "\" cy=\"" + px(y) + "\" r=\"" + px(r) + "\" fill=\"" + fill +
         "\" stroke=\"" + stroke + "\" stroke-width=\"" + px(width) + "\"/>\n";
}

// A support under a node: a filled triangle when every direction is blocked, an open one with
// the blocked directions written beside it otherwise.
std::string support_mark(const COMPAR& c, int32_t n, double x, double y) {
  std::string blocked;
  for (int32_t d = 1; d <= c.NDOFN; ++d) {
    if (c.iblk(n, d) != 0) blocked += static_cast<char>(std::tolower(direction_name(d)[0]));
  }
  if (blocked.empty()) return "";
  const bool all = static_cast<int32_t>(blocked.size()) == c.NDOFN;
  std::string s = "<path d=\"M" + px(x) + " " + px(y + 3) + " l-6 10 h12 z\" fill=\"" +
                  (all ? "#333333" : "white") + "\" stroke=\"#333333\" stroke-width=\"1.2\"/>\n";
  if (!all) s += svg_text(x + 8, y + 13, blocked, "font-size=\"9\" fill=\"#333333\"");
  return s;
}

// A spring beside a node: a zigzag to the lower left.
std::string spring_mark(double x, double y) {
  return "<polyline points=\"" + px(x - 3) + "," + px(y + 3) + " " + px(x - 6) + "," + px(y + 1) +
         " " + px(x - 8) + "," + px(y + 7) + " " + px(x - 11) + "," + px(y + 5) + " " + px(x - 13) +
         "," + px(y + 11) + " " + px(x - 17) + "," + px(y + 11) +
         "\" fill=\"none\" stroke=\"#8a4b00\" stroke-width=\"1.2\"/>\n";
}

double largest_force(const Model& m) {
  double t = 0;
  for (int32_t e = 1; e <= m.c.NUMEL; ++e) {
    if (std::isfinite(m.W.T[e - 1])) t = std::max(t, std::fabs(m.W.T[e - 1]));
  }
  return t;
}

bool usable(const Model& m, int32_t e) {
  const int32_t a = m.W.NI[e - 1], b = m.W.NF[e - 1];
  return a >= 1 && a <= m.c.NNODE && b >= 1 && b <= m.c.NNODE;
}

// The structure in its state colours.
std::string structure(const Model& m, const Placement& L, const Frame& f, bool labels,
                      int32_t singular_node) {
  std::string s = "<g id=\"structure\">\n";
  const double tmax = largest_force(m);
  for (int32_t e = 1; e <= m.c.NUMEL; ++e) {
    if (!usable(m, e)) continue;
    const double t = m.W.T[e - 1];
    const BarStyle st = bar_style(m.W.IND[e - 1], t);
    const double w = tmax > 0 && std::isfinite(t) ? 1 + 4 * std::fabs(t) / tmax : 1.5;
    s += line(L.at_node[at(m.W.NI[e - 1])], L.at_node[at(m.W.NF[e - 1])], f, st.colour, w, st.dash);
  }
  for (int32_t n = 1; n <= m.c.NNODE; ++n) {
    const double x = f.X(L.at_node[at(n)]), y = f.Y(L.at_node[at(n)]);
    s += support_mark(m.c, n, x, y);
    if (ELASTIC(m.c, n)) s += spring_mark(x, y);
    s += circle(x, y, m.c.NNODE > 150 ? 1.6 : 2.5, "#222222", "#222222");
    if (labels) s += svg_text(x + 4, y - 4, std::to_string(n), "font-size=\"10\" fill=\"#444444\"");
  }
  if (singular_node >= 1 && singular_node <= m.c.NNODE) {
    const Point p = L.at_node[at(singular_node)];
    s += "<g id=\"failing-node\">\n" + circle(f.X(p), f.Y(p), 8, "none", "#d62828", 2) + "</g>\n";
  }
  return s + "</g>\n";
}

// A motion as the displaced shape over the structure drawn light, in a panel of its own.
std::string displaced(const Model& m, const Placement& L, double left, double top, double width,
                      double height, const Motion& mo) {
  const int32_t nn = std::max(m.c.NNODE, 0), dims = std::max(m.c.NDOFN, 0);
  std::vector<std::vector<double>> u(static_cast<size_t>(nn),
                                     std::vector<double>(static_cast<size_t>(dims), 0.0));
  for (int32_t k = 1; k <= static_cast<int32_t>(mo.x.size()); ++k) {
    u[at(m.W.loc_node(k))][at(m.W.loc_dir(k))] = mo.x[at(k)];
  }
  std::vector<Point> du(static_cast<size_t>(nn));
  double big = 0, big_any = 0;
  for (int32_t n = 1; n <= nn; ++n) {
    du[at(n)] = dims > 0 ? project(u[at(n)].data(), dims) : Point{};
    big = std::max(big, std::hypot(du[at(n)].x, du[at(n)].y));
    for (double v : u[at(n)]) big_any = std::max(big_any, std::fabs(v));
  }
  // The largest displacement a sixth of the structure's size; a motion straight at the viewer
  // is shown by rings around its nodes only.
  const double k = big > 1e-6 * big_any ? L.extent / 6 / big : 0;
  std::vector<Point> moved(static_cast<size_t>(nn));
  Box box = L.box;
  for (int32_t n = 1; n <= nn; ++n) {
    moved[at(n)] = {L.at_node[at(n)].x + k * du[at(n)].x, L.at_node[at(n)].y + k * du[at(n)].y};
    box.add(moved[at(n)]);
  }
  const Frame f(box, left, top, width, height, 16);
  std::string s;
  for (int32_t e = 1; e <= m.c.NUMEL; ++e) {
    if (!usable(m, e)) continue;
    const int32_t a = m.W.NI[e - 1], b = m.W.NF[e - 1];
    s += line(L.at_node[at(a)], L.at_node[at(b)], f, "#cfcfcf", 1, m.W.IND[e - 1] < 0 ? "3 3" : "");
  }
  for (int32_t e = 1; e <= m.c.NUMEL; ++e) {
    if (!usable(m, e) || m.W.IND[e - 1] < 0) continue;
    s += line(moved[at(m.W.NI[e - 1])], moved[at(m.W.NF[e - 1])], f, "#e8590c", 1.4, "");
  }
  for (int32_t n : mo.nodes) {
    const Point p = L.at_node[at(n)], q = moved[at(n)];
    s += line(p, q, f, "#e8590c", 0.8, "2 2");
    s += circle(f.X(q), f.Y(q), 2.5, "#e8590c", "#e8590c");
    if (k == 0) s += circle(f.X(p), f.Y(p), 6, "none", "#e8590c", 1.2);
    s += svg_text(f.X(q) + 4, f.Y(q) - 4, std::to_string(n), "font-size=\"9\" fill=\"#9c3a06\"");
  }
  return s;
}

// The directions of the picture: arrows of the unit vectors X, Y (and Z) as projected.
std::string axes(int32_t dims, double x, double y) {
  std::string s = "<g id=\"axes\" font-size=\"9\" fill=\"#555555\">\n";
  for (int32_t d = 1; d <= std::min(dims, 3); ++d) {
    double unit[3] = {0, 0, 0};
    unit[d - 1] = 1;
    const Point p = project(unit, dims);
    const double ex = x + 18 * p.x, ey = y - 18 * p.y;
    s += "<line x1=\"" + px(x) + "\" y1=\"" + px(y) + "\" x2=\"" + px(ex) + "\" y2=\"" + px(ey) +
         "\" stroke=\"#555555\" stroke-width=\"1\"/>\n";
    s += svg_text(ex + 2 * p.x + (p.x >= 0 ? 1 : -7), ey - 2 * p.y + 3, direction_name(d));
  }
  return s + "</g>\n";
}

std::string caption_of(const char* what, const Motion& mo) {
  const std::string kind = mo.rigid.empty() ? kind_word(mo.classification) : mo.rigid;
  std::string nodes;
  for (size_t i = 0; i < mo.nodes.size() && i < 6; ++i)
    nodes += (i ? ", " : "") + std::to_string(mo.nodes[i]);
  if (mo.nodes.size() > 6) nodes += ", ...";
  return std::string(what) + ": " + kind +
         (nodes.empty() ? "" : (mo.nodes.size() == 1 ? " (node " : " (nodes ") + nodes + ")");
}

std::string legend(double x, double y) {
  std::string s = "<g id=\"legend\" font-size=\"10\">\n";
  struct Item {
    const char* text;
    BarStyle st;
  };
  const Item items[] = {{"elastic (IND 0)", {"#1f5fbf", ""}},
                        {"force-only (IND > 0)", {"#2e8b3e", ""}},
                        {"force-only, no force", {"#2e8b3e", "2 2"}},
                        {"left out (IND < 0)", {"#9a9a9a", "4 3"}}};
  double cx = x;
  for (const Item& it : items) {
    s += "<line x1=\"" + px(cx) + "\" y1=\"" + px(y) + "\" x2=\"" + px(cx + 22) + "\" y2=\"" +
         px(y) + "\" stroke=\"" + it.st.colour + "\" stroke-width=\"2\"" +
         (*it.st.dash ? std::string(" stroke-dasharray=\"") + it.st.dash + "\"" : "") + "/>\n";
    s += svg_text(cx + 26, y + 3.5, it.text);
    cx += 36 + 5.6 * static_cast<double>(std::string_view(it.text).size());
  }
  const double y2 = y + 18;
  s += "<path d=\"M" + px(x + 8) + " " + px(y2 - 7) + " l-6 10 h12 z\" fill=\"#333333\"/>\n";
  s += svg_text(x + 20, y2 + 3, "support (open: some directions)");
  s += spring_mark(x + 220, y2 - 6);
  s += svg_text(x + 224, y2 + 3, "spring");
  s += circle(x + 290, y2, 7, "none", "#d62828", 2);
  s += svg_text(x + 302, y2 + 3, "node of the failing step");
  s += svg_text(x + 450, y2 + 3, "line width: |T|");
  return s + "</g>\n";
}

}  // namespace

void draw_model(Model& m, const DrawOptions& opt, std::ostream& svg,
                std::vector<std::string>& notes) {
  const COMPAR& c = m.c;
  const Geometry g = rebuild_positions(m);
  if (!g.disagreeing.empty()) {
    std::string list;
    for (size_t i = 0; i < g.disagreeing.size() && i < 10; ++i)
      list += (i ? ", " : "") + std::to_string(g.disagreeing[i]);
    if (g.disagreeing.size() > 10) list += ", ...";
    char rel[32];
    std::snprintf(rel, sizeof rel, "%.3g", g.worst_mismatch);
    notes.push_back("the vectors V of " + std::to_string(g.disagreeing.size()) + " element" +
                    (g.disagreeing.size() == 1 ? "" : "s") + " (" + list +
                    ") do not close their loops (largest gap " + rel +
                    " of |V|): positions follow a spanning tree of the elements");
  }
  if (!g.unusable.empty()) {
    notes.push_back(std::to_string(g.unusable.size()) +
                    " element(s) name end nodes outside the model and are not drawn");
  }
  if (c.NDOFN > 3)
    notes.push_back("NDOFN = " + std::to_string(c.NDOFN) +
                    ": directions 4 and above are not drawn");

  // The motions of a singular matrix.
  MechanismOptions mo = opt.mechanism;
  mo.eigen = MechanismOptions::Eigen::WhenSingular;
  const MechanismReport r = analyse_mechanism(m, mo);
  std::vector<std::pair<std::string, const Motion*>> panels;
  if (r.failing && opt.max_modes > 0)
    panels.emplace_back(caption_of(("failing step " + std::to_string(r.KSTEP)).c_str(), *r.failing),
                        &*r.failing);
  for (size_t i = 0; i < r.modes.size() && static_cast<int32_t>(panels.size()) < opt.max_modes;
       ++i) {
    panels.emplace_back(caption_of(("mode " + std::to_string(i + 1)).c_str(), r.modes[i]),
                        &r.modes[i]);
  }
  if (r.singular && !r.eigen_done)
    notes.push_back("zero-energy modes not computed: a connected part has more than " +
                    std::to_string(mo.max_order) + " equations");
  if (r.modes.size() + (r.failing ? 1 : 0) > panels.size()) {
    notes.push_back(std::to_string(r.modes.size() + (r.failing ? 1 : 0) - panels.size()) +
                    " more motion(s) not drawn");
  }

  const Placement L = place_nodes(m, g, notes);
  const bool labels = opt.labels == 1 || (opt.labels < 0 && c.NNODE <= 60);
  const double width = 760, pad = 30, top = 46;
  const double main_h = height_for(L, width, pad, 160, 460);
  const int32_t cols = 3;
  const double pw = width / cols, ph = height_for(L, pw, 22, 110, 260) + 18;
  const size_t rows = (panels.size() + cols - 1) / cols;
  const double notes_h = 14.0 * static_cast<double>(notes.size());
  const double height = top + main_h + 44 + static_cast<double>(rows) * ph + notes_h + 10;

  const int32_t singular_node = r.singular ? m.W.loc_node(r.KSTEP) : 0;
  std::string head = "model: NNODE = " + std::to_string(c.NNODE) +
                     ", NUMEL = " + std::to_string(c.NUMEL) +
                     ", NDOFN = " + std::to_string(c.NDOFN) + ", NEQ = " + std::to_string(c.NEQ);
  std::string state = "regular: the factorization completes";
  if (r.singular) {
    state = "singular: the factorization stops at step " + std::to_string(r.KSTEP) + ", node " +
            std::to_string(singular_node) + ", direction " + direction_name(m.W.loc_dir(r.KSTEP)) +
            "; " + std::to_string(r.modes.size()) + " zero-energy mode" +
            (r.modes.size() == 1 ? "" : "s");
  }
  svg << svg_begin(width, height, "drav-audit draw: " + head, state);
  svg << svg_text(10, 18, head, "font-size=\"13\" font-weight=\"bold\"");
  svg << svg_text(10, 34, state,
                  std::string("fill=\"") + (r.singular ? "#d62828" : "#333333") + "\"");
  const Frame f(L.box, 0, top, width, main_h, pad);
  svg << structure(m, L, f, labels, singular_node);
  if (c.NDOFN >= 1) svg << axes(c.NDOFN, width - 40, top + main_h - 12);
  svg << legend(10, top + main_h + 10);

  double y = top + main_h + 44;
  for (size_t i = 0; i < panels.size(); ++i) {
    const double left = pw * static_cast<double>(i % cols),
                 ptop = y + ph * static_cast<double>(i / cols);
    svg << "<g id=\"motion-" << i + 1 << "\">\n";
    svg << "<rect x=\"" << px(left + 3) << "\" y=\"" << px(ptop + 2) << "\" width=\"" << px(pw - 6)
        << "\" height=\"" << px(ph - 4) << "\" fill=\"none\" stroke=\"#dddddd\"/>\n";
    svg << svg_text(left + 8, ptop + 15, panels[i].first, "font-size=\"10\"");
    svg << displaced(m, L, left, ptop + 18, pw, ph - 18, *panels[i].second);
    svg << "</g>\n";
  }
  y += static_cast<double>(rows) * ph + 12;
  for (const std::string& n : notes) {
    svg << svg_text(10, y, "note: " + n, "font-size=\"10\" fill=\"#555555\"");
    y += 14;
  }
  svg << svg_end();
}

}  // namespace drav::audit
