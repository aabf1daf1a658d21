#include "tracking/model_runtime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "platform/paths.h"
#include "platform/shared_library.h"

namespace qm {

namespace {

const OrtApi* openRuntime() {
    const std::string path = executableDir() + "libonnxruntime.so";
    // RTLD_LOCAL keeps the runtime's symbols to itself; the handle lives for the whole process.
    std::string why;
    void* library = openLibrary(path, &why);
    if (!library) throw ModelError("cannot load the model runtime " + path + ": " + why);
    using GetApiBase = const OrtApiBase* (*)();
    auto getApiBase = reinterpret_cast<GetApiBase>(librarySymbol(library, "OrtGetApiBase"));
    const OrtApiBase* base = getApiBase ? getApiBase() : nullptr;
    const OrtApi* api = base ? base->GetApi(kRuntimeApiVersion) : nullptr;
    if (!api) {
        closeLibrary(library);
        throw ModelError("the model runtime " + path + " does not offer interface version " +
                         std::to_string(kRuntimeApiVersion));
    }
    return api;
}

}  // namespace

const OrtApi& runtimeApi() {
    static std::mutex lock;
    static const OrtApi* api = nullptr;
    std::lock_guard<std::mutex> guard(lock);
    if (!api) api = openRuntime();
    return *api;
}

void throwOnError(OrtStatus* status) {
    if (!status) return;
    const OrtApi& api = runtimeApi();
    std::string message = api.GetErrorMessage(status);
    api.ReleaseStatus(status);
    throw ModelError(message);
}

void RuntimeRelease::operator()(OrtEnv* p) const {
    runtimeApi().ReleaseEnv(p);
}
void RuntimeRelease::operator()(OrtSessionOptions* p) const {
    runtimeApi().ReleaseSessionOptions(p);
}
void RuntimeRelease::operator()(OrtSession* p) const {
    runtimeApi().ReleaseSession(p);
}
void RuntimeRelease::operator()(OrtMemoryInfo* p) const {
    runtimeApi().ReleaseMemoryInfo(p);
}
void RuntimeRelease::operator()(OrtValue* p) const {
    runtimeApi().ReleaseValue(p);
}

namespace {

// Checks that a run's output is a float tensor with at least `expected` values and returns its data.
const float* floatData(const OrtApi& api, OrtValue* value, const char* modelName, const char* outputName,
                       size_t expected) {
    char text[256];
    if (!value) {
        snprintf(text, sizeof text, "%s: output \"%s\" is missing", modelName, outputName);
        throw ModelError(text);
    }
    OrtTensorTypeAndShapeInfo* rawInfo = nullptr;
    throwOnError(api.GetTensorTypeAndShape(value, &rawInfo));
    ONNXTensorElementDataType type = ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED;
    size_t count = 0;
    OrtStatus* status = api.GetTensorElementType(rawInfo, &type);
    if (!status) status = api.GetTensorShapeElementCount(rawInfo, &count);
    api.ReleaseTensorTypeAndShapeInfo(rawInfo);
    throwOnError(status);
    if (type != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT || count < expected) {
        snprintf(text, sizeof text, "%s: output \"%s\" holds %zu values of type %d, expected %zu floats",
                 modelName, outputName, count, static_cast<int>(type), expected);
        throw ModelError(text);
    }
    void* data = nullptr;
    throwOnError(api.GetTensorMutableData(value, &data));
    return static_cast<const float*>(data);
}

// The CPU memory description never changes: made on the first run and kept for the process, like the
// runtime itself, so a run does not make and free one each time.
const OrtMemoryInfo* cpuMemoryInfo(const OrtApi& api) {
    static OrtMemoryInfo* const memory = [&api] {
        OrtMemoryInfo* made = nullptr;
        throwOnError(api.CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &made));
        return made;
    }();
    return memory;
}

}  // namespace

void runModel(OrtSession* session, const char* modelName, const ModelInput& input,
              const char* const* outputNames, const size_t* expectedCounts, size_t outputCount,
              ModelOutputs& outputs) {
    if (!session) throw ModelError(std::string(modelName) + ": model not loaded");
    if (outputCount > kMaxModelOutputs) throw ModelError(std::string(modelName) + ": too many outputs");
    const OrtApi& api = runtimeApi();

    OrtValue* rawInput = nullptr;
    throwOnError(api.CreateTensorWithDataAsOrtValue(cpuMemoryInfo(api), input.data,
                                                    input.count * sizeof(float), input.shape, input.rank,
                                                    ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, &rawInput));
    RuntimeHandle<OrtValue> inputValue(rawInput);

    OrtValue* rawOutputs[kMaxModelOutputs] = {};
    const OrtValue* inputs[] = {inputValue.get()};
    const char* inputNames[] = {input.name};
    OrtStatus* status =
        api.Run(session, nullptr, inputNames, inputs, 1, outputNames, outputCount, rawOutputs);
    // Take ownership before looking at the status, so outputs made before a failure are released too.
    for (size_t i = 0; i < outputCount; ++i)
        outputs.values[i].reset(rawOutputs[i]);
    throwOnError(status);
    for (size_t i = 0; i < outputCount; ++i)
        outputs.data[i] =
            floatData(api, outputs.values[i].get(), modelName, outputNames[i], expectedCounts[i]);
}

float logistic(float logit) {
    const float z = std::clamp(logit, -80.0f, 80.0f);
    return 1.0f / (1.0f + std::exp(-z));
}

}  // namespace qm
