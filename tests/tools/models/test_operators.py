"""Each translated operator against numpy code written from the kernel's definition."""

import struct
import unittest

import numpy as np

import reference as ref
from harness import FakeOptions, run_op

SAME, VALID = 0, 1
RELU, RELU6 = 1, 3


def rand(*shape, seed=0):
    return np.random.default_rng(seed).uniform(-1, 1, shape).astype(np.float32)


class ConvolutionTest(unittest.TestCase):
    def test_same_padding_puts_the_odd_pixel_after(self):
        # 4 wide, kernel 3, stride 2: TFLite pads 0 before and 1 after. A kernel that reads only its first
        # tap shows which input pixel each output starts at: 0 and 2, not -1 and 1.
        x = np.arange(16, dtype=np.float32).reshape(1, 4, 4, 1)
        w = np.zeros((1, 3, 3, 1), np.float32)
        w[0, 0, 0, 0] = 1
        y = run_op("CONV_2D", [x, ("c", w), ("c", np.zeros(1, np.float32))], [1, 2, 2, 1],
                   FakeOptions(f0=SAME, f1=2, f2=2))
        np.testing.assert_array_equal(y[0, :, :, 0], [[0, 2], [8, 10]])

    def test_conv_matches_reference_for_strides_sizes_and_activations(self):
        for size, k, stride, padding, act in [((8, 10), 3, (2, 2), SAME, 0), ((8, 8), 5, (1, 1), SAME, RELU),
                                              ((6, 5), 3, (1, 2), VALID, RELU6), ((5, 5), 1, (1, 1), SAME, 0)]:
            with self.subTest(size=size, kernel=k, stride=stride, padding=padding):
                x = rand(1, *size, 4, seed=1) * 4
                w, bias = rand(6, k, k, 4, seed=2), rand(6, seed=3)
                want = ref.conv2d(x, w, bias, stride, padding == SAME)
                want = np.maximum(want, 0) if act == RELU else np.clip(want, 0, 6) if act == RELU6 else want
                y = run_op("CONV_2D", [x, ("c", w), ("c", bias)], want.shape,
                           FakeOptions(f0=padding, f1=stride[1], f2=stride[0], f3=act))
                np.testing.assert_allclose(y, want, atol=1e-4)

    def test_depthwise_with_multiplier_and_float16_weights(self):
        x = rand(1, 9, 7, 3, seed=4)
        w, bias = rand(1, 3, 3, 6, seed=5), rand(6, seed=6)
        want = ref.conv2d(x, w.astype(np.float16).astype(np.float32), bias, (2, 2), True, depthwise=True,
                          multiplier=2)
        # the weights arrive as float16 through DEQUANTIZE, as in the published files
        from qmconvert.tflite_reader import Graph, Operator, Tensor
        from harness import run_graph
        tensors = [Tensor(0, "x", [1, 9, 7, 3], np.float32), Tensor(1, "w16", [1, 3, 3, 6], np.float16,
                                                                       w.astype(np.float16)),
                   Tensor(2, "w", [1, 3, 3, 6], np.float32), Tensor(3, "b", [6], np.float32, bias),
                   Tensor(4, "y", list(want.shape), np.float32)]
        ops = [Operator("DEQUANTIZE", False, 1, [1], [2], FakeOptions()),
               Operator("DEPTHWISE_CONV_2D", False, 1, [0, 2, 3], [4], FakeOptions(f0=SAME, f1=2, f2=2, f3=2))]
        y = run_graph(Graph(tensors, [0], [4], ops), {0: x})["y"]
        np.testing.assert_allclose(y, want, atol=1e-4)

    def test_transpose_conv_bias(self):
        for size, k, stride, same in [((4, 6), 2, 2, True), ((5, 3), 3, 2, True), ((3, 3), 3, 1, False)]:
            with self.subTest(size=size, kernel=k, stride=stride, same=same):
                x, w, bias = rand(1, *size, 5, seed=7), rand(2, k, k, 5, seed=8), rand(2, seed=9)
                want = ref.transpose_conv_bias(x, w, bias, (stride, stride), same)
                y = run_op("Convolution2DTransposeBias", [x, ("c", w), ("c", bias)], want.shape, custom=True,
                           custom_bytes=struct.pack("<iii", 1 if same else 2, stride, stride))
                np.testing.assert_allclose(y, want, atol=1e-4)


