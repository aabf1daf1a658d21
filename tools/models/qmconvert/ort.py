"""Runs ONNX models through ONNX Runtime's C library via the small `ort_run` program beside this package.

The program is built on first use into $QM_CACHE/tools (the compiler and the runtime come from bootstrap);
QM_ORT_RUN names a ready-built one instead."""

import os
import subprocess
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(os.path.dirname(HERE), "ort_run.c")


def _cache():
    return os.environ.get("QM_CACHE") or os.path.expanduser("~/.cache/quillmere")


def ort_root():
    return os.path.join(_cache(), "onnxruntime-1.21.0")


def runner():
    if os.environ.get("QM_ORT_RUN"):
        return os.environ["QM_ORT_RUN"]
    binary = os.path.join(_cache(), "tools", "ort_run")
    if not os.path.exists(binary) or os.path.getmtime(binary) < os.path.getmtime(SOURCE):
        os.makedirs(os.path.dirname(binary), exist_ok=True)
        library = os.path.join(ort_root(), "lib", "libonnxruntime.so.1.21.0")
        # The library's own name is libonnxruntime.so.1: give it that name beside the program.
        link = os.path.join(os.path.dirname(binary), "libonnxruntime.so.1")
        if not os.path.exists(link):
            os.symlink(library, link + f".{os.getpid()}")
            os.replace(link + f".{os.getpid()}", link)
        partial = binary + f".{os.getpid()}"
        subprocess.run(["cc", "-O2", "-o", partial, SOURCE, "-I", os.path.join(ort_root(), "include"), library,
                        "-Wl,-rpath,$ORIGIN"], check=True)
        os.replace(partial, binary)
    return binary


def run(model_path, inputs, outputs, threads=1, repeat=0):
    """inputs: {name: array}; outputs: list of names. Returns {name: float32 array}, plus 'ms' with repeat."""
    with tempfile.TemporaryDirectory() as tmp:
        args = [runner(), model_path, "--threads", str(threads), "--repeat", str(repeat)]
        for k, (name, array) in enumerate(inputs.items()):
            path = os.path.join(tmp, f"in{k}")
            np.ascontiguousarray(array, dtype=np.float32).tofile(path)
            args += ["--in", name, path, ",".join(str(d) for d in np.shape(array))]
        for k, name in enumerate(outputs):
            args += ["--out", name, os.path.join(tmp, f"out{k}")]
        done = subprocess.run(args, capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError(done.stderr.strip() or "ort_run failed")
        result = {}
        for line in done.stdout.splitlines():
            parts = line.split()
            if parts[0] == "ms":
                result["ms"] = float(parts[1])
                continue
            k = outputs.index(parts[0])
            shape = [int(d) for d in parts[1:]]
            result[parts[0]] = np.fromfile(os.path.join(tmp, f"out{k}"), dtype=np.float32).reshape(shape)
        return result
