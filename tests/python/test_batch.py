"""build_many and write_site: results in input order with each failure in
its place, the same payloads in this process, on a process pool and on a
Dask cluster of worker processes, and the head files and manifest of a
site."""

import concurrent.futures
import json
import multiprocessing

import pytest

import quarlo
from quarlo.batch import build_many, head_path, write_site

CONFIG = quarlo.SEOConfig("www.example.com", "https://www.example.com", site_name="Example",
                          title_template="{title} | Example", publisher_name="Example Ltd",
                          default_og_image=quarlo.SEOImage("https://www.example.com/cover.png", width=1200))
IMAGE = quarlo.SEOImage("https://www.example.com/p.png", width=800, height=600, alt="A picture")
CRUMBS = [quarlo.Breadcrumb("Home", "/"), quarlo.Breadcrumb("Blog", "/blog")]


def item(number):
    """Items of every kind the module builds, some with overrides, and a few
    that fail: a malformed item, and an override the build rejects (which
    does not pickle either, so the caller builds that item)."""
    kind = number % 7
    if number % 997 == 5:
        return ("not an item",)
    if number % 997 == 6:
        return quarlo.SEOEntity("page", title="x"), "/bad", quarlo.SEOOverrides(canonical_url="ftp://x/")
    if kind == 0:
        entity = quarlo.SEOEntity("post", title=f"Post {number} «été»", excerpt="An excerpt.", body_html="<p>Body</p>" * 20,
                                  featured_image=IMAGE, breadcrumbs=CRUMBS, author_name="Ann",
                                  published_at="2024-05-01", status="published")
    elif kind == 1:
        entity = quarlo.SEOEntity("product", title=f"Product {number}", sku=f"S{number}", price=f"{number}.99",
                                  price_currency="EUR", availability="InStock")
    elif kind == 2:
        entity = quarlo.SEOEntity("faq", title="Questions", faq_items=[quarlo.FAQItem("Why?", f"Because {number}.")])
    elif kind == 3:
        entity = quarlo.SEOEntity("local_business", title="Shop", address="1 Main St", same_as=["https://x.example/"])
    elif kind == 4:
        return (quarlo.SEOEntity("page", title=f"Page {number}"), f"/p/{number}?utm_source=a&x=1",
                quarlo.SEOOverrides(meta_title="Own title", robots=quarlo.Robots(index=False), twitter_card="summary"))
    else:
        entity = quarlo.SEOEntity("video" if kind == 5 else "home", title=f"Video {number}", status="draft")
    return entity, f"/items/{number}"


def outcome(result):
    if isinstance(result, quarlo.SEOPayload):
        return result.etag()
    return (type(result).__name__, str(result)) if isinstance(result, Exception) else result


ITEMS = 10_000


@pytest.fixture(scope="module")
def expected():
    return [outcome(result) for result in build_many((item(n) for n in range(ITEMS)), CONFIG)]


def test_in_process_results_in_order(expected):
    failures = {n: result[0] for n, result in enumerate(expected) if isinstance(result, tuple)}
    assert failures == {n: "TypeError" if n % 997 == 5 else "InvalidUrlError"
                        for n in range(ITEMS) if n % 997 in (5, 6)}
    assert len(expected) == ITEMS and len(set(expected)) == ITEMS - len(failures) + 2


def test_process_pool_gives_the_same_payloads(expected):
    context = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=context) as pool:
        results = build_many((item(n) for n in range(ITEMS)), CONFIG, executor=pool, chunksize=300)
        assert [outcome(result) for result in results] == expected


def test_dask_cluster_gives_the_same_payloads(expected):
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None, silence_logs=50) as cluster, \
            distributed.Client(cluster) as client:
        results = build_many((item(n) for n in range(ITEMS)), CONFIG, executor=client.get_executor(),
                             chunksize=500)
        assert [outcome(result) for result in results] == expected


def as_data(item):
    """The item with its entity in its to_dict() form."""
    if len(item) < 2 or not isinstance(item[0], quarlo.SEOEntity):
        return item
    return (item[0].to_dict(), *item[1:])


def etag_or_lock(payload):
    """A then-function whose result for some pages does not pickle."""
    import threading
    return threading.Lock() if payload.title.startswith("Post 7 ") else payload.etag()


