#include "tracking/face_tracker.h"

#include <cstring>

#include "base/log.h"
#include "platform/paths.h"

namespace qm {

FaceTracker::FaceTracker()
    : detectorInput(3 * kDetectorSide * kDetectorSide),
      meshInput(3 * kMeshSide * kMeshSide),
      personMaskInput(static_cast<size_t>(kPersonMaskValues) * 3),
      personMask(kPersonMaskValues),
      personMaskPixels(static_cast<size_t>(kPersonMaskValues) * 4) {}

namespace {

constexpr const char* kCudaProvider = "CUDAExecutionProvider";

bool runtimeOffers(const OrtApi& api, const char* provider) {
    char** names = nullptr;
    int count = 0;
    throwOnError(api.GetAvailableProviders(&names, &count));
    bool found = false;
    for (int i = 0; i < count; ++i)
        found = found || std::strcmp(names[i], provider) == 0;
    throwOnError(api.ReleaseAvailableProviders(names, count));
    return found;
}

RuntimeHandle<OrtSessionOptions> baseOptions(const OrtApi& api) {
    OrtSessionOptions* raw = nullptr;
    throwOnError(api.CreateSessionOptions(&raw));
    RuntimeHandle<OrtSessionOptions> options(raw);
    throwOnError(api.SetSessionGraphOptimizationLevel(options.get(), ORT_ENABLE_ALL));
    return options;
}

RuntimeHandle<OrtSessionOptions> cpuOptions(const OrtApi& api, int threads) {
    RuntimeHandle<OrtSessionOptions> options = baseOptions(api);
    throwOnError(api.SetIntraOpNumThreads(options.get(), threads > 0 ? threads : kAutomaticModelThreads));
    throwOnError(api.SetInterOpNumThreads(options.get(), 1));
    // Workers sleep between runs instead of spinning: one frame's inference leaves the cores free.
    throwOnError(api.AddSessionConfigEntry(options.get(), "session.intra_op.allow_spinning", "0"));
    return options;
}

// Options for the GPU, or none with *problem filled when the runtime cannot offer its CUDA provider.
RuntimeHandle<OrtSessionOptions> gpuOptions(const OrtApi& api, std::string* problem) {
    if (!runtimeOffers(api, kCudaProvider)) {
        *problem = "no CUDA provider in this runtime";
        return nullptr;
    }
    RuntimeHandle<OrtSessionOptions> options = baseOptions(api);
    throwOnError(api.DisableMemPattern(options.get()));
    throwOnError(api.SetSessionExecutionMode(options.get(), ORT_SEQUENTIAL));
    OrtCUDAProviderOptions cuda;
    cuda.device_id = 0;
    if (OrtStatus* status = api.SessionOptionsAppendExecutionProvider_CUDA(options.get(), &cuda)) {
        *problem = api.GetErrorMessage(status);
        api.ReleaseStatus(status);
        return nullptr;
    }
    return options;
}

RuntimeHandle<OrtSession> createSession(const OrtApi& api, OrtEnv* environment,
                                        const OrtSessionOptions* options, const std::string& path) {
    OrtSession* raw = nullptr;
    throwOnError(api.CreateSession(environment, path.c_str(), options, &raw));
    return RuntimeHandle<OrtSession>(raw);
}

}  // namespace

void loadModels(FaceTracker& tracker, const ModelSetup& setup) {
    const OrtApi& api = runtimeApi();
    const std::string folder = setup.folder.empty() ? executableDir() : setup.folder;

    OrtEnv* rawEnvironment = nullptr;
    throwOnError(api.CreateEnv(ORT_LOGGING_LEVEL_WARNING, "quillmere", &rawEnvironment));
    RuntimeHandle<OrtEnv> environment(rawEnvironment);
    throwOnError(api.SetLanguageProjection(environment.get(), ORT_PROJECTION_CPLUSPLUS));
    tracker.environment = std::move(environment);  // the new one is made before the old one goes

    RuntimeHandle<OrtSessionOptions> options;
    const char* placement = "the CPU";
    std::string gpuProblem;
    if (!setup.useCpu) {
        options = gpuOptions(api, &gpuProblem);
        placement = "the GPU (CUDA)";
    }
    if (!options) {
        // No GPU provider here: the CPU serves, with the thread count when one was given.
        options = cpuOptions(api, setup.threads);
        if (!setup.useCpu) {
            // The runtime's reason can run over several lines: the log keeps one line per event.
            const std::string firstLine = gpuProblem.substr(0, gpuProblem.find_first_of("\r\n"));
            logLine("face models: GPU not available (%s)", firstLine.c_str());
            placement = "the CPU (no GPU provider)";
        }
    }

    try {
        tracker.detectorSession =
            createSession(api, tracker.environment.get(), options.get(), folder + "face_detector.onnx");
        tracker.meshSession =
            createSession(api, tracker.environment.get(), options.get(), folder + "face_mesh.onnx");
    } catch (const ModelError& error) {
        if (setup.useCpu || !gpuProblem.empty()) throw;
        // The provider exists but the device does not take the models (no driver, no memory): run on the
        // CPU rather than stopping the engine. A second failure is a plain model error.
        logLine("face models: the GPU could not run them (%s)", error.what());
        options = cpuOptions(api, setup.threads);
        placement = "the CPU (GPU failed)";
        tracker.detectorSession =
            createSession(api, tracker.environment.get(), options.get(), folder + "face_detector.onnx");
        tracker.meshSession =
            createSession(api, tracker.environment.get(), options.get(), folder + "face_mesh.onnx");
    }
    logLine("face models loaded, running on %s (threads %d)", placement, setup.threads);

    try {
        tracker.personMaskSession =
            createSession(api, tracker.environment.get(), options.get(), folder + "person_mask.onnx");
    } catch (const ModelError& error) {
        logLine("person mask model not loaded: %s", error.what());
    }

    tracker.detectorAnchors = buildDetectorAnchors();
}

}  // namespace qm
