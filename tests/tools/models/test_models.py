"""The converted models against things the converter did not produce: the independent ONNX conversion of
the detector, the plain mesh network, and real pictures. Needs the packages that scripts/bootstrap fetches."""

import os
import tempfile
import unittest

import numpy as np
import onnx

from harness import DOWNLOADS, REPO, have_downloads

import prepare_models  # noqa: E402  (tools/models is on the path through harness)
from qmconvert import mesh_refinement, ort, wrappers
from qmconvert.tflite_reader import ModelFormatError, read_model, split_packed

DATA = os.path.join(REPO, "data")


def picture(name):
    from PIL import Image
    path = os.path.join(DATA, name)
    return np.asarray(Image.open(path).convert("RGB")).astype(np.float32) if os.path.exists(path) else None


def bilinear_crop(img, centre, size, out):
    """An upright square of `size` source pixels around `centre`, sampled to out × out (0 outside)."""
    h, w, _ = img.shape
    g = (np.arange(out) + 0.5 - out / 2) * (size / out)
    xs, ys = np.meshgrid(g + centre[0] - 0.5, g + centre[1] - 0.5)
    inside = (xs >= 0) & (ys >= 0) & (xs <= w - 1) & (ys <= h - 1)
    x0 = np.clip(np.floor(xs), 0, w - 1).astype(int)
    y0 = np.clip(np.floor(ys), 0, h - 1).astype(int)
    x1, y1 = np.minimum(x0 + 1, w - 1), np.minimum(y0 + 1, h - 1)
    fx, fy = (np.clip(xs, 0, w - 1) - x0)[..., None], (np.clip(ys, 0, h - 1) - y0)[..., None]
    v = (img[y0, x0] * (1 - fx) + img[y0, x1] * fx) * (1 - fy) + (img[y1, x0] * (1 - fx) + img[y1, x1] * fx) * fy
    return np.where(inside[..., None], v, 0)


