"""Payload functions, SEOOverrides, and the schema-registry, hook and warnings passes."""

import collections
import copy
import gc
import inspect
import json
import os
import sys
import tracemalloc
import warnings
from unittest import mock

import html5lib
import pytest
from hypothesis import HealthCheck, assume, given, settings, strategies as st

import _quarlo_native as native
from _quarlo_native import (
    Breadcrumb, ConfigurationError, InvalidUrlError, QuarloError, Robots, SEOConfig, SEOEntity, SEOImage, SEOOverrides, SEOPayload,
    build_seo_payload, build_seo_payload_dict, build_seo_payload_with_overrides,
)
from parser_wording import shape_error
from quarlo.hooks import HookRegistry

HAS_NOTES = sys.version_info >= (3, 11)
HOST, BASE = "example.com", "https://example.com"
OVERRIDE_KEYWORDS = [
    "meta_title", "meta_description", "canonical_url", "canonical_path", "robots", "og_title", "og_description",
    "og_image", "twitter_card", "twitter_title", "twitter_description", "twitter_image", "schema_jsonld",
    "omit_schema", "skip_title_template", "twitter_creator", "og_audio", "og_video",
]
TEXT_KEYWORDS = [k for k in OVERRIDE_KEYWORDS
                 if k not in ("robots", "og_image", "twitter_image", "schema_jsonld", "omit_schema",
                              "skip_title_template")]


def notes(exc):
    return getattr(exc, "__notes__", [])


def assert_note(exc, name):
    if HAS_NOTES:
        assert notes(exc) == [f"while processing '{name}'"]


def config(**kwargs):
    return SEOConfig(HOST, BASE, **kwargs)


def post(**kwargs):
    return SEOEntity("post", **{"title": "Hello", **kwargs})


def build(entity=None, route="/blog/hello", cfg=None, overrides=None):
    return build_seo_payload(entity or post(), route, cfg or config(), overrides)


def nested(depth):
    """A list nested `depth` levels deep (the outermost counts)."""
    value = []
    for _ in range(depth - 1):
        value = [value]
    return value


class FakeNumpyBool:
    """Stands in for numpy.bool_: only the type's module and name matter."""

    def __init__(self, value):
        self.value = value

    def __bool__(self):
        return self.value


FakeNumpyBool.__module__ = "numpy"
FakeNumpyBool.__name__ = "bool_"


# ------------------------------------------------------------------ surface

def test_overrides_is_final_and_opaque():
    with pytest.raises(TypeError):
        type("Sub", (SEOOverrides,), {})
    overrides = SEOOverrides()
    assert [n for n in dir(overrides) if not n.startswith("_")] == []
    assert overrides != SEOOverrides() and overrides == overrides
    with pytest.raises(AttributeError):
        overrides.meta_title = "x"


# --------------------------------------------------------- SEOOverrides args

@pytest.mark.parametrize(
    "args, kwargs", [(("x",), {}), ((), {"meta_titel": "x"}), ((), {"schema": {}})]
)
def test_overrides_call_shape(args, kwargs):
    with pytest.raises(TypeError) as info:
        SEOOverrides(*args, **kwargs)
    assert str(info.value) == shape_error("SEOOverrides", inspect.signature(SEOOverrides), args, kwargs)


@pytest.mark.parametrize("keyword", TEXT_KEYWORDS)
def test_overrides_text_keywords_need_str(keyword):
    with pytest.raises(TypeError, match="'int' object is not an instance of 'str'") as info:
        SEOOverrides(**{keyword: 5})
    assert_note(info.value, keyword)


@pytest.mark.parametrize(
    "keyword, value, target",
    [("robots", "index", "Robots"), ("og_image", Robots(), "SEOImage"), ("twitter_image", "x.png", "SEOImage"),
     ("omit_schema", 1, "bool"), ("skip_title_template", 0, "bool")],
)
def test_overrides_typed_keywords(keyword, value, target):
    with pytest.raises(TypeError, match=f"object is not an instance of '{target}'") as info:
        SEOOverrides(**{keyword: value})
    assert_note(info.value, keyword)


@pytest.mark.parametrize("keyword", ["omit_schema", "skip_title_template"])
def test_overrides_flags_refuse_none(keyword):
    with pytest.raises(TypeError, match="'None' is not an instance of 'bool'") as info:
        SEOOverrides(**{keyword: None})
    assert_note(info.value, keyword)


def test_overrides_read_in_table_order():
    # The first wrong keyword in table order is reported, whatever the call order;
    # schema_jsonld is converted only after every other keyword was checked.
    with pytest.raises(TypeError) as info:
        SEOOverrides(og_video=1, omit_schema=1, meta_description=1)
    assert_note(info.value, "meta_description")
    with pytest.raises(TypeError) as info:
        SEOOverrides(schema_jsonld={1, 2}, og_video=1)
    assert_note(info.value, "og_video")


def test_overrides_numpy_bool_flags():
    cfg = config(title_template="{title} | Site")
    skip = SEOOverrides(skip_title_template=FakeNumpyBool(True), omit_schema=FakeNumpyBool(False))
    assert build(cfg=cfg, overrides=skip).title == "Hello"
    assert build(cfg=cfg, overrides=SEOOverrides(skip_title_template=FakeNumpyBool(False))).title == "Hello | Site"


def test_overrides_copy_their_inputs():
    image, robots = SEOImage("https://e.com/a.png", alt="A"), Robots(index=False)
    document = {"@type": "Thing", "name": "x"}
    overrides = SEOOverrides(og_image=image, robots=robots, schema_jsonld=document)
    document["name"] = "changed"
    refs = [sys.getrefcount(obj) for obj in (image, robots, document)]
    del overrides
    assert refs == [sys.getrefcount(obj) for obj in (image, robots, document)]


@pytest.mark.parametrize(
    "value, expected",
    [
        ({"@type": "Article"}, {"@type": "Article"}),
        ((1, "two", None, 2.5), [1, "two", None, 2.5]),
        ({"b": 1, 2: "int key"}, {"2": "int key", "b": 1}),
        ("just text", "just text"),
        (float("nan"), None),  # json.dumps writes NaN, which is not JSON: stored as null
        ({"x": [float("inf")]}, None),
        ("\ud800", None),  # lone surrogate
        ({"d": nested(127)}, None),  # 128 levels
        ({"d": nested(126)}, {"d": nested(126)}),
    ],
    ids=["dict", "tuple", "int-key", "str", "nan", "inf", "surrogate", "depth-128", "depth-127"],
)
def test_schema_override_through_json(value, expected):
    payload = build(overrides=SEOOverrides(schema_jsonld=value))
    assert payload.schema_jsonld == expected
    if expected is None:
        # A null document is present in the payload (it renders) but reads back as absent.
        assert payload["schema_jsonld"] is None and "null" in payload.render_jsonld()


def test_json_dumps_is_read_at_each_conversion():
    # A replaced json.dumps applies exactly while it is in place, whether or
    # not a conversion ran before it was replaced.
    document = collections.OrderedDict([("@type", "Thing")])  # not plain: converted through json.dumps
    for _ in range(2):
        with mock.patch("json.dumps", return_value='{"patched": true}'):
            assert build(overrides=SEOOverrides(schema_jsonld=document)).schema_jsonld == {"patched": True}
        assert build(overrides=SEOOverrides(schema_jsonld=document)).schema_jsonld == {"@type": "Thing"}


