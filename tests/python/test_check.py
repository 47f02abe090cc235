"""The contract checker: contract reading, route patterns, the merge of
expectations, every expectation field against real HTML files, payload
records, a site served on 127.0.0.1, the command line and its reports, and
the pytest plugin."""

import importlib.metadata
import json
import os
import pathlib
import subprocess
import sys
import threading
import time
import xml.etree.ElementTree as ElementTree
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import pytest

pytest.importorskip("html5lib")

import quarlo
from quarlo.__main__ import main
from quarlo.check import (DirectorySource, JsonLinesSource, Location, SiteSource, check, compile_pattern,
                          load_contract, parse_head, route_key)

DATA = pathlib.Path(__file__).parent / "data"
HOST = "www.example.com"

BASE_HEAD = """<title>Hello world</title>
<meta name="description" content="A description of the page.">
<link rel="canonical" href="https://www.example.com/blog/hello/">
<meta name="robots" content="index,follow">
<meta property="og:title" content="t"><meta property="og:type" content="article">
<meta property="og:image" content="https://www.example.com/i.png"><meta property="og:url" content="u">
<meta name="twitter:card" content="summary">
<link rel="alternate" hreflang="de" href="https://www.example.com/de/blog/hello/">
<script type="application/ld+json">
{"@context": "https://schema.org", "@graph": [{"@type": "WebSite"}, {"@type": ["BlogPosting", "Article"]}]}
</script>"""


def html(head):
    return f"<!DOCTYPE html><html lang=en><head>{head}</head><body><main><p>Text</p></main></body></html>"


def sitemap_xml(*urls):
    locs = "".join(f"<url><loc>{url}</loc></url>" for url in urls)
    return f'<?xml version="1.0"?><urlset xmlns="http://www.sitemaps.org/schemas/sitemap/0.9">{locs}</urlset>'


def contract_text(defaults=None, rules=(), exceptions=None, scheme="https"):
    return json.dumps({"contract_version": "1", "generator": {"name": "quarlo", "version": "0.2.0"},
                       "site": {"canonical_host": HOST, "scheme": scheme}, "defaults": defaults or {},
                       "rules": list(rules), "exceptions": exceptions or {}}, indent=2)


def write(path, text):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text, encoding="utf-8")
    return path


def summary(result):
    return sorted((f.route, f.check, f.severity) for f in result.all_findings())


# --- contract reading -------------------------------------------------------

def problems(tmp_path, text):
    contract = load_contract(write(tmp_path / "c.json", text))
    return contract, [(p.severity, p.location.pointer, p.location.line, p.location.column, p.message)
                      for p in contract.problems]


SITE = '{"contract_version": "1", "site": {"canonical_host": "h"},\n '


@pytest.mark.parametrize("text, usable, expected", [
    ('{"contract_version": "1",\n  "site": [1}', False,
     ("error", None, "}", "the contract is not valid JSON: expected ',' or ']'")),
    ("[]", False, ("error", "", "[]", "a contract is a JSON object")),
    ('{"contract_version": "2", "site": {"canonical_host": "h"}}', False,
     ("error", "/contract_version", '"contract_version"', "unsupported contract version '2'")),
    ('{"contract_version": "1", "site": {"canonical_host": "https://h/"}}', False,
     ("error", "/site/canonical_host", '"canonical_host"', "'site.canonical_host' must be a host name")),
    (SITE + '"defaults": {"title": {"max_lenght": 3}}}', True,
     ("error", "/defaults/title/max_lenght", '"max_lenght"', "unknown expectation field 'max_lenght'")),
    (SITE + '"defaults": {"matches": "(["}}', True,
     ("error", "/defaults/matches", '"matches"', "invalid regular expression '(['")),
    (SITE + '"rules": [{"match": "blog/*", "expect": {}}]}', True,
     ("error", "/rules/0/match", '"match"', "malformed route pattern 'blog/*'")),
    (SITE + '"rules": [{"match": "/a", "expect": {}, "severity": "fatal"}]}', True,
     ("error", "/rules/0/severity", '"severity"', "severity 'fatal' is not one of")),
    (SITE + '"defaults": {"min_items": -1}}', True,
     ("error", "/defaults/min_items", '"min_items"', "'min_items' must be a whole number")),
    (SITE + '"defaults": {"one_of": ["a", 1]}}', True, ("error", "/defaults/one_of/1", "1]", "must be text")),
    (SITE + '"defaults": {"title": {"canonical": "self"}}}', True,
     ("warning", "/defaults/title/canonical", '"canonical"', "'canonical' applies to a whole page, not to the title")),
    (SITE + '"defaults": {"min_length": 9, "max_length": 2}}', True,
     ("warning", "/defaults", '"defaults"', "'min_length' 9 is above 'max_length' 2")),
    (SITE + '"exceptions": {"/a/": {}, "/a": {}}}', True,
     ("warning", "/exceptions/~1a", '"/a"', "exception route '/a' is the same route as '/a/'")),
])
def test_contract_problems_are_findings_with_their_place(tmp_path, text, usable, expected):
    severity, pointer, at, message = expected
    contract, found = problems(tmp_path, text)
    assert contract.usable is usable
    offset = text.rindex(at) if pointer is None else text.index(at)
    line = text.count("\n", 0, offset) + 1
    column = offset - (text.rfind("\n", 0, offset) + 1) + 1
    (got_severity, got_pointer, got_line, got_column, got_message), = found
    assert (got_severity, got_pointer, got_line, got_column) == (severity, pointer, line, column)
    assert got_message.startswith(message)


