"""Payload classes: SEOPayload (a read-only mapping over the dict form), OGPayload, TwitterPayload.

Payloads are made by the test extension from their dictionary form in JSON
text, so every shape (extras, absent fields, deep schemas) can be reached.
"""

import copy
import hashlib
import inspect
import json
import sys

import pytest

import _quarlo_native as native
from _quarlo_native import OGPayload, SEOPayload, TwitterPayload
from parser_wording import shape_error
from leakcheck import traced_growth

HAS_NOTES = sys.version_info >= (3, 11)

OG_FULL = {
    "type": "article", "title": "OG title", "description": "OG description", "url": "https://e.com/p",
    "image": "https://e.com/i.png", "image_width": 1200, "image_height": 0, "image_alt": "Alt",
    "site_name": "Site", "locale": "en_US", "locale_alternate": ["de_DE", "fr_FR"],
    "audio": "https://e.com/a.mp3", "video": "https://e.com/v.mp4",
}
TWITTER_FULL = {
    "card": "summary_large_image", "title": "TW title", "description": "TW description",
    "image": "https://e.com/i.png", "image_alt": "Alt", "site": "@site", "creator": "@me",
}
SCHEMA = [{"@type": "Article", "name": "T", "b": [1, 2.5, None, True], "a": {"z": 1, "y": "\u00e9"}}]
BASE = {
    "title": "Hello \"world\"", "description": "", "canonical": "https://e.com/p",
    "robots": "index,follow", "og": {"type": "website", "url": "https://e.com/p"}, "twitter": {"card": "summary"},
}


def make(testing, data, wrap_schema=0):
    return testing.payload_from_json(json.dumps(data), wrap_schema)


def with_(**changes):
    data = copy.deepcopy(BASE)
    data.update(changes)
    return data


def utf8_sorted(keys):
    return sorted(keys, key=lambda k: k.encode())


@pytest.fixture
def full(testing):
    return make(testing, with_(og=OG_FULL, twitter=TWITTER_FULL, schema_jsonld=SCHEMA, zz_extra={"k": [1]},
                               A_extra=None, p_extra=2**40))


# ---------------------------------------------------------------- class surface

@pytest.mark.parametrize("cls", [SEOPayload, OGPayload, TwitterPayload])
def test_final_and_uninstantiable(cls):
    assert getattr(native, cls.__name__) is cls and cls.__module__ == "_quarlo_native"
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    with pytest.raises(TypeError):
        cls()
    with pytest.raises(TypeError):
        cls.__new__(cls)
    assert cls.__text_signature__ is None


def test_unhashable(full):
    assert SEOPayload.__hash__ is None
    with pytest.raises(TypeError):
        hash(full)
    with pytest.raises(TypeError):
        {full}


@pytest.mark.parametrize("attr", ["title", "og", "schema_jsonld", "other"])
def test_immutable(full, attr):
    for obj in (full, full.og, full.twitter):
        with pytest.raises(AttributeError):
            setattr(obj, attr, "x")
    with pytest.raises(TypeError):
        full["title"] = "x"
    with pytest.raises(TypeError):
        del full["title"]


# ------------------------------------------------------------------ dict view

@pytest.mark.parametrize(
    "data, keys",
    [
        (BASE, ["canonical", "description", "og", "robots", "title", "twitter"]),
        (with_(schema_jsonld=SCHEMA), ["canonical", "description", "og", "robots", "schema_jsonld", "title",
                                       "twitter"]),
        (with_(schema_jsonld=None), ["canonical", "description", "og", "robots", "title", "twitter"]),
        # Extras sit among the fields in byte-wise order: upper case first,
        # non-ASCII last, and between neighbouring field names.
        (with_(zz=1, Zed=2, ogx=3, o=4, schema=5, schema_jsonle=6, **{"\u00e9": 7, "": 8, "titlf": 9}),
         ["", "Zed", "canonical", "description", "o", "og", "ogx", "robots", "schema", "schema_jsonle", "title",
          "titlf", "twitter", "zz", "\u00e9"]),
    ],
    ids=["plain", "schema", "null-schema", "extras"],
)
def test_keys_len_iteration(testing, data, keys):
    payload = make(testing, data)
    assert payload.keys() == keys == utf8_sorted(keys)
    assert list(payload) == keys
    assert list(payload.to_dict()) == keys
    assert len(payload) == len(keys)
    assert all(key in payload for key in keys)
    assert payload.keys() is not payload.keys()


def test_iteration_is_a_snapshot(full):
    it = iter(full)
    keys = full.keys()
    keys.clear()
    assert list(it) == full.keys()