class ElementwiseAndShapeTest(unittest.TestCase):
    def test_prelu_per_channel(self):
        x, alpha = rand(1, 3, 4, 5, seed=10), rand(1, 1, 5, seed=11)
        y = run_op("PRELU", [x, ("c", alpha)], x.shape)
        np.testing.assert_allclose(y, np.where(x >= 0, x, x * alpha), atol=1e-6)

    def test_add_with_fused_relu_and_channel_constant(self):
        x, c = rand(1, 3, 4, 5, seed=12), rand(5, seed=13)
        y = run_op("ADD", [x, ("c", c)], x.shape, FakeOptions(f0=RELU))
        np.testing.assert_allclose(y, np.maximum(x + c, 0), atol=1e-6)

    def test_max_pool_same_ignores_the_padding(self):
        x = -np.abs(rand(1, 5, 5, 2, seed=14)) - 1  # all negative: zero padding would win the maximum
        y = run_op("MAX_POOL_2D", [x], [1, 3, 3, 2], FakeOptions(f0=SAME, f1=2, f2=2, f3=2, f4=2))
        np.testing.assert_allclose(y, ref.max_pool(x, 2, 2, True))

    def test_pad_follows_the_channel_last_order(self):
        x = rand(1, 2, 3, 2, seed=15)
        pads = np.array([[0, 0], [1, 2], [0, 1], [1, 0]], np.int32)
        y = run_op("PAD", [x, ("c", pads)], [1, 5, 4, 3])
        np.testing.assert_array_equal(y, np.pad(x, pads))

    def test_reshape_and_concatenation_keep_channel_last_order(self):
        x = rand(1, 2, 3, 4, seed=16)
        np.testing.assert_array_equal(run_op("RESHAPE", [x, ("c", np.array([1, 6, 4], np.int32))], [1, 6, 4]),
                                      x.reshape(1, 6, 4))
        a, b = rand(1, 2, 3, 4, seed=17), rand(1, 2, 3, 2, seed=18)
        y = run_op("CONCATENATION", [a, b], [1, 2, 3, 6], FakeOptions(f0=-1))
        np.testing.assert_array_equal(y, np.concatenate([a, b], axis=3))

    def test_mean_over_height_and_width(self):
        x = rand(1, 4, 6, 3, seed=19)
        y = run_op("MEAN", [x, ("c", np.array([1, 2], np.int32))], [1, 1, 1, 3], FakeOptions(f0=True))
        np.testing.assert_allclose(y, x.mean(axis=(1, 2), keepdims=True), atol=1e-6)

    def test_strided_slice_masks_and_shrink(self):
        x = rand(1, 6, 5, 4, seed=20)
        begin, end, strides = (np.array(v, np.int32) for v in ([0, 1, 0, 2], [0, 5, 0, 3], [1, 2, 1, 1]))
        # begin/end masks on axes 0 and 2, shrink on the channel axis
        y = run_op("STRIDED_SLICE", [x, ("c", begin), ("c", end), ("c", strides)], [1, 2, 5],
                   FakeOptions(f0=0b101, f1=0b101, f4=0b1000))
        np.testing.assert_array_equal(y, x[:, 1:5:2, :, 2])

    def test_resize_bilinear_modes(self):
        x = rand(1, 3, 4, 2, seed=21)
        for align, half in [(False, True), (True, False), (False, False)]:
            with self.subTest(align_corners=align, half_pixel=half):
                y = run_op("RESIZE_BILINEAR", [x, ("c", np.array([7, 8], np.int32))], [1, 7, 8, 2],
                           FakeOptions(f2=align, f3=half))
                np.testing.assert_allclose(y, ref.resize_bilinear(x, 7, 8, align, half), atol=1e-5)

    def test_activations(self):
        x = rand(1, 2, 2, 3, seed=22) * 6
        np.testing.assert_allclose(run_op("LOGISTIC", [x], x.shape), 1 / (1 + np.exp(-x)), atol=1e-6)
        np.testing.assert_allclose(run_op("HARD_SWISH", [x], x.shape), x * np.clip(x + 3, 0, 6) / 6, atol=1e-5)


