"""The quarlo package: the native names re-exported, and the schema and hook
registries working through real payload builds."""

import importlib.util
import pathlib
import sys

import pytest

import _quarlo_native as native

try:
    import quarlo
except ImportError:  # not installed: the package's source beside the tests
    sys.path.append(str(pathlib.Path(__file__).resolve().parents[2] / "src"))
    import quarlo
from quarlo.hooks import HookRegistry
from quarlo.registry import SchemaRegistry

HOST, BASE = "www.example.com", "https://www.example.com"
IMAGE = "https://www.example.com/cake.png"


def recipe_entity():
    return quarlo.SEOEntity("post", title="Lemon cake", excerpt="A lemon cake.",
                            featured_image=quarlo.SEOImage(IMAGE))


def test_reexports_the_native_module():
    assert set(native.__all__) <= set(quarlo.__all__)
    for name in native.__all__:
        expected = SchemaRegistry if name == "SchemaRegistry" else getattr(native, name)
        assert getattr(quarlo, name) is expected, name
    assert quarlo.HookRegistry is HookRegistry


@pytest.mark.parametrize("register, event", [
    (lambda hooks, fn: hooks.register(fn), "post_process"),
    (lambda hooks, fn: hooks.register()(fn), "post_process"),
    (lambda hooks, fn: hooks.register("post_process")(fn), "post_process"),
    (lambda hooks, fn: hooks.register(event="pre_render")(fn), "pre_render"),
    (lambda hooks, fn: hooks.register(fn, event="pre_render"), "pre_render"),
    (lambda hooks, fn: hooks.register(fn, "pre_render"), "pre_render"),
    (lambda hooks, fn: hooks.register("pre_render", fn), "pre_render"),
])
def test_hook_registration_forms(register, event):
    hooks = HookRegistry()

    def hook(payload, entity, config):
        payload["seen"] = True

    assert register(hooks, hook) is hook
    assert hooks.run(event, {}, None, None) == {"seen": True}
    assert hooks.run({"post_process": "pre_render", "pre_render": "post_process"}[event], {}, None, None) == {}


@pytest.mark.parametrize("call, message", [
    (lambda hooks: hooks.register(42), "hook must be callable, not int"),
    (lambda hooks: hooks.register("post_process", "not a function"), "hook must be callable, not str"),
    (lambda hooks: hooks.register(print, 7), "event must be a str, not int"),
    (lambda hooks: hooks.register("post_process", event="pre_render"), "got the event twice"),
    (lambda hooks: hooks.register(print, "a", "b"), "at most 2 positional arguments"),
])
def test_hook_registration_errors(call, message):
    with pytest.raises(TypeError, match=message):
        call(HookRegistry())


def test_registered_generator_makes_the_jsonld():
    registry = SchemaRegistry()
    calls = []

    @registry.register("Recipe")
    def recipe(entity, config, canonical, title, description, image):
        calls.append((entity, config, canonical, title, description, image))
        return {"@context": "https://schema.org", "@type": "Recipe", "name": title, "url": canonical}

    config = quarlo.SEOConfig(HOST, BASE, schema_type_map=[("post", "Recipe")], schema_registry=registry)
    entity = recipe_entity()
    payload = quarlo.build_seo_payload(entity, "/cake?utm_source=x", config)

    canonical = "https://www.example.com/cake"
    assert payload.schema_jsonld == {"@context": "https://schema.org", "@type": "Recipe", "name": "Lemon cake",
                                     "url": canonical}
    (got_entity, got_config, *texts), = calls
    assert texts == [canonical, "Lemon cake", "A lemon cake.", IMAGE]
    # Copies, without the registries: a build from inside runs no registry pass.
    assert got_entity is not entity and got_entity.to_dict() == entity.to_dict()
    assert got_config is not config and got_config.schema_registry is None and got_config.hooks is None
    assert got_config.to_dict() == config.to_dict()


