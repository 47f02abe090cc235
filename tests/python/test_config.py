"""Configuration classes: URLPolicy and SEOConfig."""

import gc
import sys
import weakref

import pytest

from _quarlo_native import ConfigurationError, Robots, SEOConfig, SEOImage, URLPolicy

HAS_NOTES = sys.version_info >= (3, 11)
HOST, BASE = "example.com", "https://example.com"
DEFAULT_TYPES = {
    "faq": "FAQPage", "home": "WebSite", "local_business": "LocalBusiness", "organization": "Organization",
    "page": "WebPage", "post": "Article", "product": "Product", "search": "SearchResultsPage",
    "taxonomy": "CollectionPage", "video": "VideoObject",
}


def assert_note(exc, name):
    if HAS_NOTES:
        assert exc.__notes__ == [f"while processing '{name}'"]


@pytest.mark.parametrize("cls", [URLPolicy, SEOConfig])
def test_final(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_public_attributes():
    config = SEOConfig(HOST, BASE)
    assert {n for n in dir(config) if not n.startswith("_")} == {"hooks", "schema_registry", "to_dict"}
    with pytest.raises(AttributeError):
        config.canonical_host = "x"
    with pytest.raises(AttributeError):
        URLPolicy().trailing_slash = "always"


class TestURLPolicy:
    def test_defaults(self):
        policy = URLPolicy()
        assert (policy.enforce_https, policy.lowercase_paths, policy.trailing_slash,
                policy.collapse_duplicate_slashes, policy.strip_tracking_params) == (True, False, "never", True, True)
        assert policy.allowed_query_params == [] and policy.extra_tracking_params == []

    def test_values_kept_as_given(self):
        allowed = ["page", "q"]
        policy = URLPolicy(enforce_https=False, lowercase_paths=True, trailing_slash="Sometimes",
                           collapse_duplicate_slashes=False, strip_tracking_params=False,
                           allowed_query_params=allowed, extra_tracking_params=("ref",))
        assert policy.trailing_slash == "Sometimes"
        assert policy.allowed_query_params == allowed and policy.allowed_query_params is not allowed
        assert policy.extra_tracking_params == ["ref"]
        assert (policy.enforce_https, policy.lowercase_paths) == (False, True)

    @pytest.mark.parametrize("word, serialized", [("always", "Always"), ("never", "Never"), ("preserve", "Preserve")])
    def test_trailing_slash_in_config(self, word, serialized):
        config = SEOConfig(HOST, BASE, url_policy=URLPolicy(trailing_slash=word, lowercase_paths=True,
                                                            allowed_query_params=["page"]))
        policy = config.to_dict()["url_policy"]
        assert policy["trailing_slash"] == serialized
        assert policy["lowercase_paths"] is True and policy["allowed_query_params"] == ["page"]

    @pytest.mark.parametrize("word", ["Never", "never ", "", "sometimes"])
    def test_bad_word_fails_when_used(self, word):
        policy = URLPolicy(trailing_slash=word)
        with pytest.raises(ValueError) as info:
            SEOConfig(HOST, BASE, url_policy=policy)
        assert type(info.value) is ValueError
        assert str(info.value) == f"invalid trailing_slash: {word}"

    @pytest.mark.parametrize(
        "kwargs, name",
        [
            ({"enforce_https": 1}, "enforce_https"),
            ({"strip_tracking_params": None}, "strip_tracking_params"),
            ({"trailing_slash": None}, "trailing_slash"),
            ({"allowed_query_params": "utm_source"}, "allowed_query_params"),
            ({"extra_tracking_params": [b"x"]}, "extra_tracking_params"),
        ],
    )
    def test_argument_errors(self, kwargs, name):
        with pytest.raises(TypeError) as info:
            URLPolicy(**kwargs)
        assert_note(info.value, name)


class TestConstruction:
    def test_minimal_dict(self):
        data = SEOConfig(HOST, BASE).to_dict()
        assert data == {
            "auto_generate_schema": True, "canonical_host": HOST, "default_robots": {"follow": True, "index": True},
            "emit_warnings": False, "public_base_url": BASE, "schema_type_map": DEFAULT_TYPES,
            "search_robots": {"follow": True, "index": False}, "title_template": None,
            "url_policy": {"allowed_query_params": [], "collapse_duplicate_slashes": True, "enforce_https": True,
                           "extra_tracking_params": [], "lowercase_paths": False, "strip_tracking_params": True,
                           "trailing_slash": "Never"},
        }
        assert list(data) == sorted(data)

    def test_full_dict(self):
        config = SEOConfig(
            "example.com:8080", "https://example.com/blog", default_robots=Robots(max_snippet=-1),
            default_og_image=SEOImage("https://e.com/og.png", width=1200), site_name="Example",
            title_template="{title} | Example", search_robots=Robots(index=False, follow=False),
            auto_generate_schema=False, publisher_name="Pub", publisher_logo="https://e.com/logo.png",
            locale="en_US", locale_alternate=["fr_FR", "de_DE"], twitter_site="@ex", emit_warnings=True,
            search_url_template="https://e.com/?q={q}",
        )
        data = config.to_dict()
        assert data["default_robots"] == {"follow": True, "index": True, "max_snippet": -1}
        assert data["default_og_image"] == {"url": "https://e.com/og.png", "width": 1200}
        assert data["search_robots"] == {"follow": False, "index": False}
        assert data["locale_alternate"] == ["fr_FR", "de_DE"]
        assert (data["site_name"], data["title_template"], data["twitter_site"]) == ("Example", "{title} | Example", "@ex")
        assert (data["auto_generate_schema"], data["emit_warnings"]) == (False, True)
        assert data["search_url_template"] == "https://e.com/?q={q}"

    @pytest.mark.parametrize(
        "pairs, expected",
        [
            ([("post", "BlogPosting")], {"post": "BlogPosting"}),
            ([("post", "A"), ("faq", "F"), ("post", "B")], {"faq": "F", "post": "B"}),
            ([("z", "1"), ("a", "2"), ("m", "3"), ("a", "4"), ("z", "5"), ("a", "6")], {"a": "6", "m": "3", "z": "5"}),
            ((), {}),
            ((("custom", "Thing"),), {"custom": "Thing"}),
            # More keys than the module keeps shared key strings for.
            ([(f"t{i:05d}", f"T{i % 7}") for i in reversed(range(3000))],
             {f"t{i:05d}": f"T{i % 7}" for i in range(3000)}),
        ],
    )
    def test_schema_type_map_replaces_defaults(self, pairs, expected):
        # The last pair of a key wins; keys come back in order.
        got = SEOConfig(HOST, BASE, schema_type_map=pairs).to_dict()["schema_type_map"]
        assert list(got.items()) == list(expected.items())

    @pytest.mark.parametrize(
        "value",
        ["post", [["post", "Article"]], [("post",)], [("post", "Article", "x")], [("post", None)], {"post": "A"}],
    )
    def test_schema_type_map_errors(self, value):
        with pytest.raises(TypeError) as info:
            SEOConfig(HOST, BASE, schema_type_map=value)
        assert_note(info.value, "schema_type_map")

    @pytest.mark.parametrize(
        "host, base, template, message",
        [
            ("", "", None, "canonical_host must be a non-empty string"),
            ("https://example.com", BASE, None, "canonical_host must be host-only (no scheme/path/query)"),
            ("example.com/x", BASE, None, "canonical_host must be host-only (no scheme/path/query)"),
            ("example.com?q", BASE, None, "canonical_host must be host-only (no scheme/path/query)"),
            (HOST, "", None, "public_base_url must be a non-empty string"),
            (HOST, BASE, "", "title_template must include '{title}' placeholder"),
            (HOST, BASE, "{Title} | x", "title_template must include '{title}' placeholder"),
        ],
    )
    def test_validation(self, host, base, template, message):
        with pytest.raises(ConfigurationError) as info:
            SEOConfig(host, base, title_template=template)
        assert info.value.args == (message,)

    @pytest.mark.parametrize("host", ["example.com:8443", "   ", "Example Host"])
    def test_hosts_accepted(self, host):
        assert SEOConfig(host, "not a url").to_dict()["canonical_host"] == host

    @pytest.mark.parametrize(
        "kwargs, exc_type, name",
        [
            ({"emit_warnings": 1}, TypeError, "emit_warnings"),
            ({"auto_generate_schema": None}, TypeError, "auto_generate_schema"),
            ({"url_policy": "never"}, TypeError, "url_policy"),
            ({"default_robots": SEOImage("u")}, TypeError, "default_robots"),
            ({"default_og_image": Robots()}, TypeError, "default_og_image"),
            ({"locale_alternate": "en_GB"}, TypeError, "locale_alternate"),
            ({"site_name": "\ud800"}, UnicodeEncodeError, "site_name"),
        ],
    )
    def test_argument_errors(self, kwargs, exc_type, name):
        with pytest.raises(exc_type) as info:
            SEOConfig(HOST, BASE, **kwargs)
        assert_note(info.value, name)

    def test_argument_types_checked_before_policy_word(self):
        with pytest.raises(TypeError):
            SEOConfig(HOST, BASE, url_policy=URLPolicy(trailing_slash="bad"), emit_warnings=0)


class Registry:
    pass


class TestRegistries:
    @pytest.mark.parametrize("name", ["hooks", "schema_registry"])
    def test_set_get_clear(self, name):
        first, second = Registry(), Registry()
        config = SEOConfig(HOST, BASE, **{name: first})
        assert getattr(config, name) is first
        setattr(config, name, second)
        assert getattr(config, name) is second
        setattr(config, name, None)
        assert getattr(config, name) is None
        assert "hooks" not in config.to_dict() and "schema_registry" not in config.to_dict()

    @pytest.mark.parametrize("name", ["hooks", "schema_registry"])
    def test_delete_refused(self, name):
        config = SEOConfig(HOST, BASE, **{name: Registry()})
        with pytest.raises(AttributeError, match="^property has no deleter$"):
            delattr(config, name)
        assert getattr(config, name) is not None

    @pytest.mark.parametrize("name", ["hooks", "schema_registry"])
    def test_finaliser_of_old_value_reads_and_reassigns(self, name):
        config = SEOConfig(HOST, BASE)
        seen = []
        replacement = Registry()

        class Old:
            def __del__(self):
                seen.append(getattr(config, name))
                setattr(config, name, replacement)
                seen.append(getattr(config, name))

        setattr(config, name, Old())
        new = Registry()
        setattr(config, name, new)
        assert seen == [new, replacement]
        assert getattr(config, name) is replacement

    def test_cycle_is_collected(self):
        class Hooks:
            pass

        hooks = Hooks()
        config = SEOConfig(HOST, BASE, hooks=hooks)
        hooks.config = config
        alive = weakref.ref(hooks)
        del hooks, config
        gc.collect()
        assert alive() is None

    def test_any_object_is_stored(self):
        config = SEOConfig(HOST, BASE, hooks=42, schema_registry="registry")
        assert (config.hooks, config.schema_registry) == (42, "registry")


def test_no_reference_leaks():
    hooks, registry, robots, image = Registry(), Registry(), Robots(), SEOImage("u")
    pairs = [("post", "Article")]
    policy = URLPolicy(trailing_slash="always")
    watched = [hooks, registry, robots, image, pairs, policy]

    def run():
        config = SEOConfig(HOST, BASE, hooks=hooks, schema_registry=registry, default_robots=robots,
                           default_og_image=image, schema_type_map=pairs, url_policy=policy)
        config.hooks = registry
        config.to_dict()
        with pytest.raises(ConfigurationError):
            SEOConfig("", BASE, hooks=hooks, schema_registry=registry, default_robots=robots)
        with pytest.raises(ValueError):
            SEOConfig(HOST, BASE, hooks=hooks, url_policy=URLPolicy(trailing_slash="x"))
        with pytest.raises(TypeError):
            SEOConfig(HOST, BASE, hooks=hooks, schema_type_map=[("a", 1)])

    run()
    before = [sys.getrefcount(obj) for obj in watched]
    for _ in range(200):
        run()
    assert [sys.getrefcount(obj) for obj in watched] == before
