"""Whole-site figures: pages built per second on one core and on a process
pool, the contract checker's pages per second over built HTML files, and the
peak memory of write_sitemaps and build_many as the number of pages grows.

Run against the installed Release module (scripts/bench does; or after
bash scripts/build-module, with the package of the checkout):

    PYTHONPATH=src .venv/bin/python bench/python/bench_site.py [--pages N] [--check-pages N] [--only ...]

The machine may be shared: each rate is given by the clock and as the rate
that the measured processor time allows on idle cores (for a pool, the
slower of the calling process and the workers sharing their work).

Targets: the pool over two cores at least 1.7 times one core for 100,000
typical posts; the checker at least 400 pages/s over 10,000 files with
--jobs 2; the peak memory of write_sitemaps and build_many flat in the number
of pages (each size runs in a fresh process; its peak resident set is
compared with that of the smallest size).
"""

from __future__ import annotations

import argparse
import concurrent.futures
import os
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Iterator

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import quarlo  # noqa: E402
import quarlo.sitemap  # noqa: E402
from bench_classes import BODY_HTML, CRUMBS, IMAGE, make_config  # noqa: E402

E = quarlo.SEOExpectation


def posts(count: int) -> Iterator[tuple[quarlo.SEOEntity, str]]:
    """``count`` typical posts (2 KB body, image, three breadcrumbs), each
    with its own title and route."""
    for number in range(count):
        entity = quarlo.SEOEntity("post", title=f"Post number {number}", excerpt="A short introduction to the blog.",
                                  body_html=BODY_HTML, status="published", featured_image=IMAGE, breadcrumbs=CRUMBS)
        yield entity, f"/blog/post-{number}"


def post_data(count: int) -> Iterator[tuple[dict[str, object], str]]:
    """The same posts as plain data (each entity in its to_dict() form), as
    a site's database gives them."""
    template = next(posts(1))[0].to_dict()
    for number in range(count):
        yield {**template, "title": f"Post number {number}"}, f"/blog/post-{number}"


def peak_rss_mb(code: str) -> float:
    """Peak resident set of a fresh interpreter running ``code``, in MB."""
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    script = code + "\nimport resource; print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)"
    output = subprocess.run([sys.executable, "-c", script], env=env, check=True, capture_output=True, text=True)
    return int(output.stdout.split()[-1]) / 1024


def build_rate(pages: int) -> None:
    """Pages built per second, in-process and on a pool of two worker
    processes: build_many with the payloads coming back to this process;
    build_many from entity data with each page's ETag made where it is built
    (``then``), so only the ETags come back; and write_site from entity data
    (head files and manifest; on the pool the workers write the files)."""
    from quarlo import SEOPayload
    from quarlo.batch import build_many, write_site

    config = make_config()

    def run_build_many(pool: concurrent.futures.Executor | None) -> int:
        return sum(1 for _ in build_many(posts(pages), config, executor=pool))

    def run_then_etag(pool: concurrent.futures.Executor | None) -> int:
        return sum(1 for _ in build_many(post_data(pages), config, executor=pool, then=SEOPayload.etag))

    # In memory when the system has a RAM file system: the figure is then
    # the processors', not the disk's. Removing the files is not timed.
    scratch = tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    sites = iter(range(2))

    def run_write_site(pool: concurrent.futures.Executor | None) -> int:
        directory = Path(scratch.name) / str(next(sites))
        return write_site(post_data(pages), config, directory, executor=pool, workers_write=True).written

    # Wall-clock rates depend on what else runs on the machine; the processor
    # time of this process and of the workers does not much, and bounds what
    # two otherwise idle cores give: the slower of this process and the two
    # workers sharing their work.
    for name, run in (("build_many, payloads back", run_build_many), ("build_many, then=etag", run_then_etag),
                      ("write_site", run_write_site)):
        rates, bounds = [], []
        for label, workers in (("one core (in-process)", 0), ("process pool, 2 workers", 2)):
            children = resource.getrusage(resource.RUSAGE_CHILDREN)
            start, cpu = time.perf_counter(), time.process_time()
            if workers:
                with concurrent.futures.ProcessPoolExecutor(workers) as pool:
                    count = run(pool)
            else:
                count = run(None)
            elapsed, own = time.perf_counter() - start, time.process_time() - cpu
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            worker_cpu = (after.ru_utime + after.ru_stime) - (children.ru_utime + children.ru_stime)
            rates.append(count / elapsed)
            # On two cores the calling process and the workers share them:
            # the pool's rate is bounded by all the processor time spent.
            bounds.append(count / max(own, (own + worker_cpu) / 2) if workers else count / own)
            print(f"{name}, {label:26s} {count:7d} pages {elapsed:7.2f} s {rates[-1]:9.0f} pages/s; processor "
                  f"{own / count * 1e6:6.1f} us/page here, {worker_cpu / count * 1e6:6.1f} us/page in workers")
        print(f"{name}, pool / one core: {rates[1] / rates[0]:.2f}x by the clock, {bounds[1] / bounds[0]:.2f}x by "
              "processor time on two idle cores  (target >= 1.7x)")
    scratch.cleanup()


