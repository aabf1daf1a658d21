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


def _f(b, value):
    return b.const(np.asarray(value, np.float32))


def _affine_rows(b, matrix):
    """The [2, 3] affine part (columns 0, 1 and 3 of the first two rows) of a [1, 4, 4] matrix value."""
    rows = b.node("Slice", [b.node("Reshape", [matrix, b.ints([4, 4])], "m44"), b.ints([0]), b.ints([2]),
                            b.ints([0])], "m_rows")
    return b.node("Gather", [rows, b.ints([0, 1, 3])], "affine", axis=1)


def _require_version(op, version):
    if op.version != version:
        raise UnsupportedModel(f"{op.code} version {op.version} (only {version} is translated)")


def _landmarks_to_transform_matrix(ctx, op):
    """Landmarks2TransformMatrix (version 2): the matrix that maps a crop's pixels into landmark space.

    θ = atan2(right.y − left.y, right.x − left.x) of the two rotation landmarks (minus the target rotation).
    The subset's points, turned by −θ, give a box: size (w, h) and centre m, turned back by +θ to c.
    Matrix = shift(c) · rotate(θ) · scale(scale_x·w/out_w, scale_y·h/out_h) · shift(−out_w/2, −out_h/2),
    returned as a [1, 4, 4] with the third row and column of the identity."""
    _require_version(op, 2)
    o = op.custom_options
    try:
        left, right = int(o["left_rotation_idx"]), int(o["right_rotation_idx"])
        subset = sorted({int(v) for v in np.ravel(o["subset_idxs"])})
        out_w, out_h = float(o["output_width"]), float(o["output_height"])
        scale_x, scale_y = float(o["scale_x"]), float(o["scale_y"])
        target = float(o.get("target_rotation_radians", 0.0))
    except (KeyError, TypeError, ValueError) as error:
        raise UnsupportedModel(f"Landmarks2TransformMatrix options: {error}") from error
    count = ctx.shape(op.inputs[0])[1]
    if not subset or max(subset + [left, right]) >= count or min(subset + [left, right]) < 0:
        raise UnsupportedModel("Landmarks2TransformMatrix refers to missing landmarks")
    b = ctx.b
    points = b.node("Reshape", [ctx.value(op.inputs[0]), b.ints([count, 3])], "l2t_pts")
    xy = b.node("Slice", [points, b.ints([0]), b.ints([2]), b.ints([1])], "l2t_xy")  # [count, 2]
    ends = b.node("Gather", [xy, b.ints([left, right])], "l2t_ends", axis=0)
    d = b.node("Sub", [b.node("Slice", [ends, b.ints([1]), b.ints([2]), b.ints([0])], "l2t_r"),
                       b.node("Slice", [ends, b.ints([0]), b.ints([1]), b.ints([0])], "l2t_l")], "l2t_d")  # [1, 2]
    length = b.node("Sqrt", [b.node("ReduceSum", [b.node("Mul", [d, d]), b.ints([1])], "l2t_len2", keepdims=1)])
    # cos θ and sin θ without trigonometry; coincident points give θ = 0 as atan2(0, 0) does.
    zero = b.node("Equal", [length, _f(b, 0.0)], "l2t_zero")
    unit = b.node("Where", [zero, b.const(np.array([[1.0, 0.0]], np.float32)),
                            b.node("Div", [d, b.node("Max", [length, _f(b, 1e-30)])])], "l2t_unit")
    if target != 0.0:  # θ' = θ − target: turn the unit vector back by the target angle
        ct, st = np.cos(target), np.sin(target)
        unit = b.node("MatMul", [unit, b.const(np.array([[ct, -st], [st, ct]], np.float32))], "l2t_target")
    cos = b.node("Slice", [unit, b.ints([0]), b.ints([1]), b.ints([1])], "l2t_cos")  # [1, 1]
    sin = b.node("Slice", [unit, b.ints([1]), b.ints([2]), b.ints([1])], "l2t_sin")
    # Rotation by θ as a row-vector matrix: [x, y] · R = [x cos − y sin, x sin + y cos].
    rot = b.node("Reshape", [b.node("Concat", [cos, sin, b.node("Neg", [sin]), cos], "l2t_rc", axis=1),
                             b.ints([2, 2])], "l2t_rot")
    unrot = b.node("Transpose", [rot], "l2t_unrot", perm=[1, 0])  # turns by −θ
    sub = b.node("Gather", [xy, b.ints(subset)], "l2t_subset", axis=0)
    turned = b.node("MatMul", [sub, unrot], "l2t_turned")
    lo = b.node("ReduceMin", [turned], "l2t_min", axes=[0], keepdims=1)
    hi = b.node("ReduceMax", [turned], "l2t_max", axes=[0], keepdims=1)
    size = b.node("Sub", [hi, lo], "l2t_size")  # [1, 2]: w, h
    centre = b.node("MatMul", [b.node("Mul", [b.node("Add", [hi, lo]), _f(b, 0.5)]), rot], "l2t_centre")
    scale = b.node("Mul", [size, b.const(np.array([[scale_x / out_w, scale_y / out_h]], np.float32))], "l2t_scale")
    # Linear part A = R_θ · diag(scale) (column-vector form; `unrot` holds R_θ's entries), then the shift
    # t = c + A · (−out_w/2, −out_h/2); the top rows are [A | 0 | t].
    a = b.node("Mul", [unrot, scale], "l2t_a")
    shift = b.const(np.array([[-out_w / 2.0, -out_h / 2.0]], np.float32))
    translation = b.node("Add", [centre, b.node("MatMul", [shift, b.node("Transpose", [a], perm=[1, 0])])],
                         "l2t_t")  # [1, 2]
    top = b.node("Concat", [a, b.const(np.zeros((2, 1), np.float32)),
                            b.node("Transpose", [translation], perm=[1, 0])], "l2t_top", axis=1)
    bottom = b.const(np.array([[0, 0, 1, 0], [0, 0, 0, 1]], np.float32))
    return b.node("Reshape", [b.node("Concat", [top, bottom], "l2t_m", axis=0), b.ints([1, 4, 4])], "l2t_matrix")


