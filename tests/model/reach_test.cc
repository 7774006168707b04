// The numerical reach of the fits: where a fit says it is within reach, its
// double variance agrees with the same templates run in 50-digit arithmetic;
// where it says it is not, far enough out, the double variance is wrong.

#include <gtest/gtest.h>

#include <boost/multiprecision/cpp_bin_float.hpp>
#include <cmath>

#include "model/fits_impl.h"
#include "model/model.h"
#include "model/records.h"
#include "tests/model/design.h"

namespace gxe::model {
namespace {

using gxe::testing::Design;
using gxe::testing::store_design;
using Wide = boost::multiprecision::number<boost::multiprecision::cpp_bin_float<50>,
                                           boost::multiprecision::et_off>;

// The variance the double fit should have given: the alternative's fit at
// its stored point, in 50 digits.
double reference_variance(const Records& rec) {
  impl::CellArray<Wide> cell;
  Wide b0;
  const Wide v = impl::fit(rec.alt, Wide(rec.alt.bg), Wide(rec.alt.be), rec.cells.ncat, cell, b0);
  return static_cast<double>(v);
}

TEST(Reach, ATrustedVarianceIsGoodToOnePartInAMillion) {
  enum class Verdict { within, beyond, beyond_and_wrong };
  struct Case {
    const char* what;
    Design design;  // or_g and or_e_tb: the point of the alternative
    Verdict verdict;
  } const cases[] = {
      {"the worked example", Design{}, Verdict::within},
      // Cells of 1e-38 of the subjects, yet no cancellation: a floor on the
      // cell shares would refuse a variance good to 1e-14.
      {"k 2, rare carriers, everything 1e-12",
       Design{.k = 2, .probg = 0.01, .ccr = 0.25, .or_g = 1e-12, .or_e_tb = 1e-12, .ror_tb = 1e-12},
       Verdict::within},
      {"k 100, ROR^tb 1e-12 at the centre of its box",
       Design{.k = 100, .probg = 0.5, .or_g = 1, .or_e_tb = 1, .ror_tb = 1e-12}, Verdict::within},
      // Along ROR^tb at OR(G|E=0) = OR^tb(E|G=0) = 1 the cancellation passes
      // 1e8 between 1.26e4 (7.9e7) and 1.41e4 (1.006e8); both still good.
      {"just inside", Design{.or_g = 1, .or_e_tb = 1, .ror_tb = 1.26e4}, Verdict::within},
      {"just beyond", Design{.or_g = 1, .or_e_tb = 1, .ror_tb = 1.41e4}, Verdict::beyond},
      {"ROR^tb 1e7", Design{.or_g = 1, .or_e_tb = 1, .ror_tb = 1e7}, Verdict::beyond_and_wrong},
      {"ROR^tb 1e12", Design{.or_g = 1, .or_e_tb = 1, .ror_tb = 1e12}, Verdict::beyond_and_wrong},
      {"ROR^tb 3.162e10: the determinant rounds to 0",
       Design{.or_g = 1, .or_e_tb = 1, .ror_tb = 3.162e10}, Verdict::beyond_and_wrong},
      {"k 100, ROR^tb 1e-12 on an edge of its box",
       Design{.k = 100, .probg = 0.5, .or_g = 1e6, .or_e_tb = 1e-12, .ror_tb = 1e-12},
       Verdict::beyond},
      {"k 100, ROR^tb 1e-12 at a corner of its box",
       Design{.k = 100, .probg = 0.5, .or_g = 1e12, .or_e_tb = 1e-12, .ror_tb = 1e-12},
       Verdict::beyond_and_wrong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Records rec;
    store_design(rec, c.design);
    FitCheck fit;
    fs_a(rec, fit);
    double varh1 = 0.0;
    fs_a(rec, varh1);
    EXPECT_EQ(fit.variance, varh1) << "the checked fit is the fit";
    const double error = std::fabs(fit.variance / reference_variance(rec) - 1.0);
    EXPECT_EQ(fit.within_reach(), c.verdict == Verdict::within) << fit.cancellation;
    if (c.verdict == Verdict::within) {
      EXPECT_LE(error, 1e-6) << fit.cancellation;
    } else if (c.verdict == Verdict::beyond_and_wrong) {
      EXPECT_FALSE(error <= 1e-6) << fit.cancellation;
    }
  }
}

}  // namespace
}  // namespace gxe::model
