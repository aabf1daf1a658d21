"""Builds one-operator TFLite graphs in memory and runs their ONNX translation through ONNX Runtime."""

import os
import sys
import tempfile

import numpy as np
from onnx import helper

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
sys.path.insert(0, os.path.join(REPO, "tools", "models"))  # the converter and prepare_models

from qmconvert import convert, ort  # noqa: E402
from qmconvert.graph_builder import GraphBuilder  # noqa: E402
from qmconvert.tflite_reader import Graph, Operator, Tensor  # noqa: E402

CACHE = os.environ.get("QM_CACHE") or os.path.expanduser("~/.cache/quillmere")
DOWNLOADS = os.path.join(CACHE, "downloads")


class FakeOptions:
    """Builtin options by field index, as the reader's Options gives them."""

    def __init__(self, **fields):
        self.fields = {int(k[1:]): v for k, v in fields.items()}  # f0=..., f1=...

    def int(self, i, default=0):
        return self.fields.get(i, default)

    byte = int

    def bool(self, i, default=False):
        return bool(self.fields.get(i, default))

    def float(self, i, default=0.0):
        return self.fields.get(i, default)

    def ints(self, i):
        return list(self.fields.get(i, []))


def run_op(code, inputs, output_shape, options=None, custom=False, version=1, custom_options=None,
           custom_bytes=b""):
    """inputs: list of arrays (NHWC for rank 4); ("const", array) marks a constant. Returns the output array."""
    tensors, graph_inputs, feeds, op_inputs = [], [], {}, []
    for k, item in enumerate(inputs):
        is_const = isinstance(item, tuple)
        array = np.asarray(item[1] if is_const else item)
        tensors.append(Tensor(k, f"in{k}", list(array.shape), array.dtype.type, array if is_const else None))
        op_inputs.append(k)
        if not is_const:
            graph_inputs.append(k)
            feeds[k] = array.astype(np.float32)
    out = len(tensors)
    tensors.append(Tensor(out, "out", list(output_shape), np.float32))
    op = Operator(code, custom, version, op_inputs, [out], options or FakeOptions(), custom_options or {},
                  custom_bytes)
    graph = Graph(tensors, graph_inputs, [out], [op])
    return run_graph(graph, feeds)["out"]


def run_graph(graph, feeds):
    """Translates `graph` and runs it; feeds and results use the TFLite layout (NHWC)."""
    b = GraphBuilder()
    onnx_inputs, names, onnx_feeds = {}, [], {}
    for index, array in feeds.items():
        name = b.fresh(f"input{index}")
        onnx_feeds[name] = array
        names.append((name, list(array.shape)))
        onnx_inputs[index] = b.node("Transpose", [name], perm=[0, 3, 1, 2]) if array.ndim == 4 else name
    outs = convert.translate(graph, b, onnx_inputs)
    results = []
    for i in graph.outputs:
        t = graph.tensors[i]
        value = outs[t.name]
        if len(t.shape) == 4:
            value = b.node("Transpose", [value], perm=[0, 2, 3, 1])
        final = b.fresh(f"result_{t.name}")
        b.nodes.append(helper.make_node("Identity", [value], [final]))
        results.append((final, t.shape, t.name))
    model = b.model(names, [(n, s) for n, s, _ in results])
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "m.onnx")
        with open(path, "wb") as f:
            f.write(model.SerializeToString())
        got = ort.run(path, onnx_feeds, [n for n, _, _ in results])
    return {name: got[n] for n, _, name in results}


def have_downloads():
    return os.path.isdir(DOWNLOADS) and any(f.startswith("mediapipe-") for f in os.listdir(DOWNLOADS))
