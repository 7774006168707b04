#ifndef GXE_PLAN_DETECT_H_
#define GXE_PLAN_DETECT_H_

// The smallest detectable interaction: for a study of a given number of
// cases and a target power, the ROR^tb nearest 1, on the chosen side of it,
// whose least favourable power over the box reaches the target.
//
// The power need not grow with ROR^tb near 1: under the classical formula
// the least favourable power at ROR^tb = 1 may lie below or above alpha/2
// (the critical value comes from the null's variance, the spread from the
// alternative's), and it may fall again for a very strong interaction, whose
// variance grows with it. So no shape is assumed: the search steps outwards
// from 1 on the log scale, with steps that double, until the least
// favourable power first reaches the target, and then refines the last step
// with a bracketing root finder (Alefeld, Potra and Shi's algorithm 748). At
// every trial value the box is searched anew, since its least favourable
// point moves with ROR^tb (and so does the conversion's point, when a range
// is not given).

#include "plan/plan.h"
#include "plan/shared_searches.h"

namespace gxe::plan {

// The farthest ROR^tb tried on either side: 1e4 above 1, 1e-4 below. For
// common designs the model's numerical reach ends about there, and an
// interaction that only so strong an effect shows is not one to plan for.
inline constexpr double kFarthestDetectableRor = 1e4;

// The relative accuracy of a detectable ROR^tb: the root is bracketed in
// log ROR^tb to this width, and the upper end of the bracket (where the
// power reaches the target) is reported.
inline constexpr double kDetectableRorTolerance = 1e-10;

// The ROR^tb nearest 1 on the side `direction` at which the least favourable
// power over the box (power_over's, with `settings` and so with its test)
// for `cases` cases reaches `target_power`: ror_detectable in the result,
// with the rest of the result power_over's at that ROR^tb. design.ror is not
// used. No answer (kind no_answer) when the target is not above alpha, when
// the least favourable power already reaches it at ROR^tb = 1, when it stays
// below it up to kFarthestDetectableRor, or when a trial value has no power
// (beyond the model's numerical reach, say) before the target is reached;
// the message says which, with the trial's own error. The trial values of
// the outward steps are the same for every row of a design, so they are
// taken from `shared` when it holds them; the refining ones are not kept.
Outcome detectable_ror(const Design& design, double cases, double target_power,
                       Direction direction, const Ranges& ranges, const Settings& settings,
                       SharedSearches* shared = nullptr);

}  // namespace gxe::plan

#endif  // GXE_PLAN_DETECT_H_
