"""Constructor timings for the entity and configuration classes.

Run against the installed module:

    python3 bench/python/bench_classes.py [--repeats N] [--number N]

Each case is timed with timeit over `number` calls, `repeats` times; the
median per-call time is reported next to its target.
"""

import argparse
import statistics
import timeit

import _quarlo_native as native

BODY_HTML = ("<p>" + "Lorem ipsum dolor sit amet, consectetur adipiscing elit. " * 40 + "</p>")[:2048]
assert len(BODY_HTML) == 2048

IMAGE = native.SEOImage("https://example.com/cover.png", width=1200, height=630, alt="Cover")
CRUMBS = [
    native.Breadcrumb("Home", "https://example.com/"),
    native.Breadcrumb("Blog", "https://example.com/blog"),
    native.Breadcrumb("Hello", "https://example.com/blog/hello"),
]


def make_entity(SEOEntity=native.SEOEntity, image=IMAGE, crumbs=CRUMBS, body=BODY_HTML):
    return SEOEntity(
        "post",
        title="Hello, world",
        excerpt="A short introduction to the blog.",
        body_html=body,
        status="published",
        featured_image=image,
        breadcrumbs=crumbs,
    )


def make_config(SEOConfig=native.SEOConfig):
    return SEOConfig(
        "example.com",
        "https://example.com",
        title_template="{title} | Example",
        site_name="Example",
    )


CASES = [
    ("SEOEntity(post, 2 KB body, image, 3 breadcrumbs)", make_entity, 1.5),
    ("SEOConfig(host, base, title_template, site_name)", make_config, 3.0),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeats", type=int, default=21)
    parser.add_argument("--number", type=int, default=20_000)
    options = parser.parse_args()
    for label, fn, target_us in CASES:
        fn()  # warm up: type objects, interned names
        runs = timeit.repeat(fn, number=options.number, repeat=options.repeats)
        per_call = [run / options.number * 1e6 for run in runs]
        median = statistics.median(per_call)
        verdict = "ok" if median <= target_us else "OVER TARGET"
        print(f"{label:52s} median {median:6.3f} us  min {min(per_call):6.3f} us  "
              f"(target <= {target_us} us: {verdict})")


if __name__ == "__main__":
    main()
