"""Configurations and entities from dicts and settings files, and back."""

import json

import pytest

import quarlo
from quarlo import (Breadcrumb, FAQItem, Robots, SEOConfig, SEOEntity, SEOImage, URLPolicy, config_from_dict,
                    config_from_file, entity_from_dict)

HOST, BASE = "www.example.com", "https://www.example.com/blog"
IMAGE = SEOImage("https://www.example.com/i.png", width=1200, height=630, alt="An image")

CONFIGS = [
    SEOConfig(HOST, BASE),
    SEOConfig(HOST, BASE, url_policy=URLPolicy(enforce_https=False, lowercase_paths=True, trailing_slash="preserve",
                                               collapse_duplicate_slashes=False, strip_tracking_params=False,
                                               allowed_query_params=["page"], extra_tracking_params=["ref"]),
              default_robots=Robots(index=False, follow=False, max_snippet=-1, max_image_preview="large",
                                    max_video_preview=30),
              default_og_image=IMAGE, site_name="Site", title_template="{title} | Site",
              search_robots=Robots(max_snippet=0), auto_generate_schema=False, publisher_name="Pub",
              publisher_logo="https://www.example.com/logo.png", locale="en_US", locale_alternate=["de_DE", ""],
              twitter_site="@site", emit_warnings=True, schema_type_map=[("post", "BlogPosting")],
              search_url_template="https://www.example.com/s?q={search_term_string}"),
    SEOConfig(HOST, BASE, url_policy=URLPolicy(trailing_slash="always"), schema_type_map=[],
              default_og_image=SEOImage(""), locale_alternate=[]),
]
ENTITIES = [
    SEOEntity("other"),
    SEOEntity("local_business", slug="s", title="T", excerpt="E", body_html="<p>B</p>", status="draft",
              featured_image=IMAGE, published_at="2026-01-01", updated_at="2026-01-02", author_name="A",
              breadcrumbs=[Breadcrumb("Home", "/"), Breadcrumb("", "")], sku="1", price="9.50", price_currency="EUR",
              availability="InStock", same_as=["https://e.org/x"], address="1 Road",
              faq_items=[FAQItem("Q?", "A.")]),
    SEOEntity("faq", breadcrumbs=[], faq_items=[], same_as=[], title=""),
]


@pytest.mark.parametrize("config", CONFIGS)
def test_config_round_trip(config):
    data = config.to_dict()
    assert config_from_dict(data).to_dict() == data
    assert config_from_dict(json.loads(json.dumps(data))).to_dict() == data


@pytest.mark.parametrize("entity", ENTITIES)
def test_entity_round_trip(entity):
    data = entity.to_dict()
    rebuilt = entity_from_dict(data)
    assert rebuilt.to_dict() == data and rebuilt.entity_type == entity.entity_type


TOML = """
canonical_host = "www.example.com"
public_base_url = "https://www.example.com/blog"
site_name = "Site"
title_template = "{title} | Site"
locale_alternate = ["de_DE"]

[url_policy]
trailing_slash = "always"
allowed_query_params = ["page"]

[default_og_image]
url = "https://www.example.com/i.png"
width = 1200

[search_robots]
index = false
follow = false

[schema_type_map]
post = "BlogPosting"
page = "WebPage"
"""
HAND_WRITTEN = SEOConfig(HOST, BASE, site_name="Site", title_template="{title} | Site", locale_alternate=["de_DE"],
                         url_policy=URLPolicy(trailing_slash="always", allowed_query_params=["page"]),
                         default_og_image=SEOImage("https://www.example.com/i.png", width=1200),
                         search_robots=Robots(index=False, follow=False),
                         schema_type_map=[("post", "BlogPosting"), ("page", "WebPage")])


@pytest.mark.parametrize("name, text", [
    ("seo.toml", TOML),
    ("seo.json", json.dumps({"canonical_host": HOST, "public_base_url": BASE, "site_name": "Site",
                             "title_template": "{title} | Site", "locale_alternate": ["de_DE"], "twitter_site": None,
                             "url_policy": {"trailing_slash": "Always", "allowed_query_params": ["page"]},
                             "default_og_image": {"url": "https://www.example.com/i.png", "width": 1200},
                             "search_robots": {"index": False, "follow": False},
                             "schema_type_map": [["post", "BlogPosting"], ["page", "WebPage"]]})),
])
def test_config_from_file(tmp_path, name, text):
    path = tmp_path / name
    path.write_text(text, encoding="utf-8")
    assert config_from_file(path).to_dict() == config_from_file(str(path)).to_dict() == HAND_WRITTEN.to_dict()