@pytest.mark.parametrize("schema_type, result", [("Recipe", None), ("Event", {"@type": "Event"})])
def test_native_document_kept(schema_type, result):
    """A generator returning None, or one registered for another type, leaves
    the native document."""
    registry = SchemaRegistry()
    registry.register(schema_type, lambda *args: result)
    plain = quarlo.SEOConfig(HOST, BASE, schema_type_map=[("post", "Recipe")])
    config = quarlo.SEOConfig(HOST, BASE, schema_type_map=[("post", "Recipe")], schema_registry=registry)
    expected = quarlo.build_seo_payload(recipe_entity(), "/cake", plain).schema_jsonld
    assert expected["@type"] == "Recipe"
    assert quarlo.build_seo_payload(recipe_entity(), "/cake", config).schema_jsonld == expected


def test_schema_registry_bookkeeping():
    registry = SchemaRegistry()
    first, second = (lambda *args: 1), (lambda *args: 2)
    assert registry.register("Recipe", first) is first
    registry.register("Event", first)
    registry.register("Recipe", second)  # replaces, keeps its place
    assert registry.list_types() == ["Recipe", "Event"]
    assert (registry.has("Recipe"), registry.has("Course")) == (True, False)
    assert registry.generate("Recipe", None, None, "", "", "", None) == 2
    with pytest.raises(KeyError, match="Course"):
        registry.generate("Course", None, None, "", "", "", None)
    with pytest.raises(TypeError, match="schema_type must be a str"):
        registry.register(b"Recipe", first)
    with pytest.raises(TypeError, match="must be callable"):
        registry.register("Recipe", "not a function")


def test_generator_errors_fail_the_build():
    registry = SchemaRegistry()

    @registry.register("Recipe")
    def broken(*args):
        raise LookupError("no recipe data")

    config = quarlo.SEOConfig(HOST, BASE, schema_type_map=[("post", "Recipe")], schema_registry=registry)
    with pytest.raises(LookupError, match="no recipe data"):
        quarlo.build_seo_payload(recipe_entity(), "/cake", config)


def test_hooks_apply_in_order():
    hooks = HookRegistry()
    seen = []

    @hooks.register
    def rename(payload, entity, config):
        seen.append(("rename", id(payload), entity.title, config.hooks))
        payload["title"] = "Renamed"  # in place, returns None

    @hooks.register
    def suffix(payload, entity, config):
        seen.append(("suffix", id(payload)))
        return {**payload, "title": payload["title"] + " | Example", "x_order": ["rename", "suffix"]}

    hooks.register(lambda payload, entity, config: pytest.fail("another event"), event="pre_render")
    config = quarlo.SEOConfig(HOST, BASE, hooks=hooks)
    payload = quarlo.build_seo_payload(recipe_entity(), "/cake", config)

    assert payload.title == "Renamed | Example" and payload["x_order"] == ["rename", "suffix"]
    assert [step[0] for step in seen] == ["rename", "suffix"]
    assert seen[0][1] == seen[1][1]  # the same dict, changed in place
    assert seen[0][2:] == ("Lemon cake", None)


def test_hook_run_without_hooks_and_bad_results():
    hooks = HookRegistry()
    given = {"title": "T"}
    assert hooks.run("post_process", given, None, None) is given
    hooks.register(lambda payload, entity, config: ["not", "a", "dict"])
    with pytest.raises(TypeError, match="post_process hooks must return a dict or None"):
        hooks.run("post_process", given, None, None)
    config = quarlo.SEOConfig(HOST, BASE, hooks=hooks)
    with pytest.raises(TypeError, match="post_process hooks must return a dict"):
        quarlo.build_seo_payload(recipe_entity(), "/cake", config)


def test_example(capsys):
    path = pathlib.Path(__file__).resolve().parents[2] / "examples" / "registry_hooks.py"
    spec = importlib.util.spec_from_file_location("registry_hooks_example", path)
    example = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(example)
    example.main()
    head = capsys.readouterr().out
    assert "<title>Lemon cake | Example Kitchen</title>" in head
    assert '"@type": "Recipe"' in head and '<meta name="twitter:card" content="summary">' in head
