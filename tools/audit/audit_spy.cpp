// The nonzero pattern of the matrix and of the stored factors.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/audit/audit_draw.h"
#include "tools/audit/svg_out.h"

namespace drav::audit {

namespace {

constexpr double kSide = 420;  // the side of one pattern in the picture

struct Pattern {
  int64_t nonzeros = 0;
  int32_t lower_reach = 0, upper_reach = 0;  // largest i-j and j-i of a nonzero
};

// One pattern: cells of `per` x `per` entries (the last row and column of cells may be
// smaller), shaded by the fraction of nonzero entries; runs of equal shade along a row of
// cells are one rectangle.
Pattern pattern(const Matrix& M, double left, double top, int32_t cells, std::string& s) {
  const int32_t n = M.order();
  Pattern p;
  if (n == 0) return p;
  const double cell = kSide / cells;
  std::vector<int64_t> count(static_cast<size_t>(cells));
  auto first = [&](int32_t k) {
    return static_cast<int32_t>(static_cast<int64_t>(k) * n / cells) + 1;
  };
  for (int32_t ci = 0; ci < cells; ++ci) {
    std::fill(count.begin(), count.end(), 0);
    const int32_t r0 = first(ci), r1 = first(ci + 1) - 1;
    for (int32_t i = r0; i <= r1; ++i) {
      const double* row = M.row(i);
      int32_t cj = 0;
      for (int32_t j = 1; j <= n; ++j) {
        while (j >= first(cj + 1)) ++cj;
        if (row[j - 1] != 0.0) {
          ++count[static_cast<size_t>(cj)];
          ++p.nonzeros;
          p.lower_reach = std::max(p.lower_reach, i - j);
          p.upper_reach = std::max(p.upper_reach, j - i);
        }
      }
    }
    // Eight shades; a cell with any nonzero entry is never left white.
    auto shade = [&](int32_t cj) {
      const int64_t c = count[static_cast<size_t>(cj)];
      if (c == 0) return 0;
      const int64_t area = int64_t{r1 - r0 + 1} * (first(cj + 1) - first(cj));
      return 1 + static_cast<int>(std::min<int64_t>(7, 7 * c / area));
    };
    for (int32_t cj = 0; cj < cells;) {
      const int level = shade(cj);
      int32_t end = cj + 1;
      while (end < cells && shade(end) == level) ++end;
      if (level > 0) {
        char opacity[16];
        std::snprintf(opacity, sizeof opacity, "%.3f", 0.3 + 0.1 * (level - 1));
        s += "<rect x=\"" + px(left + cj * cell) + "\" y=\"" + px(top + ci * cell) + "\" width=\"" +
             px((end - cj) * cell) + "\" height=\"" + px(cell) +
             "\" fill=\"#1a1a1a\" fill-opacity=\"" + opacity + "\"/>\n";
      }
      cj = end;
    }
  }
  return p;
}

// The lines |i - j| = reach on both sides of the diagonal (outer edges of the entries with
// |i - j| = reach - 1), in entry units scaled to the pattern.
std::string band_lines(int32_t n, int32_t reach, double left, double top, const char* colour,
                       const char* dash, bool lower, bool upper) {
  if (reach >= n || reach < 1) return "";
  const double k = kSide / n;
  std::string s;
  auto seg = [&](double x1, double y1, double x2, double y2) {
    s += "<line x1=\"" + px(left + x1 * k) + "\" y1=\"" + px(top + y1 * k) + "\" x2=\"" +
         px(left + x2 * k) + "\" y2=\"" + px(top + y2 * k) + "\" stroke=\"" + colour +
         "\" stroke-width=\"1.2\" stroke-dasharray=\"" + dash + "\"/>\n";
  };
  if (upper) seg(reach, 0, n, n - reach);
  if (lower) seg(0, reach, n - reach, n);
  return s;
}

std::string frame(double left, double top) {
  return "<rect x=\"" + px(left) + "\" y=\"" + px(top) + "\" width=\"" + px(kSide) +
         "\" height=\"" + px(kSide) + "\" fill=\"none\" stroke=\"#888888\"/>\n";
}

std::string share(int64_t part, int32_t n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3g%%",
                n > 0 ? 100.0 * static_cast<double>(part) / (double(n) * n) : 0.0);
  return buf;
}

}  // namespace

