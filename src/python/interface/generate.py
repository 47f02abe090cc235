"""Writes the interface description of _quarlo_native, its type stubs and the
binding's interface header from the tables in description.py.

    python3 generate.py --out-dir DIR

writes DIR/_quarlo_native.interface.json (one JSON record per module, class,
function, constructor, method and property accessor), DIR/_quarlo_native.pyi
(made from those records), DIR/_quarlo_native-stubs/__init__.pyi (the same
stubs as a stub-only package, which is where type checkers look for the stubs
of a single-module distribution) and DIR/include/python/interface/tables.hpp
(the C++ tables of the binding: docstrings with their text signatures,
argument records with keyword lists, formats and defaults, property and
method entries, the module's members and exception classes). Files whose
content is unchanged are not rewritten, so an edit that changes only the
description or the stubs rebuilds no C++. Standard library only: it runs
under the build's interpreter.
"""

from __future__ import annotations

import argparse
import ast
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

    names = [by_id[i]["name"] for i in module_record["members"]] + [e.name for e in d.EXCEPTIONS]
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
    for exception in d.EXCEPTIONS:
        out += ["", "", f"class {exception.name}({_annotation(exception.base, module)}): ..."]
    return "\n".join(out) + "\n"


# ------------------------------------------------------------ C++ header

HEADER = "include/python/interface/tables.hpp"

# Parameter names that cannot be C++ identifiers get a trailing underscore.
CPP_KEYWORDS = frozenset("""
    alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t char16_t char32_t
    class compl concept const consteval constexpr constinit const_cast continue co_await co_return
    co_yield decltype default delete do double dynamic_cast else enum explicit export extern false float
    for friend goto if inline int long mutable namespace new noexcept not not_eq nullptr operator or
    or_eq private protected public register reinterpret_cast requires return short signed sizeof static
    static_assert static_cast struct switch template this thread_local throw true try typedef typeid
    typename union unsigned using virtual void volatile wchar_t while xor xor_eq
""".split())
# Members every argument record has besides its parameters.
RECORD_MEMBERS = frozenset({"kName", "kDoc", "kFlags", "kKeywords", "kFormat", "parser", "parse"})


def cpp_string(text: str, indent: str = "    ") -> str:
    """A C++ string literal of `text` (UTF-8), one literal a line."""

    def escape(line: str) -> str:
        out = []
        for byte in line.encode("utf-8"):
            char = chr(byte)
            if char in '"\\':
                out.append("\\" + char)
            elif char == "\n":
                out.append("\\n")
            elif 0x20 <= byte < 0x7F:
                out.append(char)
            else:
                out.append(f"\\{byte:03o}")
        return '"' + "".join(out) + '"'

    lines = text.split("\n")
    pieces = [escape(line + "\n") for line in lines[:-1]] + ([escape(lines[-1])] if lines[-1] else [])
    if not pieces:
        return '""'
    return ("\n" + indent).join(pieces)


def snake(name: str) -> str:
    """SEOContractConfig -> seo_contract_config."""
    return re.sub(r"(?<=[a-z0-9])(?=[A-Z])|(?<=[A-Z])(?=[A-Z][a-z])", "_", name).lower()


def cpp_name(name: str) -> str:
    return name + "_" if name in CPP_KEYWORDS else name


def text_signature(name: str, args: tuple[Any, ...], kwonly: tuple[Any, ...], bound: bool) -> str:
    """The signature line of a runtime docstring, as __text_signature__ reads it."""

    def one(arg: Any) -> str:
        return arg.name if arg.default is None else f"{arg.name}={arg.default}"

    parts = (["$self"] if bound else []) + [one(a) for a in args]
    if kwonly:
        parts += ["*"] + [one(a) for a in kwonly]
    return f"{name}({', '.join(parts)})"


def with_signature(signature: str, doc: str) -> str:
    return f"{signature}\n--\n\n{doc}"