@unittest.skipUnless(have_downloads(), "run scripts/bootstrap first")
class ConvertedModelsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.paths = {}
        attention, plain = prepare_models.mesh_networks(prepare_models.member(DOWNLOADS, "mesh"))
        builds = {"detector": lambda: wrappers.face_detector(prepare_models.member(DOWNLOADS, "detector")),
                  "mask": lambda: wrappers.person_mask(prepare_models.member(DOWNLOADS, "mask")),
                  "mesh": lambda: wrappers.face_mesh(attention), "plain": lambda: wrappers.face_mesh(plain)}
        for key, build in builds.items():
            cls.paths[key] = os.path.join(cls.tmp.name, f"{key}.onnx")
            onnx.save(build(), cls.paths[key])

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_contracts(self):
        expected = {"detector": ([("image", [1, 3, 128, 128])], [("out0", [1, 896, 16]), ("out1", [1, 896, 1])]),
                    "mesh": ([("image", [1, 3, 256, 256])], [("out0", [1, 478, 3]), ("out1", [1, 1])]),
                    "mask": ([("input_1", [1, 144, 256, 3])], [("segment_back", [1, 144, 256, 1])])}
        for key, (inputs, outputs) in expected.items():
            graph = onnx.load(self.paths[key]).graph

            def describe(values):
                return [(v.name, [d.dim_value for d in v.type.tensor_type.shape.dim]) for v in values]
            self.assertEqual(describe(graph.input), inputs, key)
            self.assertEqual(describe(graph.output), outputs, key)

    def test_detector_agrees_with_the_independent_conversion(self):
        pictures = []
        for name in ("astronaut.png", "messi5.jpg"):
            img = picture(name)
            if img is not None:
                h, w, _ = img.shape
                pictures.append((bilinear_crop(img, (w / 2, h / 2), max(h, w), 128) / 127.5 - 1)[None])
        worst = prepare_models.check_detector(self.paths["detector"], prepare_models.member(DOWNLOADS, "reference"),
                                              pictures)
        self.assertLessEqual(worst, 1e-4)

    def test_detector_finds_the_face_and_nothing_in_a_coffee_cup(self):
        for name, want_face in (("astronaut.png", True), ("coffee.png", False)):
            img = picture(name)
            if img is None:
                self.skipTest("no test pictures: run scripts/bootstrap")
            h, w, _ = img.shape
            side = max(h, w)
            crop = bilinear_crop(img, (w / 2, h / 2), side, 128)
            out = ort.run(self.paths["detector"], {"image": (crop / 127.5 - 1).transpose(2, 0, 1)[None]},
                          ["out0", "out1"])
            self.assertEqual(bool(out["out1"].max() > 0), want_face, name)

    def test_mesh_agrees_with_the_plain_network_and_places_the_irises(self):
        img = picture("astronaut.png")
        if img is None:
            self.skipTest("no test pictures: run scripts/bootstrap")
        image = (bilinear_crop(img, (224, 124), 155, 256) / 255).transpose(2, 0, 1)[None]
        mesh = ort.run(self.paths["mesh"], {"image": image}, ["out0", "out1"])
        plain = ort.run(self.paths["plain"], {"image": image}, ["out0", "out1"])
        a, p = mesh["out0"][0], plain["out0"][0]
        self.assertGreater(mesh["out1"][0, 0], 2.0)  # a confident face logit
        distance = np.linalg.norm(a[:468, :2] - p[:468, :2], axis=1)
        self.assertLess(distance.max(), 5.0)  # pixels of the 256 input
        self.assertLess(distance.mean(), 2.0)
        # each iris sits inside its own eye (468 by landmark 33's eye, 473 by landmark 263's), in the network's
        # own points and in the estimate of the fallback
        for points in (a, p):
            for centre, contour in ((468, mesh_refinement.LEFT_CONTOUR), (473, mesh_refinement.RIGHT_CONTOUR)):
                eye = points[contour, :2]
                width = np.linalg.norm(eye.max(0) - eye.min(0))
                self.assertLess(np.linalg.norm(points[centre, :2] - eye.mean(0)), 0.25 * width)
                radius = np.linalg.norm(points[centre + 1:centre + 5, :2] - points[centre, :2], axis=1)
                self.assertTrue(np.all((radius > 0.1 * width) & (radius < 0.4 * width)), radius / width)
            self.assertLess(points[468, 0], points[473, 0])  # upright face: landmark 33's eye is image left

    def test_mesh_face_logit_is_low_without_a_face(self):
        img = picture("coffee.png")
        if img is None:
            self.skipTest("no test pictures: run scripts/bootstrap")
        h, w, _ = img.shape
        image = (bilinear_crop(img, (w / 2, h / 2), 0.6 * min(h, w), 256) / 255).transpose(2, 0, 1)[None]
        self.assertLess(ort.run(self.paths["mesh"], {"image": image}, ["out1"])["out1"][0, 0], 0.0)

    def test_person_mask_separates_the_astronaut_from_the_wall(self):
        img = picture("astronaut.png")
        if img is None:
            self.skipTest("no test pictures: run scripts/bootstrap")
        h, w, _ = img.shape
        from PIL import Image
        small = np.asarray(Image.fromarray(img.astype(np.uint8)).resize((256, 144), Image.BILINEAR)) / 255
        mask = ort.run(self.paths["mask"], {"input_1": small[None].astype(np.float32)}, ["segment_back"])
        m = mask["segment_back"][0, :, :, 0]
        self.assertGreater(m[30:60, 100:140].mean(), 0.8)  # the face
        self.assertLess(m[5:25, 180:200].mean(), 0.3)  # wall above the shuttle model


class ReaderTest(unittest.TestCase):
    def test_hostile_files_raise_a_format_error(self):
        rng = np.random.default_rng(0)
        good = None
        if have_downloads():
            good = prepare_models.member(DOWNLOADS, "detector")
        samples = [b"", b"TFL3", b"\x00\x00\x00\x00TFL3", b"\x10\x00\x00\x00TFL3" + bytes(8),
                   b"\xff\xff\xff\x7fTFL3" + bytes(64), rng.bytes(4) + b"TFL3" + rng.bytes(2000)]
        if good is not None:
            samples += [good[: len(good) // 3], good[:64]]
        for data in samples:
            with self.subTest(size=len(data)):
                with self.assertRaises(ModelFormatError):
                    read_model(data)

    @unittest.skipUnless(have_downloads(), "run scripts/bootstrap first")
    def test_packed_assets_hold_three_networks(self):
        models = split_packed(prepare_models.member(DOWNLOADS, "mesh"))
        self.assertEqual(len(models), 3)
        inputs = sorted(read_model(m).tensors[read_model(m).inputs[0]].shape[1] for m in models)
        self.assertEqual(inputs, [128, 192, 192])


if __name__ == "__main__":
    unittest.main()