def _transform_tensor_bilinear(ctx, op):
    """TransformTensorBilinear (version 2): samples a feature map at matrix-mapped output pixels.

    Output pixel (x, y) reads input position M·(x + ½, y + ½) − ½ (pixel centres); positions outside
    [0, w − 1] × [0, h − 1] give 0, others the bilinear mix of the four neighbours."""
    _require_version(op, 2)
    _, in_h, in_w, channels = ctx.shape(op.inputs[0])
    _, out_h, out_w, _ = ctx.shape(op.outputs[0])
    b = ctx.b
    oy, ox = np.meshgrid(np.arange(out_h, dtype=np.float32) + 0.5, np.arange(out_w, dtype=np.float32) + 0.5,
                         indexing="ij")
    base = np.stack([ox.ravel(), oy.ravel(), np.ones(out_h * out_w, np.float32)], axis=1)  # [n, 3]
    affine = _affine_rows(b, ctx.value(op.inputs[1]))
    pos = b.node("Sub", [b.node("MatMul", [b.const(base, "ttb_base"), b.node("Transpose", [affine], perm=[1, 0])]),
                         _f(b, 0.5)], "ttb_pos")  # [n, 2] input pixels
    limit = b.const(np.array([in_w - 1, in_h - 1], np.float32))
    inside = b.node("And", [b.node("GreaterOrEqual", [pos, _f(b, 0.0)]), b.node("LessOrEqual", [pos, limit])])
    inside = b.node("ReduceMin", [b.node("Cast", [inside], to=1)], "ttb_inside", axes=[1], keepdims=0)
    grid = b.node("Sub", [b.node("Mul", [pos, b.const(np.array([2.0 / (in_w - 1), 2.0 / (in_h - 1)],
                                                                 np.float32))]), _f(b, 1.0)], "ttb_grid")
    grid = b.node("Reshape", [grid, b.ints([1, out_h, out_w, 2])], "ttb_grid4")
    sampled = b.node("GridSample", [ctx.value(op.inputs[0]), grid], "ttb_sample", align_corners=1,
                     mode="bilinear", padding_mode="zeros")
    mask = b.node("Reshape", [inside, b.ints([1, 1, out_h, out_w])], "ttb_mask")
    return b.node("Mul", [sampled, mask], "ttb")


def _transform_landmarks(ctx, op):
    """TransformLandmarks (version 2): (x, y) → the matrix's first two rows applied to (x, y, 0, 1)."""
    _require_version(op, 2)
    shape = ctx.shape(op.inputs[0])
    if len(shape) != 3 or shape[2] not in (2, 3):
        raise UnsupportedModel("TransformLandmarks expects [1, n, 2 or 3] points")
    b = ctx.b
    affine = _affine_rows(b, ctx.value(op.inputs[1]))  # [2, 3]
    xy = ctx.value(op.inputs[0])
    rest = None
    if shape[2] == 3:
        rest = b.node("Slice", [xy, b.ints([2]), b.ints([3]), b.ints([2])], "tl_z")
        xy = b.node("Slice", [xy, b.ints([0]), b.ints([2]), b.ints([2])], "tl_xy")
    linear = b.node("Transpose", [b.node("Slice", [affine, b.ints([0]), b.ints([2]), b.ints([1])])], perm=[1, 0])
    shift = b.node("Reshape", [b.node("Slice", [affine, b.ints([2]), b.ints([3]), b.ints([1])]), b.ints([1, 2])])
    out = b.node("Add", [b.node("MatMul", [xy, linear]), shift], "tl")
    return b.node("Concat", [out, rest], "tl_xyz", axis=2) if rest else out


CUSTOM = {
    "Convolution2DTransposeBias": _transpose_conv_bias,
    "Landmarks2TransformMatrix": _landmarks_to_transform_matrix,
    "TransformTensorBilinear": _transform_tensor_bilinear,
    "TransformLandmarks": _transform_landmarks,
}
