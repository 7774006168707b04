#ifndef GXE_MODEL_TESTS_H_
#define GXE_MODEL_TESTS_H_

namespace gxe::model {

// The test of the interaction whose power is computed (plan/plan.h
// describes the three formulas).
enum class Test { null_variance, wald, lr };

}  // namespace gxe::model

#endif  // GXE_MODEL_TESTS_H_
