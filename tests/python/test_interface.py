"""The live module agrees with its interface table
(src/python/interface/description.py), in both directions: the interface
description and type stubs installed beside it are the ones the table makes
now; every class, function, constructor, method and property accessor has
its record and every record its member; members in the table's order;
signatures, text signatures, defaults, docstrings, decorators and annotations
as the module really has them; the exception classes with their bases and the
core error kinds each is raised for."""

import ast
import builtins
import collections.abc
import importlib.util
import inspect
import json
import pathlib
import types
import typing

import pytest

import _quarlo_native as native

ROOT = pathlib.Path(__file__).resolve().parents[2]
MODULE_DIR = pathlib.Path(native.__file__).resolve().parent
DESCRIPTION = "_quarlo_native.interface.json"
INSTALLED = [DESCRIPTION, "_quarlo_native.pyi", "_quarlo_native-stubs/__init__.pyi"]
KINDS = {
    "posonlyargs": inspect.Parameter.POSITIONAL_ONLY,
    "args": inspect.Parameter.POSITIONAL_OR_KEYWORD,
    "kwonlyargs": inspect.Parameter.KEYWORD_ONLY,
}
# Made from the one rich-comparison slot that __eq__ stands for.
DERIVED_COMPARISONS = {"__ne__", "__lt__", "__le__", "__gt__", "__ge__"}


