// The shared parameter block, filled once from COMZOR.DAT by RCOM and read-only afterwards,
// and the run header printed at the top of the program's reports.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "params/zarray.h"

namespace drav {

// Fixed-length text field, blank-padded on the right; NUL-filled until first set.
template <size_t N>
using Text = std::array<char, N>;

template <size_t N>
std::string text_str(const Text<N>& t) {
  return std::string(t.data(), N);
}

struct COMPAR {
  // Read step 1.
  int32_t NNODE = 0, NBLK = 0, NSPR = 0, NUMEL = 0, NDOFN = 0, NEMAX = 0, NBAND = 0;
  // Read steps 4 to 6: carried for the other programs of the suite, not used here.
  int32_t IC[5] = {};
  float TABR[6][5] = {};
  int32_t TABI[5] = {};
  int32_t IA1 = 0;
  float RA1 = 0;
  int32_t IA2 = 0, IA3 = 0, IA4 = 0;
  float RA2 = 0;
  // Read step 7.
  int32_t NEQ = 0;
  // Read step 8.
  int32_t IB[4] = {};
  float RB1 = 0, RB2 = 0;
  int32_t ITER = 0;
  // Read steps 9 to 15: whole lines.
  Text<255> STR1 = {}, REPFIL = {}, STR3 = {};
  Text<20> LABL[3] = {};
  Text<20> LANG = {};

  // Supports, NNODE x NDOFN, column by column (node index fastest). Nonzero IBLK(n,d):
  // direction d of node n is blocked; nonzero ELSUP(n,d): a spring of that stiffness.
  ZArray<int32_t> IBLK;
  ZArray<float> ELSUP;

  int64_t sup_index(int32_t n, int32_t d) const {
    return (static_cast<int64_t>(d) - 1) * (NNODE > 0 ? NNODE : 0) + (n - 1);
  }
  int32_t iblk(int32_t n, int32_t d) const { return IBLK[sup_index(n, d)]; }
  float elsup(int32_t n, int32_t d) const { return ELSUP[sup_index(n, d)]; }

  // Romanian when the language line starts with R or r.
  bool romanian() const { return LANG[0] == 'R' || LANG[0] == 'r'; }
  // The report file path: REPFIL without its trailing blanks.
  std::string report_path() const;
};

struct RunHeader {
  Text<10> TITLE = {' ', 'Z', 'O', 'R', 'V', 'I', 'K', ' ', ' ', ' '};
  Text<10> PROGNM = {};
};

}  // namespace drav