@pytest.mark.parametrize("value", [{1, 2}, {"a": object()}, {(1, 2): "tuple key"}])
def test_schema_override_json_dumps_errors_propagate(value):
    with pytest.raises(TypeError) as info:
        SEOOverrides(schema_jsonld=value)
    assert notes(info.value) == []


# ----------------------------------------------------- precedence chains

IMG_OVR, IMG_ENTITY, IMG_CONFIG = (SEOImage(f"https://e.com/{n}.png", width=w, height=10, alt=n)
                                   for n, w in (("ovr", 1), ("entity", 2), ("config", 3)))
TW_IMG = SEOImage("https://e.com/tw.png")
CRUMBS = [Breadcrumb("Home", "/"), Breadcrumb("Blog", "/blog")]


@pytest.mark.parametrize(
    "entity_kwargs, config_kwargs, overrides_kwargs, expected",
    [
        # title: override, entity, fallback; the template applies to each unless skipped
        ({}, {}, {}, {"title": "Hello", "og.title": "Hello", "twitter.title": "Hello"}),
        ({"title": "  Hello  "}, {"title_template": "{title} | Site"}, {},
         {"title": "Hello | Site", "og.title": "Hello | Site", "twitter.title": "Hello | Site"}),
        ({}, {"title_template": "{title} | Site"}, {"meta_title": " Mine "}, {"title": "Mine | Site"}),
        ({}, {"title_template": "{title} | Site"}, {"skip_title_template": True}, {"title": "Hello"}),
        ({"title": None}, {"title_template": "{title} - {title}"}, {}, {"title": "Untitled - Untitled"}),
        ({"title": "\u3000\t"}, {}, {"meta_title": "   "}, {"title": "Untitled"}),
        # description: override, excerpt, snippet of the body, empty
        ({"excerpt": "Ex", "body_html": "<p>Body</p>"}, {}, {"meta_description": " Md "}, {"description": "Md"}),
        ({"excerpt": " ", "body_html": "<p>Body <b>text</b></p>"}, {}, {}, {"description": "Body text"}),
        ({}, {}, {}, {"description": "", "og.description": None, "twitter.description": None}),
        # canonical: checked override (kept as written), canonical_path, route
        ({}, {}, {"canonical_url": "  https://EXAMPLE.org/A?utm_source=x  ", "canonical_path": "/ignored"},
         {"canonical": "https://EXAMPLE.org/A?utm_source=x", "og.url": "https://EXAMPLE.org/A?utm_source=x"}),
        ({}, {}, {"canonical_path": "/Other/?utm_source=x&page=2"},
         {"canonical": "https://example.com/Other?page=2"}),
        # robots
        ({"status": "Published"}, {"default_robots": Robots(max_snippet=5)}, {}, {"robots": "index,follow"}),
        ({"status": "pending"}, {}, {}, {"robots": "noindex,follow"}),
        ({"status": " published"}, {}, {}, {"robots": "noindex,follow"}),
        ({}, {"default_robots": Robots(max_snippet=5)}, {}, {"robots": "index,follow,max-snippet:5"}),
        ({"status": "published"}, {}, {"robots": Robots(follow=False)}, {"robots": "index,nofollow"}),
        # images: one whole record from the first source; the Twitter one may differ
        ({"featured_image": IMG_ENTITY}, {"default_og_image": IMG_CONFIG}, {"og_image": IMG_OVR},
         {"og.image": "https://e.com/ovr.png", "og.image_width": 1, "og.image_alt": "ovr",
          "twitter.image": "https://e.com/ovr.png", "twitter.image_alt": "ovr"}),
        ({"featured_image": IMG_ENTITY}, {"default_og_image": IMG_CONFIG}, {"twitter_image": TW_IMG},
         {"og.image": "https://e.com/entity.png", "og.image_width": 2,
          "twitter.image": "https://e.com/tw.png", "twitter.image_alt": None}),
        ({}, {"default_og_image": IMG_CONFIG}, {}, {"og.image": "https://e.com/config.png", "og.image_height": 10}),
        ({}, {}, {}, {"og.image": None, "twitter.image": None}),
        # social texts and card
        ({"excerpt": "Ex"}, {}, {"og_title": " O ", "og_description": "OD"},
         {"og.title": "O", "og.description": "OD", "twitter.title": "O", "twitter.description": "OD"}),
        ({"excerpt": "Ex"}, {}, {"twitter_title": "T", "twitter_description": "TD", "og_title": " "},
         {"og.title": "Hello", "og.description": "Ex", "twitter.title": "T", "twitter.description": "TD"}),
        ({}, {}, {"twitter_card": " summary "}, {"twitter.card": "summary"}),
        ({}, {}, {"twitter_card": "  "}, {"twitter.card": "summary_large_image"}),
        # copied values
        ({}, {"site_name": "", "locale": "en_US", "locale_alternate": [], "twitter_site": "@s"},
         {"twitter_creator": " @c ", "og_audio": "", "og_video": "v"},
         {"og.site_name": "", "og.locale": "en_US", "og.locale_alternate": [], "twitter.site": "@s",
          "twitter.creator": " @c ", "og.audio": "", "og.video": "v"}),
    ],
)
def test_precedence(entity_kwargs, config_kwargs, overrides_kwargs, expected):
    payload = build(post(**entity_kwargs), cfg=config(**config_kwargs), overrides=SEOOverrides(**overrides_kwargs))
    for path, value in expected.items():
        obj = payload
        for part in path.split("."):
            obj = getattr(obj, part)
        assert obj == value, path


@pytest.mark.parametrize(
    "entity_type, og_type", [("post", "article"), ("video", "article"), ("page", "website"), ("home", "website"),
                             ("product", "website"), ("search", "website")],
)
def test_og_type(entity_type, og_type):
    assert build(SEOEntity(entity_type)).og.type == og_type


def test_search_robots_win_over_status():
    cfg = config(search_robots=Robots(index=False, follow=False))
    assert build(SEOEntity("search", status="published"), cfg=cfg).robots == "noindex,nofollow"


@pytest.mark.parametrize(
    "entity_kwargs, config_kwargs, overrides_kwargs, types",
    [
        ({}, {}, {}, "Article"),
        ({"breadcrumbs": CRUMBS}, {}, {}, ["Article", "BreadcrumbList"]),
        ({"breadcrumbs": CRUMBS}, {}, {"omit_schema": True}, "BreadcrumbList"),
        ({"breadcrumbs": []}, {"auto_generate_schema": False}, {}, "BreadcrumbList"),
        ({}, {"auto_generate_schema": False}, {}, None),
        ({}, {}, {"omit_schema": True, "schema_jsonld": {"@type": "X"}}, None),
        ({}, {"auto_generate_schema": False}, {"schema_jsonld": [{"@type": "X"}]}, "X"),
        ({}, {}, {"schema_jsonld": []}, None),
        ({"breadcrumbs": CRUMBS}, {}, {"schema_jsonld": [{"@type": "X"}, {"@type": "Y"}]},
         ["X", "Y", "BreadcrumbList"]),
    ],
)
def test_schema_assembly(entity_kwargs, config_kwargs, overrides_kwargs, types):
    schema = build(post(**entity_kwargs), cfg=config(**config_kwargs),
                   overrides=SEOOverrides(**overrides_kwargs)).schema_jsonld
    if types is None:
        assert schema is None
    elif isinstance(types, list):
        assert [doc["@type"] for doc in schema] == types
    else:
        assert schema["@type"] == types


