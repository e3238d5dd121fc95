#include "params/rcom.h"

#include <string>

#include "recio/fatal.h"
#include "recio/listin.h"
#include "recio/textio.h"

namespace drav {

namespace {

// Allocates a support array of NNODE x NDOFN zeroed entries. The byte size must fit in 32 bits
// unsigned, the limit of the suite's array descriptors.
template <class T>
void allocate_supports(ZArray<T>& a, int32_t nnode, int32_t ndofn) {
  int64_t count = static_cast<int64_t>(nnode > 0 ? nnode : 0) * (ndofn > 0 ? ndofn : 0);
  if (ZArray<T>::byte_size(count, UINT32_MAX) < 0) recio::fail(recio::kSizeOverflow);
  if (!a.allocate(count)) recio::fail(recio::kNoMemory);
}

// One support record: the node K, then NDOFN values into row K. K is kept from the record
// before when this one leaves it out. A node outside the model would put the row outside
// the array, so the record is refused with its kind, its ordinal, K and the line.
template <class T>
void read_support(recio::TextFileIn& in, COMPAR& c, ZArray<T>& a, int32_t& K, const char* kind,
                  int64_t ordinal) {
  recio::ListRead r(in);
  r.item(K);
  if (K < 1 || K > c.NNODE) {
    recio::fail_at(in.path(), in.unit(), "line " + std::to_string(in.line_number()),
                   std::string(kind) + " support record " + std::to_string(ordinal) +
                       " names node " + std::to_string(K) + ", outside 1.." +
                       std::to_string(c.NNODE));
  }
  // Entries the record does not supply (null values, or after "/") keep what they held.
  for (int32_t d = 1; d <= c.NDOFN && !r.slashed(); ++d) r.item(a[c.sup_index(K, d)]);
  r.end();
}

}  // namespace

void RCOM(COMPAR& c, int32_t IUNIT, const std::string& path) {
  recio::TextFileIn in(IUNIT, path);

  {  // Read step 1: the model sizes.
    recio::ListRead r(in);
    for (int32_t* f : {&c.NNODE, &c.NBLK, &c.NSPR, &c.NUMEL, &c.NDOFN, &c.NEMAX, &c.NBAND}) {
      r.item(*f);
    }
    r.end();
  }

  allocate_supports(c.IBLK, c.NNODE, c.NDOFN);
  int32_t K = 0;
  for (int64_t i = 1; i <= c.NBLK; ++i) read_support(in, c, c.IBLK, K, "rigid", i);

  // The elastic array is allocated only after the last rigid record, as the suite does it.
  allocate_supports(c.ELSUP, c.NNODE, c.NDOFN);
  for (int64_t i = 1; i <= c.NSPR; ++i) read_support(in, c, c.ELSUP, K, "elastic", i);

  {  // Read step 4.
    recio::ListRead r(in);
    for (int32_t& v : c.IC) r.item(v);
    r.end();
  }
  {  // Read step 5: the six tables of five reals, then five integers.
    recio::ListRead r(in);
    for (auto& row : c.TABR) {
      for (float& v : row) r.item(v);
    }
    for (int32_t& v : c.TABI) r.item(v);
    r.end();
  }
  {  // Read step 6.
    recio::ListRead r(in);
    r.item(c.IA1);
    r.item(c.RA1);
    r.item(c.IA2);
    r.item(c.IA3);
    r.item(c.IA4);
    r.item(c.RA2);
    r.end();
  }
  {  // Read step 7.
    recio::ListRead r(in);
    r.item(c.NEQ);
    r.end();
  }
  {  // Read step 8.
    recio::ListRead r(in);
    for (int32_t& v : c.IB) r.item(v);
    r.item(c.RB1);
    r.item(c.RB2);
    r.item(c.ITER);
    r.end();
  }

  // Read steps 9 to 15: whole lines.
  in.read_A(c.STR1.data(), c.STR1.size());
  in.read_A(c.REPFIL.data(), c.REPFIL.size());
  in.read_A(c.STR3.data(), c.STR3.size());
  for (auto& l : c.LABL) in.read_A(l.data(), l.size());
  in.read_A(c.LANG.data(), c.LANG.size());
  in.close();
}

}  // namespace drav
