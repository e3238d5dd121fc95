#include "driver/model_input.h"

#include <cstring>
#include <string>

#include "driver/drav.h"
#include "recio/binrec.h"
#include "recio/fatal.h"

namespace drav {

namespace {

constexpr int kModelUnit = 2;

int64_t nonneg(int64_t v) {
  return v > 0 ? v : 0;
}

template <class T>
void read_into(recio::SeqReader& r, ZArray<T>& a) {
  r.read(a.data(), static_cast<size_t>(a.size()) * sizeof(T));
}

}  // namespace

void read_nei(const COMPAR& c, WorkArrays& W) {
  recio::SeqReader r(kModelUnit, "nei.UNF");
  read_into(r, W.NEI);  // node by node, NEMAX slots each
  read_into(r, W.NI);
  read_into(r, W.NF);
  r.close();
  // Element numbers index the element arrays: one outside 0..NUMEL would reach past them.
  const int64_t nemax = nonneg(c.NEMAX);
  for (int64_t i = 0; i < W.NEI.size(); ++i) {
    const int32_t e = W.NEI[i];
    if (e < 0 || e > c.NUMEL) {
      recio::fail("nei.UNF, unit 2: node " + std::to_string(i / nemax + 1) + ", slot " +
                  std::to_string(i % nemax + 1) + " names element " + std::to_string(e) +
                  ", outside 0.." + std::to_string(c.NUMEL));
    }
  }
}

void read_x0(const COMPAR&, WorkArrays& W) {
  recio::SeqReader r(kModelUnit, "x0.UNF");
  r.read(nullptr, 0);
  read_into(r, W.A0);
  r.read(nullptr, 0);
  read_into(r, W.S0);
  r.close();
}

void read_el(const COMPAR& c, WorkArrays& W) {
  // Record length 8*NDOFN + 56 in 4-byte units; the data fill its first 8*NDOFN + 56 bytes.
  // A negative NDOFN reads no direction components (the items start at byte 0).
  const int64_t recl = 8 * static_cast<int64_t>(c.NDOFN) + 56;
  const int64_t nd = nonneg(c.NDOFN);
  const int64_t data_bytes = 8 * nd + 56;
  if (recl < 1 || recl > INT32_MAX) {
    recio::io_fail(
        recio::kOpenFailure, kModelUnit, "el.unf",
        "record length " + std::to_string(recl) + " from NDOFN = " + std::to_string(c.NDOFN));
  }
  recio::DirectReader r(kModelUnit, "el.unf", static_cast<int32_t>(recl));
  // The buffer comes from calloc: a wrong NDOFN costs no memory until a record really fills it.
  ZArray<unsigned char> buf;
  if (c.NUMEL > 0 && !buf.allocate(data_bytes)) recio::fail(recio::kNoMemory);
  for (int64_t e = 1; e <= c.NUMEL; ++e) {
    r.read(e, buf.data(), static_cast<size_t>(data_bytes));
    const unsigned char* p = buf.data();
    std::memcpy(W.V.data() + (e - 1) * nd, p, static_cast<size_t>(8 * nd));
    p += 8 * nd;
    std::memcpy(&W.VMOD[e - 1], p, 8);
    std::memcpy(&W.YY[e - 1], p + 16, 8);
    std::memcpy(&W.T[e - 1], p + 24, 8);
    std::memcpy(&W.IND[e - 1], p + 48, 4);
    std::memcpy(&W.AL0[e - 1], p + 52, 4);
  }
  r.close();
}

int64_t count_free_dofs(const COMPAR& c) {
  int64_t k = 0;
  for (int32_t n = 1; n <= c.NNODE; ++n) {
    for (int32_t d = 1; d <= c.NDOFN; ++d) {
      if (c.iblk(n, d) == 0) ++k;
    }
  }
  return k;
}

void LOCARRAY(const COMPAR& c, WorkArrays& W) {
  const int64_t rows = W.LOC.size() / 2;
  int64_t k = 0;
  for (int32_t n = 1; n <= c.NNODE; ++n) {
    bool all_blocked = true;
    for (int32_t d = 1; d <= c.NDOFN && all_blocked; ++d) all_blocked = c.iblk(n, d) != 0;
    if (all_blocked) continue;
    for (int32_t d = 1; d <= c.NDOFN; ++d) {
      if (c.iblk(n, d) != 0) continue;
      ++k;
      // The caller checks the count against NEQ first; never write past the table.
      if (k > rows) return;
      W.LOC[k - 1] = n;
      W.LOC[rows + k - 1] = d;
    }
  }
}

}  // namespace drav