def check_rate(pages: int) -> None:
    # Trailing slashes, so that each index.html file's own URL is its canonical.
    config = quarlo.SEOConfig("example.com", "https://example.com", title_template="{title} | Example",
                              site_name="Example", url_policy=quarlo.URLPolicy(trailing_slash="always"))
    with tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None) as directory:
        root = Path(directory)
        site = root / "site"
        entries = []
        for entity, route in posts(pages):
            payload = quarlo.build_seo_payload(entity, route, config)
            path = site / route.lstrip("/") / "index.html"
            path.parent.mkdir(parents=True)
            path.write_text(f"<!DOCTYPE html><html lang=en><head><meta charset=utf-8>\n{payload.render_html()}"
                            f"</head><body><main>{BODY_HTML * 4}</main></body></html>", encoding="utf-8")
            entries.append(route)
        quarlo.sitemap.write_sitemaps(entries, site, config)
        contract = quarlo.build_seo_contract(quarlo.SEOContractConfig(
            "example.com",
            defaults=E(canonical="self", indexable=True, og_required=True, twitter_required=True,
                       sitemap_required=True, title=E(required=True, max_length=60, max_items=1),
                       description=E(required=True, max_length=160)),
            rules=[quarlo.SEOContractRule("/blog/*", E(schema_required=True, schema_types=["Article"]),
                                          severity="warning")]))
        contract.write(str(root / "contract.json"))
        from quarlo.check import DirectorySource, check

        rates, bounds = [], []
        for jobs in (1, 2):
            children = resource.getrusage(resource.RUSAGE_CHILDREN)
            start, cpu = time.perf_counter(), time.process_time()
            result = check(root / "contract.json", DirectorySource(site), jobs=jobs)
            elapsed, own = time.perf_counter() - start, time.process_time() - cpu
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            worker_cpu = (after.ru_utime + after.ru_stime) - (children.ru_utime + children.ru_stime)
            count = len(result.pages)
            rates.append(count / elapsed)
            bounds.append(count / max(own, worker_cpu / jobs) if jobs > 1 else count / own)
            target = "  (target >= 400 pages/s)" if jobs == 2 else ""
            print(f"check --jobs {jobs}: {count} pages {elapsed:6.2f} s {rates[-1]:6.0f} pages/s by the clock, "
                  f"{bounds[-1]:6.0f} pages/s by processor time on {jobs} idle core(s); processor "
                  f"{own / count * 1e6:6.0f} us/page here, {worker_cpu / count * 1e6:6.0f} us/page in workers; "
                  f"{sum(1 for _ in result.all_findings())} findings{target}")


SITEMAP_CODE = """
import tempfile, quarlo
from quarlo.sitemap import write_sitemaps
config = quarlo.SEOConfig("example.com", "https://example.com")
with tempfile.TemporaryDirectory() as directory:
    write_sitemaps(((f"/blog/post-{{n}}", "2024-05-01", {{"de": f"/de/blog/post-{{n}}"}}) for n in range({count})),
                   directory, config)
"""

BUILD_CODE = """
import sys
sys.path.insert(0, {bench!r})
from bench_site import posts
from bench_classes import make_config
from quarlo.batch import build_many
for payload in build_many(posts({count}), make_config()):
    pass
"""


def memory(sizes: list[int]) -> None:
    bench = os.path.dirname(os.path.abspath(__file__))
    for name, code in (("write_sitemaps", SITEMAP_CODE), ("build_many", BUILD_CODE)):
        peaks = [peak_rss_mb(code.format(count=size, bench=bench)) for size in sizes]
        cells = ", ".join(f"{size} pages {peak:6.1f} MB" for size, peak in zip(sizes, peaks))
        print(f"{name} peak RSS: {cells}  ({peaks[-1] / peaks[0]:.2f}x for {sizes[-1] // sizes[0]}x the pages; "
              "target: flat)")


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--pages", type=int, default=100_000, help="posts built for the pool figure")
    parser.add_argument("--check-pages", type=int, default=10_000, help="HTML files for the checker figure")
    parser.add_argument("--only", choices=("build", "check", "memory"))
    options = parser.parse_args()
    if options.only in (None, "build"):
        build_rate(options.pages)
    if options.only in (None, "check"):
        check_rate(options.check_pages)
    if options.only in (None, "memory"):
        memory([10_000, 100_000, 200_000])


if __name__ == "__main__":
    main()
