"""quarlo.web: the head with extra tags, the route of a request as sent, and
If-None-Match."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

import quarlo
from quarlo.web import Head, escape, head, if_none_match, route_from_asgi, route_from_wsgi

CONFIG = quarlo.SEOConfig("www.example.com", "https://www.example.com/shop", site_name="Shop")
ARTICLE = {"title": "A <post>", "published_at": "2026-01-02", "updated_at": "2026-02-03", "author_name": "Ann & Bo"}


def payload(entity_type="post", hook=None, **entity):
    config = CONFIG
    if hook is not None:
        hooks = quarlo.HookRegistry()
        hooks.register(hook)
        config = quarlo.SEOConfig("www.example.com", "https://www.example.com/shop", hooks=hooks)
    return quarlo.build_seo_payload(quarlo.SEOEntity(entity_type, **entity), "/p", config)


def set_schema(document):
    def hook(data, entity, config):
        data["schema_jsonld"] = document
    return hook


@pytest.mark.parametrize("built, alternates, meta, tail", [
    (payload(**ARTICLE), {"de": "/de/p?utm_source=x", "x-default": "https://example.org/p?a=1&b='2'"},
     [("name", "google-site-verification", 'a"b\r'), ("http-equiv", "refresh", "30")],
     '<link rel="alternate" hreflang="de" href="https://www.example.com/shop/de/p">\n'
     '<link rel="alternate" hreflang="x-default" href="https://example.org/p?a=1&amp;b=&#x27;2&#x27;">\n'
     '<meta property="article:published_time" content="2026-01-02">\n'
     '<meta property="article:modified_time" content="2026-02-03">\n'
     '<meta property="article:author" content="Ann &amp; Bo">\n'
     '<meta name="google-site-verification" content="a&quot;b&#13;">\n'
     '<meta http-equiv="refresh" content="30">\n'),
    # A page (og:type "website") has no article tags, whatever its schema says.
    (payload("page", **ARTICLE), None, [("property", "fb:app_id", "1")], '<meta property="fb:app_id" content="1">\n'),
    # The first document counts; several authors give several tags.
    (payload(hook=set_schema([{"author": [{"name": "A"}, {"url": "x"}, {"name": "B"}], "dateModified": "d"},
                              {"datePublished": "ignored"}])), None, (),
     '<meta property="article:modified_time" content="d">\n<meta property="article:author" content="A">\n'
     '<meta property="article:author" content="B">\n'),
    (payload(hook=set_schema({"author": "not an object", "datePublished": 2026})), {"pt-BR": "https://e.pt/"}, (),
     '<link rel="alternate" hreflang="pt-BR" href="https://e.pt/">\n'),
    (payload(), None, (), ""),
])
def test_head_appends_tags_to_the_payloads(built, alternates, meta, tail):
    result = head(built, CONFIG, alternates=alternates, meta=meta)
    assert type(result) is Head and result.__html__() == result
    assert result == built.render_html() + tail


@pytest.mark.parametrize("config, alternates, meta, error, message", [
    (CONFIG, {"en_US": "/p"}, (), ValueError, "'en_US' is not a language tag"),
    (CONFIG, {"en-": "/p"}, (), ValueError, "'en-' is not a language tag"),
    (CONFIG, {"de": "   "}, (), ValueError, r"alternates\['de'\]: cannot resolve the route '   ': invalid URL"),
    (None, {"de": "/de/p"}, (), ValueError, r"alternates\['de'\]: the route '/de/p' needs a config"),
    (CONFIG, {"de": "ftp://example.org/p"}, (), ValueError, "neither a route nor an absolute http"),
    (CONFIG, {"de": "https:///p"}, (), ValueError, "neither a route nor an absolute http"),
    (CONFIG, {"de": 5}, (), TypeError, r"alternates\['de'\] must be a str"),
    (CONFIG, {None: "/p"}, (), TypeError, "language tag must be a str"),
    (CONFIG, None, [("itemprop", "k", "v")], ValueError, "'name', 'property' or 'http-equiv'"),
    (CONFIG, None, [("name", "k")], TypeError, "triples"),
    (CONFIG, None, [("name", "k", None)], TypeError, "every item must be a str"),
])
def test_head_errors_name_the_entry(config, alternates, meta, error, message):
    with pytest.raises(error, match=message):
        head(payload(), config, alternates=alternates, meta=meta)


@pytest.mark.parametrize("tag", ["de", "zh-Hant-TW", "sr-Latn-RS", "es-419", "de-CH-1901", "x-default", "en-US-x-twain",
                                 "zh-yue-HK"])
def test_well_formed_language_tags(tag):
    assert f'hreflang="{tag}"' in head(payload(), CONFIG, alternates={tag: "/p"})


@given(st.text(st.characters(blacklist_categories=("Cs",), blacklist_characters="\r")))
def test_escaping_is_the_modules(text):
    overrides = quarlo.SEOOverrides(og_audio=text)
    built = quarlo.build_seo_payload(quarlo.SEOEntity("page"), "/p", CONFIG, overrides)
    assert f'<meta property="og:audio" content="{escape(text)}">' in built.render_opengraph()


@pytest.mark.parametrize("request_data, route", [
    # WSGI: the request target as sent, when the server passes it on.
    ({"REQUEST_URI": "/blog/caf%C3%A9?page=2&utm_source=x", "PATH_INFO": "/blog/caf\xc3\xa9"},
     "/blog/caf%C3%A9?page=2&utm_source=x"),
    ({"RAW_URI": "http://www.example.com:8080/a%20b?q"}, "/a%20b?q"),
    ({"REQUEST_URI": "https://www.example.com"}, "/"),
    # Otherwise the decoded path (ISO-8859-1 characters for its bytes) encoded again.
    ({"SCRIPT_NAME": "/shop", "PATH_INFO": "/blog/caf\xc3\xa9 100%", "QUERY_STRING": "page=2&q=%C3%A9"},
     "/shop/blog/caf%C3%A9%20100%25?page=2&q=%C3%A9"),
    ({"PATH_INFO": "/a;b=c/:@!$&'()*+,~"}, "/a;b=c/:@!$&'()*+,~"),
    ({}, "/"),
])
def test_route_from_wsgi(request_data, route):
    assert route_from_wsgi(request_data) == route


@pytest.mark.parametrize("scope, route", [
    ({"path": "/blog/café", "raw_path": b"/blog/caf%C3%A9", "query_string": b"page=2"}, "/blog/caf%C3%A9?page=2"),
    ({"path": "/blog/café 1", "raw_path": None, "query_string": b"q=\xc3\xa9 x"}, "/blog/caf%C3%A9%201?q=%C3%A9%20x"),
    ({"path": "/p", "raw_path": b"http://h/p"}, "/p"),
    ({"type": "http"}, "/"),
])
def test_route_from_asgi(scope, route):
    assert route_from_asgi(scope) == route


@pytest.mark.parametrize("spelling", ["/blog/caf%C3%A9?page=2&utm_source=x", "https://www.example.com/blog/café?page=2",
                                      "/shop/blog/caf%C3%A9?utm_medium=y&page=2"])
def test_spellings_of_one_url_give_one_canonical(spelling):
    wsgi = route_from_wsgi({"PATH_INFO": "/blog/caf\xc3\xa9", "QUERY_STRING": "page=2&utm_source=x"})
    assert quarlo.normalize_public_url_fn(spelling, CONFIG) == quarlo.normalize_public_url_fn(wsgi, CONFIG) == \
        "https://www.example.com/shop/blog/caf%C3%A9?page=2"


ETAG = '"0123abc"'


@pytest.mark.parametrize("header, matches", [
    ('"0123abc"', True),
    ('W/"0123abc"', True),
    ('"x", W/"0123abc"', True),
    ('  "x" ,\t"0123abc"  ', True),
    (',,"x",,"0123abc",', True),
    ("*", True),
    (" * ", True),
    (b'"0123abc"', True),
    ('"x"junk, "0123abc"', True),  # a malformed member is skipped
    ('"0123abc', False),
    ("0123abc", False),
    ('"0123ABC"', False),
    ('w/"0123abc"', False),
    ('"0123abc"x', False),
    ('"x", *', False),
    ('"0123 abc"', False),
    ('"x', False),
    ("", False),
    (None, False),
    (5, False),
    ('"\xff\x00"', False),
])
def test_if_none_match(header, matches):
    assert if_none_match(header, ETAG) is matches
    assert if_none_match(header, "W/" + ETAG) is matches


def test_if_none_match_needs_an_entity_tag():
    assert if_none_match('"abc"', "abc") is False and if_none_match("*", "abc") is False
