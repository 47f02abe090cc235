"""Writes the interface description of _quarlo_native and its type stubs from
the tables in description.py.

    python3 generate.py --out-dir DIR

writes DIR/_quarlo_native.interface.json (one JSON record per module, class,
function, constructor, method and property accessor), DIR/_quarlo_native.pyi
(made from those records) and DIR/_quarlo_native-stubs/__init__.pyi (the same
stubs as a stub-only package, which is where type checkers look for the stubs
of a single-module distribution). Files whose content is unchanged are not
rewritten. Standard library only: it runs under the build's interpreter.
"""

from __future__ import annotations

import argparse
import importlib.util
import json
import pathlib
import re
import sys
from typing import Any

HERE = pathlib.Path(__file__).resolve().parent


def load_description() -> Any:
    spec = importlib.util.spec_from_file_location("quarlo_interface_description", HERE / "description.py")
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = module  # dataclasses look their module up
    spec.loader.exec_module(module)
    return module


# ------------------------------------------------------------------ records

SELF = {"name": "self"}
CLS = {"name": "cls"}


def _arg(arg: Any) -> dict[str, str]:
    entry = {"name": arg.name, "annotation": arg.annotation}
    if arg.default is not None:
        entry["default"] = arg.default
    return entry


def _arguments(posonly: tuple[Any, ...] = (), args: tuple[Any, ...] = (), kwonly: tuple[Any, ...] = (),
               bound: bool = True) -> dict[str, list[dict[str, str]]]:
    return {
        "posonlyargs": ([SELF] if bound else []) + [_arg(a) for a in posonly],
        "args": [_arg(a) for a in args],
        "kwonlyargs": [_arg(a) for a in kwonly],
    }


def _doc(doc: Any, args: tuple[Any, ...] = ()) -> str:
    return doc if isinstance(doc, str) else doc.render(args)


def build_records(d: Any) -> list[dict[str, Any]]:
    """The module record, then each class followed by its constructor and
    members, then the functions."""
    class_ids = [d.ref(c.name) for c in d.CLASSES]
    function_ids = [f"{d.MODULE}.{f.name}" for f in d.FUNCTIONS]
    records: list[dict[str, Any]] = [
        {"type": "module", "id": d.MODULE, "name": d.MODULE, "doc": d.MODULE_DOC,
         "members": class_ids + function_ids},
    ]
    for cls, class_id in zip(d.CLASSES, class_ids):
        records.append({"type": "class", "id": class_id, "name": cls.name, "doc": cls.doc,
                        "decorators": ["typing.final"]})
        if cls.constructor is not None:
            ctor = cls.constructor
            # The classes construct in __new__ (they have no __init__ of their own).
            arguments = _arguments(args=ctor.args, kwonly=ctor.kwonly)
            arguments["posonlyargs"] = [CLS]
            records.append({
                "type": "function", "name": "__new__", "parent": class_id,
                "doc": ctor.doc.render(ctor.args + ctor.kwonly), "arguments": arguments, "returns": class_id,
            })
        for member in cls.members:
            if isinstance(member, d.Property):
                records.append({
                    "type": "function", "name": member.name, "parent": class_id, "doc": member.doc,
                    "arguments": _arguments(), "returns": member.returns, "decorators": ["property"],
                })
                if member.setter_doc:
                    records.append({
                        "type": "function", "name": member.name, "parent": class_id, "doc": member.setter_doc,
                        "arguments": _arguments(args=(d.Arg("value", member.returns),)), "returns": d.NONE,
                        "decorators": [f"{member.name}.setter"],
                    })
            else:
                records.append({
                    "type": "function", "name": member.name, "parent": class_id,
                    "doc": _doc(member.doc, member.args + member.kwonly),
                    "arguments": _arguments(member.posonly, member.args, member.kwonly), "returns": member.returns,
                })
    for function, function_id in zip(d.FUNCTIONS, function_ids):
        records.append({
            "type": "function", "id": function_id, "name": function.name,
            "doc": _doc(function.doc, function.args + function.kwonly),
            "arguments": _arguments(function.posonly, function.args, function.kwonly, bound=False),
            "returns": function.returns,
        })
    return records


# -------------------------------------------------------------------- stubs


