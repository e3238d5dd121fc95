// The pivot rule that every factorization kernel applies: the tolerance of the pivot test and
// the comparison of the pivot search. Kept in one place so that no kernel can drift from the
// others.
#pragma once

#include <cmath>

namespace drav {

// The single-precision constant 1.0E-7, widened.
inline constexpr double PIVTOL = static_cast<double>(1.0E-7f);

// The pivot test of the factorization. Written as "not at least the tolerance" rather than
// "below the tolerance" so that a pivot that is not a number stops the factorization too:
// letting it through would fill the rest of the factors with NaN and hand them on as a result.
inline bool pivot_fails(double u) {
  return !(std::fabs(u) >= PIVTOL);
}

// The search rule of the pivot step: a candidate (the diagonal value that row would give,
// rounded to single precision) replaces the best so far only when its magnitude is strictly
// larger, so the first of equal magnitudes wins, and +/-0 and NaN never do (the best starts
// at 0.0).
inline bool beats(float candidate, float amax) {
  return std::fabs(candidate) > std::fabs(amax);
}

}  // namespace drav
