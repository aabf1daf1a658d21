"""Translation of TFLite's builtin operators into ONNX nodes.

Layout rule: every rank-4 tensor of the TFLite graph (NHWC) lives in the ONNX graph as NCHW, so that
convolutions and pools map directly. Operators that name axes (concatenation, mean, slices) remap them;
reshape goes through NHWC. Other ranks keep their TFLite layout.
"""

import numpy as np

NHWC_TO_NCHW = [0, 3, 1, 2]
NCHW_TO_NHWC = [0, 2, 3, 1]

ACTIVATIONS = {0: None, 1: "Relu", 2: "ClipN1", 3: "Relu6", 4: "Tanh"}


class UnsupportedModel(ValueError):
    """The model uses something the converter does not translate."""


def nchw_axis(axis, rank):
    axis = axis + rank if axis < 0 else axis
    return NHWC_TO_NCHW.index(axis) if rank == 4 else axis


def same_padding(in_size, kernel, stride, dilation=1):
    """TFLite SAME padding: output ceil(in / stride); the odd pixel of padding goes after."""
    out = (in_size + stride - 1) // stride
    effective = (kernel - 1) * dilation + 1
    total = max((out - 1) * stride + effective - in_size, 0)
    return total // 2, total - total // 2


class Context:
    """Holds the mapping from TFLite tensors to ONNX values while one graph is translated."""

    def __init__(self, graph, builder):
        self.graph = graph
        self.b = builder
        self.values = {}  # tensor index -> ONNX name
        self.consts = {t.index: t.data for t in graph.tensors if t.data is not None}

    def shape(self, i):
        return self.graph.tensors[i].shape

    def const(self, i):
        return self.consts.get(i)

    def value(self, i):
        """ONNX name of tensor i; constants become initializers in the ONNX layout."""
        if i in self.values:
            return self.values[i]
        data = self.consts.get(i)
        if data is None:
            raise UnsupportedModel(f"tensor {self.graph.tensors[i].name} is read before it is written")
        data = data.astype(np.float32) if data.dtype == np.float16 else data
        if data.ndim == 4:
            data = data.transpose(NHWC_TO_NCHW)
        self.values[i] = self.b.const(data, self.graph.tensors[i].name)
        return self.values[i]

    def activation(self, name, code, hint):
        kind = ACTIVATIONS.get(code, "unknown")
        if kind is None:
            return name
        if kind == "Relu":
            return self.b.node("Relu", [name], hint)
        if kind == "Relu6":
            return self.b.node("Clip", [name, self.b.const(np.float32(0)), self.b.const(np.float32(6))], hint)
        if kind == "ClipN1":
            return self.b.node("Clip", [name, self.b.const(np.float32(-1)), self.b.const(np.float32(1))], hint)
        if kind == "Tanh":
            return self.b.node("Tanh", [name], hint)
        raise UnsupportedModel(f"fused activation {code}")

    def broadcast_operand(self, i, out_rank):
        """An operand of an element-wise operator, brought to the output's layout."""
        data = self.consts.get(i)
        if data is None or i in self.values:
            shape = self.shape(i)
            if out_rank == 4 and len(shape) != 4 and int(np.prod(shape)) != 1:
                raise UnsupportedModel("broadcast of a computed value across layouts")
            return self.value(i)
        data = data.astype(np.float32) if data.dtype == np.float16 else data
        if out_rank == 4:
            data = data.reshape([1] * (4 - data.ndim) + list(data.shape)).transpose(NHWC_TO_NCHW)
        return self.b.const(data, self.graph.tensors[i].name)


def _conv(ctx, op):
    o = op.options
    padding, stride_w, stride_h, act = o.byte(0), o.int(1, 1), o.int(2, 1), o.byte(3)
    dil_w, dil_h = o.int(4, 1), o.int(5, 1)
    weights = ctx.const(op.inputs[1])
    if weights is None:
        raise UnsupportedModel("convolution with computed weights")
    w = ctx.b.const(weights.astype(np.float32).transpose(0, 3, 1, 2), "w")  # OHWI -> OIHW
    return _conv_common(ctx, op, w, weights.shape[1:3], padding, (stride_h, stride_w), (dil_h, dil_w), act, 1)


