"""The interpreter's own wording for a call of the wrong shape.

A call of the wrong shape (too many positional arguments, an unknown keyword,
a value given twice, a missing argument) is reported as the running
interpreter reports it for a Python function of the same name and signature,
and that wording changes between releases (3.13 adds "Did you mean ...?" to
an unknown keyword). Tests compare with the message such a function gives,
made here on the fly.
"""

import inspect


def python_function(name, signature):
    """A pure-Python function called `name` with the parameters of `signature`
    (defaults replaced by None, annotations dropped)."""
    if not isinstance(signature, inspect.Signature):
        signature = inspect.signature(signature)
    params = [
        p.replace(default=None if p.default is not p.empty else p.empty, annotation=p.empty)
        for p in signature.parameters.values()
    ]
    namespace = {}
    exec(f"def {name}{inspect.Signature(params)}: pass", namespace)
    return namespace[name]


def shape_error(name, signature, args=(), kwargs=None):
    """The TypeError message the interpreter raises when a Python function
    called `name` with `signature` (an inspect.Signature, or a function whose
    signature is used) is called with `args` and `kwargs`."""
    function = python_function(name, signature)
    try:
        function(*args, **(kwargs or {}))
    except TypeError as exc:
        return str(exc)
    raise AssertionError(f"{name}{inspect.signature(function)} accepts args={args!r} kwargs={kwargs!r}")