# ------------------------------------------------------ functions and errors

def test_no_overrides_equals_empty_overrides():
    entity, cfg = post(excerpt="E", breadcrumbs=CRUMBS), config(title_template="{title} | S")
    plain = build_seo_payload(entity, "/a", cfg)
    assert plain == build_seo_payload(entity, "/a", cfg, SEOOverrides())
    assert plain == build_seo_payload(entity, "/a", cfg, None)
    assert plain == build_seo_payload(entity=entity, route="/a", config=cfg, overrides=None)
    assert plain == build_seo_payload_with_overrides(entity, "/a", cfg, SEOOverrides())
    as_dict = build_seo_payload_dict(entity, "/a", cfg)
    assert type(as_dict) is dict and as_dict == plain.to_dict() and list(as_dict) == plain.keys()
    assert type(plain) is SEOPayload


ENTITY, CONFIG = post(), config()


@pytest.mark.parametrize(
    "call, name, message",
    [
        (lambda: build_seo_payload(5, "/", CONFIG), "entity", "'int' object is not an instance of 'SEOEntity'"),
        (lambda: build_seo_payload(ENTITY, b"/", CONFIG), "route", "'bytes' object is not an instance of 'str'"),
        (lambda: build_seo_payload(ENTITY, "/", None), "config", "'None' is not an instance of 'SEOConfig'"),
        (lambda: build_seo_payload(ENTITY, "/", ENTITY), "config",
         "'SEOEntity' object is not an instance of 'SEOConfig'"),
        (lambda: build_seo_payload_dict(ENTITY, "/", CONFIG, {}), "overrides",
         "'dict' object is not an instance of 'SEOOverrides'"),
        (lambda: build_seo_payload_with_overrides(ENTITY, "/", CONFIG, None), "overrides",
         "'None' is not an instance of 'SEOOverrides'"),
        # Arguments are checked in signature order.
        (lambda: build_seo_payload(5, 5, 5, 5), "entity", "'int' object is not an instance of 'SEOEntity'"),
    ],
)
def test_argument_types(call, name, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
    assert_note(info.value, name)


@pytest.mark.parametrize(
    "fn, args, kwargs",
    [
        (build_seo_payload, (1, 2), {}),
        (build_seo_payload, (1, 2, 3, 4, 5), {}),
        (build_seo_payload_dict, (1, 2, 3), {"entity": 1}),
        (build_seo_payload_with_overrides, (1, 2, 3), {}),
        (build_seo_payload, (1, 2, 3), {"override": None}),
    ],
)
def test_call_shape(fn, args, kwargs):
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    assert str(info.value) == shape_error(fn.__name__, inspect.signature(fn), args, kwargs)


@pytest.mark.parametrize(
    "overrides_kwargs, message",
    [
        ({"canonical_url": "/relative"},
         "canonical_url override must be an absolute URL: relative URL without a base"),
        ({"canonical_url": "   "}, "canonical_url override must be an absolute URL: relative URL without a base"),
        ({"canonical_url": "ftp://example.com/x"}, "canonical_url override must use http or https"),
    ],
)
def test_canonical_override_errors(overrides_kwargs, message):
    overrides = SEOOverrides(**overrides_kwargs)  # accepted by the constructor
    for fn in (build_seo_payload, build_seo_payload_dict):
        with pytest.raises(InvalidUrlError) as info:
            fn(post(), "/", config(), overrides)
        assert str(info.value) == message and info.value.args == (message,)


def test_core_error_when_resolving_the_route():
    # An unusable base URL is accepted by the configuration and fails when a route is resolved.
    cfg = config_with_bad_base()
    with pytest.raises(ConfigurationError, match="^invalid public_base_url: invalid domain character$"):
        build(cfg=cfg)
    # A checked canonical override needs no base URL.
    assert build(cfg=cfg, overrides=SEOOverrides(canonical_url="https://e.com/x")).canonical == "https://e.com/x"


def config_with_bad_base(**kwargs):
    return SEOConfig(HOST, "https://exa mple.com", **kwargs)


@pytest.mark.parametrize(
    "keys",
    [
        [f"k{i}" for i in range(3000)],  # far more keys than are kept between calls
        ["\u00e9" * 12, "\u00e9" * 13, "\x00", "a\x00b", "\U0001f600" * 6, *("a" * n for n in range(27)),
         # texts that differ in one byte only, at every place, for each length
         *("a" * i + "b" + "a" * (n - i - 1) for n in (2, 3, 5, 7, 8, 9, 12, 16, 17, 20, 24, 25) for i in range(n))],
    ],
    ids=["many", "edges"],
)
def test_document_keys_read_back_exactly(keys):
    # Each key keeps its own value however the keys' str objects are reused,
    # on every read, under the hook pass too.
    document = {"@type": "Thing", "members": [{key: [key, i]} for i, key in enumerate(keys)],
                **{key: key[::-1] for key in keys}}
    overrides = SEOOverrides(schema_jsonld=document)
    for cfg in (config(), config(hooks=HookRegistry()), config()):
        payload = build(cfg=cfg, overrides=overrides)
        assert payload.schema_jsonld == document and payload.to_dict()["schema_jsonld"] == document


# ------------------------------------------------------- schema registry pass

class Registry:
    def __init__(self, answer=True, document=None, events=None):
        self.answer, self.document, self.calls = answer, document, []
        self.events = events if events is not None else []

    def has(self, schema_type):
        self.calls.append(("has", schema_type))
        return self.answer

    def generate(self, *args):
        self.calls.append(("generate", *args))
        return self.document


def test_registry_replaces_the_document():
    registry = Registry(document={"@type": "Custom", "n": (1, 2)})
    cfg = config(schema_registry=registry, site_name="S")
    entity = post(excerpt="Ex", featured_image=IMG_ENTITY)
    payload = build(entity, cfg=cfg)
    assert payload.schema_jsonld == {"@type": "Custom", "n": [1, 2]}
    (has, generate) = registry.calls
    assert has == ("has", "Article")
    name, schema_type, entity_copy, config_copy, canonical, title, description, image = generate
    assert (schema_type, canonical, title, description, image) == (
        "Article", "https://example.com/blog/hello", "Hello", "Ex", "https://e.com/entity.png")
    assert type(entity_copy) is SEOEntity and entity_copy is not entity
    assert entity_copy.to_dict() == entity.to_dict()
    assert type(config_copy) is SEOConfig and config_copy is not cfg
    assert config_copy.to_dict() == cfg.to_dict()
    assert config_copy.schema_registry is None and config_copy.hooks is None
    assert cfg.schema_registry is registry


@pytest.mark.parametrize(
    "answer, document, expected_type",
    [(False, {"@type": "Nope"}, "Article"), (FakeNumpyBool(False), {"@type": "Nope"}, "Article"),
     (FakeNumpyBool(True), {"@type": "Yes"}, "Yes"), (True, None, "Article")],
)
def test_registry_declines_or_returns_none(answer, document, expected_type):
    registry = Registry(answer, document)
    assert build(cfg=config(schema_registry=registry)).schema_jsonld["@type"] == expected_type


def test_registry_document_of_any_kind():
    assert build(cfg=config(schema_registry=Registry(document=[{"@type": "A"}, 3]))).schema_jsonld == [
        {"@type": "A"}, 3]
    assert build(cfg=config(schema_registry=Registry(document="text"))).schema_jsonld == "text"


@pytest.mark.parametrize(
    "entity_kwargs, overrides_kwargs, asked",
    [
        ({"breadcrumbs": CRUMBS}, {}, []),  # several documents: an array is never offered
        ({}, {"omit_schema": True}, []),  # no document
        ({"breadcrumbs": CRUMBS}, {"omit_schema": True}, ["BreadcrumbList"]),
        ({}, {"schema_jsonld": {"@type": 5}}, []),
        ({}, {"schema_jsonld": {"name": "no type"}}, []),
        ({}, {"schema_jsonld": "text"}, []),
        ({}, {"schema_jsonld": {"@type": "Given"}}, ["Given"]),
    ],
)
def test_registry_is_asked_only_about_single_typed_documents(entity_kwargs, overrides_kwargs, asked):
    registry = Registry(answer=False)
    build(post(**entity_kwargs), cfg=config(schema_registry=registry), overrides=SEOOverrides(**overrides_kwargs))
    assert registry.calls == [("has", t) for t in asked]


@pytest.mark.parametrize(
    "answer, message",
    [(1, "'int' object"), (0, "'int' object"), (None, "'None'"), ("yes", "'str' object"), ([True], "'list' object")],
)
def test_registry_has_must_return_a_bool(answer, message):
    with pytest.raises(TypeError) as info:
        build(cfg=config(schema_registry=Registry(answer)))
    assert str(info.value) == message + " is not an instance of 'bool'"


class Boom(Exception):
    pass


class BadRegistry:
    def __init__(self, mode):
        self.mode = mode

    def has(self, schema_type):
        if self.mode == "has raises":
            raise Boom("has")
        return True

    def generate(self, *args):
        if self.mode == "generate raises":
            raise Boom("generate")
        return {
            "nan": {"x": float("nan")},
            "set": {"x": {1}},
            "deep": nested(128),
        }[self.mode]


@pytest.mark.parametrize(
    "mode, error",
    [("has raises", Boom), ("generate raises", Boom), ("nan", ValueError), ("set", TypeError),
     ("deep", ValueError)],
)
def test_registry_failures(mode, error):
    entity, cfg = post(), config()
    registry = BadRegistry(mode)
    cfg.schema_registry = registry
    before = (entity.to_dict(), cfg.to_dict())
    with pytest.raises(error):
        build(entity, cfg=cfg)
    assert (entity.to_dict(), cfg.to_dict()) == before and cfg.schema_registry is registry


def test_registry_without_methods():
    with pytest.raises(AttributeError):
        build(cfg=config(schema_registry=object()))


# ----------------------------------------------------------------- hook pass

class Hook:
    def __init__(self, result=None, mutate=None):
        self.result, self.mutate, self.calls = result, mutate, []

    def run(self, *args):
        self.calls.append(args)
        if self.mutate:
            self.mutate(args[1])
        return self.result


def test_hook_arguments_are_copies():
    hook = Hook()
    entity, cfg = post(excerpt="E"), config(hooks=hook, schema_registry=Registry(False))
    payload = build(entity, cfg=cfg)
    ((event, as_dict, entity_copy, config_copy),) = hook.calls
    assert event == "post_process" and type(as_dict) is dict and as_dict == payload.to_dict()
    assert entity_copy is not entity and entity_copy.to_dict() == entity.to_dict()
    assert config_copy is not cfg and config_copy.to_dict() == cfg.to_dict()
    assert (config_copy.hooks, config_copy.schema_registry) == (None, None)
    assert payload == build(entity)


def test_hook_argument_copies_outlive_the_originals():
    hook = Hook()
    entity = post(excerpt="E", body_html="<p>" + "body " * 300 + "</p>", breadcrumbs=CRUMBS,
                  featured_image=IMG_ENTITY)
    cfg = config(hooks=hook, site_name="S", schema_type_map=[("post", "BlogPosting")])
    expected = (entity.to_dict(), cfg.to_dict(), build(entity, cfg=config(site_name="S")).to_dict())
    build(entity, cfg=cfg)
    del entity, cfg
    gc.collect()
    ((_, _, entity_copy, config_copy),) = hook.calls
    assert entity_copy.to_dict() == expected[0] and entity_copy.title == "Hello"
    assert config_copy.to_dict() == expected[1]
    assert build(entity_copy, cfg=config_copy).to_dict()["og"] == expected[2]["og"]


def test_hook_mutating_in_place():
    def mutate(d):
        d["title"] = "Changed"
        d["custom"] = {"b": 1, "a": [1.5]}
        d["og"]["image_width"] = 7
        del d["schema_jsonld"]

    plain = build()
    payload = build(cfg=config(hooks=Hook(mutate=mutate)))
    assert payload != plain and payload.title == "Changed" and payload.schema_jsonld is None
    assert payload["custom"] == {"a": [1.5], "b": 1} and payload.og.image_width == 7
    assert payload.hash() != plain.hash()


@pytest.mark.parametrize(
    "schema, expected",
    [(None, "absent"), ([], []), ("text", "text"), ({"@type": "X", "n": [1, {"b": 2, "a": 1}]},
                                                      {"@type": "X", "n": [1, {"a": 1, "b": 2}]})],
)
def test_hook_setting_the_schema(schema, expected):
    payload = build(cfg=config(hooks=Hook(mutate=lambda d: d.update(schema_jsonld=schema))))
    if expected == "absent":
        assert "schema_jsonld" not in payload and payload.schema_jsonld is None
    else:
        assert payload["schema_jsonld"] == expected == payload.schema_jsonld


def test_hook_returning_a_dict():
    class Sub(dict):
        pass

    replacement = Sub(build().to_dict(), title="From hook")
    payload = build(cfg=config(hooks=Hook(result=replacement)))
    assert payload.title == "From hook"
    # The returned dict is used, not the one that was passed in.
    assert build(cfg=config(hooks=Hook(result=dict(replacement), mutate=lambda d: d.clear()))).title == "From hook"


def reread(mutate=lambda d: None):
    """A hook that changes a deep copy of the dict and returns it: the payload is always read back."""
    def run(d):
        d = copy.deepcopy(d)
        mutate(d)
        return d
    return BadHook(run)


def restore(d, key):
    value = d.pop(key)
    d[key] = value


@pytest.mark.parametrize(
    "mutate, changes",
    [
        (lambda d: None, False),
        (lambda d: d["schema_jsonld"]["list"][1].update(a="c"), True),
        (lambda d: d["schema_jsonld"]["list"].append(2), True),
        (lambda d: d["schema_jsonld"]["list"].__setitem__(0, 5), True),
        (lambda d: d["og"].update(title="T2"), True),
        (lambda d: restore(d, "title"), False),  # same objects, another order
        (lambda d: restore(d["schema_jsonld"], "@type"), False),
        (lambda d: d.update(og=dict(d["og"])), False),  # an equal container in place of the one made
        (lambda d: d.update(title="".join(list(d["title"]))), False),  # an equal str
        (lambda d: d["schema_jsonld"]["list"].__setitem__(slice(None), list(d["schema_jsonld"]["list"])), False),
        (lambda d: d["schema_jsonld"].update(list=d["schema_jsonld"]["list"][::-1]), True),
        (lambda d: d["schema_jsonld"]["list"][1].update(b="x"), True),
        (lambda d: d["schema_jsonld"].update(t=False, n=-4), True),
        (lambda d: (d.update(zz=1), d.pop("zz")), False),  # added and taken away again
        (lambda d: d["schema_jsonld"]["list"].insert(0, d["schema_jsonld"]["list"].pop()), True),
    ],
)
def test_hook_changes_in_place_read_back_like_a_returned_copy(mutate, changes):
    overrides = SEOOverrides(schema_jsonld={"@type": "X", "list": [1, {"a": "b"}], "n": -3, "t": True})
    plain = build(overrides=overrides)
    in_place = build(cfg=config(hooks=Hook(mutate=mutate)), overrides=overrides)
    returned = build(cfg=config(hooks=reread(mutate)), overrides=overrides)
    assert in_place == returned and in_place.to_json() == returned.to_json() and in_place.hash() == returned.hash()
    assert (in_place.to_json() != plain.to_json()) is changes


@pytest.mark.parametrize(
    "mutate, changes",
    [
        (lambda d: None, False),
        (lambda d: d["og"]["locale_alternate"].append("it_IT"), True),
        (lambda d: d["og"]["locale_alternate"].reverse(), True),
        (lambda d: d["og"].update(description=d["description"]), False),  # the same text, shared or not
        (lambda d: d["og"].update(description=d["title"]), True),
    ],
)
def test_hook_changes_to_og_read_back_like_a_returned_copy(mutate, changes):
    cfg = dict(locale="en_US", locale_alternate=["de_DE", "fr_FR"])
    entity = post(excerpt="A description long enough not to be a short text")
    plain = build(entity, cfg=config(**cfg))
    in_place = build(entity, cfg=config(hooks=Hook(mutate=mutate), **cfg))
    returned = build(entity, cfg=config(hooks=reread(mutate), **cfg))
    assert in_place == returned and in_place.to_json() == returned.to_json()
    assert (in_place.to_json() != plain.to_json()) is changes


@pytest.mark.parametrize(
    "schema",
    [float("nan"), {"n": 2**64 - 1}, {"f": 0.5, "none": None}, [None], {"@type": "X", "deep": nested(120)}],
    ids=["nan-null", "beyond-int64", "float-and-none", "null-item", "deep"],
)
@pytest.mark.parametrize("hook", [lambda: Hook(), lambda: BadHook(lambda d: d)], ids=["none", "same-dict"])
def test_untouched_hook_dict_reads_back_like_a_returned_copy(schema, hook):
    # A document whose dict form is not its JSON (null, integers beyond 64
    # bits signed) still comes back as reading the dict gives it.
    overrides = SEOOverrides(schema_jsonld=schema)
    untouched = build(cfg=config(hooks=hook()), overrides=overrides)
    returned = build(cfg=config(hooks=reread()), overrides=overrides)
    assert untouched == returned and untouched.to_json() == returned.to_json()


def test_hook_sees_the_registry_document():
    cfg = config(schema_registry=Registry(document={"@type": "FromRegistry"}),
                 hooks=Hook(mutate=lambda d: d.update(description="Fixed by the hook")))
    hook = cfg.hooks
    payload = build(cfg=cfg)
    assert hook.calls[0][1]["schema_jsonld"] == {"@type": "FromRegistry"}
    assert payload.description == "Fixed by the hook"


class BadHook:
    def __init__(self, result):
        self.result = result

    def run(self, event, payload, entity, config):
        if isinstance(self.result, BaseException):
            raise self.result
        if callable(self.result):
            return self.result(payload)
        return self.result


@pytest.mark.parametrize(
    "result, error, message",
    [
        ([("title", "x")], TypeError, "post_process hooks must return a dict"),
        ("text", TypeError, "post_process hooks must return a dict"),
        (Boom("raised"), Boom, "raised"),
        (lambda d: {**d, "x": float("nan")}, ValueError, None),
        (lambda d: {**d, "x": {1, 2}}, TypeError, None),
        (lambda d: {**d, "x": nested(128)}, ValueError, None),
        (lambda d: {k: v for k, v in d.items() if k != "title"}, QuarloError, "missing field `title`"),
        (lambda d: {**d, "og": {"type": "x", "image_width": -1}}, QuarloError,
         "invalid value: integer `-1`, expected u32"),
    ],
    ids=["list", "str", "raises", "nan", "set", "deep", "missing-title", "bad-width"],
)
def test_hook_failures(result, error, message):
    entity, cfg = post(breadcrumbs=CRUMBS), config()
    hook = BadHook(result)
    cfg.hooks = hook
    before = (entity.to_dict(), cfg.to_dict())
    with pytest.raises(error) as info:
        build_seo_payload_dict(entity, "/x", cfg)
    if message is not None:
        assert str(info.value) == message
    if error is QuarloError:
        assert type(info.value) is QuarloError
    assert (entity.to_dict(), cfg.to_dict()) == before and cfg.hooks is hook


class PayloadDict(dict):
    """Not a plain dict: the hook result goes through json.dumps."""


@pytest.mark.parametrize(
    "make_hooks, ok",
    [
        (HookRegistry, True),
        (lambda: Hook(), True),
        (lambda: Hook(mutate=lambda d: d.update(schema_jsonld=[d["schema_jsonld"]])), False),
        (lambda: BadHook(PayloadDict), True),
        (lambda: BadHook(lambda d: PayloadDict(d, schema_jsonld=[d["schema_jsonld"]])), False),
    ],
    ids=["empty-registry", "no-change", "one-level-more", "through-json-dumps", "one-more-through-json-dumps"],
)
def test_hooks_hold_the_document_to_its_own_nesting_limit(make_hooks, ok):
    # The payload dict around the schema document is not counted: a document
    # of 127 levels survives any hook, one of 128 fails as it would alone.
    document = {"@type": "Thing", "deep": nested(126)}
    overrides = SEOOverrides(schema_jsonld=document)
    assert build(overrides=overrides).schema_jsonld == document
    cfg = config(hooks=make_hooks())
    if ok:
        assert build(cfg=cfg, overrides=overrides).schema_jsonld == document
    else:
        with pytest.raises(ValueError, match=r"^parse error at line 1, column \d+: nesting deeper than 127 arrays "
                                             r"and objects$"):
            build(cfg=cfg, overrides=overrides)


def test_hook_without_run():
    with pytest.raises(AttributeError):
        build(cfg=config(hooks=object()))


# --------------------------------------- objects that drop their own reference

class Mortal:
    """Records in `events` when it dies; `action` runs on each call."""

    def __init__(self, events, name, action):
        self.events, self.name, self.action = events, name, action

    def __del__(self):
        self.events.append(f"{self.name} died")


class DroppingRegistry(Mortal):
    def has(self, schema_type):
        self.events.append("has")
        self.action()
        gc.collect()
        return True

    def generate(self, schema_type, entity, config, *rest):
        self.events.append("generate")
        self.action()
        gc.collect()
        return {"@type": "Generated", "by": self.name}


class DroppingHook(Mortal):
    def run(self, event, payload, entity, config):
        self.events.append("run")
        self.action()
        gc.collect()
        payload["title"] = f"by {self.name}"


def test_registry_that_drops_the_last_reference_to_itself():
    events, cfg = [], config()

    def drop():
        cfg.schema_registry = None

    cfg.schema_registry = DroppingRegistry(events, "registry", drop)
    payload = build(cfg=cfg)
    gc.collect()
    assert events == ["has", "generate", "registry died"]
    assert payload.schema_jsonld == {"@type": "Generated", "by": "registry"}


def test_registry_replaced_between_has_and_generate():
    events, cfg = [], config()
    first_replaced = []

    def replace():
        if not first_replaced:
            first_replaced.append(True)
            cfg.schema_registry = DroppingRegistry(events, "second", lambda: None)

    cfg.schema_registry = DroppingRegistry(events, "first", replace)
    payload = build(cfg=cfg)
    # The pass keeps calling the object it started with.
    assert payload.schema_jsonld["by"] == "first"
    assert events == ["has", "generate", "first died"]
    del cfg
    gc.collect()
    assert events[-1] == "second died"


@pytest.mark.parametrize("replacement", [None, "other hook"])
def test_hook_that_drops_the_last_reference_to_itself(replacement):
    events, cfg = [], config()

    def drop():
        cfg.hooks = None if replacement is None else DroppingHook(events, replacement, lambda: None)

    cfg.hooks = DroppingHook(events, "hook", drop)
    payload = build(cfg=cfg)
    gc.collect()
    assert events == ["run", "hook died"]
    assert payload.title == "by hook"
    if replacement:
        assert build(cfg=cfg).title == "by other hook"


def test_hook_that_clears_the_registry_of_the_caller():
    events, cfg = [], config()

    def clear_both():
        cfg.schema_registry = None
        cfg.hooks = None

    cfg.schema_registry = DroppingRegistry(events, "registry", lambda: None)
    cfg.hooks = DroppingHook(events, "hook", clear_both)
    payload = build(cfg=cfg)
    gc.collect()
    assert events[:3] == ["has", "generate", "run"] and sorted(events[3:]) == ["hook died", "registry died"]
    assert payload.title == "by hook" and payload.schema_jsonld["@type"] == "Generated"


def test_objects_handed_to_python_outlive_the_call():
    kept = []

    class Keeper:
        def has(self, schema_type):
            return True

        def generate(self, *args):
            kept.append(args)

        def run(self, *args):
            kept.append(args)

    cfg = config(hooks=Keeper(), schema_registry=Keeper())
    build(cfg=cfg)
    del cfg
    gc.collect()
    (generate_args, run_args) = kept
    assert generate_args[0] == "Article" and generate_args[2].to_dict()["canonical_host"] == HOST
    assert run_args[0] == "post_process" and run_args[1]["title"] == "Hello"
    assert run_args[2].title == "Hello" and run_args[3].hooks is None


# ------------------------------------------------------------- warnings pass

def missing_description_and_image():
    return post(excerpt=None)


def test_warnings_are_emitted_per_finding():
    cfg = config(emit_warnings=True)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        payload = build(missing_description_and_image(), cfg=cfg)
    assert len(caught) == 2
    for warning in caught:
        assert warning.category is UserWarning
        text = str(warning.message)
        assert text.startswith("[QUARLO1") and text.endswith(f" ({payload.canonical})")
    assert [str(w.message)[:11] for w in caught] == ["[QUARLO103]", "[QUARLO108]"]


def test_no_warnings_without_the_flag_or_findings():
    image_and_text = post(excerpt="x" * 80, featured_image=IMG_ENTITY, title="A reasonable title for a page")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        build(missing_description_and_image())
        build(image_and_text, cfg=config(emit_warnings=True))
    assert [str(w.message) for w in caught] == []


def test_warnings_as_errors_stop_at_the_first():
    entity, cfg = missing_description_and_image(), config(emit_warnings=True)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("error")
        with pytest.raises(UserWarning, match=r"^\[QUARLO103\]"):
            build(entity, cfg=cfg)
    assert caught == []


def test_warnings_run_on_the_final_payload():
    cfg = config(emit_warnings=True, default_og_image=IMG_CONFIG,
                 hooks=Hook(mutate=lambda d: d.update(description="d" * 80)))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        build(missing_description_and_image(), cfg=cfg)
    assert caught == []


# ------------------------------------------------------------ reference leaks

def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


class PlainHook:
    def __init__(self, result):
        self.result = result

    def run(self, event, payload, entity, config):
        if self.result == "same dict":
            return payload
        if self.result == "mutate":
            payload["custom"] = [1, {"k": "v"}]
            return None
        return self.result


class PlainRegistry:
    def __init__(self, answer):
        self.answer = answer

    def has(self, schema_type):
        if self.answer is None:
            raise Boom("no")
        return self.answer

    def generate(self, schema_type, entity, config, canonical, title, description, image):
        return {"@type": schema_type, "name": title, "image": image, "n": [1, 2.5, None, True]}


def leak_paths():
    entity = post(excerpt="Ex", body_html="<p>Body</p>", status="published", featured_image=IMG_ENTITY,
                  breadcrumbs=CRUMBS)
    plain = config(title_template="{title} | S", site_name="S", locale_alternate=["de_DE"])

    def overrides():
        return SEOOverrides(
            meta_title="M", meta_description="D", canonical_url=None, canonical_path="/p?utm_source=x",
            robots=Robots(index=False), og_title="O", og_description="OD", og_image=IMG_OVR, twitter_card="summary",
            twitter_title="T", twitter_description="TD", twitter_image=TW_IMG,
            schema_jsonld={"@type": "Thing", "list": (1, 2.0, "x", None)}, omit_schema=False,
            skip_title_template=True, twitter_creator="@c", og_audio="a", og_video="v")

    fixed = overrides()
    bad_url = SEOOverrides(canonical_url="/relative")
    configs = {name: config(**kwargs) for name, kwargs in {
        "hook dict": {"hooks": PlainHook("same dict")},
        "hook none": {"hooks": PlainHook("mutate")},
        "hook list": {"hooks": PlainHook([1])},
        "hook missing": {"hooks": PlainHook(lambda d: d)},  # wrong type: a function
        "has true": {"schema_registry": PlainRegistry(True)},
        "has false": {"schema_registry": PlainRegistry(False)},
        "has raises": {"schema_registry": PlainRegistry(None)},
        "has int": {"schema_registry": PlainRegistry(1)},
        "both": {"schema_registry": PlainRegistry(True), "hooks": PlainHook("mutate")},
        "warnings": {"emit_warnings": True},
    }.items()}
    bad_base = config_with_bad_base()
    paths = [
        lambda: build_seo_payload(entity, "/a", plain),
        lambda: build_seo_payload(entity, "/a", plain, overrides()),
        lambda: build_seo_payload_with_overrides(entity, "/a", plain, fixed).render_html(),
        lambda: build_seo_payload_dict(post(), "/a", configs["hook dict"]),
        lambda: build_seo_payload(entity, "/a", configs["hook none"], fixed),
        lambda: build_seo_payload(entity, "/a", configs["hook list"]),
        lambda: build_seo_payload(entity, "/a", configs["hook missing"]),
        lambda: build_seo_payload(post(), "/a", configs["has true"]),
        lambda: build_seo_payload(post(), "/a", configs["has false"]),
        lambda: build_seo_payload(post(), "/a", configs["has raises"]),
        lambda: build_seo_payload(post(), "/a", configs["has int"]),
        lambda: build_seo_payload_dict(post(), "/a", configs["both"]),
        lambda: build_seo_payload(post(excerpt=None), "/a", configs["warnings"]),
        lambda: build_seo_payload(entity, "/a", plain, bad_url),
        lambda: build_seo_payload(entity, "/a", bad_base),
        lambda: build_seo_payload(entity, 5, plain),
        lambda: build_seo_payload_with_overrides(entity, "/a", plain, None),
        lambda: SEOOverrides(schema_jsonld=float("nan"), meta_title="x"),
        lambda: SEOOverrides(og_video="v", robots=5),
        lambda: build_seo_payload(entity, "/a", plain, SEOOverrides(schema_jsonld=[{"@type": "A"}], omit_schema=False)),
    ]
    watched = [entity, plain, fixed, bad_url, bad_base, *configs.values(),
               *(c.hooks for c in configs.values() if c.hooks), *(c.schema_registry for c in configs.values()
                                                                 if c.schema_registry),
               SEOPayload, SEOEntity, SEOConfig, SEOOverrides, IMG_OVR, TW_IMG, *CRUMBS]
    return paths, watched


def run_paths(paths, rounds):
    for _ in range(rounds):
        for path in paths:
            try:
                path()
            except (TypeError, ValueError, AttributeError, Boom):
                pass


# Under the sanitizers freed memory sits in a quarantine, so the resident size
# grows by design and every call is several times slower: fewer rounds, and
# only the reference counts and the interpreter's own allocations are judged.
SANITIZED = os.environ.get("QUARLO_SANITIZED") == "1"


def test_no_leaks_across_all_paths():
    paths, watched = leak_paths()
    total = 10_000 if SANITIZED else 100_000
    rounds = total // len(paths)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        run_paths(paths, rounds // 10)  # warm-up: caches, interned names, allocator pools
        gc.collect()
        refcounts = [sys.getrefcount(obj) for obj in watched]
        rss = resident_bytes()
        tracemalloc.start()
        try:
            traced = tracemalloc.get_traced_memory()[0]
            run_paths(paths, rounds // 10)
            gc.collect()
            traced_growth = tracemalloc.get_traced_memory()[0] - traced
        finally:
            tracemalloc.stop()
        run_paths(paths, rounds - 2 * (rounds // 10))
        gc.collect()
        rss_growth = resident_bytes() - rss
    assert [sys.getrefcount(obj) for obj in watched] == refcounts
    assert traced_growth < 64 * 1024
    if not SANITIZED:
        assert rss_growth < 4 * 1024 * 1024


# ------------------------------------------------------------ properties

ENTITY_TYPES = ["home", "post", "page", "video", "taxonomy", "search", "other", "product", "organization",
                "local_business", "faq"]
# Building blocks of hostile text: markup, entities, script and CDATA ends, control characters (CR and
# CR LF included; no NUL, which HTML cannot carry), astral characters and noncharacters.
TOKENS = ['"', "'", "<", ">", "&", "&amp;", "</script>", "</SCRIPT ", "<!--", "-->", "<script", "]]>",
          "</title>", "<\\/", "\\", "\t", "\n", "\r", "\r\n", "\x0b", "\x0c", "\x01", "\x1f", "\x7f", "\x85",
          "\u2028", "\u00a0", "\U0001F600", "\U00010000", "\ufffe", "\ufeff", " ", "{title}", "published"]
CHARS = st.characters(blacklist_categories=("Cs",), blacklist_characters="\x00")
TEXT = st.lists(st.one_of(st.sampled_from(TOKENS), CHARS), max_size=8).map("".join)
OPT_TEXT = st.none() | TEXT
U32 = st.none() | st.integers(0, 2**32 - 1)
I32 = st.none() | st.integers(-2**31, 2**31 - 1)
IMAGE = st.builds(SEOImage, TEXT, width=U32, height=U32, alt=OPT_TEXT)
ROBOTS = st.builds(Robots, index=st.booleans(), follow=st.booleans(), max_snippet=I32,
                   max_image_preview=OPT_TEXT, max_video_preview=I32)
# Integers stay within the signed 64-bit range: larger ones become floats on the way back to Python.
JSON_VALUES = st.recursive(
    st.none() | st.booleans() | st.integers(-2**63, 2**63 - 1) | st.floats(allow_nan=False) | TEXT,
    lambda inner: st.lists(inner, max_size=3) | st.dictionaries(TEXT, inner, max_size=3), max_leaves=8)
SCHEMA = st.none() | JSON_VALUES | st.just(float("nan")) | st.fixed_dictionaries(
    {"@type": st.sampled_from(["Article", "Thing"]) | TEXT}, optional={"name": TEXT, "list": JSON_VALUES})

ENTITIES = st.builds(
    SEOEntity, st.sampled_from(ENTITY_TYPES), slug=OPT_TEXT, title=OPT_TEXT, excerpt=OPT_TEXT,
    body_html=OPT_TEXT, status=st.none() | st.sampled_from(["published", "PUBLISHED", "draft"]) | TEXT,
    featured_image=st.none() | IMAGE, published_at=OPT_TEXT, updated_at=OPT_TEXT, author_name=OPT_TEXT,
    breadcrumbs=st.none() | st.lists(st.builds(Breadcrumb, TEXT, TEXT), max_size=3), sku=OPT_TEXT,
    price=OPT_TEXT, price_currency=OPT_TEXT, availability=OPT_TEXT,
    same_as=st.none() | st.lists(TEXT, max_size=2), address=OPT_TEXT,
    faq_items=st.none() | st.lists(st.builds(native.FAQItem, TEXT, TEXT), max_size=2))
CONFIG_KWARGS = st.fixed_dictionaries({}, optional={
    "default_robots": ROBOTS, "search_robots": ROBOTS, "default_og_image": IMAGE, "site_name": TEXT,
    "title_template": TEXT.map(lambda t: t + "{title}" + t[:2]), "auto_generate_schema": st.booleans(),
    "publisher_name": TEXT, "publisher_logo": TEXT, "locale": TEXT, "locale_alternate": st.lists(TEXT, max_size=2),
    "twitter_site": TEXT, "search_url_template": TEXT,
    "url_policy": st.builds(native.URLPolicy, trailing_slash=st.sampled_from(["always", "never", "preserve"]),
                            lowercase_paths=st.booleans(), enforce_https=st.booleans()),
})
OVERRIDE_KWARGS = st.fixed_dictionaries({}, optional={
    **{k: TEXT for k in TEXT_KEYWORDS if k != "canonical_url"},
    "canonical_url": TEXT | TEXT.map(lambda t: "https://e.com/?" + t),
    "robots": ROBOTS, "og_image": IMAGE, "twitter_image": IMAGE, "schema_jsonld": SCHEMA,
    "omit_schema": st.booleans(), "skip_title_template": st.booleans(),
})
ROUTES = st.sampled_from(["/", "/blog/hello", "https://example.com/a?utm_source=x&b=1"]) | TEXT


def make_config(kwargs, **extra):
    try:
        return config(**kwargs, **extra)
    except (ConfigurationError, ValueError):
        return None


class IdentityHook:
    def run(self, event, payload, entity, config):
        return payload


@settings(max_examples=100, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(entity=ENTITIES, route=ROUTES, config_kwargs=CONFIG_KWARGS, overrides_kwargs=OVERRIDE_KWARGS)
def test_builds_are_deterministic_and_survive_the_dict_form(entity, route, config_kwargs, overrides_kwargs):
    plain_config = make_config(config_kwargs)
    assume(plain_config is not None)
    overrides = SEOOverrides(**overrides_kwargs)
    try:
        first = build_seo_payload(entity, route, plain_config, overrides)
    except QuarloError:
        # Deterministic failures too.
        with pytest.raises(QuarloError):
            build_seo_payload(entity, route, plain_config, overrides)
        return
    second = build_seo_payload(entity, route, plain_config, overrides)
    assert first == second and first.hash() == second.hash() and first.etag() == second.etag()
    assert first.render_html() == second.render_html()

    hooked = build_seo_payload(entity, route, make_config(config_kwargs, hooks=IdentityHook()), overrides)
    expected = first.to_dict()
    if "schema_jsonld" in expected and expected["schema_jsonld"] is None:
        del expected["schema_jsonld"]  # a null document reads back as absent
        assert hooked.schema_jsonld is None and "schema_jsonld" not in hooked
    assert hooked == expected
    returned = build_seo_payload(entity, route, make_config(config_kwargs, hooks=reread()), overrides)
    assert hooked == returned and hooked.to_json() == returned.to_json()
    if "schema_jsonld" in first.to_dict() and first.schema_jsonld is not None:
        assert hooked == first and hooked.hash() == first.hash()


# ----------------------------------------------------------- markup safety

def parsed_head(html):
    document = html5lib.parse("<!DOCTYPE html><html><head>" + html + '<meta name="after" content="end"></head>'
                              "<body></body></html>", namespaceHTMLElements=False)
    return list(document.find("head"))


def expected_lines(payload):
    """(tag, attribute name, attribute value, content) in rendering order."""
    lines = [("title", None, None, payload.title)]
    if payload.description:
        lines.append(("meta", "name", "description", payload.description))
    lines += [("link", "rel", "canonical", payload.canonical), ("meta", "name", "robots", payload.robots)]
    og = payload.og
    for field in ["type", "title", "description", "url", "image", "image_width", "image_height", "image_alt",
                  "site_name", "locale"]:
        value = getattr(og, field)
        if value is not None:
            lines.append(("meta", "property", "og:" + field.replace("_", ":", 1 if field.startswith("image_")
                                                                     else 0), str(value)))
    lines += [("meta", "property", "og:locale:alternate", value) for value in og.locale_alternate or []]
    lines += [("meta", "property", "og:" + f, getattr(og, f)) for f in ("audio", "video") if getattr(og, f) is not None]
    tw = payload.twitter
    for field in ["card", "title", "description", "image", "image_alt", "site", "creator"]:
        value = getattr(tw, field)
        if value is not None:
            lines.append(("meta", "name", "twitter:" + field.replace("_", ":"), value))
    return lines


def read_line(element):
    if element.tag == "title":
        return ("title", None, None, element.text or "")
    if element.tag == "link":
        return ("link", "rel", element.get("rel"), element.get("href"))
    attribute = "property" if "property" in element.attrib else "name"
    return (element.tag, attribute, element.get(attribute), element.get("content"))


@settings(max_examples=75, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(text=st.lists(TEXT.filter(lambda t: t.strip()), min_size=25, max_size=25), width=U32,
       document=JSON_VALUES)
def test_rendered_head_reads_back_through_an_html_parser(text, width, document):
    t = iter(text)
    image = SEOImage("https://e.com/i.png?" + next(t), width=width, alt=next(t))
    cfg = config(site_name=next(t), locale=next(t), locale_alternate=[next(t), next(t)], twitter_site=next(t),
                 title_template=next(t) + "{title}")
    entity = post(title=next(t), breadcrumbs=[Breadcrumb(next(t), "/" + next(t))])
    overrides = SEOOverrides(
        meta_description=next(t), canonical_url="https://e.com/?" + next(t), og_title=next(t),
        og_description=next(t), og_image=image, twitter_title=next(t), twitter_description=next(t),
        twitter_image=SEOImage(next(t), alt=next(t)), twitter_card=next(t), twitter_creator=next(t),
        og_audio=next(t), og_video=next(t), robots=Robots(max_image_preview=next(t)),
        schema_jsonld={"@type": next(t), "value": document, "keys": {s: s for s in text[:3]}})
    payload = build_seo_payload(entity, "/", cfg, overrides)
    elements = parsed_head(payload.render_html())
    lines = expected_lines(payload)
    assert [read_line(e) for e in elements[:len(lines)]] == lines
    script, after = elements[len(lines):]
    assert script.tag == "script" and script.get("type") == "application/ld+json"
    assert json.loads(script.text) == payload.schema_jsonld
    assert (after.tag, after.get("name"), after.get("content")) == ("meta", "after", "end")


def test_carriage_returns_survive_the_html_parser():
    # A raw CR reaches every HTML parser as LF; written as a character
    # reference it stays a CR, in element text and in attribute values alike.
    text = "a\rb\r\nc"
    overrides = SEOOverrides(meta_description=text, og_title=text, twitter_title=text,
                             schema_jsonld={"@type": "Thing", "name": text})
    payload = build(post(title=text), overrides=overrides)
    html = payload.render_html()
    assert "&#13;" in html and "\\r" in payload.render_jsonld()
    assert "\r" not in html
    elements = parsed_head(html)
    lines = expected_lines(payload)
    assert [read_line(e) for e in elements[:len(lines)]] == lines
    assert [line[3] for line in lines].count(text) == 6  # title and description, each three times
    assert json.loads(elements[len(lines)].text)["name"] == text