def test_contract_of_the_module_reads_clean(tmp_path):
    """The module's own contract files: the minimal one reads without
    problems; the full one has exactly its empty pattern and its unknown
    canonical expectation."""
    assert problems(tmp_path, (DATA / "contract_minimal.json").read_text())[1] == []
    contract, found = problems(tmp_path, (DATA / "contract_full.json").read_text())
    assert [(pointer, message.split(":")[0]) for _, pointer, _, _, message in found] == [
        ("/rules/4/match", "malformed route pattern ''"),
        ('/exceptions/~1tab\there "q"/canonical', "canonical expectation 'other' is neither 'self' nor an absolute "
                                                   "http(s) URL; not checked"),
    ]
    assert (contract.scheme, contract.host, len(contract.rules)) == ("http", HOST, 5)


@pytest.mark.parametrize("pattern, matching, other", [
    ("/blog/*", ["/blog/a", "/blog/a/", "/blog/a?page=2"], ["/blog", "/blog/", "/blog/a/b", "/blogs/a"]),
    ("/docs/**", ["/docs", "/docs/", "/docs/a", "/docs/a/b/c"], ["/doc", "/docsx/a"]),
    ("/a/**/b", ["/a/b", "/a/x/b", "/a/x/y/b"], ["/a/xb", "/a/b/c"]),
    ("/shop/*-sale", ["/shop/red-sale"], ["/shop/a/b-sale", "/shop/-sale/x"]),
    ("/p**", ["/p", "/products/x/y"], ["/a/p"]),
    ("/caf%C3%A9/*", ["/café/x", "/caf%c3%a9/x"], ["/cafe/x"]),
    ("/a.b", ["/a.b"], ["/axb"]),
    ("/", ["/", "/?q=1"], ["/a"]),
])
def test_route_patterns(pattern, matching, other):
    regex = compile_pattern(pattern)
    assert [r for r in matching + other if regex.match(route_key(r).split("?")[0])] == matching


def test_merge_order_defaults_rules_exception(tmp_path):
    text = contract_text(
        defaults={"title": {"max_length": 60, "min_length": 10}, "indexable": True},
        rules=[{"match": "/blog/*", "expect": {"title": {"max_length": 70}, "indexable": False}, "severity": "Warning"},
               {"match": "/blog/**", "expect": {"title": {"max_length": 80}}, "severity": "Info"}],
        exceptions={"/blog/café": {"title": {"min_length": 1}}})
    contract = load_contract(write(tmp_path / "c.json", text))

    def view(route):
        return {key: (c.value, c.origin.label, c.origin.severity)
                for key, c in contract.expectation_for(route).items()}

    assert view("/blog/caf%C3%A9/") == {
        "title.max_length": (80, "rule 2 '/blog/**'", "info"),
        "title.min_length": (1, "exception '/blog/café'", "error"),
        "indexable": (False, "rule 1 '/blog/*'", "warning"),
    }
    assert view("/blog/a/b")["indexable"] == (True, "defaults", "error")
    assert view("/about") == {"title.max_length": (60, "defaults", "error"),
                              "title.min_length": (10, "defaults", "error"), "indexable": (True, "defaults", "error")}