def arg_format(name: str, args: tuple[Any, ...], kwonly: tuple[Any, ...]) -> str:
    """The parse_args format (runtime/args.hpp) of a signature: "O" a
    parameter, "|" before the optional ones, "$" before the keyword-only
    ones, then ":name"."""
    required = [a for a in args if a.default is None]
    optional = [a for a in args if a.default is not None]
    if list(args) != required + optional:
        raise ValueError(f"{name}: a parameter without default follows one with a default")
    if any(a.default is None for a in kwonly):
        raise ValueError(f"{name}: keyword-only parameters must have defaults")
    text = "O" * len(required)
    if optional or kwonly:
        text += "|" + "O" * len(optional)
    if kwonly:
        text += "$" + "O" * len(kwonly)
    return f"{text}:{name}"


def arg_member(arg: Any, index: int) -> str:
    """One parameter of an argument record: its C++ type follows its default."""
    member = cpp_name(arg.name)
    value = None if arg.default is None else ast.literal_eval(arg.default)
    if value is None:
        return f"  Arg {member}{{kKeywords[{index}]}};"
    if isinstance(value, bool):
        return f"  BoolArg {member}{{kKeywords[{index}], {'true' if value else 'false'}}};"
    if isinstance(value, str):
        return f"  StrArg {member}{{kKeywords[{index}], {cpp_string(value)}}};"
    raise ValueError(f"{arg.name}: no C++ form for the default {arg.default}")


def callable_record(struct: str, name: str, doc: str, args: tuple[Any, ...], kwonly: tuple[Any, ...],
                    vector_call: bool, comment: str) -> list[str]:
    """A struct naming one callable: for a method or function (vector_call)
    its name, docstring (text signature first) and method flags; when it
    takes arguments, or is a constructor, its keyword list, parse format,
    parser and one member per parameter, which parse() fills."""
    params = args + kwonly
    clash = {cpp_name(a.name) for a in params} & RECORD_MEMBERS
    if clash:
        raise ValueError(f"{name}: parameter names {sorted(clash)} are taken by the argument record")
    lines = [f"// {comment}", f"struct {struct} {{"]
    # A constructor's name and docstring are its class's, and tp_new takes an
    # argument tuple and a keyword dict.
    if vector_call:
        flags = "METH_FASTCALL | METH_KEYWORDS" if params else "METH_NOARGS"
        lines.append(f"  static constexpr char kName[] = {cpp_string(name)};")
        lines.append(f"  static constexpr char kDoc[] =\n      {cpp_string(doc, ' ' * 6)};")
        lines.append(f"  static constexpr int kFlags = {flags};")
    if params or not vector_call:
        keywords = ", ".join([cpp_string(a.name) for a in params] + ["nullptr"])
        lines.append(f"  static constexpr const char* kKeywords[] = {{{keywords}}};")
        lines.append(f"  static constexpr char kFormat[] = {cpp_string(arg_format(name, args, kwonly))};")
        lines.append(f"  static inline ArgParser<{len(params) + 1}> parser{{kFormat, kKeywords}};")
        lines.append("")
        lines += [arg_member(a, i) for i, a in enumerate(params)]
        outputs = "".join(f", &{cpp_name(a.name)}.object" for a in params)
        if vector_call:
            lines.append("")
            lines.append("  void parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {")
            lines.append(f"    parser.parse_fastcall(args, nargs, kwnames{outputs});")
        else:
            if params:
                lines.append("")
            lines.append("  void parse(PyObject* args, PyObject* kwargs) {")
            lines.append(f"    parser.parse(args, kwargs{outputs});")
        lines.append("  }")
    lines.append("};")
    return lines


