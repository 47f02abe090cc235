"""Per-byte cost of the URL functions, the to_dict methods and the main job
(build, head, ETag) as inputs grow.

Every operation is fed inputs of about 1 KB, 10 KB, 100 KB and 1 MB in three
shapes: ordered (keys and segments in ascending order), shuffled (the same
in random order, tracking parameters among them) and adversarial (the input
that cost the most: keys in descending order, many non-ASCII labels, text
that needs decoding or escaping). The cost is processor time per call (best
of several runs, so load from other processes counts little) divided by the
input size.

A linear operation keeps the 1 MB cost per byte close to the 1 KB one. Part
of the cost at 1 MB is not the operation's own, though: a result of a
megabyte (a str, a dict of 80,000 keys, 40,000 small dicts) is made of
objects that no longer fit the processor's caches, and CPython takes fresh
pages from the system for them on every call. That floor is measured beside
each row: CPython itself making the same result objects (pickle.loads of the
result) at the largest size. The checked figure is the cost per byte at the
largest size over the larger of the cost per byte at the smallest size and
that floor; the target is at most 2. An operation that were n log n or
quadratic in any part of its input shows far above it, however fast its
small case.

On a shared machine, other processes' use of the shared caches moves the
megabyte figures most. So the largest size and its floor are timed in
alternation, and a case found over the target is measured again, at most
three times in all ("tries"), keeping its best figure: passing load does
not repeat, a cost that is not linear does.

Run with the module importable:
    PYTHONPATH=<dir of _quarlo_native*.so> python3 bench/python/scaling.py [--sizes 1K,10K] [--check]
"""

import argparse
import pickle
import random
import sys
import time
from typing import Callable, Dict, List, Tuple

import _quarlo_native as q

SIZES = {"1K": 1 << 10, "10K": 10 << 10, "100K": 100 << 10, "1M": 1 << 20}
TARGET_RATIO = 2.0

CONFIG = q.SEOConfig("www.example.com", "https://example.com/blog/")
PATH_POLICY = q.URLPolicy(lowercase_paths=True, collapse_duplicate_slashes=True, trailing_slash="never")
TRACKING = ["utm_source", "utm_medium", "fbclid", "gclid", "_ga", "mc_eid"]

# A case builds, for a size in bytes, the call to time and the input size.
Case = Callable[[int], Tuple[Callable[[], object], int]]


def keys(n: int) -> List[str]:
    return [f"k{i:07d}" for i in range(n)]