def _depthwise(ctx, op):
    o = op.options
    padding, stride_w, stride_h = o.byte(0), o.int(1, 1), o.int(2, 1)
    act, dil_w, dil_h = o.byte(4), o.int(5, 1), o.int(6, 1)
    weights = ctx.const(op.inputs[1])
    if weights is None:
        raise UnsupportedModel("depthwise convolution with computed weights")
    channels = ctx.shape(op.inputs[0])[3]
    w = ctx.b.const(weights.astype(np.float32).transpose(3, 0, 1, 2), "dw")  # 1HW(C*M) -> (C*M)1HW
    return _conv_common(ctx, op, w, weights.shape[1:3], padding, (stride_h, stride_w), (dil_h, dil_w), act,
                        channels)


def _conv_common(ctx, op, w, kernel, padding, strides, dilations, act, group):
    _, in_h, in_w, _ = ctx.shape(op.inputs[0])
    if padding == 0:
        ph = same_padding(in_h, kernel[0], strides[0], dilations[0])
        pw = same_padding(in_w, kernel[1], strides[1], dilations[1])
        pads = [ph[0], pw[0], ph[1], pw[1]]
    else:
        pads = [0, 0, 0, 0]
    inputs = [ctx.value(op.inputs[0]), w]
    if len(op.inputs) > 2 and op.inputs[2] >= 0:
        inputs.append(ctx.b.const(ctx.const(op.inputs[2]).astype(np.float32), "bias"))
    y = ctx.b.node("Conv", inputs, "conv", kernel_shape=list(kernel), strides=list(strides),
                   dilations=list(dilations), pads=pads, group=group)
    return ctx.activation(y, act, "conv_act")


def _max_pool(ctx, op):
    o = op.options
    padding, stride_w, stride_h, fw, fh, act = o.byte(0), o.int(1), o.int(2), o.int(3), o.int(4), o.byte(5)
    _, in_h, in_w, _ = ctx.shape(op.inputs[0])
    if padding == 0:
        ph, pw = same_padding(in_h, fh, stride_h), same_padding(in_w, fw, stride_w)
        pads = [ph[0], pw[0], ph[1], pw[1]]
    else:
        pads = [0, 0, 0, 0]
    y = ctx.b.node("MaxPool", [ctx.value(op.inputs[0])], "maxpool", kernel_shape=[fh, fw],
                   strides=[stride_h, stride_w], pads=pads)
    return ctx.activation(y, act, "pool_act")


def _elementwise(onnx_op):
    def translate(ctx, op):
        rank = len(ctx.shape(op.outputs[0]))
        y = ctx.b.node(onnx_op, [ctx.broadcast_operand(i, rank) for i in op.inputs], onnx_op.lower())
        return ctx.activation(y, op.options.byte(0), "act")
    return translate


def _unary(onnx_op):
    return lambda ctx, op: ctx.b.node(onnx_op, [ctx.value(op.inputs[0])], onnx_op.lower())


def _prelu(ctx, op):
    rank = len(ctx.shape(op.inputs[0]))
    return ctx.b.node("PRelu", [ctx.value(op.inputs[0]), ctx.broadcast_operand(op.inputs[1], rank)], "prelu")


def _pad(ctx, op):
    pads = ctx.const(op.inputs[1])
    if pads is None:
        raise UnsupportedModel("PAD with computed paddings")
    pads = pads.astype(np.int64)
    if pads.shape[0] == 4:
        pads = pads[NHWC_TO_NCHW]
    onnx_pads = list(pads[:, 0]) + list(pads[:, 1])
    return ctx.b.node("Pad", [ctx.value(op.inputs[0]), ctx.b.ints(onnx_pads, "pads")], "pad", mode="constant")


def _to_nhwc(ctx, i):
    x = ctx.value(i)
    return ctx.b.node("Transpose", [x], "to_nhwc", perm=NCHW_TO_NHWC) if len(ctx.shape(i)) == 4 else x


def _reshape(ctx, op):
    out_shape = ctx.shape(op.outputs[0])
    y = ctx.b.node("Reshape", [_to_nhwc(ctx, op.inputs[0]), ctx.b.ints(out_shape, "shape")], "reshape")
    if len(out_shape) == 4:
        y = ctx.b.node("Transpose", [y], "to_nchw", perm=NHWC_TO_NCHW)
    return y


def _concat(ctx, op):
    rank = len(ctx.shape(op.outputs[0]))
    axis = nchw_axis(op.options.int(0), rank)
    y = ctx.b.node("Concat", [ctx.value(i) for i in op.inputs], "concat", axis=axis)
    return ctx.activation(y, op.options.byte(1), "concat_act")