def test_dict_form(full):
    data = full.to_dict()
    assert data == {
        **BASE,
        "og": OG_FULL, "twitter": TWITTER_FULL, "schema_jsonld": SCHEMA,
        "zz_extra": {"k": [1]}, "A_extra": None, "p_extra": 2**40,
    }
    assert list(data["og"]) == sorted(OG_FULL)
    assert list(data["twitter"]) == sorted(TWITTER_FULL)
    assert list(data["schema_jsonld"][0]["a"]) == ["y", "z"]
    assert type(data["og"]["image_width"]) is int and type(data["schema_jsonld"][0]["b"][1]) is float
    assert data is not full.to_dict()


@pytest.mark.parametrize(
    "data",
    [
        BASE,
        with_(og=OG_FULL, twitter=TWITTER_FULL, schema_jsonld=SCHEMA),
        with_(og={"type": "t", "locale_alternate": []}, schema_jsonld={"b": {"d": 1, "c": [{}]}, "a": 1.5},
              zz=[{"y": 1, "x": 2}], A=None, og_x=True, **{"\u00e9": "x", "": {}}),
        # Escapes, structural characters in strings, non-ASCII keys and
        # values, every kind of number, empty and nested containers.
        with_(schema_jsonld={"s": "q\"b\\s\n\t\u0001</x> {,:[]}", "\u00e9\U0001F600": ["\u2028", -5, 2**63, 2**64 - 1,
              -2**63, 0.0, -0.0, 1e16, 1.5e-7, 5e-324], "e": [[], {}, [[{}]]], "t": [True, False, None]}),
        # A quote or a backslash at every offset of texts read a word at a
        # time; long texts repeated (and nearly repeated) across the form.
        with_(description="d" * 40, og={"type": "t", "description": "d" * 40, "title": "d" * 39 + "e"},
              schema_jsonld={"q": ["x" * i + c + "y" * (33 - i) for i in range(34) for c in "\"\\"],
                             "d": "d" * 40, "e": "e" + "d" * 39, "k" * 30: ["k" * 30, "k" * 31]}),
        # More short keys and values than the tables of short strings hold.
        with_(schema_jsonld={"v": [f"t{i}" for i in range(1500)] * 2, **{f"k{i}": f"t{i % 7}" for i in range(1500)}}),
        # Long texts alike in length and ends, a few repeated.
        with_(schema_jsonld=[f"{'a' * 40}{i % 1500:05}{'z' * 40}" for i in range(2000)]),
    ],
    ids=["plain", "full", "extras", "schema-texts", "scanned-and-repeated-texts", "many-short-texts",
         "alike-long-texts"],
)
def test_dict_form_equals_core_dict(testing, data):
    payload = make(testing, data)
    generic = testing.payload_dict_generic(payload)
    # Same keys in the same order at every depth, same values and types.
    assert json.dumps(payload.to_dict()) == json.dumps(generic)
    assert payload.to_dict() == generic


def test_dict_form_of_many_key_sets(testing):
    # More shapes of "og" and "twitter" than are kept between calls, twice
    # over; a changed dict leaves the next one as it was.
    optional = ["title", "description", "image", "image_alt", "site_name", "locale"]
    shapes = [[k for j, k in enumerate(optional) if mask >> j & 1] for mask in range(0, 64, 5)]
    payloads = [make(testing, with_(og={"type": "t", **{k: k for k in keys}},
                                    twitter={"card": "c", **{k: k for k in keys[:3]}}))
                for keys in shapes]
    for payload in payloads + payloads:
        form = payload.to_dict()
        assert json.dumps(form) == json.dumps(testing.payload_dict_generic(payload))
        form["og"]["x"] = form.pop("title")
    assert json.dumps(payloads[0].to_dict()) == json.dumps(testing.payload_dict_generic(payloads[0]))


def test_dict_form_matches_json_text(full):
    assert json.loads(full.to_json()) == full.to_dict()


@pytest.mark.parametrize("key", ["title", "description", "canonical", "robots", "og", "twitter",
                                 "schema_jsonld", "zz_extra", "A_extra", "p_extra"])
def test_item_access_matches_dict_view(full, key):
    view = full.to_dict()
    assert full[key] == view[key]
    assert full.get(key) == view[key]
    assert full.get(key, "default") == view[key]
    assert full.get(key=key, default=0) == view[key]
    assert key in full
    assert full[str(key)] == view[key]  # not the interned key object
    class Key(str):
        pass
    assert full[Key(key)] == view[key]


@pytest.mark.parametrize("key", ["og", "twitter", "schema_jsonld", "zz_extra"])
def test_item_values_are_new_objects(full, key):
    first = full[key]
    assert first is not full[key]
    first.clear()
    assert full[key] == full.to_dict()[key] != first