def _load_generator():
    spec = importlib.util.spec_from_file_location("quarlo_interface_generate",
                                                  ROOT / "src" / "python" / "interface" / "generate.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


GENERATOR = _load_generator()
GENERATED = GENERATOR.generate()
TABLE = GENERATOR.load_description()
RECORDS = json.loads(GENERATED[DESCRIPTION])
CLASS_RECORDS = [r for r in RECORDS if r["type"] == "class"]
FUNCTION_RECORDS = [r for r in RECORDS if r["type"] == "function"]


def record_id(record):
    return f"{record.get('parent', '').rpartition('.')[2]}.{record['name']}{'.setter' if is_setter(record) else ''}"


def is_setter(record):
    return any(d.endswith(".setter") for d in record.get("decorators", []))


def is_property(record):
    return "property" in record.get("decorators", []) or is_setter(record)


def owner(record):
    return getattr(native, record["parent"].rpartition(".")[2])


def parameters(record):
    """(name, kind, default) of each parameter, the default as a value."""
    return [(entry["name"], KINDS[group], ast.literal_eval(entry["default"]) if "default" in entry else
             inspect.Parameter.empty)
            for group in KINDS for entry in record["arguments"][group]]


def text_signature(record):
    """The runtime text signature of a function, method or constructor record:
    $self for a method, nothing for the constructor's cls."""
    arguments = record["arguments"]
    bound = arguments["posonlyargs"] == [{"name": "self"}]
    one = [entry["name"] + (f"={entry['default']}" if "default" in entry else "")
           for group in ("args", "kwonlyargs") for entry in arguments[group]]
    if arguments["kwonlyargs"]:
        one.insert(len(arguments["args"]), "*")
    return "(" + ", ".join((["$self"] if bound else []) + one) + ")"


def evaluate(annotation):
    return eval(annotation, {"builtins": builtins, "typing": typing, "collections": collections,  # noqa: S307
                             "_quarlo_native": native, "None": None})


def conforms(value, annotation):
    """Whether `value` is an instance of the evaluated annotation."""
    if annotation is typing.Any:
        return True
    if annotation is None or annotation is type(None):
        return value is None
    origin, args = typing.get_origin(annotation), typing.get_args(annotation)
    if origin in (typing.Union, types.UnionType):
        return any(conforms(value, arg) for arg in args)
    if origin is None:
        return isinstance(value, annotation)
    if not isinstance(value, origin):
        return False
    if origin is dict:
        return all(conforms(k, args[0]) and conforms(v, args[1]) for k, v in value.items())
    if origin in (list, collections.abc.Sequence):
        return all(conforms(item, args[0]) for item in value)
    return True


@pytest.mark.parametrize("name", INSTALLED)
def test_installed_beside_the_module_and_current(name):
    path = MODULE_DIR / name
    assert path.is_file(), f"{name} is not beside {native.__file__}: rebuild the module"
    assert path.read_text(encoding="utf-8") == GENERATED[name], f"{path} is stale: rebuild the module"


def test_package_reexports_the_table():
    # The package's block of names is rewritten by every build of the module.
    text = (ROOT / "src" / "quarlo" / "__init__.py").read_text(encoding="utf-8")
    assert GENERATOR.package_block(TABLE) in text, "quarlo/__init__.py's names are stale: rebuild the module"
    import quarlo

    assert quarlo.__all__[: len(native.__all__)] == native.__all__
    assert all(getattr(quarlo, name) is getattr(native, name)
               for name in native.__all__ if name not in GENERATOR.PACKAGE_OWN_NAMES)


def test_module_publishes_the_table_in_order():
    classes, functions = [c.name for c in TABLE.CLASSES], [f.name for f in TABLE.FUNCTIONS]
    assert native.__all__ == classes + functions + [e.name for e in TABLE.EXCEPTIONS]
    assert sorted(classes, key=str.encode) == classes and sorted(functions, key=str.encode) == functions


def test_records_ids_and_parents():
    assert [len(RECORDS), len(CLASS_RECORDS), len(FUNCTION_RECORDS)] == [137, 18, 118]
    module = RECORDS[0]
    assert (module["type"], module["id"], module["name"], module["doc"]) == (
        "module", "_quarlo_native", "_quarlo_native", native.__doc__)
    ids = [r["id"] for r in RECORDS if "id" in r]
    assert len(ids) == len(set(ids)) == 1 + 18 + 9
    assert module["members"] == [f"_quarlo_native.{name}" for name in native.__all__[:27]]
    assert set(module["members"]) == set(ids) - {module["id"]}
    class_ids = {r["id"] for r in CLASS_RECORDS}
    for record in FUNCTION_RECORDS:
        # Module functions have an id, class members a parent; never both.
        assert ("id" in record) != ("parent" in record), record["name"]
        assert record.get("parent", next(iter(class_ids))) in class_ids


def test_stubs_declare_the_whole_module():
    tree = ast.parse(GENERATED["_quarlo_native.pyi"])
    declared = [node.name for node in tree.body if isinstance(node, (ast.ClassDef, ast.FunctionDef))]
    (all_node,) = [node for node in tree.body if isinstance(node, ast.Assign)]
    assert ast.literal_eval(all_node.value) == native.__all__
    assert sorted(declared) == sorted(native.__all__)
    assert ast.get_docstring(tree) == native.__doc__


@pytest.mark.parametrize("record", CLASS_RECORDS, ids=lambda r: r["name"])
def test_class(record):
    cls = getattr(native, record["name"])
    assert isinstance(cls, type) and record["id"] == f"_quarlo_native.{cls.__name__}"
    assert record["doc"] == cls.__doc__
    assert record["decorators"] == ["typing.final"]
    constructor = [r for r in FUNCTION_RECORDS if r.get("parent") == record["id"] and r["name"] == "__new__"]
    assert cls.__text_signature__ == (text_signature(constructor[0]) if constructor else None)
    with pytest.raises(TypeError):
        type("Subclass", (cls,), {})
    # Every member has its record and every record its member.
    # The readable __repr__ of the record classes is not part of the description.
    live = {name for name in vars(cls) if name not in ("__doc__", "__module__", "__hash__", "__repr__")}
    if "__eq__" in live:
        live -= DERIVED_COMPARISONS
    recorded = {r["name"] for r in FUNCTION_RECORDS if r.get("parent") == record["id"]}
    assert recorded == live


@pytest.mark.parametrize("record", FUNCTION_RECORDS, ids=record_id)
def test_signature_and_doc(record):
    expected = parameters(record)
    if "parent" not in record:
        live = getattr(native, record["name"])
        assert live.__module__ == "_quarlo_native"
        actual, doc = inspect.signature(live), live.__doc__
    elif record["name"] == "__new__":
        # The class's text signature, without cls; the constructor's
        # documentation is only in the description.
        assert expected[0] == ("cls", inspect.Parameter.POSITIONAL_ONLY, inspect.Parameter.empty)
        expected, actual, doc = expected[1:], inspect.signature(owner(record)), record["doc"]
        assert record["returns"] == record["parent"]
    else:
        live = vars(owner(record))[record["name"]]
        if is_property(record):
            assert inspect.isdatadescriptor(live)
            value = [("value", inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.empty)]
            assert expected == [("self", inspect.Parameter.POSITIONAL_ONLY, inspect.Parameter.empty)] + (
                value if is_setter(record) else [])
            actual = None
            doc = record["doc"] if is_setter(record) else live.__doc__
        else:
            actual, doc = inspect.signature(live), live.__doc__
            if type(live) is type(object.__eq__):  # a slot: the interpreter's docstring
                doc = record["doc"]
    if actual is not None:
        assert [(p.name, p.kind, p.default) for p in actual.parameters.values()] == expected
        if not record["name"].startswith("__"):  # the slots' text signatures are the interpreter's
            assert live.__text_signature__ == text_signature(record)
        for (_, _, default), parameter in zip(expected, actual.parameters.values()):
            assert type(default) is type(parameter.default)  # True is not 1
    assert record["doc"] == doc

    # Every parameter but self and cls is annotated, and so is the result;
    # the annotations name real types.
    for group in KINDS:
        for entry in record["arguments"][group]:
            assert ("annotation" in entry) == (entry["name"] not in ("self", "cls")), entry["name"]
            if "annotation" in entry:
                evaluate(entry["annotation"])
    evaluate(record["returns"])


@pytest.mark.parametrize("record", [r for r in FUNCTION_RECORDS if "Args:" in r["doc"]], ids=record_id)
def test_args_section_lists_the_parameters_in_order(record):
    section = record["doc"].split("Args:\n", 1)[1].split("\n\n", 1)[0]
    documented = [line.strip().split(":", 1)[0] for line in section.splitlines() if not line.startswith(" " * 8)]
    assert documented == [name for name, _, _ in parameters(record) if name not in ("self", "cls")]


def test_constructors_are_documented_in_the_description_only():
    constructors = [r for r in FUNCTION_RECORDS if r["name"] == "__new__"]
    assert len(constructors) == 13
    for record in constructors:
        assert record["doc"].split("\n", 1)[0].startswith("Creates ")
        assert record["doc"] not in owner(record).__doc__


# --------------------------------------------------- values against annotations


@pytest.fixture(scope="module")
def samples():
    """One instance of every class, with optional fields filled in."""
    image = native.SEOImage("https://www.example.com/a.png", width=10, height=20, alt="A")
    robots = native.Robots(max_snippet=5, max_image_preview="large", max_video_preview=3)
    config = native.SEOConfig("www.example.com", "https://www.example.com", default_og_image=image,
                              site_name="Example", locale="en_US", locale_alternate=["de_DE"],
                              twitter_site="@example", hooks=None)
    entity = native.SEOEntity("post", title="Title", excerpt="Excerpt", featured_image=image,
                              breadcrumbs=[native.Breadcrumb("Home", "/")])
    payload = native.build_seo_payload(entity, "/post", config)
    expectation = native.SEOExpectation(required=True, indexable=True, canonical="self")
    rule = native.SEOContractRule("/blog/*", expectation, severity="warning")
    contract_config = native.SEOContractConfig("www.example.com", rules=[rule])
    objects = [
        native.Breadcrumb("Home", "/"), native.FAQItem("Q?", "A."), payload.og, robots,
        native.SEOAuthor("Ada", url="https://www.example.com/ada"), config,
        native.build_seo_contract(contract_config), contract_config, rule, entity, expectation, image,
        native.validate_payload(native.build_seo_payload(native.SEOEntity("post"), "/", config))[0],
        native.SEOOverrides(), payload, native.SchemaRegistry(), payload.twitter, native.URLPolicy(),
    ]
    by_name = {type(obj).__name__: obj for obj in objects}
    assert sorted(by_name) == sorted(r["name"] for r in CLASS_RECORDS)
    return by_name, {"entity": entity, "config": config, "payload": payload, "contract_config": contract_config}


@pytest.mark.parametrize("record", [r for r in FUNCTION_RECORDS if "parent" in r and r["name"] != "__new__"
                                    and not r["name"].startswith("__") and not is_setter(r)], ids=record_id)
def test_member_values_match_annotations(samples, record):
    instance = samples[0][owner(record).__name__]
    if is_property(record):
        value = getattr(instance, record["name"])
        settable = any(is_setter(r) and r["name"] == record["name"] and r["parent"] == record["parent"]
                       for r in FUNCTION_RECORDS)
        if settable:
            setattr(instance, record["name"], value)
        else:
            with pytest.raises(AttributeError):
                setattr(instance, record["name"], value)
    elif parameters(record)[1:]:
        pytest.skip("takes arguments")
    else:
        value = getattr(instance, record["name"])()
    assert conforms(value, evaluate(record["returns"])), (record["returns"], value)


def test_function_results_match_annotations(samples):
    _, objects = samples
    calls = {
        "build_seo_contract": (objects["contract_config"],),
        "build_seo_payload": (objects["entity"], "/a", objects["config"]),
        "build_seo_payload_dict": (objects["entity"], "/a", objects["config"]),
        "build_seo_payload_with_overrides": (objects["entity"], "/a", objects["config"], native.SEOOverrides()),
        "clean_query_fn": ("a=1&utm_source=x",),
        "clean_url_fn": ("https://www.example.com/?a=1&utm_source=x",),
        "normalize_path_fn": ("/a//b", native.URLPolicy()),
        "normalize_public_url_fn": ("/a", objects["config"]),
        "validate_payload": (objects["payload"],),
    }
    for record in FUNCTION_RECORDS:
        if "parent" not in record:
            value = getattr(native, record["name"])(*calls[record["name"]])
            assert conforms(value, evaluate(record["returns"])), record["name"]


# ------------------------------------------------------------- exception classes

EXCEPTIONS = TABLE.EXCEPTIONS


@pytest.mark.parametrize("exception", EXCEPTIONS, ids=lambda e: e.name)
def test_exception_class(exception):
    cls = getattr(native, exception.name)
    assert cls.__bases__ == (evaluate(exception.base),)
    assert (cls.__module__, cls.__qualname__) == ("_quarlo_native", exception.name)


def test_core_error_kinds_raise_their_classes(testing):
    """Each core error kind is raised as the class the table gives it; the
    table names every kind of the core once. The test extension holds its own
    classes (its own copy of the binding), made from the same table."""
    by_kind = {kind: index for index, exception in enumerate(EXCEPTIONS) for kind in exception.kinds}
    assert sorted(by_kind) == sorted(testing.error_kinds())
    assert len(by_kind) == sum(len(exception.kinds) for exception in EXCEPTIONS)
    table = testing.exception_types()
    assert [cls.__name__ for cls in table] == [exception.name for exception in EXCEPTIONS]
    for kind, index in by_kind.items():
        with pytest.raises(ValueError) as info:
            testing.raise_core_error(kind, "message")
        assert type(info.value) is table[index], kind
