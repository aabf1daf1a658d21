"""A small helper that collects ONNX nodes and constants and turns them into a checked model."""

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

OPSET = 16  # GridSample needs 16; the runtime we ship reads far newer sets


class GraphBuilder:
    def __init__(self):
        self.nodes = []
        self.initializers = []
        self._names = set()
        self._consts = {}  # name -> array, so later steps can fold constant operands

    def fresh(self, hint):
        base = "".join(c if c.isalnum() or c in "_." else "_" for c in hint) or "v"
        name, k = base, 1
        while name in self._names:
            name, k = f"{base}_{k}", k + 1
        self._names.add(name)
        return name

    def const(self, array, hint="c", dtype=None):
        array = np.asarray(array, dtype=dtype) if dtype is not None else np.asarray(array)
        if array.dtype == np.float64:
            array = array.astype(np.float32)
        name = self.fresh(hint)
        self.initializers.append(numpy_helper.from_array(np.ascontiguousarray(array), name))
        self._consts[name] = array
        return name

    def const_value(self, name):
        """The array behind a constant's name, or None for a computed value."""
        return self._consts.get(name)

    def ints(self, values, hint="i"):
        return self.const(np.asarray(values, dtype=np.int64), hint)

    def node(self, op, inputs, hint=None, outputs=1, **attrs):
        names = [self.fresh(f"{hint or op.lower()}") for _ in range(outputs)]
        self.nodes.append(helper.make_node(op, list(inputs), names, name=f"n_{names[0]}", **attrs))
        return names[0] if outputs == 1 else names

    def model(self, inputs, outputs, name="graph"):
        """inputs / outputs: lists of (name, shape). All values are float32."""
        graph = helper.make_graph(
            self.nodes, name,
            [helper.make_tensor_value_info(n, TensorProto.FLOAT, s) for n, s in inputs],
            [helper.make_tensor_value_info(n, TensorProto.FLOAT, s) for n, s in outputs],
            self.initializers)
        model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                                  producer_name="quillmere-models")
        model.ir_version = 8
        onnx.checker.check_model(model)
        return model