@pytest.mark.parametrize("key", ["missing", "Title", "title ", "", "schema_jsonld", "extra", "\ud800", "og.type"])
def test_absent_keys(testing, key):
    payload = make(testing, BASE)
    with pytest.raises(KeyError) as info:
        payload[key]
    assert info.value.args == (key,)
    assert payload.get(key) is None
    sentinel = object()
    assert payload.get(key, sentinel) is sentinel
    assert payload.get(key, default=sentinel) is sentinel
    assert key not in payload


@pytest.mark.parametrize("key", [0, None, b"title", ("title",), 1.5])
@pytest.mark.parametrize("op", ["getitem", "get", "contains"])
def test_keys_must_be_str(testing, key, op):
    payload = make(testing, BASE)
    with pytest.raises(TypeError) as info:
        if op == "getitem":
            payload[key]
        elif op == "get":
            payload.get(key, "default")
        else:
            key in payload  # noqa: B015
    name = "None" if key is None else type(key).__name__
    suffix = "is not" if key is None else "object is not"
    assert str(info.value) == f"'{name}' {suffix} an instance of 'str'"
    if HAS_NOTES:
        assert info.value.__notes__ == ["while processing 'key'"]


@pytest.mark.parametrize(
    "args, kwargs",
    [((), None), (("a", 1, 2), None), (("a",), {"key": "b"}), (("a",), {"fallback": 1}), ((), {"default": 1})],
)
def test_get_call_shape(testing, args, kwargs):
    payload = make(testing, BASE)
    with pytest.raises(TypeError) as info:
        payload.get(*args, **(kwargs or {}))
    assert str(info.value) == shape_error("get", inspect.signature(lambda key, default=None: 0), args, kwargs)


# ------------------------------------------------------------------- equality

def test_equal_to_own_dict(full):
    data = full.to_dict()
    assert full == data and data == full
    assert not (full != data) and not (data != full)
    data["og"]["type"] = "video"
    assert full != data and not (full == data)
    assert data != full


@pytest.mark.parametrize(
    "change",
    [
        lambda d: d.pop("twitter"),
        lambda d: d.update(extra=1),
        lambda d: d["og"].update(title=None),
        lambda d: d["schema_jsonld"][0].update(b=[1, 2.5, None, 1]),  # True == 1 in Python
        lambda d: d["og"].update(image_width=1200.0),
        lambda d: d.update(title=b"Hello"),
    ],
    ids=["missing-key", "added-key", "none-for-absent", "true-vs-1", "int-vs-float", "bytes"],
)
def test_dict_comparison_follows_python(full, change):
    data = full.to_dict()
    change(data)
    assert (full == data) == (full.to_dict() == data)
    assert (full != data) == (not (full.to_dict() == data))


def test_dict_subclass(full):
    class Snapshot(dict):
        pass

    class Never(dict):
        def __eq__(self, other):
            return False

        __hash__ = None

    assert full == Snapshot(full.to_dict())
    assert full != Never(full.to_dict()) and not (full == Never(full.to_dict()))


@pytest.mark.parametrize("other", [None, "payload", [], 0, object(), {"title"}, (), b""])
def test_other_types_are_unequal(full, other):
    assert (full == other) is False
    assert (full != other) is True


def test_payload_equality(testing, full):
    data = with_(og=OG_FULL, twitter=TWITTER_FULL, schema_jsonld=SCHEMA, zz_extra={"k": [1]},
                 A_extra=None, p_extra=2**40)
    same = make(testing, data)
    assert full == same and not (full != same) and full is not same
    assert full.hash() == same.hash()
    other = make(testing, {**data, "p_extra": 2**40 + 1})
    assert full != other and full.hash() != other.hash()


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_ordering_raises(full, op):
    for other in (full, full.to_dict(), 1):
        with pytest.raises(TypeError):
            eval(f"a {op} b", {"a": full, "b": other})


# ----------------------------------------------------------------- properties

def test_text_properties(full):
    assert (full.title, full.description, full.canonical, full.robots) == (
        BASE["title"], "", "https://e.com/p", "index,follow")


def test_schema_property(testing, full):
    assert full.schema_jsonld == SCHEMA
    assert full.schema_jsonld is not full.schema_jsonld
    assert make(testing, BASE).schema_jsonld is None
    assert make(testing, with_(schema_jsonld="text")).schema_jsonld == "text"


@pytest.mark.parametrize("wrap, converts", [(127, True), (128, True), (129, False)])
def test_deep_schema(testing, wrap, converts):
    # The schema {} inside `wrap` arrays: the object sits at depth `wrap`.
    payload = make(testing, with_(schema_jsonld={}), wrap_schema=wrap)
    value = payload.schema_jsonld
    if converts:
        for _ in range(wrap):
            (value,) = value
        assert value == {}
        assert payload.to_dict()["schema_jsonld"] == payload["schema_jsonld"]
    else:
        assert value is None
        for read in (payload.to_dict, lambda: payload["schema_jsonld"], lambda: payload == {}):
            with pytest.raises(ValueError, match=r"^JSON structure too deeply nested \(max 128 levels\)$"):
                read()
        assert payload.keys()[4] == "schema_jsonld" and len(payload) == 7 and "schema_jsonld" in payload


