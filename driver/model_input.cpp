#include "driver/model_input.h"

#include <cstring>
#include <string>

#include "driver/drav.h"
#include "driver/work_alloc.h"
#include "recio/binrec.h"
#include "recio/fatal.h"

namespace drav {

namespace {

constexpr int kModelUnit = 2;

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

bool allocate_group1(const COMPAR& c, WorkArrays& W) {
  const int64_t numel = nonneg(c.NUMEL);
  return allocate_checked(W.NEI, nonneg(c.NNODE) * nonneg(c.NEMAX)) &&
         allocate_checked(W.NI, numel) && allocate_checked(W.NF, numel) &&
         allocate_checked(W.A0, numel) && allocate_checked(W.S0, numel);
}

bool allocate_group2(const COMPAR& c, WorkArrays& W) {
  const int64_t numel = nonneg(c.NUMEL);
  return allocate_checked(W.V, numel * nonneg(c.NDOFN)) && allocate_checked(W.VMOD, numel) &&
         allocate_checked(W.YY, numel) && allocate_checked(W.T, numel) &&
         allocate_checked(W.IND, numel) && allocate_checked(W.AL0, numel);
}

void read_model(const COMPAR& c, WorkArrays& W) {
  read_nei(c, W);
  read_x0(c, W);

  // The equation table has NEQ rows; a model whose free degrees of freedom do not number NEQ
  // would leave rows unset or run past the table.
  allocate_or_fail(W.LOC, nonneg(c.NEQ) * 2);
  const int64_t nfree = count_free_dofs(c);
  if (nfree != c.NEQ) {
    recio::fail("COMZOR.DAT gives NEQ = " + std::to_string(c.NEQ) + ", but the supports leave " +
                std::to_string(nfree) + " free degrees of freedom");
  }
  LOCARRAY(c, W);

  read_el(c, W);
}

}  // namespace drav
