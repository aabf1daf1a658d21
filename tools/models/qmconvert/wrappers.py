"""Wraps the converted networks into the tensor contracts the tracker reads.

Detector: input "image" [1, 3, 128, 128] holding v/127.5 − 1, outputs "out0" (896 × 16 box regressors in
input pixels) and "out1" (896 score logits).
Mesh: input "image" [1, 3, 256, 256] holding v/255, resized inside the graph to the network's 192; output
"out0" 478 × (x, y, z) in pixels of the 256 input, "out1" the face logit.
Person mask: the network as it is, "input_1" [1, 144, 256, 3] → "segment_back" [1, 144, 256, 1].
"""

import numpy as np

from . import convert, mesh_refinement
from .graph_builder import GraphBuilder
from .tflite_reader import read_model

NHWC_TO_NCHW = [0, 3, 1, 2]


def _output(graph, name):
    for i in graph.outputs:
        if graph.tensors[i].name == name:
            return i
    raise convert.UnsupportedModel(f"the network has no output {name}")


def face_detector(tflite_bytes):
    graph = read_model(tflite_bytes)
    if len(graph.inputs) != 1 or graph.tensors[graph.inputs[0]].shape != [1, 128, 128, 3]:
        raise convert.UnsupportedModel("the detector must read one 128 × 128 RGB input")
    b = GraphBuilder()
    b.fresh("image")
    outs = convert.translate(graph, b, {graph.inputs[0]: "image"})
    b.nodes.append(_identity(outs["regressors"], "out0"))
    b.nodes.append(_identity(outs["classificators"], "out1"))
    return b.model([("image", [1, 3, 128, 128])], [("out0", [1, 896, 16]), ("out1", [1, 896, 1])],
                   "face_detector")


def person_mask(tflite_bytes):
    graph = read_model(tflite_bytes)
    if len(graph.inputs) != 1 or graph.tensors[graph.inputs[0]].shape != [1, 144, 256, 3]:
        raise convert.UnsupportedModel("the person mask must read one 144 × 256 RGB input")
    b = GraphBuilder()
    b.fresh("input_1")
    nchw = b.node("Transpose", ["input_1"], "to_nchw", perm=NHWC_TO_NCHW)
    outs = convert.translate(graph, b, {graph.inputs[0]: nchw})
    mask = b.node("Transpose", [outs["segment_back"]], "to_nhwc", perm=[0, 2, 3, 1])
    b.nodes.append(_identity(mask, "segment_back"))
    return b.model([("input_1", [1, 144, 256, 3])], [("segment_back", [1, 144, 256, 1])], "person_mask")


def _identity(source, name):
    from onnx import helper
    return helper.make_node("Identity", [source], [name])


def face_mesh(tflite_bytes):
    """The attention network (478 points) when its custom operators are present, else the plain 468-point
    network with iris centres and contours estimated from the eye contour points."""
    graph = read_model(tflite_bytes)
    b = GraphBuilder()
    b.fresh("image")
    scale = 192.0 / 256.0
    small = b.node("Resize", ["image", "", "", b.ints([1, 3, 192, 192], "size192")], "resize192",
                   mode="linear", coordinate_transformation_mode="half_pixel")
    outs = convert.translate(graph, b, {graph.inputs[0]: small})
    names = [graph.tensors[i].name for i in graph.outputs]
    if "output_mesh_identity" in names:
        points, flag = mesh_refinement.refine(b, outs)
    else:
        mesh = [n for n in names if graph.tensors[_output(graph, n)].shape[-1] == 1404]
        flag_names = [n for n in names if graph.tensors[_output(graph, n)].shape[-1] == 1]
        if len(mesh) != 1 or len(flag_names) != 1:
            raise convert.UnsupportedModel("the mesh network must give 468 points and one face flag")
        points = mesh_refinement.estimated_irises(b, outs[mesh[0]])
        flag = outs[flag_names[0]]
    # Points come in pixels of the 192 network input; the contract wants pixels of the 256 input.
    b.nodes.append(_identity(b.node("Div", [points, b.const(np.float32(scale))], "to256"), "out0"))
    b.nodes.append(_identity(b.node("Reshape", [flag, b.ints([1, 1])], "flag"), "out1"))
    return b.model([("image", [1, 3, 256, 256])], [("out0", [1, 478, 3]), ("out1", [1, 1])], "face_mesh")