@pytest.mark.parametrize("pool", [None, "threads", "processes"])
def test_entity_data_and_then_run_where_the_page_is_built(expected, pool):
    items = [as_data(item(n)) for n in range(1000)] + [({"entity_type": "nonsense"}, "/x"), ({}, "/y")]
    executor = {None: None, "threads": concurrent.futures.ThreadPoolExecutor(2),
                "processes": concurrent.futures.ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn"))}[pool]
    try:
        etags = list(build_many(items, CONFIG, executor=executor, chunksize=64, then=quarlo.SEOPayload.etag))
        locks = list(build_many(items[:20], CONFIG, executor=executor, chunksize=8, then=etag_or_lock))
    finally:
        if executor is not None:
            executor.shutdown()
    assert list(map(outcome, etags[:1000])) == expected[:1000]
    assert [type(e).__name__ for e in etags[1000:]] == ["EntityError", "EntityError"]
    assert type(locks[7]).__name__ == "lock" and list(map(outcome, locks[:7])) == list(map(outcome, etags[:7]))
    assert list(build_many(items[:3], CONFIG, then=lambda p: 1 / 0))[0].__class__ is ZeroDivisionError


class DiesOnBoom:
    """A hook that ends its worker process when a title says so."""

    def run(self, event, payload, entity, config):
        if payload["title"].startswith("boom"):
            import os
            os._exit(3)
        return None


def test_a_chunk_lost_with_its_worker_fails_each_of_its_items():
    config = quarlo.SEOConfig("www.example.com", "https://www.example.com", hooks=DiesOnBoom())
    items = [(quarlo.SEOEntity("page", title=title), f"/{n}") for n, title in enumerate(["a", "b", "boom", "c"])]
    with concurrent.futures.ProcessPoolExecutor(1, mp_context=multiprocessing.get_context("spawn")) as pool:
        results = list(build_many(items, config, executor=pool, chunksize=2))
    assert [type(result).__name__ for result in results] == ["SEOPayload", "SEOPayload", "BrokenProcessPool",
                                                            "BrokenProcessPool"]


def test_configuration_that_does_not_pickle_fails_at_once():
    config = quarlo.SEOConfig("www.example.com", "https://www.example.com", hooks=lambda: None)
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        with pytest.raises(Exception, match="hooks"):
            next(build_many([(quarlo.SEOEntity("page"), "/")], config, executor=pool))


@pytest.mark.parametrize("workers", [None, "render", "write"])
def test_write_site(tmp_path, workers):
    items = [item(n) for n in range(14)] + [(quarlo.SEOEntity("page", title="Dots"), "/a/%2e%2e/b")]
    pool = concurrent.futures.ThreadPoolExecutor(2) if workers else None
    report = write_site(items, CONFIG, tmp_path / "site", executor=pool, chunksize=4,
                        workers_write=workers == "write")
    lines = [json.loads(line) for line in (tmp_path / "site" / "manifest.jsonl").read_text().splitlines()]
    assert len(lines) == 15 and report.written == 12
    assert [(index, route, type(exc).__name__) for index, route, exc in report.failures] == [
        (5, None, "TypeError"), (6, "/bad", "InvalidUrlError"),
        (14, "/a/%2e%2e/b", "ValueError")]
    first = lines[0]
    payload = quarlo.build_seo_payload(*items[0], CONFIG)
    assert first == {"route": "/items/0", "canonical": "https://www.example.com/items/0", "etag": payload.etag(),
                     "head": "items/0/head.html"}
    assert (tmp_path / "site" / "items" / "0" / "head.html").read_text() == str(quarlo.web.head(payload, CONFIG))
    assert lines[4]["head"] == "p/4/head@x%3D1.html"
    assert lines[6] == {"route": "/bad", "error": "InvalidUrlError: canonical_url override must use http or https"}


@pytest.mark.parametrize("canonical, path", [
    ("https://h/", "head.html"),
    ("https://h/blog/caf%C3%A9", "blog/café/head.html"),
    ("https://h/s?q=a b&x=1", "s/head@q%3Da%20b%26x%3D1.html"),
])
def test_head_path(canonical, path):
    assert head_path(canonical).as_posix() == path