void draw_spy(Model& m, const SpyOptions& opt, std::ostream& svg) {
  const COMPAR& c = m.c;
  const int32_t n = std::max(c.NEQ, 0);
  Matrix A;
  build_matrix(m, A);

  // The stored factors of a finished run.
  Matrix F;
  std::vector<int32_t> IORD;
  std::string factors_note;
  const bool finished = read_factors_if_finished(c, F, IORD, factors_note);

  const int32_t cells = std::max(1, std::min(n, opt.max_cells));
  const int32_t per = n > 0 ? (n + cells - 1) / cells : 1;
  const double gap = 40, left = 20, top = 64;
  const double width = left + 2 * kSide + gap + 20, height = top + kSide + 86;
  svg << svg_begin(width, height, "drav-audit spy: NEQ = " + std::to_string(n),
                   "nonzero pattern of the stiffness matrix and of the stored factors");
  svg << svg_text(left, 18,
                  "NEQ = " + std::to_string(n) + ", NBAND = " + std::to_string(c.NBAND) +
                      (per > 1 ? ", each cell gathers up to " + std::to_string(per) + " x " +
                                     std::to_string(per) + " entries (darker: more of them nonzero)"
                               : ", one cell per entry"),
                  "font-size=\"12\" font-weight=\"bold\"");

  std::string s;
  const Pattern pa = pattern(A, left, top, cells, s);
  svg << s << frame(left, top);
  svg << band_lines(n, c.NBAND, left, top, "#d62828", "5 3", true, true);
  svg << svg_text(left, top - 22, "stiffness matrix A (rebuilt from the model)",
                  "font-weight=\"bold\"");
  svg << svg_text(
      left, top - 8,
      std::to_string(pa.nonzeros) + " nonzero entries (" + share(pa.nonzeros, n) +
          "), widest |i-j| used: " + std::to_string(std::max(pa.lower_reach, pa.upper_reach)));

  const double fl = left + kSide + gap;
  if (finished) {
    s.clear();
    const Pattern pf = pattern(F, fl, top, cells, s);
    svg << s << frame(fl, top);
    svg << band_lines(n, c.NBAND, fl, top, "#d62828", "5 3", true, true);
    // Row exchanges let the upper factor reach NBAND - 1 further.
    svg << band_lines(n, 2 * c.NBAND - 1, fl, top, "#1f5fbf", "2 3", false, true);
    svg << svg_text(fl, top - 22, "stored factors L\\U (rows in the order of order.dat)",
                    "font-weight=\"bold\"");
    svg << svg_text(fl, top - 8,
                    std::to_string(pf.nonzeros) + " nonzero entries (" + share(pf.nonzeros, n) +
                        "), L reaches " + std::to_string(pf.lower_reach) + ", U reaches " +
                        std::to_string(pf.upper_reach) + " off the diagonal");
  } else {
    svg << svg_text(fl, top + 20, factors_note, "fill=\"#555555\"");
  }
  const double ly = top + kSide + 24;
  svg << "<line x1=\"" << px(left) << "\" y1=\"" << px(ly) << "\" x2=\"" << px(left + 26)
      << "\" y2=\"" << px(ly)
      << "\" stroke=\"#d62828\" stroke-width=\"1.2\" stroke-dasharray=\"5 3\"/>\n";
  svg << svg_text(left + 32, ly + 4, "|i-j| = NBAND: no entry of A lies on or beyond these lines");
  svg << "<line x1=\"" << px(left) << "\" y1=\"" << px(ly + 18) << "\" x2=\"" << px(left + 26)
      << "\" y2=\"" << px(ly + 18)
      << "\" stroke=\"#1f5fbf\" stroke-width=\"1.2\" stroke-dasharray=\"2 3\"/>\n";
  svg << svg_text(left + 32, ly + 22, "j-i = 2*NBAND-1: the reach of U when rows are exchanged");
  svg << svg_end();
}

}  // namespace drav::audit
