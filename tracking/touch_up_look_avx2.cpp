// The looks' pixel work and its box blur built again for processors with AVX2 and FMA (this file is
// compiled with -mavx2 -mfma); applyLookParameters uses it where the processor has them.
#define QM_LOOK_AVX2_BUILD
#include "tracking/box_blur.cpp"       // NOLINT(bugprone-suspicious-include)
#include "tracking/touch_up_look.cpp"  // NOLINT(bugprone-suspicious-include)