# --- every expectation field against a real HTML file --------------------------

def check_one(tmp_path, expect, head=BASE_HEAD, listed=True):
    site = tmp_path / "site"
    write(site / "blog" / "hello" / "index.html", html(head))
    write(site / "sitemap.xml", sitemap_xml("https://www.example.com/blog/hello/" if listed else "https://x/"))
    result = check(write(tmp_path / "c.json", contract_text(defaults=expect)), DirectorySource(site))
    assert [p.route for p in result.pages] == ["/blog/hello/"]
    return sorted(f.check for f in result.all_findings())


ALL_TEXT = {"required": True, "min_length": 5, "max_length": 11, "equals": "Hello world", "contains": "world",
            "matches": "^H", "one_of": ["Hello world"], "not_equals": "x", "min_items": 1, "max_items": 1}


@pytest.mark.parametrize("expect, replace, expected", [
    ({"title": ALL_TEXT}, {}, []),
    ({"title": {"min_length": 12, "equals": "x", "contains": "z", "matches": "^h", "one_of": ["a"],
                "not_equals": "Hello world", "forbidden": True}}, {},
     ["title.contains", "title.equals", "title.forbidden", "title.matches", "title.min_length", "title.not_equals",
      "title.one_of"]),
    ({"title": {"max_length": 5, "equals": "Café!"}}, {"Hello world": " Café!\n "}, []),  # characters, trimmed
    ({"title": {"max_items": 1}}, {"<title>Hello world</title>": "<title>a</title><title>b</title>"},
     ["title.max_items"]),
    ({"title": {"required": True, "min_items": 1}}, {"<title>Hello world</title>": ""},
     ["title.min_items", "title.required"]),
    ({"description": {"required": True, "min_length": 50}}, {"A description of the page.": "  "},
     ["description.required"]),  # a blank description is no description; lengths apply to present values
    ({"description": {"max_length": 10}}, {}, ["description.max_length"]),
    ({"matches": "^/blog/", "max_length": 12, "required": True}, {}, []),  # the page's own field is its route
    ({"forbidden": True, "max_length": 5}, {}, ["page.forbidden", "page.max_length"]),
    ({"indexable": True}, {}, []),
    ({"indexable": True}, {"index,follow": "NoIndex, follow"}, ["indexable"]),
    ({"indexable": True}, {"index,follow": "none"}, ["indexable"]),
    ({"indexable": False}, {}, ["indexable"]),
    ({"indexable": False}, {"index,follow": "noindex"}, []),
    ({"canonical": "self"}, {}, []),
    ({"canonical": "self"}, {"https://www.example.com/blog/hello/": "/blog/hello/"}, []),  # resolved
    ({"canonical": "self"}, {"https://www.example.com/blog/hello/": "HTTPS://WWW.example.com:443/blog/hello/"}, []),
    ({"canonical": "self"}, {"https://www.example.com/blog/hello/": "https://www.example.com/blog/hello"},
     ["canonical"]),
    ({"canonical": "self"}, {'<link rel="canonical" href="https://www.example.com/blog/hello/">': ""},
     ["canonical"]),
    ({"canonical": "self"}, {"<title>": '<link rel="canonical" href="/other"><title>'}, ["canonical"]),
    ({"canonical": "https://www.example.com/blog/hello/"}, {}, []),
    ({"schema": {"required": True, "types": ["Article", "WebSite"]}}, {}, []),  # @graph nodes, lists of types
    ({"schema": {"types": ["Product"]}}, {}, ["schema.types"]),
    ({"schema": {"required": True}}, {"application/ld+json": "text/plain"}, ["schema.required"]),
    ({"schema": {"required": True}}, {'{"@context"': '{"@context": ,'}, ["schema.invalid", "schema.required"]),
    ({"schema": {"required": False}}, {"application/ld+json": "text/plain"}, []),
    ({"open_graph": {"required": True}, "twitter": {"required": True}, "hreflang": {"required": True}}, {}, []),
    ({"open_graph": {"required": True}}, {'<meta property="og:url" content="u">': ""}, ["open_graph"]),
    ({"twitter": {"required": True}}, {"twitter:card": "twitter:site"}, ["twitter"]),
    ({"hreflang": {"required": True}}, {"hreflang=": "data-x="}, ["hreflang"]),
    ({"sitemap": {"required": True}}, {}, []),
])
def test_expectation_fields(tmp_path, expect, replace, expected):
    head = BASE_HEAD
    for old, new in replace.items():
        assert old in head
        head = head.replace(old, new)
    assert check_one(tmp_path, expect, head) == expected


