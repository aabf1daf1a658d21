// The model runtime: ONNX Runtime loaded at run time from the program's folder, its error type, owning
// handles for its objects and one helper that runs a session on a single float input.
//
// Contract: only the engine thread (and the developer tools) call into the runtime. The library is
// opened once per process on first use and never closed; the function table is the one for interface
// version 20. Every runtime object made here is held by an owning handle, so it is released on every
// path, including when a call throws.
#pragma once

#include <onnxruntime_c_api.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "tracking/model_error.h"

namespace qm {

constexpr uint32_t kRuntimeApiVersion = 20;

// The runtime's function table. Opens executableDir() + "libonnxruntime.so" on the first call; throws
// ModelError when the library is missing or does not offer interface version 20 (a later call tries again).
const OrtApi& runtimeApi();

// Throws ModelError with the status's message when status is an error (and releases the status).
void throwOnError(OrtStatus* status);

struct RuntimeRelease {
    void operator()(OrtEnv* p) const;
    void operator()(OrtSessionOptions* p) const;
    void operator()(OrtSession* p) const;
    void operator()(OrtMemoryInfo* p) const;
    void operator()(OrtValue* p) const;
};
template <typename T>
using RuntimeHandle = std::unique_ptr<T, RuntimeRelease>;

// One float tensor input wrapped around a caller-owned buffer (no copy) for runModel.
struct ModelInput {
    const char* name;
    float* data;
    size_t count;
    const int64_t* shape;
    size_t rank;
};

// The outputs of one run: owning handles and the float data read in place. Released with the record.
constexpr size_t kMaxModelOutputs = 2;
struct ModelOutputs {
    RuntimeHandle<OrtValue> values[kMaxModelOutputs];
    const float* data[kMaxModelOutputs] = {};
};

// Runs the session with one input and the named outputs (at most kMaxModelOutputs). Each output must be a
// float tensor of at least the expected count of values; otherwise, or when the runtime fails, throws
// ModelError (modelName leads the message for the checks made here). Makes the input value for the call and
// releases it before returning; the CPU memory description is made once per process.
void runModel(OrtSession* session, const char* modelName, const ModelInput& input,
              const char* const* outputNames, const size_t* expectedCounts, size_t outputCount,
              ModelOutputs& outputs);

// 1 / (1 + e^-z) with z clamped to [-80, 80], so extreme or infinite logits give 0 or 1 without overflow.
// A NaN logit gives NaN, which compares false against any threshold.
float logistic(float logit);

}  // namespace qm
