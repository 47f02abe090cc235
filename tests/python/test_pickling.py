"""Every class of the module pickles (every protocol), copies and deep-copies
to an equal object, once quarlo is imported."""

import concurrent.futures
import copy
import multiprocessing
import pickle

import pytest

import _quarlo_native as native
import quarlo
from quarlo import (Breadcrumb, FAQItem, Robots, SEOAuthor, SEOConfig, SEOContractConfig, SEOContractRule,
                    SEOEntity, SEOExpectation, SEOImage, SEOOverrides, URLPolicy)

HOST = "www.example.com"
IMAGE = SEOImage("https://www.example.com/i.png", width=1200, height=630, alt="An image")
CONFIG = SEOConfig(HOST, "https://www.example.com/shop", site_name="Shop", title_template="{title} | Shop",
                   default_og_image=IMAGE, locale="en_US", locale_alternate=["de_DE"], twitter_site="@shop",
                   url_policy=URLPolicy(lowercase_paths=True, trailing_slash="always", extra_tracking_params=["ref"]),
                   default_robots=Robots(max_snippet=-1), publisher_name="Shop Ltd")
ENTITY = SEOEntity("post", title="Hello, World", excerpt="The first post.", body_html="<p>Body</p>",
                   featured_image=SEOImage("https://www.example.com/hello.png", alt="Hello"),
                   published_at="2026-01-02", author_name="Ann", breadcrumbs=[Breadcrumb("Blog", "/blog")])


def payloads():
    hooks = quarlo.HookRegistry()
    hooks.register(lambda data, entity, config: {**data, "x_big": [2**63, -0.0, 1e16, "</script>"], "og": {
        **data["og"], "type": "music.song", "locale_alternate": []}})
    with_extras = SEOConfig(HOST, "https://www.example.com", hooks=hooks)
    return [quarlo.build_seo_payload(ENTITY, "/blog/hello?utm_source=x&page=2", CONFIG),
            quarlo.build_seo_payload(SEOEntity("other"), "/", SEOConfig(HOST, "https://www.example.com")),
            quarlo.build_seo_payload(ENTITY, "/p", with_extras)]


def contract_config():
    expectation = SEOExpectation(required=True, min_length=2**64 - 1, one_of=["a", "b"], canonical="self",
                                 schema_required=True, schema_types=["Article"], og_required=False,
                                 hreflang_required=True, title=SEOExpectation(max_length=60,
                                                                              description=SEOExpectation()))
    return SEOContractConfig(HOST, scheme="http", defaults=expectation,
                             rules=[SEOContractRule("/blog/*", SEOExpectation(indexable=True), severity="WARNING"),
                                    SEOContractRule("/a", SEOExpectation(), severity="info"),
                                    SEOContractRule("/b", SEOExpectation(forbidden=False))],
                             exceptions=[("/b", SEOExpectation(equals="x")), ("/a", SEOExpectation(contains="y"))])


def contract_json(value):
    """The JSON of a contract built with an expectation, rule or configuration."""
    if isinstance(value, SEOExpectation):
        value = SEOContractConfig(HOST, defaults=value)
    elif isinstance(value, SEOContractRule):
        value = SEOContractConfig(HOST, rules=[value])
    return quarlo.build_seo_contract(value).to_json()


CONTEXTS = [  # (entity, route, config) under which overrides are compared
    (ENTITY, "/blog/Hello?utm_source=x&page=2", CONFIG),
    (SEOEntity("search", status="draft"), "/search?q=1", SEOConfig(HOST, "https://www.example.com")),
    (SEOEntity("video", title="V", breadcrumbs=[]), "https://other.example/v/",
     SEOConfig(HOST, "http://www.example.com", auto_generate_schema=False,
               url_policy=URLPolicy(enforce_https=False, trailing_slash="preserve"))),
]


def builds(overrides):
    """What the overrides do: the payload (or the error) of each context."""
    results = []
    for entity, route, config in CONTEXTS:
        try:
            results.append(quarlo.build_seo_payload(entity, route, config, overrides).to_json())
        except quarlo.QuarloError as error:
            results.append((type(error), str(error)))
    return results