def test_sitemap_expectation(tmp_path):
    assert check_one(tmp_path, {"sitemap": {"required": True}}, listed=False) == ["sitemap"]
    (tmp_path / "site" / "sitemap.xml").unlink()
    result = check(tmp_path / "c.json", DirectorySource(tmp_path / "site"))
    assert [(f.check, f.route) for f in result.all_findings()] == [("sitemap.unreadable", None)]


@pytest.mark.parametrize("document, titles, descriptions, robots", [
    # A head element after </head> and before <body> still joins the head.
    ("<head><title>A</title></head>\n<meta name=robots content=noindex><body><title>B</title>"
     "<meta name=description content=body>", ["A"], [], ["noindex"]),
    ("<title>A <body> b</title><meta name=description content='x<body>y'><body>", ["A <body> b"], ["x<body>y"], []),
    # Body content ends the head: later head tags are the body's.
    ("<title>A</title><p>text</p><meta name=robots content=noindex>", ["A"], [], []),
    ("<!-- <body> --><script>var s = '<body>';</script><title>\n A\t B </title>", ["A B"], [], []),
])
def test_head_is_read_as_an_html5_parser_builds_it(document, titles, descriptions, robots):
    page = parse_head(document.encode(), "/", Location("x"))
    assert (page.titles, page.descriptions, page.robots) == (titles, descriptions, robots)


@pytest.mark.parametrize("data, declared, title", [
    ('<meta charset="windows-1252"><title>caf\xe9</title>'.encode("cp1252"), None, "café"),
    ("<title>caf\xe9</title>".encode("cp1252"), "windows-1252", "café"),
    ("<title>café</title>".encode(), None, "café"),  # UTF-8 when nothing says otherwise
])
def test_head_encoding(data, declared, title):
    assert parse_head(data, "/", Location("x"), encoding=declared).titles == [title]


# --- real payloads: HTML files, JSON Lines and a process pool agree ------------

def built_site(tmp_path):
    """Three pages built by the module, as HTML files with a sitemap and as
    JSON Lines records, and a contract written by the module."""
    config = quarlo.SEOConfig(HOST, "https://www.example.com", site_name="Example",
                              title_template="{title} | Example",
                              default_og_image=quarlo.SEOImage("https://www.example.com/cover.png"))
    pages = {
        "/": quarlo.SEOEntity("home", title="Home", excerpt="The home page of the example site, with its news."),
        "/blog/first-post": quarlo.SEOEntity("post", title="A first post", excerpt="Short."),
        "/blog/drafts/wip": quarlo.SEOEntity("post", title="A draft that nobody should be able to find in a search"
                                                           " engine", excerpt="Work in progress, not finished at all.",
                                             status="draft"),
    }
    site = tmp_path / "site"
    records = []
    for route, entity in pages.items():
        payload = quarlo.build_seo_payload(entity, route, config)
        write(site / route.lstrip("/") / "index.html", html(payload.render_html()))
        records.append(json.dumps({**payload.to_dict(), "route": route}))
    write(tmp_path / "pages.jsonl", "\n".join(records) + "\n\n")
    write(site / "sitemap.xml", sitemap_xml("https://www.example.com/"))
    E = quarlo.SEOExpectation
    contract = quarlo.build_seo_contract(quarlo.SEOContractConfig(
        HOST,
        defaults=E(canonical="self", indexable=True, og_required=True, sitemap_required=True,
                   title=E(required=True, max_length=60), description=E(required=True, min_length=20)),
        rules=[quarlo.SEOContractRule("/blog/**", E(schema_required=True, schema_types=["Article"]),
                                      severity="warning"),
               quarlo.SEOContractRule("/blog/drafts/**", E(indexable=False, sitemap_required=False))],
        exceptions=[("/", E(schema_required=True, schema_types=["WebSite"])), ("/about", E(required=True))]))
    contract.write(str(tmp_path / "contract.json"))
    return site


