/* Runs one ONNX model through ONNX Runtime on raw float32 files; used by the model checks and tests.
 *
 *   ort_run MODEL [--threads N] [--repeat N] --in NAME FILE D0,D1,... [--in ...] --out NAME FILE [--out ...]
 *
 * Each output is written as raw float32 and its shape printed as "NAME D0 D1 ...". With --repeat the run is
 * repeated and the mean time per run printed as "ms X". Exit status 1 with a message on any failure. */
#include <onnxruntime_c_api.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define MAX_IO 16

static const OrtApi* api;

static void check(OrtStatus* status) {
    if (status) {
        fprintf(stderr, "ort_run: %s\n", api->GetErrorMessage(status));
        exit(1);
    }
}

static float* readFile(const char* path, size_t count) {
    FILE* f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "ort_run: cannot open %s\n", path);
        exit(1);
    }
    float* data = malloc(count * sizeof(float));
    if (!data || fread(data, sizeof(float), count, f) != count) {
        fprintf(stderr, "ort_run: %s is shorter than its shape\n", path);
        exit(1);
    }
    fclose(f);
    return data;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: ort_run MODEL --in NAME FILE DIMS --out NAME FILE\n");
        return 1;
    }
    api = OrtGetApiBase()->GetApi(ORT_API_VERSION);
    const char* inNames[MAX_IO];
    const char* inFiles[MAX_IO];
    int64_t inDims[MAX_IO][8];
    size_t inRank[MAX_IO];
    const char* outNames[MAX_IO];
    const char* outFiles[MAX_IO];
    int nIn = 0, nOut = 0, threads = 1, repeat = 0;
    for (int i = 2; i < argc; ++i) {
        if (!strcmp(argv[i], "--threads") && i + 1 < argc)
            threads = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--repeat") && i + 1 < argc)
            repeat = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--in") && i + 3 < argc && nIn < MAX_IO) {
            inNames[nIn] = argv[i + 1];
            inFiles[nIn] = argv[i + 2];
            size_t r = 0;
            for (char* p = argv[i + 3]; *p && r < 8; ++r) {
                inDims[nIn][r] = strtoll(p, &p, 10);
                if (*p == ',') ++p;
            }
            inRank[nIn++] = r;
            i += 3;
        } else if (!strcmp(argv[i], "--out") && i + 2 < argc && nOut < MAX_IO) {
            outNames[nOut] = argv[i + 1];
            outFiles[nOut++] = argv[i + 2];
            i += 2;
        } else {
            fprintf(stderr, "ort_run: bad argument %s\n", argv[i]);
            return 1;
        }
    }
    OrtEnv* env;
    OrtSessionOptions* options;
    OrtSession* session;
    OrtMemoryInfo* memory;
    check(api->CreateEnv(ORT_LOGGING_LEVEL_WARNING, "ort_run", &env));
    check(api->CreateSessionOptions(&options));
    check(api->SetSessionGraphOptimizationLevel(options, ORT_ENABLE_ALL));
    check(api->SetIntraOpNumThreads(options, threads));
    check(api->SetInterOpNumThreads(options, 1));
    check(api->CreateSession(env, argv[1], options, &session));
    check(api->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &memory));
    OrtValue* inputs[MAX_IO];
    OrtValue* outputs[MAX_IO] = {0};
    for (int k = 0; k < nIn; ++k) {
        size_t count = 1;
        for (size_t r = 0; r < inRank[k]; ++r)
            count *= (size_t)inDims[k][r];
        float* data = readFile(inFiles[k], count);
        check(api->CreateTensorWithDataAsOrtValue(memory, data, count * sizeof(float), inDims[k], inRank[k],
                                                  ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, &inputs[k]));
    }
    check(api->Run(session, NULL, inNames, (const OrtValue* const*)inputs, nIn, outNames, nOut, outputs));
    if (repeat > 0) {
        struct timespec t0, t1;
        clock_gettime(CLOCK_MONOTONIC, &t0);
        for (int r = 0; r < repeat; ++r) {
            for (int k = 0; k < nOut; ++k) {
                api->ReleaseValue(outputs[k]);
                outputs[k] = NULL;
            }
            check(api->Run(session, NULL, inNames, (const OrtValue* const*)inputs, nIn, outNames, nOut,
                           outputs));
        }
        clock_gettime(CLOCK_MONOTONIC, &t1);
        printf("ms %.3f\n", ((t1.tv_sec - t0.tv_sec) * 1e3 + (t1.tv_nsec - t0.tv_nsec) / 1e6) / repeat);
    }
    for (int k = 0; k < nOut; ++k) {
        OrtTensorTypeAndShapeInfo* info;
        size_t rank, count;
        float* data;
        check(api->GetTensorTypeAndShape(outputs[k], &info));
        check(api->GetDimensionsCount(info, &rank));
        int64_t dims[16] = {0};
        check(api->GetDimensions(info, dims, rank < 16 ? rank : 16));
        check(api->GetTensorShapeElementCount(info, &count));
        api->ReleaseTensorTypeAndShapeInfo(info);
        check(api->GetTensorMutableData(outputs[k], (void**)&data));
        FILE* f = fopen(outFiles[k], "wb");
        if (!f || fwrite(data, sizeof(float), count, f) != count) {
            fprintf(stderr, "ort_run: cannot write\n");
            return 1;
        }
        fclose(f);
        printf("%s", outNames[k]);
        for (size_t r = 0; r < rank; ++r)
            printf(" %lld", (long long)dims[r]);
        printf("\n");
    }
    return 0;
}
