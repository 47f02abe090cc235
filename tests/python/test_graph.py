"""The linked JSON-LD graph hook (quarlo.jsonld.graph_hook) through real
payload builds: each entity type's graph expands with a JSON-LD processor and
links only to nodes of its own graph; one script element per page; the same
bytes whatever the run or key order; other hooks before or after it."""

import json
import os
import pathlib
import random
import subprocess
import sys

import pytest
from pyld import jsonld

try:
    import quarlo
    from quarlo.jsonld import graph_hook
except ImportError:  # not installed: the package's source beside the tests
    sys.path.append(str(pathlib.Path(__file__).resolve().parents[2] / "src"))
    import quarlo
    from quarlo.jsonld import graph_hook
from quarlo.hooks import HookRegistry

HOST, BASE = "www.example.com", "https://www.example.com"
ORG, SITE = BASE + "/#organization", BASE + "/#website"
SETTINGS = {"site_name": "Example Journal", "title_template": "{title} | Example Journal",
            "publisher_name": "Example Media", "publisher_logo": "/logo.png",
            "search_url_template": BASE + "/search?q={search_term_string}"}
CONTEXT = json.loads((pathlib.Path(__file__).parent / "data" / "schema_org_context.jsonld").read_text())


def load_document(url, options=None):
    """The schema.org context from the test data; nothing is fetched."""
    assert url.rstrip("/") == "https://schema.org", f"the graph made the processor load {url}"
    return {"contentType": "application/ld+json", "contextUrl": None, "documentUrl": url, "document": CONTEXT}


def build(kind="post", *hooks, route="/blog/hello", overrides=None, title="Hello", **settings):
    registry = HookRegistry()
    for hook in hooks:
        registry.register(hook)
    config = quarlo.SEOConfig(HOST, settings.pop("base", BASE), hooks=registry, **{**SETTINGS, **settings})
    entity = quarlo.SEOEntity(
        kind, title=title, excerpt="About it.", author_name="Ann", published_at="2024-05-01",
        featured_image=quarlo.SEOImage("/img/a.png"), sku="S-1", price="9.50", address="1 Main St",
        same_as=["https://social.example/ex"], faq_items=[quarlo.FAQItem("Why?", "Because.")],
        breadcrumbs=[quarlo.Breadcrumb("Home", "/"), quarlo.Breadcrumb("Blog", "/blog")])
    return quarlo.build_seo_payload(entity, route, config, overrides)


def nodes_of(graph):
    """The graph's nodes by @id, once it expands, its @ids are unique and
    every reference ({"@id": ...} alone) names one of them."""
    expanded = jsonld.expand(graph, {"documentLoader": load_document})
    ids = [node.pop("@id") for node in expanded]
    references = set(ids)

    def walk(value):
        if isinstance(value, dict) and list(value) == ["@id"]:
            references.add(value["@id"])
        for item in value.values() if isinstance(value, dict) else value if isinstance(value, list) else ():
            walk(item)

    walk(expanded)
    assert len(set(ids)) == len(graph["@graph"]) and references == set(ids)
    return {node["@id"]: node for node in graph["@graph"]}


@pytest.mark.parametrize("kind, schema_type, route", [(kind, schema_type, "/blog/hello") for kind, schema_type in [
    ("post", "Article"), ("page", "WebPage"), ("video", "VideoObject"), ("taxonomy", "CollectionPage"),
    ("search", "SearchResultsPage"), ("product", "Product"), ("organization", "Organization"),
    ("local_business", "LocalBusiness"), ("faq", "FAQPage"), ("other", None)]]
    + [("home", "WebSite", "/"), ("home", "WebSite", "/start")])
