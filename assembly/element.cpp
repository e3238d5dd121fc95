// The element contribution: one entry of the system matrix from the states of the elements
// that meet at its nodes.
#include "assembly/element.h"

namespace drav {

bool ELASTIC(const COMPAR& c, int32_t NODE) {
  for (int32_t d = 1; d <= c.NDOFN; ++d) {
    // A NaN compares unequal too, and counts as a support.
    if (c.elsup(NODE, d) != 0.0f) return true;
  }
  return false;
}

double AA(const COMPAR& c, const WorkArrays& W, int32_t I, int32_t J) {
  if (J < I || static_cast<int64_t>(J) > static_cast<int64_t>(I) + c.NBAND - 1) return 0.0;

  const int32_t NODEI = W.loc_node(I), DIRI = W.loc_dir(I);
  const int32_t NODEJ = W.loc_node(J), DIRJ = W.loc_dir(J);
  const float DELTA = DIRI == DIRJ ? 1.0f : 0.0f;
  // The support value is the same for every element of the loop: look it up once.
  const bool spring = DIRI == DIRJ && ELASTIC(c, NODEI);
  const double SPR = spring ? static_cast<double>(c.elsup(NODEI, DIRI)) : 0.0;
  const int32_t NDOFN = c.NDOFN;

  // The element list of NODEI, read in place rather than copied to a scratch row.
  const int32_t* IEL = W.NEI.data() + static_cast<int64_t>(NODEI - 1) * c.NEMAX;
  double RES = 0.0;
  for (int32_t KE = 0; KE < c.NEMAX; ++KE) {
    const int32_t IE = IEL[KE];
    if (IE == 0) continue;  // empty slots may sit between used ones
    const int32_t e = IE - 1;
    const int32_t NIE = W.NI[e], NFE = W.NF[e];
    if (NODEI != NIE && NODEI != NFE) continue;
    if (NODEJ != NODEI && NODEJ != NIE && NODEJ != NFE) continue;

    // Subtracted for every connected element, whatever its state.
    if (spring) RES = RES - SPR;
    if (W.IND[e] < 0) continue;

    const int64_t base = static_cast<int64_t>(e) * NDOFN;
    const double VI = W.V[base + DIRI - 1], VJ = W.V[base + DIRJ - 1];
    const double VMOD = W.VMOD[e], TE = W.T[e];
    const double S0 = static_cast<double>(W.S0[e]);
    const double D = static_cast<double>(DELTA);
    double U;
    // Evaluated strictly left to right as written; the results must not change by a bit.
    if (W.IND[e] == 0) {
      const double EA = static_cast<double>(W.AL0[e]) * W.YY[e] * static_cast<double>(W.A0[e]);
      U = ((EA - TE) * VI * VJ / (VMOD * VMOD) + D * TE) / S0;
    } else {
      U = (D - VI * VJ / (VMOD * VMOD)) * TE / S0;
    }

    if (NODEJ == NODEI) {
      RES = RES + U;
    } else {
      // Between two nodes only the first joining active element counts.
      RES = -U;
      break;
    }
  }
  return RES;
}

}  // namespace drav