def query(size: int, order: str) -> str:
    """About `size` bytes of "key=value" pieces, keys in the given order."""
    names = keys(max(1, size // 13))
    if order == "descending":
        names.reverse()
    elif order == "shuffled":
        names = [TRACKING[i % len(TRACKING)] if i % 4 == 0 else k for i, k in enumerate(names)]
        random.Random(7).shuffle(names)
    return "&".join(f"{k}=vvv" for k in names)


def encoded_query(size: int) -> str:
    """Keys that all need decoding, with bytes that are not UTF-8."""
    return "&".join(f"utm%5F{i:06d}%FF+x=1" for i in range(max(1, size // 22)))


def path(size: int, shape: str) -> str:
    n = max(1, size // 11)
    if shape == "ordered":
        return "/" + "/".join(f"seg{i:06d}" for i in range(n))
    if shape == "shuffled":
        segments = [f"Seg{i:06d}" for i in range(n)]
        random.Random(7).shuffle(segments)
        return "/" + "//".join(segments)
    # Upper-case non-ASCII letters (final sigma included), doubled and trailing slashes.
    return "//ÉTÉΣ" * max(1, size // 14) + "/" * (size // 4)


def idn_host(size: int) -> str:
    return "http://" + "ü." * max(1, size // 3) + "com/"


def timed(fn: Callable[[], object], budget_ns: int = 40_000_000, runs: int = 5) -> float:
    """Best processor time of one call, in ns."""
    start = time.thread_time_ns()
    fn()
    once = max(time.thread_time_ns() - start, 1)
    number = max(1, budget_ns // (runs * once))
    runs = runs if once < 500_000_000 else 2
    best = float("inf")
    for _ in range(runs):
        start = time.thread_time_ns()
        for _ in range(number):
            fn()
        best = min(best, (time.thread_time_ns() - start) / number)
    return best


def timed_side_by_side(fn: Callable[[], object], floor: Callable[[], object], rounds: int = 7) -> Tuple[float, float]:
    """Best processor times of `fn` and of `floor`, timed in alternation so
    that both see the same load from other processes on the shared caches
    (a megabyte-sized case feels it most)."""
    best_fn = best_floor = float("inf")
    for _ in range(rounds):
        best_fn = min(best_fn, timed(fn, runs=1))
        best_floor = min(best_floor, timed(floor, runs=1))
    return best_fn, best_floor


def text_case(fn: Callable[[str], object], make: Callable[[int], str]) -> Case:
    def build(size: int) -> Tuple[Callable[[], object], int]:
        text = make(size)
        return (lambda: fn(text)), len(text.encode())

    return build


def config_case(order: str) -> Case:
    def build(size: int) -> Tuple[Callable[[], object], int]:
        names = keys(max(1, size // 15))
        if order == "descending":
            names.reverse()
        elif order == "shuffled":
            random.Random(7).shuffle(names)
        pairs = [(k, "Article") for k in names]
        config = q.SEOConfig("www.example.com", "https://example.com", schema_type_map=pairs)
        return config.to_dict, sum(len(k) + len(v) for k, v in pairs)

    return build


def entity_case(shape: str) -> Case:
    def build(size: int) -> Tuple[Callable[[], object], int]:
        if shape == "ordered":
            n = max(1, size // 24)
            crumbs = [q.Breadcrumb(f"Name {i:06d}", f"/c/{i:06d}") for i in range(n)]
            entity = q.SEOEntity("post", title="t", breadcrumbs=crumbs)
            return entity.to_dict, n * 24
        if shape == "shuffled":
            links = [f"https://s{i:06d}.example/" for i in range(max(1, size // 24))]
            random.Random(7).shuffle(links)
            faq = [q.FAQItem(f"Q{i}?", f"A{i}.") for i in range(len(links) // 4)]
            entity = q.SEOEntity("faq", same_as=links, faq_items=faq)
            return entity.to_dict, sum(map(len, links)) + sum(8 for _ in faq)
        # One long text full of bytes to escape and characters beyond the BMP.
        body = '<p>"\\\x01é😀</p>' * max(1, size // 21)
        entity = q.SEOEntity("page", body_html=body, excerpt=body[: size // 8])
        return entity.to_dict, len(body.encode()) + len(body[: size // 8].encode())

    return build


def build_case(shape: str) -> Case:
    """The main job (build, head, ETag) of a page grown in one part: its
    body, its breadcrumb trail, or a structured-data override."""
    def build(size: int) -> Tuple[Callable[[], object], int]:
        overrides = None
        if shape == "body":
            body = "<p>Caf\u00e9 &amp; <em>text</em> " * max(1, size // 32)
            entity = q.SEOEntity("post", title="t", body_html=body)
            count = len(body.encode())
        elif shape == "breadcrumbs":
            crumbs = [q.Breadcrumb(f"Name {i:06d}", f"/c/{i:06d}?utm_source=x") for i in range(max(1, size // 36))]
            entity = q.SEOEntity("post", title="t", breadcrumbs=crumbs)
            count = 36 * len(crumbs)
        else:
            items = [{"@type": "Thing", "name": f"</script> {i:06d}", "n": i} for i in range(max(1, size // 48))]
            overrides = q.SEOOverrides(schema_jsonld={"@context": "https://schema.org", "@graph": items})
            entity = q.SEOEntity("page", title="t")
            count = 48 * len(items)

        def job() -> object:
            payload = q.build_seo_payload(entity, "/p", CONFIG, overrides)
            return payload.render_html(), payload.etag()

        return job, count

    return build


CASES: Dict[str, Dict[str, Case]] = {
    "normalize_path_fn": {
        shape: text_case(lambda p: q.normalize_path_fn(p, PATH_POLICY), lambda n, s=shape: path(n, s))
        for shape in ("ordered", "shuffled", "adversarial")
    },
    "normalize_public_url_fn": {
        "ordered": text_case(lambda u: q.normalize_public_url_fn(u, CONFIG), lambda n: "/p?" + query(n, "ascending")),
        "shuffled": text_case(lambda u: q.normalize_public_url_fn(u, CONFIG), lambda n: "/p?" + query(n, "shuffled")),
        "adversarial": text_case(lambda u: q.normalize_public_url_fn(u, CONFIG), idn_host),
    },
    "clean_url_fn": {
        "ordered": text_case(q.clean_url_fn, lambda n: "https://e.com/p?" + query(n, "ascending") + "#f"),
        "shuffled": text_case(q.clean_url_fn, lambda n: "https://e.com/p?" + query(n, "shuffled") + "#f"),
        "adversarial": text_case(q.clean_url_fn, lambda n: "https://e.com/p?" + query(n, "descending") + "#f"),
    },
    "clean_query_fn": {
        "ordered": text_case(q.clean_query_fn, lambda n: query(n, "ascending")),
        "shuffled": text_case(q.clean_query_fn, lambda n: query(n, "shuffled")),
        "adversarial": text_case(q.clean_query_fn, encoded_query),
    },
    "SEOConfig.to_dict": {
        "ordered": config_case("ascending"),
        "shuffled": config_case("shuffled"),
        "adversarial": config_case("descending"),
    },
    "SEOEntity.to_dict": {shape: entity_case(shape) for shape in ("ordered", "shuffled", "adversarial")},
    "build+render+etag": {shape: build_case(shape) for shape in ("body", "breadcrumbs", "schema_jsonld")},
}


def measure(build: Case, sizes: List[str]) -> Tuple[List[float], float]:
    """Cost per byte at each size, and the floor per byte at the largest."""
    per_byte = []
    for size in sizes[:-1]:
        fn, nbytes = build(SIZES[size])
        per_byte.append(timed(fn) / nbytes)
    fn, nbytes = build(SIZES[sizes[-1]])
    result = pickle.dumps(fn(), protocol=pickle.HIGHEST_PROTOCOL)
    last, floor = timed_side_by_side(fn, lambda: pickle.loads(result))
    per_byte.append(last / nbytes)
    return per_byte, floor / nbytes


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default=",".join(SIZES), help="comma-separated, of " + ", ".join(SIZES))
    parser.add_argument("--only", default="", help="run only the operations whose name contains this text")
    parser.add_argument("--check", action="store_true", help="exit 1 when a ratio is above the target")
    args = parser.parse_args()
    sizes = [s for s in args.sizes.split(",") if s]

    header = f"{'operation':24s} {'shape':12s}" + "".join(f"{s + ' ns/B':>11s}" for s in sizes)
    header += f"{'last/first':>12s}{'floor ns/B':>12s}{'checked':>9s}{'tries':>6s}"
    print(header)
    print("-" * len(header))
    worst = 0.0
    for name, shapes in CASES.items():
        if args.only not in name:
            continue
        for shape, build in shapes.items():
            # A case over the target is measured again (at most three times in
            # all), keeping its best figure: load from other processes on a
            # shared machine passes, while an operation that is not linear
            # stays over the target every time.
            best: Tuple[float, List[float], float] = (float("inf"), [], 0.0)
            for tries in range(1, 4):
                per_byte, floor = measure(build, sizes)
                checked = per_byte[-1] / max(per_byte[0], floor)
                best = min(best, (checked, per_byte, floor))
                if checked <= TARGET_RATIO:
                    break
            checked, per_byte, floor = best
            worst = max(worst, checked)
            cells = "".join(f"{v:11.2f}" for v in per_byte)
            print(f"{name:24s} {shape:12s}{cells}{per_byte[-1] / per_byte[0]:12.2f}{floor:12.2f}{checked:9.2f}"
                  f"{tries:6d}", flush=True)
    print(f"\nworst checked ratio {worst:.2f} (target <= {TARGET_RATIO:.0f})")
    return 1 if args.check and worst > TARGET_RATIO else 0


if __name__ == "__main__":
    sys.exit(main())