def test_og_and_twitter_properties(full):
    og, twitter = full.og, full.twitter
    # (the test extension has its own copies of the classes)
    assert type(og).__name__ == "OGPayload" and type(twitter).__name__ == "TwitterPayload"
    assert og is not full.og and twitter is not full.twitter
    for name, value in OG_FULL.items():
        assert getattr(og, name) == value
    for name, value in TWITTER_FULL.items():
        assert getattr(twitter, name) == value
    assert og.locale_alternate is not og.locale_alternate
    assert list(og.to_dict()) == list(OG_FULL) and og.to_dict() == OG_FULL
    assert list(twitter.to_dict()) == list(TWITTER_FULL) and twitter.to_dict() == TWITTER_FULL
    # The dict view orders its members byte-wise instead.
    assert list(full["og"]) == sorted(OG_FULL) and list(full.to_dict()["twitter"]) == sorted(TWITTER_FULL)


@pytest.mark.parametrize(
    "og, expected",
    [
        ({"type": "website"}, {"type": "website"}),
        ({"type": "", "locale_alternate": [], "title": "", "image_height": 0},
         {"type": "", "title": "", "image_height": 0, "locale_alternate": []}),
        ({"url": "u", "type": "t", "video": "v", "image": None}, {"type": "t", "url": "u", "video": "v"}),
    ],
)
def test_og_absent_fields(testing, og, expected):
    payload = make(testing, with_(og=og))
    assert list(payload.og.to_dict()) == list(expected) and payload.og.to_dict() == expected
    assert payload["og"] == expected
    for name in OG_FULL:
        assert getattr(payload.og, name) == expected.get(name)


def test_twitter_absent_fields(testing):
    payload = make(testing, with_(twitter={"creator": "@c", "card": "summary", "unknown": 1}))
    assert list(payload.twitter.to_dict()) == ["card", "creator"]
    assert payload.twitter.image is None and payload.twitter.site is None
    assert payload["twitter"] == {"card": "summary", "creator": "@c"}


# ---------------------------------------------------------------------- texts

def compact_text(payload):
    return json.dumps(json.loads(payload.to_json()), separators=(",", ":"), ensure_ascii=False)


@pytest.mark.parametrize("data", [BASE, with_(schema_jsonld=SCHEMA, x={"b": 1, "a": 2.0}, title="Caf\u00e9\t\x01")])
def test_hash_etag_json(testing, data):
    payload = make(testing, data)
    text = payload.to_json()
    assert text.startswith('{\n  "title": ') and not text.endswith("\n")
    assert list(json.loads(text))[:6] == ["title", "description", "canonical", "robots", "og", "twitter"]
    digest = payload.hash()
    assert digest == hashlib.sha256(compact_text(payload).encode()).hexdigest()
    assert payload.etag() == f'"{digest}"'


def test_renderings(full):
    html = full.render_html()
    for part in (full.render_opengraph(), full.render_twitter(), full.render_jsonld()):
        assert isinstance(part, str) and part and part in html
    assert "<title>Hello &quot;world&quot;</title>" in html
    assert 'property="og:type" content="article"' in full.render_opengraph()


# ------------------------------------------------------------ module payloads

def test_built_payload():
    entity = native.SEOEntity("post", title="Hello", excerpt="Intro",
                              breadcrumbs=[native.Breadcrumb("Home", "https://e.com/")])
    config = native.SEOConfig("e.com", "https://e.com", site_name="E")
    payload = native.build_seo_payload(entity, "/blog/hello", config)
    assert type(payload) is SEOPayload and type(payload.og) is OGPayload
    again = native.build_seo_payload(entity, "/blog/hello", config)
    assert payload == again and payload.hash() == again.hash()
    assert payload == payload.to_dict() == json.loads(payload.to_json())
    assert payload.keys() == list(payload.to_dict())


# ------------------------------------------------------------- reference leaks

def test_no_leaks(full):
    def run():
        for _ in range(2000):
            full.to_dict(), full["og"], full["zz_extra"], full.get("nope", 1), full.keys(), list(full)
            full.og.to_dict(), full.twitter.to_dict(), full.schema_jsonld, full.hash(), full.render_html()
            full == full.to_dict(), full != full, "title" in full
            try:
                full["missing"]
            except KeyError:
                pass
            try:
                full[0]
            except TypeError:
                pass

    assert traced_growth(run) < 64 * 1024
