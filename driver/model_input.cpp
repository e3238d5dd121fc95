#include "driver/model_input.h"

#include <optional>
#include <string>

#include "driver/work_alloc.h"
#include "params/model_files.h"
#include "recio/binrec.h"
#include "recio/fatal.h"

namespace drav {

namespace {

template <class T>
void read_into(recio::SeqReader& r, ZArray<T>& a) {
  r.read(a.data(), static_cast<size_t>(a.size()) * sizeof(T));
}

}  // namespace

void read_nei(const COMPAR& c, WorkArrays& W) {
  recio::SeqReader r(kNeiFile.unit, kNeiFile.name);
  read_into(r, W.NEI);  // node by node, NEMAX slots each
  read_into(r, W.NI);
  read_into(r, W.NF);
  r.close();
  // Element numbers index the element arrays: one outside 0..NUMEL would reach past them.
  const int64_t nemax = nonneg(c.NEMAX);
  for (int64_t i = 0; i < W.NEI.size(); ++i) {
    const int32_t e = W.NEI[i];
    if (e < 0 || e > c.NUMEL) {
      recio::fail_at(kNeiFile.name, kNeiFile.unit, {},
                     "node " + std::to_string(i / nemax + 1) + ", slot " +
                         std::to_string(i % nemax + 1) + " names element " + std::to_string(e) +
                         ", outside 0.." + std::to_string(c.NUMEL));
    }
  }
}

void read_x0(const COMPAR&, WorkArrays& W) {
  recio::SeqReader r(kX0File.unit, kX0File.name);
  r.read(nullptr, 0);
  read_into(r, W.A0);
  r.read(nullptr, 0);
  read_into(r, W.S0);
  r.close();
}

void read_el(const COMPAR& c, WorkArrays& W) {
  // A negative NDOFN reads no direction components (the items start at byte 0).
  const std::optional<int32_t> recl = ElRecord::valid_units(c.NDOFN);
  if (!recl) {
    recio::io_fail(recio::kOpenFailure, kElFile.unit, kElFile.name,
                   "record length " + std::to_string(ElRecord::units(c.NDOFN)) +
                       " from NDOFN = " + std::to_string(c.NDOFN));
  }
  const int64_t nd = nonneg(c.NDOFN);
  const int64_t data_bytes = ElRecord::data_bytes(c.NDOFN);
  recio::DirectReader r(kElFile.unit, kElFile.name, *recl);
  // The buffer comes from calloc: a wrong NDOFN costs no memory until a record really fills it.
  ZArray<unsigned char> buf;
  if (c.NUMEL > 0 && !buf.allocate(data_bytes)) recio::fail(recio::kNoMemory);
  for (int64_t e = 1; e <= c.NUMEL; ++e) {
    r.read(e, buf.data(), static_cast<size_t>(data_bytes));
    const ElRecord::Fields f = ElRecord::decode(buf.data(), c.NDOFN, W.V.data() + (e - 1) * nd);
    W.VMOD[e - 1] = f.VMOD;
    W.YY[e - 1] = f.YY;
    W.T[e - 1] = f.T;
    W.IND[e - 1] = f.IND;
    W.AL0[e - 1] = f.AL0;
  }
  r.close();
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
    recio::fail(std::string(kComzorFile.name) + " gives NEQ = " + std::to_string(c.NEQ) +
                ", but the supports leave " + std::to_string(nfree) + " free degrees of freedom");
  }
  LOCARRAY(c, W);

  read_el(c, W);
}

}  // namespace drav