EXPECTED_BUILT = [
    ("/about", "page.required", "error"),
    ("/blog/drafts/wip", "canonical", "error"),  # the file is served at /blog/drafts/wip/
    ("/blog/drafts/wip", "title.max_length", "error"),
    ("/blog/first-post", "canonical", "error"),
    ("/blog/first-post", "description.min_length", "error"),
    ("/blog/first-post", "sitemap", "error"),
]


def test_built_site_from_files_records_and_workers(tmp_path):
    site = built_site(tmp_path)
    contract = tmp_path / "contract.json"
    from_files = check(contract, DirectorySource(site))
    assert [p.route for p in from_files.pages] == ["/", "/blog/drafts/wip/", "/blog/first-post/"]
    assert [(r.rstrip("/") or "/", c, s) for r, c, s in summary(from_files)] == EXPECTED_BUILT
    # Records carry the routes without the index directory's slash, so the
    # canonical matches; they have no sitemap of their own.
    records = check(contract, JsonLinesSource(tmp_path / "pages.jsonl", sitemap=site / "sitemap.xml"))
    assert summary(records) == [f for f in EXPECTED_BUILT if f[1] != "canonical"]
    assert summary(check(contract, DirectorySource(site), jobs=2)) == summary(from_files)


@pytest.mark.parametrize("line, message", [
    ("not json", "not a JSON object"),
    ('{"title": "x"}', "a line must be a payload object with a 'route'"),
    ('{"route": "/a", "alternates": [["de"]]}', "'alternates' holds"),
])
def test_bad_json_lines_are_findings(tmp_path, line, message):
    source = write(tmp_path / "p.jsonl", '{"route": "/ok", "title": "t"}\n' + line + "\n")
    result = check(write(tmp_path / "c.json", contract_text()), JsonLinesSource(source))
    finding, = result.all_findings()
    assert (finding.check, finding.location.line, finding.message.startswith(message)) == ("page.unreadable", 2, True)


# --- a running site ------------------------------------------------------------

class Site:
    """Pages served on 127.0.0.1: path to (status, headers, body)."""

    def __init__(self, pages):
        self.pages = pages
        site = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                status, headers, body = site.pages.get(self.path, (404, {}, b"not here"))
                if headers.get("X-Sleep"):
                    time.sleep(float(headers["X-Sleep"]))
                self.send_response(status)
                for name, value in headers.items():
                    self.send_header(name, value)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.url = f"http://127.0.0.1:{self.server.server_port}"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.server.shutdown()
        self.server.server_close()


def page(head, **headers):
    return 200, {"Content-Type": "text/html; charset=utf-8", **headers}, html(head).encode()