def fingerprint(value):
    """Everything the public surface shows of an object."""
    if isinstance(value, quarlo.SEOPayload):
        return value.to_json(), value.etag(), value.render_html(), value.to_dict()
    if isinstance(value, (SEOConfig, SEOEntity, SEOImage, quarlo.OGPayload, quarlo.TwitterPayload)):
        return value.to_dict()
    if isinstance(value, quarlo.SEOContract):
        return value.to_json(), value.hash(), value.to_dict(), value.site, value.contract_version
    if isinstance(value, (SEOExpectation, SEOContractRule, SEOContractConfig)):
        return contract_json(value), [getattr(value, name, None) for name in ("required", "indexable", "canonical",
                                                                               "match", "severity")]
    if isinstance(value, SEOOverrides):
        return builds(value)
    if isinstance(value, quarlo.SEOIssue):
        return value.rule_id, value.severity, value.message, value.url, value.details
    if isinstance(value, Robots):
        return value.serialize(), value.index, value.follow, value.max_snippet, value.max_image_preview, \
            value.max_video_preview
    if isinstance(value, native.SchemaRegistry):
        return value.list_types()
    return [getattr(value, name) for name in dir(value) if not name.startswith("_")]


def long_issue_payload():
    hooks = quarlo.HookRegistry()
    hooks.register(lambda data, entity, config: {**data, "title": "é" * 70, "description": "d" * 161,
                                                 "canonical": "/rel", "robots": "index, bogus:1 ,,",
                                                 "og": {"type": "website", "image": "img.png"}})
    return quarlo.build_seo_payload(ENTITY, "/p", SEOConfig(HOST, "https://www.example.com", hooks=hooks))


OBJECTS = [
    Breadcrumb("Home", "/"), FAQItem("Why?", "Because."), SEOAuthor("Ann"), SEOAuthor("Ann", url="https://a.example"),
    Robots(), Robots(index=False, follow=False, max_snippet=-1, max_image_preview="a,b", max_video_preview=2**31 - 1),
    URLPolicy(), URLPolicy(trailing_slash="Bogus", allowed_query_params=["page"], extra_tracking_params=["ref"]),
    SEOImage("u"), IMAGE, CONFIG, SEOConfig(HOST, "https://www.example.com", schema_type_map=[]),
    SEOEntity("other"), ENTITY,
    *payloads(), *(payload.og for payload in payloads()), *(payload.twitter for payload in payloads()),
    *quarlo.validate_payload(payloads()[1]), *quarlo.validate_payload(long_issue_payload()),
    SEOExpectation(), contract_config(), SEOContractRule("/x", SEOExpectation(matches="^a"), severity="Warn"),
    quarlo.build_seo_contract(contract_config()), quarlo.build_seo_contract(SEOContractConfig("")),
    native.SchemaRegistry(),
    SEOOverrides(),
    SEOOverrides(meta_title=" Title ", meta_description="Description", canonical_path="/a//B/?utm_source=x&&q=1#f",
                 robots=Robots(index=False, max_image_preview="a,max-video-preview:5"), og_title="OG",
                 og_description="OG description", og_image=IMAGE, twitter_card=" summary ", twitter_title="TT",
                 twitter_description="TD", twitter_image=SEOImage("https://t.example/t.png", width=1),
                 schema_jsonld={"@type": "Thing", "n": [1, 2.5, None]}, twitter_creator="@ann", og_audio="",
                 og_video="https://v.example/v"),
    SEOOverrides(meta_title="Same", og_title="Same", twitter_title="Same", skip_title_template=True,
                 og_image=IMAGE, twitter_image=SEOImage(IMAGE.url, alt="An image"), twitter_card="summary_large_image"),
    SEOOverrides(meta_title="   ", twitter_card=" ", og_description="   ", canonical_url="  https://Other.example/X?utm_source=y "),
    SEOOverrides(canonical_path="https://other.example/x y?utm_source=z", og_image=SEOImage(""),
                 twitter_image=SEOImage(IMAGE.url)),
    SEOOverrides(omit_schema=True, schema_jsonld={"@type": "Ignored"}),
    *(SEOOverrides(schema_jsonld=value) for value in ([], [[1, 2]], [1, 2], [{"@type": "A"}], float("nan"), [None],
                                                      0, False, "text", 2**63)),
]
WAYS = {**{f"pickle protocol {protocol}": (lambda value, protocol=protocol: pickle.loads(pickle.dumps(value, protocol)))
           for protocol in range(pickle.HIGHEST_PROTOCOL + 1)}, "copy": copy.copy, "deepcopy": copy.deepcopy}