class MeshOperatorTest(unittest.TestCase):
    OPTIONS = {"left_rotation_idx": 1, "right_rotation_idx": 4, "subset_idxs": [0, 2, 3, 5, 6, 2],
               "output_width": 16, "output_height": 12, "scale_x": 1.5, "scale_y": 1.25,
               "target_rotation_radians": 0.0}

    def matrix(self, points, **changes):
        options = dict(self.OPTIONS, **changes)
        return run_op("Landmarks2TransformMatrix", [points], [1, 4, 4], custom=True, version=2,
                      custom_options=options), options

    def test_landmarks_to_transform_matrix_at_many_angles(self):
        rng = np.random.default_rng(23)
        for turn in [0.0, 0.7, 2.5, -1.9, np.pi]:
            with self.subTest(turn=turn):
                points = rng.uniform(0, 48, (1, 7, 3)).astype(np.float32)
                # put the rotation landmarks at a chosen angle so every quadrant of atan2 is visited
                points[0, 4, :2] = points[0, 1, :2] + 10 * np.array([np.cos(turn), np.sin(turn)])
                got, o = self.matrix(points)
                want = ref.landmarks_to_transform_matrix(points, 1, 4, o["subset_idxs"], 16, 12, 1.5, 1.25)
                np.testing.assert_allclose(got, want, atol=1e-4)

    def test_landmarks_to_transform_matrix_with_a_target_angle(self):
        points = np.random.default_rng(24).uniform(0, 48, (1, 7, 3)).astype(np.float32)
        got, o = self.matrix(points, target_rotation_radians=0.4)
        want = ref.landmarks_to_transform_matrix(points, 1, 4, o["subset_idxs"], 16, 12, 1.5, 1.25, 0.4)
        np.testing.assert_allclose(got, want, atol=1e-4)

    def test_transform_tensor_bilinear_inside_edges_and_outside(self):
        x = rand(1, 10, 12, 3, seed=25)
        angle = 0.3
        cases = {
            "identity-like": [[1, 0, 0, 0], [0, 1, 0, 0]],
            "turned and scaled": [[0.6 * np.cos(angle), -0.6 * np.sin(angle), 0, 4.2],
                                  [0.6 * np.sin(angle), 0.6 * np.cos(angle), 0, 2.7]],
            "partly outside": [[1.3, 0.1, 0, -3.07], [-0.2, 1.1, 0, 4.03]],  # no sample exactly on an edge
        }
        for name, rows in cases.items():
            with self.subTest(name):
                m = np.eye(4, dtype=np.float32)
                m[:2] = np.array(rows, np.float32)
                got = run_op("TransformTensorBilinear", [x, m[None]], [1, 8, 9, 3], custom=True, version=2,
                             custom_options={"output_height": 8, "output_width": 9})
                np.testing.assert_allclose(got, ref.transform_tensor_bilinear(x, m[None], 8, 9), atol=1e-5)

    def test_transform_landmarks(self):
        points = rand(1, 5, 2, seed=26) * 16
        m = np.eye(4, dtype=np.float32)
        m[:2] = [[0.8, -0.3, 0, 5.0], [0.4, 1.1, 0, -2.0]]
        got = run_op("TransformLandmarks", [points, m[None]], [1, 5, 2], custom=True, version=2)
        np.testing.assert_allclose(got, ref.transform_landmarks(points, m), atol=1e-5)

    def test_other_versions_are_refused(self):
        from qmconvert.builtin_ops import UnsupportedModel
        with self.assertRaises(UnsupportedModel):
            run_op("TransformLandmarks", [rand(1, 5, 2), rand(1, 4, 4)], [1, 5, 2], custom=True, version=1)


if __name__ == "__main__":
    unittest.main()
