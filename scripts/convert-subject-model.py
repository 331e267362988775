#!/usr/bin/python3
"""Assembles the ISNet model of @imgly/background-removal-data from its chunks and converts it
to float32, which OpenCV 4.6's DNN module reads (it reads no float16 weights).

Usage: convert-subject-model.py PACKAGE-FOLDER OUTPUT.onnx
"""
import hashlib
import json
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, numpy_helper

FLOAT16, FLOAT = TensorProto.FLOAT16, TensorProto.FLOAT


def assemble(package):
    resources = json.load(open(os.path.join(package, 'dist', 'resources.json')))
    entry = resources['/models/medium']
    data = bytearray()
    for chunk in entry['chunks']:
        part = open(os.path.join(package, 'dist', chunk['hash']), 'rb').read()
        if hashlib.sha256(part).hexdigest() != chunk['hash']:
            sys.exit('chunk %s is damaged' % chunk['hash'])
        start, end = chunk['offsets']
        if start != len(data) or end - start != len(part):
            sys.exit('chunk %s is out of place' % chunk['hash'])
        data += part
    if len(data) != entry['size']:
        sys.exit('the model is %d bytes, not %d' % (len(data), entry['size']))
    return onnx.load_from_string(bytes(data))


def to_float32(model):
    graph = model.graph
    for index, tensor in enumerate(graph.initializer):
        if tensor.data_type == FLOAT16:
            array = numpy_helper.to_array(tensor).astype(np.float32)
            graph.initializer[index].CopyFrom(numpy_helper.from_array(array, tensor.name))
    # Casts between the float types disappear: their users read the cast's input instead.
    bypass, kept = {}, []
    for node in graph.node:
        if node.op_type == 'Constant':
            for attribute in node.attribute:
                if attribute.name == 'value' and attribute.t.data_type == FLOAT16:
                    array = numpy_helper.to_array(attribute.t).astype(np.float32)
                    attribute.t.CopyFrom(numpy_helper.from_array(array, attribute.t.name))
        if node.op_type == 'Cast':
            target = next(a.i for a in node.attribute if a.name == 'to')
            if target in (FLOAT16, FLOAT):
                bypass[node.output[0]] = node.input[0]
                continue
        kept.append(node)

    def source(name):
        while name in bypass:
            name = bypass[name]
        return name

    for node in kept:
        for index, name in enumerate(node.input):
            node.input[index] = source(name)
    # Only the fused mask is used; the side outputs would cost time.
    final = source('output')
    for node in kept:
        for index, name in enumerate(node.output):
            if name == final:
                node.output[index] = 'output'
    needed, used = {'output'}, []
    for node in reversed(kept):
        if any(name in needed for name in node.output):
            used.append(node)
            needed.update(name for name in node.input if name)
    used.reverse()
    outputs = [output for output in graph.output if output.name == 'output']
    outputs[0].type.tensor_type.elem_type = FLOAT
    initializers = [tensor for tensor in graph.initializer if tensor.name in needed]
    del graph.node[:]
    graph.node.extend(used)
    del graph.output[:]
    graph.output.extend(outputs)
    del graph.value_info[:]
    del graph.initializer[:]
    graph.initializer.extend(initializers)
    onnx.checker.check_model(model)
    return model


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    model = to_float32(assemble(sys.argv[1]))
    partial = sys.argv[2] + '.partial'
    onnx.save(model, partial)
    os.replace(partial, sys.argv[2])


if __name__ == '__main__':
    main()
