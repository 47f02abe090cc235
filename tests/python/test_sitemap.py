"""write_sitemaps: canonical, escaped URLs, lastmod and hreflang alternates,
files split at 50,000 URLs and at the size limit with an index, the same
bytes every time; every file valid under the sitemaps.org 0.9 schemas."""

import datetime
import pathlib

import pytest

etree = pytest.importorskip("lxml.etree")

import quarlo
import quarlo.sitemap
from quarlo.sitemap import SitemapEntry, write_sitemaps

SCHEMAS = pathlib.Path(__file__).parent / "data" / "sitemaps"
NS = {"s": "http://www.sitemaps.org/schemas/sitemap/0.9", "x": "http://www.w3.org/1999/xhtml"}
CONFIG = quarlo.SEOConfig("www.example.com", "https://www.example.com/shop/")


@pytest.fixture(scope="module")
def schemas():
    def load(name):
        return etree.XMLSchema(etree.parse(str(SCHEMAS / name)))
    return {"urlset": load("sitemap-with-alternates.xsd"), "sitemapindex": load("siteindex.xsd")}


def read(path, schemas):
    """The entries of a sitemap file after validating it: (loc, lastmod,
    alternates) for a urlset, locs for an index."""
    document = etree.parse(str(path))
    kind = etree.QName(document.getroot()).localname
    schemas[kind].assertValid(document)
    if kind == "sitemapindex":
        return kind, document.xpath("s:sitemap/s:loc/text()", namespaces=NS)
    return kind, [(url.findtext("s:loc", namespaces=NS), url.findtext("s:lastmod", namespaces=NS),
                   [(link.get("hreflang"), link.get("href")) for link in url.findall("x:link", NS)])
                  for url in document.getroot()]


UTC2 = datetime.timezone(datetime.timedelta(hours=2))


@pytest.mark.parametrize("entry, expected", [
    ("/a", ("https://www.example.com/shop/a", None, [])),
    ("https://elsewhere.example/b/?utm_source=x&id=7&q=a<b", ("https://www.example.com/shop/b?id=7&q=a%3Cb", None, [])),
    ("/café x/it's", ("https://www.example.com/shop/caf%C3%A9%20x/it's", None, [])),
    (("/a", datetime.date(2024, 2, 29)), ("https://www.example.com/shop/a", "2024-02-29", [])),
    (("/a", datetime.datetime(2024, 5, 1, 8, 30, tzinfo=UTC2)),
     ("https://www.example.com/shop/a", "2024-05-01T08:30:00+02:00", [])),
    (("/a", "2024-05-01T08:30:00.5Z"), ("https://www.example.com/shop/a", "2024-05-01T08:30:00.5Z", [])),
    (SitemapEntry("/a", alternates={"de-AT": "/de/a", "x-default": "https://example.org/a?x=1&y=2"}),
     ("https://www.example.com/shop/a", None,
      [("de-AT", "https://www.example.com/shop/de/a"), ("x-default", "https://example.org/a?x=1&y=2")])),
    (("/a", None, [("en", "/a")]), ("https://www.example.com/shop/a", None, [("en", "https://www.example.com/shop/a")])),
])
def test_entry(tmp_path, schemas, entry, expected):
    assert write_sitemaps([entry], tmp_path, CONFIG) == [tmp_path / "sitemap.xml"]
    assert read(tmp_path / "sitemap.xml", schemas) == ("urlset", [expected])
    assert sorted(p.name for p in tmp_path.iterdir()) == ["sitemap.xml"]


@pytest.mark.parametrize("entries, message", [
    ([], "a sitemap needs at least one URL"),
    (["/a", ("/b", None, {"en_US": "/en/b"})], "hreflang 'en_US' is not a language tag"),
    (["/a", ("/b", None, {"de": "ftp://x/b"})], "the alternate for 'de' is not an http(s) URL"),
    (["/a", ("/b", datetime.datetime(2024, 1, 1))], "has no time zone"),
    (["/a", ("/b", "2024-13-01")], "lastmod '2024-13-01' is not a date"),
    (["/a", ("/b", "2024-01-01T10:00")], "lastmod '2024-01-01T10:00' is not a date"),
    (["/a", "/" + "x" * 2100], "is longer than 2048 characters"),
])
def test_bad_entry_writes_nothing(tmp_path, entries, message):
    with pytest.raises(ValueError, match=message.replace("(", r"\(").replace(")", r"\)")):
        write_sitemaps(iter(entries), tmp_path, CONFIG)
    assert list(tmp_path.iterdir()) == []


def test_split_at_50000_urls_with_an_index(tmp_path, schemas):
    (tmp_path / "one").mkdir()
    paths = write_sitemaps((f"/p/{number}" for number in range(50_001)), tmp_path / "one", CONFIG, base_name="pages")
    assert [p.name for p in paths] == ["pages.xml", "pages-1.xml", "pages-2.xml"]
    assert read(paths[0], schemas) == ("sitemapindex", ["https://www.example.com/shop/pages-1.xml",
                                                        "https://www.example.com/shop/pages-2.xml"])
    first, second = (read(path, schemas)[1] for path in paths[1:])
    assert (len(first), first[0][0], first[-1][0]) == (50_000, "https://www.example.com/shop/p/0",
                                                       "https://www.example.com/shop/p/49999")
    assert second == [("https://www.example.com/shop/p/50000", None, [])]
    # The same entries give the same bytes.
    (tmp_path / "two").mkdir()
    again = write_sitemaps((f"/p/{number}" for number in range(50_001)), tmp_path / "two", CONFIG,
                           base_name="pages")
    assert [p.read_bytes() for p in again] == [p.read_bytes() for p in paths]


def test_split_at_the_size_limit(tmp_path, schemas, monkeypatch):
    monkeypatch.setattr(quarlo.sitemap, "MAX_BYTES", 1200)
    routes = [f"/{'x' * (number % 40 + 1)}/{number}" for number in range(60)]
    entries = [(route, "2024-01-01", {"de": "/de" + route}) for route in routes]
    paths = write_sitemaps(entries, tmp_path, CONFIG)
    assert len(paths) > 3 and all(path.stat().st_size <= 1200 for path in paths[1:])
    locs = [loc for path in paths[1:] for loc, _, _ in read(path, schemas)[1]]
    assert locs == ["https://www.example.com/shop" + route for route in routes]


def test_checker_reads_what_is_written(tmp_path):
    """The checker's sitemap reader sees every URL of a split sitemap."""
    pytest.importorskip("html5lib")
    from quarlo.check.sources import read_sitemap

    paths = write_sitemaps((f"/p/{n}" for n in range(50_002)), tmp_path, CONFIG)
    kind, children = read_sitemap(paths[0].read_bytes())
    assert kind == "sitemapindex"
    assert sum(len(read_sitemap(path.read_bytes())[1]) for path in paths[1:]) == 50_002
