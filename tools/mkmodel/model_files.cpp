// The model files computed from a description.
//
// Choices of the builder where the program leaves the content open:
// - x0.UNF record 1 holds the node coordinates as reals, node by node (NNODE*NDOFN values),
//   record 3 the geometric length of each bar as a real; the program passes both over.
// - The coordinates are rounded to reals first, and V is computed in double from the rounded
//   values, so that V agrees with record 1 of x0.UNF exactly.
// - The unused doubles of an el.unf record: the one after VMOD repeats VMOD, the two after T
//   are 0 (ElRecord::encode, params/model_files.h).
// - COMZOR.DAT carries the title in STR1 and a one-line summary in STR3, empty LABL lines,
//   and zeros for every value the program does not use.
#include "tools/mkmodel/model_files.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "params/model_files.h"
#include "recio/binrec.h"
#include "recio/fatal.h"

namespace drav::tools {

std::vector<Equation> number_equations(int32_t nnode, int32_t ndofn,
                                       const std::vector<int32_t>& fixed) {
  std::vector<Equation> eqs;
  for_each_free_dof(
      nnode, ndofn,
      [&](int32_t n, int32_t d) {
        return fixed[(n - 1) * static_cast<int64_t>(ndofn) + d - 1] != 0;
      },
      [&](int32_t n, int32_t d) {
        eqs.push_back({n, d});
      });
  return eqs;
}

int32_t half_band(int32_t nnode, const std::vector<Equation>& eqs, const std::vector<int32_t>& ni,
                  const std::vector<int32_t>& nf) {
  // Equations of one node are consecutive: keep the first and last of each (from 1; 0 = none).
  std::vector<int32_t> first(nnode + 1, 0), last(nnode + 1, 0);
  for (size_t k = 0; k < eqs.size(); ++k) {
    const int32_t n = eqs[k].node, eq = static_cast<int32_t>(k) + 1;
    if (first[n] == 0) first[n] = eq;
    last[n] = eq;
  }
  int32_t span = 0;
  for (int32_t n = 1; n <= nnode; ++n)
    if (first[n] != 0) span = std::max(span, last[n] - first[n]);
  for (size_t e = 0; e < ni.size(); ++e) {
    const int32_t a = ni[e], b = nf[e];
    if (first[a] == 0 || first[b] == 0) continue;
    span = std::max({span, last[b] - first[a], last[a] - first[b]});
  }
  return span + 1;
}

ModelFiles build_model(const ModelDesc& d) {
  auto fail = [&](int line, const std::string& msg) -> void {
    throw DescriptionError(d.file, line, msg);
  };
  ModelFiles m;
  const int32_t nd = d.ndofn;
  const int64_t nnode = d.nnode;
  const int64_t numel = static_cast<int64_t>(d.bars.size());
  m.NNODE = d.nnode;
  m.NDOFN = nd;
  m.NUMEL = static_cast<int32_t>(numel);
  m.ITER = d.iter;
  m.NCASE = d.load_case;
  m.fixed = d.fixed;
  m.spring = d.spring;
  for (int64_t n = 0; n < nnode; ++n) {
    bool any_fixed = false, any_spring = false;
    for (int32_t k = 0; k < nd; ++k) {
      any_fixed = any_fixed || d.fixed[n * nd + k] != 0;
      any_spring = any_spring || d.spring[n * nd + k] != 0.0f;
    }
    m.NBLK += any_fixed;
    m.NSPR += any_spring;
  }

  m.X0.resize(nnode * nd);
  for (size_t i = 0; i < m.X0.size(); ++i) m.X0[i] = static_cast<float>(d.coord[i]);

  // Bars at each node, in increasing bar order.
  std::vector<int32_t> count(nnode, 0);
  for (const auto& b : d.bars) {
    ++count[b.ni - 1];
    ++count[b.nf - 1];
  }
  const int32_t most = nnode > 0 ? *std::max_element(count.begin(), count.end()) : 0;
  m.NEMAX = std::max(most, 1);
  if (d.nemax > 0) {
    for (int64_t n = 0; n < nnode; ++n)
      if (count[n] > d.nemax)
        fail(d.nemax_line, "node " + std::to_string(n + 1) + " has " + std::to_string(count[n]) +
                               " bars, more than nemax " + std::to_string(d.nemax));
    m.NEMAX = d.nemax;
  }
  if (nnode * m.NEMAX > (int64_t{1} << 29)) fail(0, "too many nodes and bars for nei.UNF");
  if (!ElRecord::valid_units(nd))
    fail(0, "ndofn " + std::to_string(nd) + " is too large for the records of el.unf");
  m.NEI.assign(nnode * m.NEMAX, 0);
  std::vector<int32_t> fill(nnode, 0);
  for (int64_t e = 1; e <= numel; ++e) {
    const BarDesc& b = d.bars[e - 1];
    for (int32_t n : {b.ni, b.nf}) m.NEI[(n - 1) * int64_t{m.NEMAX} + fill[n - 1]++] = int32_t(e);
  }

  m.NI.resize(numel);
  m.NF.resize(numel);
  m.A0.resize(numel);
  m.LEN.resize(numel);
  m.S0.resize(numel);
  m.V.resize(numel * nd);
  m.VMOD.resize(numel);
  m.YY.resize(numel);
  m.T.resize(numel);
  m.IND.resize(numel);
  m.AL0.resize(numel);
  for (int64_t e = 0; e < numel; ++e) {
    const BarDesc& b = d.bars[e];
    m.NI[e] = b.ni;
    m.NF[e] = b.nf;
    double sum = 0;
    for (int32_t k = 0; k < nd; ++k) {
      const double v = static_cast<double>(m.X0[(b.nf - 1) * int64_t{nd} + k]) -
                       static_cast<double>(m.X0[(b.ni - 1) * int64_t{nd} + k]);
      m.V[e * nd + k] = v;
      sum += v * v;
    }
    const double vmod = std::sqrt(sum);
    const float len = static_cast<float>(vmod);
    if (!(len > 0))
      fail(b.line, "bar " + std::to_string(e + 1) + " has no length: nodes " +
                       std::to_string(b.ni) + " and " + std::to_string(b.nf) +
                       " are at the same place");
    if (!std::isfinite(vmod) || !std::isfinite(len))
      fail(b.line, "bar " + std::to_string(e + 1) + " is too long for a real length");
    m.VMOD[e] = vmod;
    m.LEN[e] = len;
    m.S0[e] = b.s0_given ? b.s0 : len;
    m.A0[e] = b.a0;
    m.YY[e] = b.yy;
    m.T[e] = b.t;
    m.IND[e] = b.ind;
    m.AL0[e] = b.al0;
  }

  m.eqs = number_equations(m.NNODE, nd, m.fixed);
  m.NEQ = static_cast<int32_t>(m.eqs.size());
  const int32_t band = half_band(m.NNODE, m.eqs, m.NI, m.NF);
  m.NBAND = band;
  if (d.nband > 0) {
    m.NBAND = d.nband;
    if (d.nband < band)
      m.warnings.push_back(located_warning(
          d.file, d.nband_line,
          "nband " + std::to_string(d.nband) + " is less than the " + std::to_string(band) +
              " the bars need; entries outside it are taken as zero"));
  }

  m.STR1 = d.title;
  m.STR3 = "drav-mkmodel: " + std::to_string(m.NNODE) + " nodes, " + std::to_string(m.NUMEL) +
           " bars, " + std::to_string(m.NEQ) + " equations";
  m.REPFIL = d.report;
  m.LANG = d.romanian ? "ROMANA" : "ENGLISH";
  return m;
}

namespace {

// A real in the shortest form that reads back to the same value, whether the reader converts
// straight to a real or goes through a double (nine digits always do).
std::string real_text(float x) {
  for (int digits = 1; digits < 9; ++digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(x));
    if (std::strtof(buf, nullptr) == x && static_cast<float>(std::strtod(buf, nullptr)) == x)
      return buf;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(x));
  return buf;
}

void put_ints(std::string& out, std::initializer_list<int32_t> v) {
  bool first = true;
  for (int32_t x : v) {
    if (!first) out += ' ';
    out += std::to_string(x);
    first = false;
  }
  out += "\r\n";
}

void write_text_file(const std::string& path, const std::string& text, int unit) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) recio::io_fail(recio::kOpenFailure, unit, path, std::strerror(errno));
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !ok) recio::io_fail(recio::kWriteError, unit, path);
}