def build_header(d: Any) -> str:
    module = d.MODULE
    out = [
        "// Generated from src/python/interface/description.py by generate.py: do not edit.",
        "//",
        f"// The Python interface of {module} as the binding uses it. For each class",
        "// a namespace of its name holds:",
        "//   kName, kQualifiedName  the attribute name and the PyType_Spec name;",
        "//   kDoc                   tp_doc (the text signature first when the class",
        "//                          can be called);",
        "//   struct New             the constructor's argument record (below);",
        "//   <property>             a Property (name and docstring) for property_def();",
        "//   kProperties            all of them, in the order of the description;",
        "//   struct <method>        each method's record, for method_def<>().",
        "// Each module function has a record of its name in this namespace. A",
        "// method's or function's record holds kName, kDoc (text signature first)",
        "// and kFlags; a record of a callable that takes arguments, New included,",
        "// holds the keyword list, the parse format and the parser, and one member",
        "// per parameter (Arg, or BoolArg / StrArg with the default) that parse()",
        "// fills from the call:",
        "//",
        "//   iface::SEOImage::New a;",
        "//   a.parse(args, kwargs);",
        "//   image.url = str_arg(a.url);",
        "//",
        "// Last come the module's members in publication order and its exception",
        "// classes with the core error kinds each is raised for.",
        "#pragma once",
        "",
        "#include <Python.h>",
        "",
        "#include <cstddef>",
        "",
        '#include "core/base/error.hpp"',
        '#include "python/runtime/args.hpp"',
        '#include "python/runtime/fast_args.hpp"',
        '#include "python/runtime/interface.hpp"',
        '#include "python/runtime/module.hpp"',
        "",
        "namespace quarlo::py {",
        "",
        "// Defined by the class and function files (py_*.cpp).",
    ]
    out += [f"PyTypeObject* {snake(c.name)}_type();" for c in d.CLASSES]
    out += [f"extern PyMethodDef {f.name}_def;" for f in d.FUNCTIONS]
    out += [
        "",
        "}  // namespace quarlo::py",
        "",
        "namespace quarlo::py::iface {",
        "",
        f"inline constexpr char kModuleName[] = {cpp_string(module)};",
        f"inline constexpr char kModuleDoc[] = {cpp_string(d.MODULE_DOC)};",
    ]
    for cls in d.CLASSES:
        out += ["", f"// {'-' * (72 - len(cls.name))} {cls.name}", "", f"namespace {cls.name} {{", ""]
        out.append(f"inline constexpr char kName[] = {cpp_string(cls.name)};")
        out.append(f"inline constexpr char kQualifiedName[] = {cpp_string(f'{module}.{cls.name}')};")
        ctor = cls.constructor
        doc = cls.doc
        if ctor is not None:
            signature = text_signature(cls.name, ctor.args, ctor.kwonly, bound=False)
            doc = with_signature(signature, cls.doc)
        out.append(f"inline constexpr char kDoc[] =\n    {cpp_string(doc)};")
        if ctor is not None:
            out.append("")
            out += callable_record("New", cls.name, doc, ctor.args, ctor.kwonly, vector_call=False,
                                   comment=f"The constructor (tp_new): {signature}")
        properties = [m for m in cls.members if isinstance(m, d.Property)]
        if properties:
            out.append("")
            for prop in properties:
                out.append(f"inline constexpr Property {cpp_name(prop.name)}{{{cpp_string(prop.name)}, "
                           f"{cpp_string(prop.doc, ' ' * 8)}}};")
            names = ", ".join(cpp_name(p.name) for p in properties)
            out.append(f"inline constexpr Property kProperties[] = {{{names}}};")
        for method in cls.members:
            # The protocol slots (__getitem__, __eq__, ...) carry the
            # interpreter's docstrings and read their arguments themselves.
            if isinstance(method, d.Property) or method.name.startswith("__"):
                continue
            signature = text_signature(method.name, method.args, method.kwonly, bound=True)
            out.append("")
            out += callable_record(cpp_name(method.name), method.name,
                                   with_signature(signature, _doc(method.doc, method.args + method.kwonly)),
                                   method.args, method.kwonly, vector_call=True, comment=signature)
        out += ["", f"}}  // namespace {cls.name}"]
    out += ["", f"// {'-' * 62} module functions"]
    for function in d.FUNCTIONS:
        signature = text_signature(function.name, function.args, function.kwonly, bound=False)
        out.append("")
        out += callable_record(cpp_name(function.name), function.name,
                               with_signature(signature, _doc(function.doc, function.args + function.kwonly)),
                               function.args, function.kwonly, vector_call=True, comment=signature)

    out += ["", f"// {'-' * 69} the module", ""]
    out.append("// Classes, then functions, in the order the module publishes them (after")
    out.append("// them come the exception classes).")
    out.append("inline constexpr ClassEntry kClasses[] = {")
    out += [f"    {{{c.name}::kName, &{snake(c.name)}_type}}," for c in d.CLASSES]
    out += ["    {nullptr, nullptr},", "};", "inline PyMethodDef* const kFunctions[] = {"]
    out += [f"    &{f.name}_def," for f in d.FUNCTIONS]
    out += ["    nullptr,", "};", ""]
    out.append("// The exception classes in publication order, each after its base: a")
    out.append("// builtins class by name, or the index of its row here.")
    out.append("inline constexpr ExceptionClass kExceptions[] = {")
    index = {e.name: i for i, e in enumerate(d.EXCEPTIONS)}
    for i, exception in enumerate(d.EXCEPTIONS):
        if exception.base.startswith("builtins."):
            base = f"{cpp_string(exception.base.removeprefix('builtins.'))}, 0"
        else:
            base_name = exception.base.removeprefix(module + ".")
            if index.get(base_name, i) >= i:
                raise ValueError(f"{exception.name}: base {exception.base} must be listed before it")
            base = f"nullptr, {index[base_name]}"
        kinds = " | ".join(f"kind_bit(ErrorKind::{kind})" for kind in exception.kinds) or "0"
        out.append(f"    {{{cpp_string(exception.name)}, {cpp_string(f'{module}.{exception.name}')}, {base}, "
                   f"{kinds}}},")
    out += ["};", "", "}  // namespace quarlo::py::iface", ""]
    return "\n".join(out)