def test_site(tmp_path):
    good = '<title>Good</title><link rel="canonical" href="https://www.example.com/good">'
    index = ('<?xml version="1.0"?><sitemapindex xmlns="http://www.sitemaps.org/schemas/sitemap/0.9">'
             "<sitemap><loc>https://www.example.com/sitemap-1.xml</loc></sitemap></sitemapindex>")
    urls = [f"https://www.example.com{r}" for r in ("/good", "/old", "/away", "/missing", "/slow", "/hidden")]
    pages = {
        "/good": page(good),
        "/old": (301, {"Location": "/good"}, b""),
        "/away": (302, {"Location": "http://elsewhere.invalid/x"}, b""),
        "/slow": page(good, **{"X-Sleep": "1.5"}),
        "/hidden": page(good.replace("/good", "/hidden"), **{"X-Robots-Tag": "noindex"}),
        "/sitemap.xml": (200, {}, index.encode()),
        "/sitemap-1.xml": (200, {}, sitemap_xml(*urls, "https://other.example/x").encode()),
    }
    contract = write(tmp_path / "c.json", contract_text(defaults={"canonical": "self", "indexable": True,
                                                                 "sitemap": {"required": True}}))
    with Site(pages) as site:
        source = SiteSource(site.url, sitemap=site.url + "/sitemap.xml", timeout=0.5)
        result = check(contract, source, jobs=3)
    assert [p.route for p in result.pages] == ["/good", "/old", "/away", "/missing", "/slow", "/hidden"]
    findings = {(f.route, f.check): f.message for f in result.all_findings()}
    assert findings == {
        ("/away", "page.unreadable"): "HTTP 302 redirects off the site to http://elsewhere.invalid/x; not followed",
        ("/missing", "page.unreadable"): "HTTP 404 Not Found",
        ("/slow", "page.unreadable"): "no answer within 0.5 s",
        ("/hidden", "indexable"): "the page is not indexable (robots 'noindex')",
        (None, "page.unreadable"): "https://other.example/x is not on the site; not fetched",
    }  # /old redirects within the site: its page is /good's, and its own URL is /good


def test_site_routes_file(tmp_path):
    contract = write(tmp_path / "c.json", contract_text(defaults={"title": {"required": True}}))
    routes = write(tmp_path / "routes.txt", "# pages\n/a\n\nhttps://www.example.com/b?x=1\n")
    with Site({"/a": page("<title>A</title>"), "/b?x=1": page("")}) as site:
        code = main(["check", str(contract), "--site", site.url, "--routes", str(routes), "--format", "json",
                     "-o", str(tmp_path / "r.json")])
    report = json.loads((tmp_path / "r.json").read_text())
    assert code == 1
    assert [(f["route"], f["check"]) for f in report["findings"]] == [("/b?x=1", "title.required")]


# --- command line and reports ----------------------------------------------------

@pytest.fixture
def warned_site(tmp_path):
    """One page with a warning (rule severity) and one clean page."""
    write(tmp_path / "site" / "a.html", html("<title>A title that is too long</title>"))
    write(tmp_path / "site" / "b.html", html("<title>B</title>"))
    write(tmp_path / "c.json", contract_text(
        defaults={"title": {"required": True}},
        rules=[{"match": "/*", "expect": {"title": {"max_length": 10}}, "severity": "Warning"}]))
    return tmp_path


@pytest.mark.parametrize("fail_on, code", [("error", 0), ("warning", 1), ("info", 1)])
def test_exit_status_by_fail_on(warned_site, capsys, fail_on, code):
    assert main(["check", str(warned_site / "c.json"), str(warned_site / "site"), "--fail-on", fail_on]) == code
    out = capsys.readouterr().out
    assert "warning  title.max_length: the title 'A title that is too long' is 24 characters long" in out
    assert out.endswith(f"2 pages checked, {code} failed; findings: 0 errors, 1 warning, 0 info\n"
                        f"{'FAILED' if code else 'PASSED'} (failing on {fail_on} and above)\n")


@pytest.mark.parametrize("arguments", [
    [],
    ["c.json", "missing-dir"],
    ["c.json", "site", "--routes", "r.txt"],
    ["c.json", "--site", "http://127.0.0.1:9"],
    ["c.json", "site", "--site", "http://127.0.0.1:9", "--routes", "r.txt"],
    ["c.json", "--site", "ftp://x", "--sitemap", "s.xml"],
    ["c.json", "site", "--jobs", "0"],
    ["c.json", "site", "--format", "xml"],
])
def test_usage_errors_exit_2(warned_site, monkeypatch, capsys, arguments):
    monkeypatch.chdir(warned_site)
    with pytest.raises(SystemExit) as exc:
        main(["check", *arguments])
    assert exc.value.code == 2
    assert "error:" in capsys.readouterr().err


def test_unwritable_output_exits_2(warned_site):
    assert main(["check", str(warned_site / "c.json"), str(warned_site / "site"),
                 "-o", str(warned_site / "no" / "dir" / "r.txt")]) == 2


