// The looks' pixel work and its box blur built again for processors with AVX2 and FMA; applyLookParameters
// uses it where the processor has them. Every header comes first, outside the AVX2 part, so that nothing
// shared with the rest of the program (an inline function, a template) is built for AVX2 here.
#define QM_LOOK_AVX2_BUILD

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/filter_types.h"
#include "tracking/box_blur.h"
#include "tracking/face_geometry.h"
#include "tracking/sample_bilinear.h"
#include "tracking/touch_up_look.h"

#pragma GCC push_options
#pragma GCC target("avx2,fma")
#include "tracking/box_blur.cpp"       // NOLINT(bugprone-suspicious-include)
#include "tracking/touch_up_look.cpp"  // NOLINT(bugprone-suspicious-include)
#pragma GCC pop_options
