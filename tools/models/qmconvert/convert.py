"""Translates a whole TFLite graph into ONNX nodes inside a GraphBuilder."""

from . import builtin_ops, custom_ops
from .builtin_ops import Context, UnsupportedModel


def translate(graph, builder, inputs):
    """Adds the graph's operators to `builder`.

    inputs: {TFLite input tensor index: ONNX value name} (rank-4 values in NCHW).
    Returns {TFLite output tensor name: ONNX value name} for the graph's outputs."""
    ctx = Context(graph, builder)
    ctx.values.update(inputs)
    for op in graph.operators:
        handler = custom_ops.CUSTOM.get(op.code) if op.custom else builtin_ops.BUILTINS.get(op.code)
        if handler is None:
            raise UnsupportedModel(f"operator {op.code} is not translated")
        result = handler(ctx, op)
        if result is None:
            continue
        results = result if isinstance(result, list) else [result]
        if len(results) != len(op.outputs):
            raise UnsupportedModel(f"operator {op.code} gave {len(results)} outputs for {len(op.outputs)}")
        for index, name in zip(op.outputs, results):
            ctx.values[index] = name
    outputs = {}
    for i in graph.outputs:
        if i not in ctx.values:
            raise UnsupportedModel(f"output {graph.tensors[i].name} is never written")
        outputs[graph.tensors[i].name] = ctx.values[i]
    return outputs