template <class T>
void put_record(recio::SeqWriter& w, const std::vector<T>& v) {
  w.write(v.data(), v.size() * sizeof(T));
}

}  // namespace

std::string comzor_text(const ModelFiles& m) {
  std::string out;
  put_ints(out, {m.NNODE, m.NBLK, m.NSPR, m.NUMEL, m.NDOFN, m.NEMAX, m.NBAND});
  const int64_t nd = m.NDOFN;
  for (int64_t n = 0; n < m.NNODE; ++n) {
    const auto row = m.fixed.begin() + n * nd;
    if (std::none_of(row, row + nd, [](int32_t x) { return x != 0; })) continue;
    out += std::to_string(n + 1);
    for (int64_t k = 0; k < nd; ++k) out += row[k] != 0 ? " 1" : " 0";
    out += "\r\n";
  }
  for (int64_t n = 0; n < m.NNODE; ++n) {
    const auto row = m.spring.begin() + n * nd;
    if (std::none_of(row, row + nd, [](float x) { return x != 0.0f; })) continue;
    out += std::to_string(n + 1);
    for (int64_t k = 0; k < nd; ++k) out += " " + real_text(row[k]);
    out += "\r\n";
  }
  put_ints(out, {0, 0, 0, 0, 0});                              // IC1..IC5
  for (int i = 0; i < 6; ++i) put_ints(out, {0, 0, 0, 0, 0});  // TABR1..TABR6
  put_ints(out, {0, 0, 0, 0, 0});                              // TABI
  put_ints(out, {0, 0, 0, 0, 0, 0});                           // IA1 RA1 IA2 IA3 IA4 RA2
  put_ints(out, {m.NEQ});
  put_ints(out, {0, 0, 0, 0, 0, 0, m.ITER});  // IB1..IB4 RB1 RB2 ITER
  for (const std::string* s : {&m.STR1, &m.REPFIL, &m.STR3}) out += *s + "\r\n";
  out += "\r\n\r\n\r\n";  // LABL(1..3)
  out += m.LANG + "\r\n";
  return out;
}

