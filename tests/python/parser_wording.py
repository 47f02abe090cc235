"""The interpreter's own wording for a call of the wrong shape.

The module's callables check the shape of a call (too many positional
arguments, an unknown keyword, a value given twice, a missing argument) with
CPython's keyword-argument parser, so their messages are whatever that parser
says on the running interpreter, and the wording changes between releases.
Tests compare with the message the parser itself gives for a callable of the
same name and signature, obtained here by calling it through ctypes.
"""

import ctypes
import inspect

_parse = ctypes.pythonapi.PyArg_ParseTupleAndKeywords
_parse.restype = ctypes.c_int


def _format(name, signature):
    """The parser's format string and keyword names for `signature`: "O" per
    argument, "|" before the first optional one, "$" before the first
    keyword-only one, ":name" at the end."""
    fmt, keywords, optional, keyword_only = "", [], False, False
    for p in signature.parameters.values():
        if p.kind not in (p.POSITIONAL_OR_KEYWORD, p.KEYWORD_ONLY):
            raise ValueError(f"unsupported parameter {p}")
        if p.default is not p.empty and not optional:
            fmt, optional = fmt + "|", True
        if p.kind is p.KEYWORD_ONLY and not keyword_only:
            if not optional:
                raise ValueError(f"required keyword-only parameter {p}")
            fmt, keyword_only = fmt + "$", True
        fmt += "O"
        keywords.append(p.name)
    return f"{fmt}:{name}", keywords


def shape_error(name, signature, args=(), kwargs=None):
    """The TypeError message CPython's argument parser raises when a callable
    called `name` with `signature` (an inspect.Signature, or a Python function
    whose signature is used) is called with `args` and `kwargs`."""
    if not isinstance(signature, inspect.Signature):
        signature = inspect.signature(signature)
    fmt, keywords = _format(name, signature)
    names = (ctypes.c_char_p * (len(keywords) + 1))(*(k.encode() for k in keywords), None)
    outputs = [ctypes.c_void_p() for _ in keywords]
    try:
        _parse(ctypes.py_object(tuple(args)), ctypes.py_object(kwargs) if kwargs else None,
               fmt.encode(), names, *(ctypes.byref(o) for o in outputs))
    except TypeError as exc:
        return str(exc)
    raise AssertionError(f"{name}{signature} accepts args={args!r} kwargs={kwargs!r}")
