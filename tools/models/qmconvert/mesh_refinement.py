"""Assembles the 478 mesh points (x, y, z in pixels of the network input) from the network outputs.

The attention network gives the 468-point mesh plus separate, finer point sets for the lips, both eyes and
both irises. They replace the x and y of their mesh points in the order mesh, lips, left eye, right eye,
irises (a later set wins); the irises become points 468–477 and take as depth the mean depth of their eye's
16 contour points. The plain network gives the mesh only; `estimated_irises` then places each iris from its
eye contour.
"""

import numpy as np

LIPS = [61, 146, 91, 181, 84, 17, 314, 405, 321, 375, 291, 185, 40, 39, 37, 0, 267, 269, 270, 409,
        78, 95, 88, 178, 87, 14, 317, 402, 318, 324, 308, 191, 80, 81, 82, 13, 312, 311, 310, 415,
        76, 77, 90, 180, 85, 16, 315, 404, 320, 307, 306, 184, 74, 73, 72, 11, 302, 303, 304, 408,
        62, 96, 89, 179, 86, 15, 316, 403, 319, 325, 292, 183, 42, 41, 38, 12, 268, 271, 272, 407]
# The eye whose outer corner is point 33 (image left on an upright face), then the one with point 263.
LEFT_EYE = [33, 7, 163, 144, 145, 153, 154, 155, 133, 246, 161, 160, 159, 158, 157, 173,
            130, 25, 110, 24, 23, 22, 26, 112, 243, 247, 30, 29, 27, 28, 56, 190,
            226, 31, 228, 229, 230, 231, 232, 233, 244, 113, 225, 224, 223, 222, 221, 189,
            35, 124, 46, 53, 52, 65, 143, 111, 117, 118, 119, 120, 121, 128, 245,
            156, 70, 63, 105, 66, 107, 55, 193]
RIGHT_EYE = [263, 249, 390, 373, 374, 380, 381, 382, 362, 466, 388, 387, 386, 385, 384, 398,
             359, 255, 339, 254, 253, 252, 256, 341, 463, 467, 260, 259, 257, 258, 286, 414,
             446, 261, 448, 449, 450, 451, 452, 453, 464, 342, 445, 444, 443, 442, 441, 413,
             265, 353, 276, 283, 282, 295, 372, 340, 346, 347, 348, 349, 350, 357, 465,
             383, 300, 293, 334, 296, 336, 285, 417]
LEFT_IRIS = [468, 469, 470, 471, 472]  # centre, then the edges right, top, left, bottom
RIGHT_IRIS = [473, 474, 475, 476, 477]
LEFT_CONTOUR = LEFT_EYE[:16]
RIGHT_CONTOUR = RIGHT_EYE[:16]

# Output names of the attention network, in the order their points are applied.
REFINEMENTS = [("output_mesh_identity", list(range(468)), 3), ("output_lips", LIPS, 2),
               ("output_left_eye", LEFT_EYE, 2), ("output_right_eye", RIGHT_EYE, 2),
               ("output_left_iris", LEFT_IRIS, 2), ("output_right_iris", RIGHT_IRIS, 2)]


def source_rows():
    """For each of the 478 points, the row of the stacked (x, y) sources that last writes it."""
    rows = [-1] * 478
    offset = 0
    for _, targets, _ in REFINEMENTS:
        for k, target in enumerate(targets):
            rows[target] = offset + k
        offset += len(targets)
    assert min(rows) >= 0
    return rows


def depth_matrix():
    """[478, 468]: point depths as combinations of the mesh depths (copies, and the iris averages)."""
    m = np.zeros((478, 468), np.float32)
    m[np.arange(468), np.arange(468)] = 1
    for iris, contour in ((LEFT_IRIS, LEFT_CONTOUR), (RIGHT_IRIS, RIGHT_CONTOUR)):
        for point in iris:
            m[point, contour] = 1.0 / len(contour)
    return m


def refine(b, outs):
    """Returns ([1, 478, 3] points, face flag) from the attention network's outputs."""
    xy_parts = []
    for name, targets, dims in REFINEMENTS:
        points = b.node("Reshape", [outs[name], b.ints([len(targets), dims])], f"{name}_pts")
        if dims == 3:
            mesh = points
            points = b.node("Slice", [points, b.ints([0]), b.ints([2]), b.ints([1])], "mesh_xy")
        xy_parts.append(points)
    stacked = b.node("Concat", xy_parts, "stacked_xy", axis=0)
    xy = b.node("Gather", [stacked, b.ints(source_rows(), "rows")], "xy", axis=0)
    mesh_z = b.node("Slice", [mesh, b.ints([2]), b.ints([3]), b.ints([1])], "mesh_z")
    z = b.node("MatMul", [b.const(depth_matrix(), "depth_matrix"), mesh_z], "z")
    points = b.node("Concat", [xy, z], "points", axis=1)
    return b.node("Reshape", [points, b.ints([1, 478, 3])], "points3"), outs["conv_faceflag"]


IRIS_RADIUS = 0.2  # of the eye's corner-to-corner width; a typical iris spans about 40 % of the eye


def iris_matrices():
    """Three [10, 468] matrices C, H, V: irises = C·P + H·P·diag(1,1,0) + V·P·R, with P the [468, 3] mesh and
    R turning (x, y) a quarter turn to (−y, x). C takes the contour mean, H and V the scaled eye axis."""
    c = np.zeros((10, 468), np.float32)
    h = np.zeros((10, 468), np.float32)
    v = np.zeros((10, 468), np.float32)
    # (contour, axis from, axis to): both axes point to image right on an upright face.
    for eye, (contour, start, end) in enumerate(((LEFT_CONTOUR, 33, 133), (RIGHT_CONTOUR, 362, 263))):
        for k in range(5):
            c[eye * 5 + k, contour] = 1.0 / len(contour)
        # right edge, top edge, left edge, bottom edge (y grows downwards)
        for k, (sh, sv) in enumerate(((1, 0), (0, -1), (-1, 0), (0, 1)), start=1):
            row = eye * 5 + k
            h[row, end] += sh * IRIS_RADIUS
            h[row, start] -= sh * IRIS_RADIUS
            v[row, end] += sv * IRIS_RADIUS
            v[row, start] -= sv * IRIS_RADIUS
    return c, h, v


def estimated_irises(b, mesh_output):
    """[1, 478, 3] from the plain network's [1, 1, 1, 1404] mesh: the mesh and ten estimated iris points."""
    mesh = b.node("Reshape", [mesh_output, b.ints([468, 3])], "mesh_pts")
    c, h, v = iris_matrices()
    keep_xy = np.diag([1, 1, 0]).astype(np.float32)
    turn = np.array([[0, 1, 0], [-1, 0, 0], [0, 0, 0]], np.float32)
    centre = b.node("MatMul", [b.const(c, "iris_c"), mesh], "iris_centre")
    along = b.node("MatMul", [b.node("MatMul", [b.const(h, "iris_h"), mesh], "iris_h"), b.const(keep_xy)], "along")
    across = b.node("MatMul", [b.node("MatMul", [b.const(v, "iris_v"), mesh], "iris_v"), b.const(turn)], "across")
    irises = b.node("Add", [b.node("Add", [centre, along], "iris_sum"), across], "irises")
    points = b.node("Concat", [mesh, irises], "points", axis=0)
    return b.node("Reshape", [points, b.ints([1, 478, 3])], "points3")