def _mean(ctx, op):
    axes = ctx.const(op.inputs[1])
    if axes is None:
        raise UnsupportedModel("MEAN with computed axes")
    rank = len(ctx.shape(op.inputs[0]))
    keep = op.options.bool(0)
    onnx_axes = sorted(nchw_axis(int(a), rank) for a in np.atleast_1d(axes))
    if not keep and rank == 4:
        # The result leaves the 4-D layout: reduce in NHWC so the remaining axes keep their order.
        return ctx.b.node("ReduceMean", [_to_nhwc(ctx, op.inputs[0])], "mean",
                          axes=sorted(int(a) % 4 for a in np.atleast_1d(axes)), keepdims=0)
    return ctx.b.node("ReduceMean", [ctx.value(op.inputs[0])], "mean", axes=onnx_axes, keepdims=int(keep))


def _strided_slice(ctx, op):
    o = op.options
    begin_mask, end_mask, ellipsis, new_axis, shrink = (o.int(k) for k in range(5))
    if ellipsis or new_axis:
        raise UnsupportedModel("STRIDED_SLICE with ellipsis or new axes")
    shape = ctx.shape(op.inputs[0])
    begin, end, strides = (ctx.const(i) for i in op.inputs[1:4])
    if begin is None or end is None or strides is None:
        raise UnsupportedModel("STRIDED_SLICE with computed bounds")
    rank = len(shape)
    starts, ends, axes, steps, squeeze = [], [], [], [], []
    for a in range(rank):
        step = int(strides[a])
        b = int(begin[a])
        e = int(end[a])
        if begin_mask >> a & 1:
            b = 0 if step > 0 else shape[a] - 1
        if end_mask >> a & 1:
            e = shape[a] if step > 0 else -shape[a] - 1
        if shrink >> a & 1:
            b = b + shape[a] if b < 0 else b
            e, step = b + 1, 1
            squeeze.append(a)
        starts.append(b), ends.append(e), axes.append(nchw_axis(a, rank)), steps.append(step)
    y = ctx.b.node("Slice", [ctx.value(op.inputs[0]), ctx.b.ints(starts), ctx.b.ints(ends), ctx.b.ints(axes),
                             ctx.b.ints(steps)], "slice")
    if squeeze:
        if rank == 4:
            y = ctx.b.node("Transpose", [y], "to_nhwc", perm=NCHW_TO_NHWC)
        y = ctx.b.node("Squeeze", [y, ctx.b.ints(squeeze)], "squeeze")
        if len(ctx.shape(op.outputs[0])) == 4:
            y = ctx.b.node("Transpose", [y], "to_nchw", perm=NHWC_TO_NCHW)
    return y


def _resize_bilinear(ctx, op):
    align, half = op.options.bool(2), op.options.bool(3)
    mode = "align_corners" if align else "half_pixel" if half else "asymmetric"
    n, h, w, c = ctx.shape(op.outputs[0])
    sizes = ctx.b.ints([n, c, h, w], "sizes")
    return ctx.b.node("Resize", [ctx.value(op.inputs[0]), "", "", sizes], "resize", mode="linear",
                      coordinate_transformation_mode=mode)


def _dequantize(ctx, op):
    data = ctx.const(op.inputs[0])
    if data is None:
        raise UnsupportedModel("DEQUANTIZE of a computed value")
    ctx.consts[op.outputs[0]] = data.astype(np.float32)
    return None  # folded: the output is a constant


BUILTINS = {
    "CONV_2D": _conv, "DEPTHWISE_CONV_2D": _depthwise, "MAX_POOL_2D": _max_pool,
    "ADD": _elementwise("Add"), "MUL": _elementwise("Mul"), "SUB": _elementwise("Sub"),
    "RELU": _unary("Relu"), "LOGISTIC": _unary("Sigmoid"), "HARD_SWISH": _unary("HardSwish"),
    "TANH": _unary("Tanh"), "PRELU": _prelu, "PAD": _pad, "RESHAPE": _reshape, "CONCATENATION": _concat,
    "MEAN": _mean, "STRIDED_SLICE": _strided_slice, "RESIZE_BILINEAR": _resize_bilinear,
    "DEQUANTIZE": _dequantize,
}