def test_each_entity_type_is_one_linked_graph(kind, schema_type, route):
    """A home page at the site URL is the site's WebSite node; elsewhere it is
    a page of its own and the site node takes its search action."""
    default = build(kind, route=route)["schema_jsonld"]
    *main_document, crumbs = default if schema_type else [default]
    payload = build(kind, graph_hook(), route=route)
    graph, canonical = payload["schema_jsonld"], payload["canonical"]
    nodes = nodes_of(graph)

    main = [] if schema_type is None or route == "/" else [f"{canonical}#{schema_type.lower()}"]
    assert list(graph) == ["@context", "@graph"] and graph["@context"] == "https://schema.org"
    assert list(nodes) == [ORG, SITE, *main, canonical + "#breadcrumb"]
    assert nodes[ORG] == {"@id": ORG, "@type": "Organization", "logo": BASE + "/logo.png",
                          "name": "Example Media", "url": BASE + "/"}
    assert json.dumps(graph).count('"Example Media"') == 1  # no inline copy left
    assert nodes[canonical + "#breadcrumb"]["itemListElement"] == crumbs["itemListElement"]
    assert nodes[SITE].get("potentialAction") == (main_document[0]["potentialAction"] if kind == "home" else None)
    if main:
        node, kept = nodes[main[0]], dict(main_document[0], mainEntityOfPage=canonical)
        assert (node["isPartOf"], node["publisher"], node["breadcrumb"], node.get("headline")) == (
            {"@id": SITE}, {"@id": ORG}, {"@id": canonical + "#breadcrumb"}, "Hello" if kind == "post" else None)
        for key in ("@context", "publisher", "potentialAction") + ("mainEntityOfPage",) * (kind != "post"):
            kept.pop(key, None)
        assert kept.items() <= node.items() and "potentialAction" not in node

    html = payload.render_html()
    assert html.count("<script") == 1
    assert json.loads(html.split('<script type="application/ld+json">\n')[1].split("\n</script>")[0]) == graph


@pytest.mark.parametrize("title, settings, hook, expected", [
    (" \u3000Hello\t", {}, graph_hook(), "Hello"),
    (" ".join(["word"] * 30), {}, graph_hook(), " ".join(["word"] * 22)),  # 109 of 149 characters
    ("a" * 110 + " bc", {}, graph_hook(), "a" * 110),
    ("\u00e9" * 111 + " bc", {}, graph_hook(), "\u00e9" * 110),  # one word over the limit: cut inside it
    ("\u8a9e" * 50 + ("\u3000" + "\u8a9e" * 50) * 2, {}, graph_hook(), "\u8a9e" * 50 + "\u3000" + "\u8a9e" * 50),
    (None, {}, graph_hook(), "Untitled"),  # taken from the title, without the template
    ("  ", {"title_template": "{title} \u2013 {title}", "meta_title": "Meta"}, graph_hook(), "Meta"),
    ("Hello", {"schema_type_map": [("post", "BlogPosting")]}, graph_hook(), "Hello"),
    ("Hello", {"schema_type_map": [("post", "WebPage")]}, graph_hook(), None),
    ("Hello", {}, graph_hook(headline=False), None),
])
def test_headline(title, settings, hook, expected):
    settings = dict(settings)
    overrides = quarlo.SEOOverrides(meta_title=settings.pop("meta_title", None))
    payload = build("post", hook, title=title, overrides=overrides, **settings)
    assert payload["schema_jsonld"]["@graph"][2].get("headline") == expected