def test_hand_written_entity_and_registries():
    entity = entity_from_dict({"entity_type": "post", "title": "T", "featured_image": {"url": "u"},
                               "breadcrumbs": [{"name": "Home", "url": "/"}]})
    assert entity.to_dict() == SEOEntity("post", title="T", featured_image=SEOImage("u"),
                                         breadcrumbs=[Breadcrumb("Home", "/")]).to_dict()
    hooks, schemas = quarlo.HookRegistry(), quarlo.SchemaRegistry()
    config = config_from_dict({"canonical_host": HOST, "public_base_url": BASE, "hooks": hooks,
                               "schema_registry": schemas})
    assert config.hooks is hooks and config.schema_registry is schemas


MINIMAL = {"canonical_host": HOST, "public_base_url": BASE}


@pytest.mark.parametrize("data, message", [
    ({**MINIMAL, "default_og_image": {"url": "u", "width": "1200"}},
     "default_og_image.width: expected an int from 0 to 4294967295, got str '1200'"),
    ({**MINIMAL, "default_og_image": {"url": "u", "height": -1}}, "default_og_image.height: expected an int from 0"),
    ({**MINIMAL, "default_og_image": {"url": "u", "width": 1.5}}, "default_og_image.width: expected an int"),
    ({**MINIMAL, "default_og_image": {"width": 1}}, "default_og_image.url: missing"),
    ({**MINIMAL, "default_robots": {"index": "yes"}}, "default_robots.index: expected true or false, got str 'yes'"),
    ({**MINIMAL, "default_robots": {"max_snippet": 2**31}}, "default_robots.max_snippet: expected an int from"),
    ({**MINIMAL, "url_policy": {"trailing_slashes": "never"}}, "url_policy.trailing_slashes: unknown key"),
    ({**MINIMAL, "url_policy": {"trailing_slash": "NEVER"}},
     "url_policy.trailing_slash: expected one of 'always', 'never', 'preserve', got 'NEVER'"),
    ({**MINIMAL, "url_policy": {"allowed_query_params": "page"}}, "url_policy.allowed_query_params: expected a list"),
    ({**MINIMAL, "locale_alternate": ["de", 5]}, r"locale_alternate\[1\]: expected a str, got int 5"),
    ({**MINIMAL, "schema_type_map": {"post": 5}}, "schema_type_map.post: expected a str"),
    ({**MINIMAL, "schema_type_map": [["post"]]}, r"schema_type_map\[0\]: expected an \(entity type, schema type\)"),
    ({**MINIMAL, "site": "x"}, "^site: unknown key"),
    ({**MINIMAL, "url_policy": "strict"}, "url_policy: expected a table, got str 'strict'"),
    ({"canonical_host": HOST}, "public_base_url: missing"),
    ({**MINIMAL, "title_template": "no placeholder"}, "title_template must include '{title}' placeholder"),
    (["not", "a", "table"], "^expected a table, got list"),
])
def test_config_errors_name_the_path(data, message):
    with pytest.raises(quarlo.ConfigurationError, match=message):
        config_from_dict(data)


@pytest.mark.parametrize("data, message", [
    ({"entity_type": "post", "breadcrumbs": [{"name": "Home"}]}, r"breadcrumbs\[0\].url: missing"),
    ({"entity_type": "post", "breadcrumbs": [{"name": "Home", "url": "/", "id": 1}]}, r"breadcrumbs\[0\].id: unknown"),
    ({"entity_type": "post", "faq_items": {"question": "Q"}}, "faq_items: expected a list, got dict"),
    ({"entity_type": "post", "title": 5}, "title: expected a str, got int 5"),
    ({"entity_type": "Blog"}, "entity_type must be one of"),
    ({"title": "T"}, "entity_type: missing"),
])
def test_entity_errors_name_the_path(data, message):
    with pytest.raises(quarlo.EntityError, match=message):
        entity_from_dict(data)


@pytest.mark.parametrize("name, text, error, message", [
    ("seo.toml", "canonical_host = ", quarlo.ConfigurationError, "seo.toml: Invalid value"),
    ("seo.json", '{"canonical_host": "h", "public_base_url": "https://h", "locale": 1}', quarlo.ConfigurationError,
     "seo.json: locale: expected a str"),
    ("seo.yaml", "canonical_host: h", ValueError, "a configuration file is .toml or .json"),
])
def test_config_file_errors(tmp_path, name, text, error, message):
    path = tmp_path / name
    path.write_text(text, encoding="utf-8")
    with pytest.raises(error, match=message):
        config_from_file(path)