# --------------------------------------------------------------------- main


# ------------------------------------------------------- quarlo re-exports

# The quarlo package re-exports the module's names; these it defines itself
# (its Python schema registry stands where the native introspection class
# would).
PACKAGE_OWN_NAMES = ("SchemaRegistry",)
PACKAGE_BEGIN = "# --- the native module's names: generated from src/python/interface/description.py by generate.py\n"
PACKAGE_END = "# --- end of the generated names\n"


def module_names(d: Any) -> list[str]:
    """The module's __all__, in its order."""
    records = build_records(d)
    by_id = {r["id"]: r for r in records if "id" in r}
    return [by_id[i]["name"] for i in records[0]["members"]] + [e.name for e in d.EXCEPTIONS]


def package_block(d: Any) -> str:
    """The block of quarlo/__init__.py that imports and lists the names."""
    names = module_names(d)
    imported = sorted((n for n in names if n not in PACKAGE_OWN_NAMES), key=lambda n: (n[0].islower(), n.lower()))
    lines = [PACKAGE_BEGIN.rstrip("\n"), "from _quarlo_native import ("]
    lines += [f"    {name}," for name in imported]
    lines += [")", "", "__all__ = ["] + [f'    "{name}",' for name in names] + ["]", PACKAGE_END.rstrip("\n")]
    return "\n".join(lines) + "\n"


def update_package_init(path: pathlib.Path, d: Any) -> None:
    """Rewrites the generated block of quarlo/__init__.py when it differs."""
    text = path.read_text(encoding="utf-8")
    start = text.index(PACKAGE_BEGIN)
    end = text.index(PACKAGE_END) + len(PACKAGE_END)
    updated = text[:start] + package_block(d) + text[end:]
    if updated != text:
        path.write_text(updated, encoding="utf-8")


def generate() -> dict[str, str]:
    """Relative file name to content."""
    description = load_description()
    records = build_records(description)
    stubs = build_stubs(description, records)
    return {
        f"{description.MODULE}.interface.json": json.dumps(records, indent=2, ensure_ascii=False) + "\n",
        f"{description.MODULE}.pyi": stubs,
        f"{description.MODULE}-stubs/__init__.pyi": stubs,
        HEADER: build_header(description),
    }


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out-dir", type=pathlib.Path, required=True)
    parser.add_argument("--package-init", type=pathlib.Path,
                        help="quarlo/__init__.py, whose block of the module's names is brought up to date")
    options = parser.parse_args()
    if options.package_init is not None:
        update_package_init(options.package_init, load_description())
    for name, content in generate().items():
        path = options.out_dir / name
        if path.is_file() and path.read_text(encoding="utf-8") == content:
            continue
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(content, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
