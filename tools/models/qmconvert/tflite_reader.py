"""Reads a TFLite flatbuffer into plain Python records.

Only the parts of the schema that the converter needs are read: tensors with their shapes, types and
constant data, operators with their codes, inputs, outputs and options. Option tables are read lazily by
field index through `Options`, so the reader never needs generated schema code.
"""

import struct
from dataclasses import dataclass, field

import numpy as np
from flatbuffers import flexbuffers
from flatbuffers.table import Table
from flatbuffers import number_types as N

# Tensor element types, as numbered by the format.
TENSOR_TYPES = {0: np.float32, 1: np.float16, 2: np.int32, 3: np.uint8, 4: np.int64, 6: np.bool_, 7: np.int16,
                9: np.int8, 10: np.float64}

# Builtin operator codes the converter knows by name.
BUILTIN_NAMES = {
    0: "ADD", 1: "AVERAGE_POOL_2D", 2: "CONCATENATION", 3: "CONV_2D", 4: "DEPTHWISE_CONV_2D", 6: "DEQUANTIZE",
    9: "FULLY_CONNECTED", 14: "LOGISTIC", 17: "MAX_POOL_2D", 18: "MUL", 19: "RELU", 21: "RELU6", 22: "RESHAPE",
    23: "RESIZE_BILINEAR", 25: "SOFTMAX", 28: "TANH", 32: "CUSTOM", 34: "PAD", 39: "TRANSPOSE", 40: "MEAN",
    41: "SUB", 42: "DIV", 43: "SQUEEZE", 45: "STRIDED_SLICE", 54: "PRELU", 67: "TRANSPOSE_CONV", 117: "HARD_SWISH",
}


class ModelFormatError(ValueError):
    """The file is not a readable TFLite model."""


class _T:
    """A flatbuffer table with field access by index (field i lives at vtable slot 4 + 2i)."""

    def __init__(self, buf, pos):
        self.buf = buf
        self.t = Table(buf, pos)

    def _off(self, i):
        return self.t.Offset(4 + 2 * i)

    def scalar(self, i, flags, default=0):
        o = self._off(i)
        return self.t.Get(flags, o + self.t.Pos) if o else default

    def int32(self, i, default=0):
        return self.scalar(i, N.Int32Flags, default)

    def uint32(self, i, default=0):
        return self.scalar(i, N.Uint32Flags, default)

    def int8(self, i, default=0):
        return self.scalar(i, N.Int8Flags, default)

    def uint8(self, i, default=0):
        return self.scalar(i, N.Uint8Flags, default)

    def bool(self, i, default=False):
        return bool(self.scalar(i, N.BoolFlags, default))

    def float32(self, i, default=0.0):
        return self.scalar(i, N.Float32Flags, default)

    def string(self, i):
        o = self._off(i)
        return self.t.String(o + self.t.Pos).decode("utf-8", "replace") if o else None

    def table(self, i):
        o = self._off(i)
        return _T(self.buf, self.t.Indirect(o + self.t.Pos)) if o else None

    def _vector(self, i):
        o = self._off(i)
        if not o:
            return None, 0
        return self.t.Vector(o), self.t.VectorLen(o)

    def tables(self, i):
        start, n = self._vector(i)
        if start is not None and start + 4 * n > len(self.buf):
            raise ModelFormatError("table vector runs past the end of the file")
        return [_T(self.buf, self.t.Indirect(start + 4 * k)) for k in range(n)]

    def array(self, i, dtype):
        start, n = self._vector(i)
        if start is None:
            return None
        end = start + n * np.dtype(dtype).itemsize
        if end > len(self.buf):
            raise ModelFormatError("vector runs past the end of the file")
        return np.frombuffer(bytes(self.buf[start:end]), dtype=dtype)


class Options:
    """An operator's builtin option table, read by field index; absent table or field gives the default."""

    def __init__(self, table):
        self._t = table

    def int(self, i, default=0):
        return self._t.int32(i, default) if self._t else default

    def byte(self, i, default=0):
        return self._t.int8(i, default) if self._t else default

    def bool(self, i, default=False):
        return self._t.bool(i, default) if self._t else default

    def float(self, i, default=0.0):
        return self._t.float32(i, default) if self._t else default

    def ints(self, i):
        a = self._t.array(i, np.int32) if self._t else None
        return [] if a is None else [int(v) for v in a]


@dataclass
class Tensor:
    index: int
    name: str
    shape: list
    dtype: type
    data: np.ndarray = None  # constant contents, None for activations