def _annotation(text: str, module: str) -> str:
    """The module's own classes by their short names."""
    return re.sub(rf"\b{re.escape(module)}\.(\w+)", r"\1", text)


def _docstring(doc: str, indent: str) -> list[str]:
    text = doc.replace("\\", "\\\\").replace('"""', '\\"\\"\\"')
    if text.endswith('"'):
        text = text[:-1] + '\\"'
    lines = text.split("\n")
    if len(lines) == 1:
        return [f'{indent}"""{text}"""']
    body = [indent + line if line else "" for line in lines[1:]]
    return [f'{indent}"""{lines[0]}', *body, f'{indent}"""']


def _parameters(arguments: dict[str, list[dict[str, str]]], module: str) -> list[str]:
    def one(entry: dict[str, str]) -> str:
        text = entry["name"]
        if "annotation" in entry:
            text += ": " + _annotation(entry["annotation"], module)
        if "default" in entry:
            text += (" = " if "annotation" in entry else "=") + entry["default"]
        return text

    posonly = arguments["posonlyargs"]
    parts = [one(p) for p in posonly]
    # A lone positional-only self or cls is written the usual way.
    if posonly and posonly not in ([SELF], [CLS]):
        parts.append("/")
    parts += [one(p) for p in arguments["args"]]
    if arguments["kwonlyargs"]:
        parts.append("*")
        parts += [one(p) for p in arguments["kwonlyargs"]]
    return parts


def _function(record: dict[str, Any], module: str, indent: str) -> list[str]:
    lines = [f"{indent}@{decorator}" for decorator in record.get("decorators", [])]
    parameters = _parameters(record["arguments"], module)
    returns = _annotation(record["returns"], module)
    line = f"{indent}def {record['name']}({', '.join(parameters)}) -> {returns}:"
    if len(line) > 100:  # one parameter a line
        inner = ",\n".join(f"{indent}    {part}" for part in parameters)
        line = f"{indent}def {record['name']}(\n{inner},\n{indent}) -> {returns}:"
    lines.append(line)
    lines += _docstring(record["doc"], indent + "    ")
    return lines


def build_stubs(d: Any, records: list[dict[str, Any]]) -> str:
    module_record = records[0]
    module = module_record["id"]
    by_id = {r["id"]: r for r in records if "id" in r}
    members: dict[str, list[dict[str, Any]]] = {}
    for record in records:
        if "parent" in record:
            members.setdefault(record["parent"], []).append(record)

    names = [by_id[i]["name"] for i in module_record["members"]] + [name for name, _ in d.EXCEPTIONS]
    out = _docstring(module_record["doc"], "")
    out += [
        "",
        "# Generated from src/python/interface/description.py by generate.py: do not edit.",
        "",
        "import builtins",
        "import collections.abc",
        "import typing",
        "",
        "__all__ = [",
        *[f'    "{name}",' for name in names],
        "]",
    ]
    for member_id in module_record["members"]:
        record = by_id[member_id]
        out += ["", ""]
        if record["type"] == "class":
            out += [f"@{decorator}" for decorator in record.get("decorators", [])]
            out.append(f"class {record['name']}:")
            out += _docstring(record["doc"], "    ")
            out.append("")
            own = members.get(member_id, [])
            for member in own:
                out += _function(member, module, "    ")
            names_here = {m["name"] for m in own}
            if "__eq__" in names_here and "__hash__" not in names_here:
                # Equality without a hash: instances are unhashable.
                out.append("    __hash__: typing.ClassVar[None]  # type: ignore[assignment]")
        else:
            out += _function(record, module, "")
    for name, base in d.EXCEPTIONS:
        out += ["", "", f"class {name}({_annotation(base, module)}): ..."]
    return "\n".join(out) + "\n"


# --------------------------------------------------------------------- main


def generate() -> dict[str, str]:
    """Relative file name to content."""
    description = load_description()
    records = build_records(description)
    stubs = build_stubs(description, records)
    return {
        f"{description.MODULE}.interface.json": json.dumps(records, indent=2, ensure_ascii=False) + "\n",
        f"{description.MODULE}.pyi": stubs,
        f"{description.MODULE}-stubs/__init__.pyi": stubs,
    }


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out-dir", type=pathlib.Path, required=True)
    options = parser.parse_args()
    for name, content in generate().items():
        path = options.out_dir / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(content, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