def test_reports(warned_site, monkeypatch):
    """JSON, JUnit XML and SARIF of one run: the SARIF document is valid
    under the published 2.1.0 schema, relative to the working directory."""
    jsonschema = pytest.importorskip("jsonschema")
    monkeypatch.chdir(warned_site)
    write(warned_site / "c.json", contract_text(
        defaults={"title": {"required": True, "matches": "(["}},
        rules=[{"match": "/*", "expect": {"title": {"max_length": 10}}, "severity": "Warning"}]))
    text = (warned_site / "c.json").read_text()

    def place(at):
        offset = text.index(at)
        return text.count("\n", 0, offset) + 1, offset - text.rfind("\n", 0, offset)

    outputs = {}
    for format in ("json", "junit", "sarif"):
        assert main(["check", "c.json", "site", "--format", format, "-o", f"r.{format}"]) == 1
        outputs[format] = (warned_site / f"r.{format}").read_text()

    report = json.loads(outputs["json"])
    assert (report["passed"], report["summary"]) == (False, {"pages": 2, "error": 1, "warning": 1, "info": 0})
    assert [(f["check"], f["route"], f["location"]) for f in report["findings"]] == [
        ("contract", None, {"uri": "c.json", "line": place('"matches"')[0], "column": place('"matches"')[1],
                            "pointer": "/defaults/title/matches"}),
        ("title.max_length", "/a.html", {"uri": os.path.join("site", "a.html")})]

    suite = ElementTree.fromstring(outputs["junit"])
    cases = [(case.get("name"), [child.tag for child in case]) for case in suite.iter("testcase")]
    assert cases == [("contract", ["failure"]), ("/a.html", ["system-out"]), ("/b.html", [])]
    assert (suite.get("tests"), suite.get("failures"), suite.get("errors")) == ("3", "1", "0")

    sarif = json.loads(outputs["sarif"])
    schema = json.loads((DATA / "sarif" / "sarif-schema-2.1.0.json").read_text())
    jsonschema.Draft4Validator(schema).validate(sarif)
    results = sarif["runs"][0]["results"]
    assert [(r["ruleId"], r["level"], r["locations"][0]["physicalLocation"]["artifactLocation"]["uri"])
            for r in results] == [("contract", "error", "c.json"), ("title.max_length", "warning", "site/a.html")]
    line, column = place('"max_length"')
    assert results[1]["relatedLocations"][0]["physicalLocation"]["region"] == {"startLine": line, "startColumn": column}


# --- pytest plugin -----------------------------------------------------------------

def run_pytest(directory, *arguments):
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    return subprocess.run([sys.executable, "-m", "pytest", "-p", "quarlo.check.pytest_plugin", "-p",
                           "no:cacheprovider", "-q", *arguments], cwd=directory, env=env, capture_output=True,
                          text=True, timeout=120)


def test_pytest_plugin_is_registered_by_the_wheel():
    try:
        distribution = importlib.metadata.distribution("quarlo-native")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("quarlo-native is not installed (the package is used from the source tree)")
    if not pathlib.Path(quarlo.__file__).resolve().is_relative_to(pathlib.Path(str(distribution.locate_file(""))).resolve()):
        pytest.skip("quarlo is used from the source tree, not from the installed wheel")
    plugins = [(ep.name, ep.value) for ep in distribution.entry_points if ep.group == "pytest11"]
    assert plugins == [("quarlo.check.pytest_plugin", "quarlo.check.pytest_plugin")]


def test_pytest_plugin(warned_site):
    write(warned_site / "test_other.py", "def test_other():\n    pass\n")
    inert = run_pytest(warned_site)
    assert inert.returncode == 0 and "1 passed" in inert.stdout

    done = run_pytest(warned_site, "--seo-contract", "c.json", "--seo-source", "site", "--seo-fail-on", "warning",
                      "--junitxml", "junit.xml", "test_other.py")
    assert done.returncode == 1, done.stdout + done.stderr
    suite = ElementTree.parse(warned_site / "junit.xml").getroot().find("testsuite")
    cases = {case.get("name"): [child.tag for child in case] for case in suite.iter("testcase")}
    assert cases == {"test_other": [], "contract": [], "/a.html": ["failure"], "/b.html": []}
    assert "warning title.max_length: the title 'A title that is too long'" in done.stdout
