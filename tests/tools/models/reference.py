"""Plain numpy versions of the TFLite and MediaPipe kernels, written from their published definitions,
loop by loop where that keeps them obviously right. Layout NHWC; weights OHWI as the format stores them."""

import math

import numpy as np


def tf_same_pads(size, kernel, stride, dilation=1):
    out = -(-size // stride)
    total = max((out - 1) * stride + (kernel - 1) * dilation + 1 - size, 0)
    return total // 2, total - total // 2, out


def conv2d(x, w, bias, stride, same, depthwise=False, multiplier=1):
    n, h, wd, c = x.shape
    kh, kw = w.shape[1:3]
    if same:
        top, _, oh = tf_same_pads(h, kh, stride[0])
        left, _, ow = tf_same_pads(wd, kw, stride[1])
    else:
        top = left = 0
        oh, ow = (h - kh) // stride[0] + 1, (wd - kw) // stride[1] + 1
    oc = w.shape[3] if depthwise else w.shape[0]
    y = np.zeros((n, oh, ow, oc), np.float64)
    for oy in range(oh):
        for ox in range(ow):
            for ky in range(kh):
                for kx in range(kw):
                    iy, ix = oy * stride[0] + ky - top, ox * stride[1] + kx - left
                    if 0 <= iy < h and 0 <= ix < wd:
                        v = x[:, iy, ix, :]
                        if depthwise:
                            # output channel o reads input channel o // multiplier
                            y[:, oy, ox, :] += np.repeat(v, multiplier, axis=1) * w[0, ky, kx, :]
                        else:
                            y[:, oy, ox, :] += v @ w[:, ky, kx, :].T
    return (y + bias).astype(np.float32)


def max_pool(x, k, stride, same):
    n, h, w, c = x.shape
    top, _, oh = tf_same_pads(h, k, stride) if same else (0, 0, (h - k) // stride + 1)
    left, _, ow = tf_same_pads(w, k, stride) if same else (0, 0, (w - k) // stride + 1)
    y = np.full((n, oh, ow, c), -np.inf, np.float32)
    for oy in range(oh):
        for ox in range(ow):
            for ky in range(k):
                for kx in range(k):
                    iy, ix = oy * stride + ky - top, ox * stride + kx - left
                    if 0 <= iy < h and 0 <= ix < w:
                        y[:, oy, ox] = np.maximum(y[:, oy, ox], x[:, iy, ix])
    return y


def resize_bilinear(x, oh, ow, align_corners, half_pixel):
    n, h, w, c = x.shape
    y = np.zeros((n, oh, ow, c), np.float32)

    def source(o, in_size, out_size):
        if align_corners and out_size > 1:
            return o * (in_size - 1) / (out_size - 1)
        scale = in_size / out_size
        return max((o + 0.5) * scale - 0.5, 0.0) if half_pixel else o * scale

    for oy in range(oh):
        sy = source(oy, h, oh)
        y0 = min(int(math.floor(sy)), h - 1)
        y1, fy = min(y0 + 1, h - 1), sy - math.floor(sy)
        for ox in range(ow):
            sx = source(ox, w, ow)
            x0 = min(int(math.floor(sx)), w - 1)
            x1, fx = min(x0 + 1, w - 1), sx - math.floor(sx)
            top = x[:, y0, x0] * (1 - fx) + x[:, y0, x1] * fx
            bottom = x[:, y1, x0] * (1 - fx) + x[:, y1, x1] * fx
            y[:, oy, ox] = top * (1 - fy) + bottom * fy
    return y


def transpose_conv_bias(x, w, bias, stride, same):
    """MediaPipe's Convolution2DTransposeBias: scatter each input pixel through the kernel, crop p/2 first."""
    n, h, wd, c = x.shape
    o, kh, kw, _ = w.shape
    ph = max(0, kh - (h - 1) % stride[0] - 1) if same else 0
    pw = max(0, kw - (wd - 1) % stride[1] - 1) if same else 0
    oh, ow = stride[0] * (h - 1) + kh - ph, stride[1] * (wd - 1) + kw - pw
    y = np.tile(bias.astype(np.float64), (n, oh, ow, 1))
    for iy in range(h):
        for ix in range(wd):
            for ky in range(kh):
                for kx in range(kw):
                    oy, ox = iy * stride[0] - ph // 2 + ky, ix * stride[1] - pw // 2 + kx
                    if 0 <= oy < oh and 0 <= ox < ow:
                        y[:, oy, ox] += x[:, iy, ix] @ w[:, ky, kx, :].T
    return y.astype(np.float32)


def landmarks_to_transform_matrix(points, left, right, subset, out_w, out_h, scale_x, scale_y, target=0.0):
    """Landmarks2TransformMatrix version 2, step by step as the kernel does it, with real trigonometry."""
    p = points.reshape(-1, 3).astype(np.float64)
    r = target - math.atan2(p[right, 1] - p[left, 1], p[right, 0] - p[left, 0])
    rot = np.array([[math.cos(r), -math.sin(r)], [math.sin(r), math.cos(r)]])
    turned = p[sorted(set(subset)), :2] @ rot.T
    lo, hi = turned.min(0), turned.max(0)
    w, h = hi - lo
    centre = np.linalg.inv(rot) @ ((lo + hi) / 2)

    def m4(a):
        return np.array(a, np.float64).reshape(4, 4)

    c, s = math.cos(-r), math.sin(-r)
    t = m4([1, 0, 0, centre[0], 0, 1, 0, centre[1], 0, 0, 1, 0, 0, 0, 0, 1])
    t = t @ m4([c, -s, 0, 0, s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1])
    t = t @ m4([scale_x * w / out_w, 0, 0, 0, 0, scale_y * h / out_h, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1])
    t = t @ m4([1, 0, 0, -out_w / 2, 0, 1, 0, -out_h / 2, 0, 0, 1, 0, 0, 0, 0, 1])
    return t.astype(np.float32)[None]


def transform_tensor_bilinear(x, matrix, out_h, out_w):
    """TransformTensorBilinear version 2 (pixel-centre correction, zero outside the input)."""
    _, h, w, c = x.shape
    m = matrix.reshape(4, 4).astype(np.float64)
    y = np.zeros((1, out_h, out_w, c), np.float32)

    def read(iy, ix):
        return x[0, iy, ix] if 0 <= iy < h and 0 <= ix < w else np.zeros(c, np.float32)

    for oy in range(out_h):
        for ox in range(out_w):
            tx = m[0, 0] * (ox + 0.5) + m[0, 1] * (oy + 0.5) + m[0, 3] - 0.5
            ty = m[1, 0] * (ox + 0.5) + m[1, 1] * (oy + 0.5) + m[1, 3] - 0.5
            if tx < 0 or tx > w - 1 or ty < 0 or ty > h - 1:
                continue
            fx, fy = math.floor(tx), math.floor(ty)
            ax, ay = tx - fx, ty - fy
            upper = (1 - ax) * read(fy, fx) + ax * read(fy, fx + 1)
            lower = (1 - ax) * read(fy + 1, fx) + ax * read(fy + 1, fx + 1)
            y[0, oy, ox] = ay * lower + (1 - ay) * upper
    return y


def transform_landmarks(points, matrix):
    m = matrix.reshape(4, 4)
    xy = points[..., :2]
    out = points.copy()
    out[..., 0] = m[0, 0] * xy[..., 0] + m[0, 1] * xy[..., 1] + m[0, 3]
    out[..., 1] = m[1, 0] * xy[..., 0] + m[1, 1] * xy[..., 1] + m[1, 3]
    return out