@dataclass
class Operator:
    code: str  # builtin name, or the custom operator's name
    custom: bool
    version: int
    inputs: list
    outputs: list
    options: Options
    custom_options: dict = field(default_factory=dict)
    custom_bytes: bytes = b""  # raw options, for custom operators that do not use flexbuffers


@dataclass
class Graph:
    tensors: list
    inputs: list
    outputs: list
    operators: list


def _read_custom_options(raw):
    """Flexbuffer options as a dict; {} when the bytes are not a flexbuffer map (some operators use raw structs)."""
    if raw is None or len(raw) == 0:
        return {}
    try:
        value = flexbuffers.Loads(bytes(raw))
    except Exception:  # the decoder raises many kinds on bytes that are not a flexbuffer
        return {}
    return value if isinstance(value, dict) else {}


def read_model(data):
    """Parses TFLite bytes into the first subgraph. Raises ModelFormatError on a malformed file."""
    buf = bytearray(data)
    if len(buf) < 8 or bytes(buf[4:8]) != b"TFL3":
        raise ModelFormatError("missing the TFL3 identifier")
    try:
        return _read(buf)
    except ModelFormatError:
        raise
    except (IndexError, ValueError, TypeError, KeyError, OverflowError, struct.error) as error:
        raise ModelFormatError(f"malformed model: {error}") from error


def _read(buf):
    root = _T(buf, int.from_bytes(buf[0:4], "little"))
    codes = []
    for oc in root.tables(1):
        builtin = max(oc.int8(0), oc.int32(3))
        custom = oc.string(1)
        codes.append((builtin, custom, oc.int32(2, 1)))
    buffers = root.tables(4)
    subgraphs = root.tables(2)
    if not subgraphs:
        raise ModelFormatError("no subgraph")
    sg = subgraphs[0]
    tensors = []
    for k, t in enumerate(sg.tables(0)):
        shape = t.array(0, np.int32)
        type_code = t.int8(1)
        if type_code not in TENSOR_TYPES:
            raise ModelFormatError(f"tensor {k} has unsupported type {type_code}")
        dtype = TENSOR_TYPES[type_code]
        shape = [] if shape is None else [int(v) for v in shape]
        data = None
        b = t.uint32(2)
        if b and b < len(buffers):
            raw = buffers[b].array(0, np.uint8)
            if raw is not None and len(raw):
                count = int(np.prod(shape)) if shape else 1
                if len(raw) != count * np.dtype(dtype).itemsize:
                    raise ModelFormatError(f"tensor {k} holds {len(raw)} bytes for shape {shape}")
                data = raw.view(dtype).reshape(shape).copy()
        tensors.append(Tensor(k, t.string(3) or f"t{k}", shape, dtype, data))
    operators = []
    for op in sg.tables(3):
        index = op.uint32(0)
        if index >= len(codes):
            raise ModelFormatError("operator code index out of range")
        builtin, custom_name, version = codes[index]
        is_custom = builtin == 32
        name = custom_name if is_custom else BUILTIN_NAMES.get(builtin, f"BUILTIN_{builtin}")
        inputs = [int(v) for v in op.array(1, np.int32)]
        outputs = [int(v) for v in op.array(2, np.int32)]
        for v in inputs + outputs:
            if v >= len(tensors):
                raise ModelFormatError("operator refers to a missing tensor")
        raw = op.array(5, np.uint8) if is_custom else None
        raw = b"" if raw is None else raw.tobytes()
        operators.append(Operator(name, is_custom, version, inputs, outputs, Options(op.table(4)),
                                  _read_custom_options(raw), raw))
    return Graph(tensors, [int(v) for v in sg.array(1, np.int32)], [int(v) for v in sg.array(2, np.int32)],
                 operators)


def split_packed(data):
    """Splits files stored back to back into the TFLite models among them (each opens with 'TFL3' at byte 4).

    A candidate start is accepted when the bytes from it parse as a model; each model runs to the next start."""
    starts = []
    pos = data.find(b"TFL3")
    while pos >= 0:
        if pos >= 4:
            starts.append(pos - 4)
        pos = data.find(b"TFL3", pos + 1)
    models = []
    for k, s in enumerate(starts):
        end = starts[k + 1] if k + 1 < len(starts) else len(data)
        try:
            read_model(data[s:end])
        except ModelFormatError:
            continue
        models.append(data[s:end])
    return models