@pytest.mark.parametrize("document, fragments", [
    ({"@context": "https://schema.org/", "@type": "Event", "name": "Fair"}, ["event"]),
    ([{"@type": "Event"}, {"@type": ["Event", "Festival"]}], ["event", "event-2"]),
    ({"@type": "Event", "@id": "https://tickets.example/fair", "publisher": {"@type": "Organization", "name": "X"}},
     None),
    ({"@context": {"@vocab": "https://vocab.example/"}, "@type": "Thing"}, ()),
    ([{"@type": "Event"}, "text"], ()),
    ({"name": "no type"}, ()),
    ({"@context": "https://schema.org", "@graph": [{"@type": "Event"}]}, ()),
])
def test_override_documents_linked_or_passed_through(document, fragments):
    overrides = quarlo.SEOOverrides(schema_jsonld=document)
    payload = build("post", graph_hook(), overrides=overrides)
    if fragments == ():
        assert payload["schema_jsonld"] == build("post", overrides=overrides)["schema_jsonld"]
        return
    canonical, nodes = payload["canonical"], nodes_of(payload["schema_jsonld"])
    own = [f"{canonical}#{fragment}" for fragment in fragments] if fragments else [document["@id"]]
    assert list(nodes) == [ORG, SITE, *own, canonical + "#breadcrumb"]
    assert all(nodes[node_id]["isPartOf"] == {"@id": SITE} for node_id in own)
    # The configured publisher by reference; someone else's stays.
    assert nodes[own[0]]["publisher"] == (document["publisher"] if fragments is None else {"@id": ORG})


@pytest.mark.parametrize("hook, settings, organization, website", [
    (graph_hook(), {"publisher_name": None}, None, SITE),
    (graph_hook(), {"base": "https://origin.example/blog/"}, BASE + "/blog#organization", BASE + "/blog#website"),
    (graph_hook(organization_id="https://corp.example/#org", website_id="#site"), {},
     "https://corp.example/#org", BASE + "/#site"),
    (graph_hook(), {"overrides": quarlo.SEOOverrides(canonical_url=BASE + "/a#top")}, ORG, SITE),
])
def test_site_nodes(hook, settings, organization, website):
    payload, (default, _) = build("post", hook, **settings), build("post", **settings)["schema_jsonld"]
    nodes = nodes_of(payload["schema_jsonld"])
    site, main = nodes[website], nodes[payload["canonical"].split("#")[0] + "#article"]
    link = None if organization is None else {"@id": organization}
    assert (site.get("publisher"), main.get("publisher"), main["isPartOf"]) == (link, link, {"@id": website})
    if organization is not None:
        assert nodes[organization]["logo"] == default["publisher"]["logo"]
        assert nodes[organization]["url"] == site["url"] == website.split("#")[0]


def shuffled(value, rng):
    if isinstance(value, dict):
        keys = rng.sample(list(value), len(value))
        return {key: shuffled(value[key], rng) for key in keys}
    return [shuffled(item, rng) for item in value] if isinstance(value, list) else value


def test_deterministic_across_key_orders_and_runs():
    texts = set()
    for seed in range(5):
        payload = shuffled(build("post").to_dict(), random.Random(seed))
        graph_hook()(payload, quarlo.SEOEntity("post", title="Hello"), quarlo.SEOConfig(HOST, BASE, **SETTINGS))
        texts.add(json.dumps(payload["schema_jsonld"]))
    (text,) = texts
    assert text == json.dumps(json.loads(text), sort_keys=True)

    here = pathlib.Path(__file__).parent
    code = "import test_graph as t; print(t.build('home', t.graph_hook()).etag())"
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([str(here), *sys.path])}
    etags = {subprocess.run([sys.executable, "-c", code], cwd=here, capture_output=True, text=True, check=True,
                            env={**env, "PYTHONHASHSEED": seed}).stdout.strip() for seed in ("1", "2")}
    assert etags == {build("home", graph_hook()).etag()}


def brand(payload, entity, config):
    return {**payload, "title": payload["title"] + " | Example Kitchen", "custom": 1}


@pytest.mark.parametrize("hooks", [(brand, graph_hook()), (graph_hook(), brand), (graph_hook(), brand, graph_hook())])
def test_composes_with_other_hooks(hooks):
    payload = build("post", *hooks)
    assert payload["title"] == "Hello | Example Journal | Example Kitchen" and payload["custom"] == 1
    assert payload["schema_jsonld"] == build("post", graph_hook())["schema_jsonld"]

