"""MediaPipe's custom TFLite operators, rebuilt from standard ONNX operators.

Each function computes what MediaPipe's own kernel computes; the comments give the kernel's arithmetic so
that the numpy references in the tests can be checked against it.
"""

import struct

import numpy as np

from .builtin_ops import UnsupportedModel


def _transpose_conv_bias(ctx, op):
    """Convolution2DTransposeBias: a transposed convolution plus bias.

    Options are a raw struct {padding (1 same, 2 valid), stride_width, stride_height}. The output grows to
    stride·(in − 1) + kernel − p, where with 'same' p = max(0, kernel − (in − 1) mod stride − 1); p/2 is cut
    at the start and the rest at the end."""
    if len(op.custom_bytes) < 12:
        raise UnsupportedModel("Convolution2DTransposeBias without its options")
    padding, stride_w, stride_h = struct.unpack_from("<iii", op.custom_bytes)
    weights, bias = ctx.const(op.inputs[1]), ctx.const(op.inputs[2])
    if weights is None or bias is None or stride_w <= 0 or stride_h <= 0:
        raise UnsupportedModel("Convolution2DTransposeBias with computed weights or bad strides")
    _, in_h, in_w, _ = ctx.shape(op.inputs[0])
    _, kh, kw, _ = weights.shape
    pads = [0, 0, 0, 0]
    if padding == 1:
        ph = max(0, kh - (in_h - 1) % stride_h - 1)
        pw = max(0, kw - (in_w - 1) % stride_w - 1)
        pads = [ph // 2, pw // 2, ph - ph // 2, pw - pw // 2]
    w = ctx.b.const(weights.astype(np.float32).transpose(3, 0, 1, 2), "tconv_w")  # OHWI -> IOHW
    b = ctx.b.const(bias.astype(np.float32), "tconv_b")
    return ctx.b.node("ConvTranspose", [ctx.value(op.inputs[0]), w, b], "tconv", kernel_shape=[kh, kw],
                      strides=[stride_h, stride_w], pads=pads)


CUSTOM = {
    "Convolution2DTransposeBias": _transpose_conv_bias,
}