@pytest.mark.parametrize("way", WAYS.values(), ids=WAYS.keys())
@pytest.mark.parametrize("value", OBJECTS, ids=lambda value: type(value).__name__)
def test_round_trip(value, way):
    result = way(value)
    assert type(result) is type(value) and result is not value
    assert fingerprint(result) == fingerprint(value)


def test_every_class_is_covered():
    classes = {getattr(native, name) for name in native.__all__}
    assert {type(value) for value in OBJECTS} == {cls for cls in classes
                                                  if isinstance(cls, type) and not issubclass(cls, Exception)}


def hook(data, entity, config):
    data["title"] += " | Hooked"


def generator(entity, config, canonical, title, description, image):
    return {"@type": "Article", "url": canonical}


def test_registries_travel_with_the_configuration():
    hooks, schemas = quarlo.HookRegistry(), quarlo.SchemaRegistry()
    hooks.register(hook)
    schemas.register("Article", generator)
    config = SEOConfig(HOST, "https://www.example.com", hooks=hooks, schema_registry=schemas)
    loaded = pickle.loads(pickle.dumps(config))
    assert loaded.hooks._hooks == {"post_process": [hook]} and loaded.schema_registry.list_types() == ["Article"]
    assert copy.copy(config).hooks is hooks
    deep = copy.deepcopy(config)
    assert deep.hooks is not hooks and deep.hooks._hooks == hooks._hooks


@pytest.mark.parametrize("field", ["hooks", "schema_registry"])
def test_unpicklable_registries_are_named(field):
    config = SEOConfig(HOST, "https://www.example.com", **{field: quarlo.HookRegistry()})
    getattr(config, field).register(lambda data, entity, config: None)
    with pytest.raises(pickle.PicklingError, match=f"cannot pickle the SEOConfig's {field} "
                                                   r"\(HookRegistry object\)"):
        pickle.dumps(config)
    assert getattr(copy.deepcopy(config), field)._hooks["post_process"][0] is \
        getattr(config, field)._hooks["post_process"][0]


@pytest.mark.parametrize("value, message", [
    (SEOOverrides(canonical_url="/relative"), "SEOOverrides that fail every build: canonical_url override"),
    (SEOOverrides(canonical_path=" "), "SEOOverrides that fail every build: url_or_path"),
    (quarlo.build_seo_payload(SEOEntity("other"), "/", CONFIG, SEOOverrides(schema_jsonld=float("inf"))),
     "schema_jsonld is JSON null"),
])
def test_objects_that_cannot_be_rebuilt(value, message):
    with pytest.raises(pickle.PicklingError, match=message):
        pickle.dumps(value)


def build(entity, route, config, overrides):
    return quarlo.build_seo_payload(entity, route, config, overrides)


def test_payload_built_in_a_worker_process():
    overrides = SEOOverrides(og_title="From the worker")
    hooks = quarlo.HookRegistry()
    hooks.register(hook)
    config = SEOConfig(HOST, "https://www.example.com/shop", title_template="{title} | Shop", hooks=hooks)
    with concurrent.futures.ProcessPoolExecutor(1, mp_context=multiprocessing.get_context("spawn")) as pool:
        remote = pool.submit(build, ENTITY, "/blog/hello?utm_source=x", config, overrides).result(timeout=60)
    local = build(ENTITY, "/blog/hello?utm_source=x", config, overrides)
    assert remote == local and remote.etag() == local.etag() and remote.title == "Hello, World | Shop | Hooked"