std::vector<unsigned char> el_record(const ModelFiles& m, int32_t e) {
  std::vector<unsigned char> r(static_cast<size_t>(ElRecord::data_bytes(m.NDOFN)));
  ElRecord::Fields f;
  f.VMOD = m.VMOD[e - 1];
  f.YY = m.YY[e - 1];
  f.T = m.T[e - 1];
  f.IND = m.IND[e - 1];
  f.AL0 = m.AL0[e - 1];
  ElRecord::encode(f, m.V.data() + static_cast<int64_t>(e - 1) * m.NDOFN, m.NDOFN, r.data());
  return r;
}

void write_model_dir(const ModelFiles& m, const std::string& dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir))
    recio::fail("cannot create the directory " + dir + ": " +
                (ec ? ec.message() : std::string("not a directory")));
  const fs::path base(dir);
  const auto path = [&](const RunFile& f) { return (base / f.name).string(); };

  write_text_file(path(kComzorFile), comzor_text(m), kComzorFile.unit);

  {
    recio::SeqWriter w(kNeiFile.unit, path(kNeiFile), recio::OpenStatus::Unknown);
    put_record(w, m.NEI);
    put_record(w, m.NI);
    put_record(w, m.NF);
    w.close();
  }
  {
    recio::SeqWriter w(kX0File.unit, path(kX0File), recio::OpenStatus::Unknown);
    put_record(w, m.X0);
    put_record(w, m.A0);
    put_record(w, m.LEN);
    put_record(w, m.S0);
    w.close();
  }
  {
    // build_model refuses an NDOFN without a record length.
    recio::DirectWriter w(kElFile.unit, path(kElFile), ElRecord::valid_units(m.NDOFN).value());
    for (int32_t e = 1; e <= m.NUMEL; ++e) {
      const auto rec = el_record(m, e);
      w.write(e, rec.data(), rec.size());
    }
    w.close();
  }
  write_text_file(path(kTempFile), std::to_string(m.NCASE) + "\r\n", kTempFile.unit);
}

}  // namespace drav::tools
