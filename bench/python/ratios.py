"""The main job's cost as ratios to SHA-256, measured side by side in one run.

Run against the installed module (Jinja2 is needed for the template
comparison; scripts/bench installs it into .venv):

    python3 bench/python/ratios.py

The floor of any ETag is hashing the payload's own compact JSON text, so every
figure is printed as a ratio to hashlib.sha256 over that text, timed in
alternation with it: absolute times move with the load of a shared machine,
the ratios far less. The page is the typical blog post of
bench/typical_post.hpp: a 1.5 KB body, a featured image, a title template,
three breadcrumbs and a publisher with a logo.

The comparison is what an application would otherwise do per page view: a
Jinja2 head template rendered over a ready dictionary of the same metadata,
json.dumps of the JSON-LD, and a SHA-256 of the result. It does less work
than the module (nothing is resolved, nothing validated).
"""

from __future__ import annotations

import argparse
import hashlib
import json
import statistics
from collections.abc import Callable
from typing import Any

import _quarlo_native as q

from timing import paired_ns

BODY = (
    "<p>Last spring we moved the whole build farm to a new set of machines, and we learned a few things "
    "along the way. This post collects the ones we wish we had known <em>before</em> we started.</p>\n"
    '<h2 id="planning">Planning the move</h2>\n'
    "<p>We began with an inventory of every job, its owner and the secrets it needed. That list turned out "
    "to be the most useful document of the project \u2014 it told us which jobs nobody had touched in "
    "a year, and we simply retired those.</p>\n"
    '<p><img src="/media/2024/05/racks.jpg" alt="Two racks of servers" width="1200" height="800" '
    'loading="lazy"></p>\n'
    "<p>A few rules we followed:</p>\n<ul>\n"
    "  <li>Move one team at a time, and keep the old runners for a week.</li>\n"
    "  <li>Pin every tool version; \u201clatest\u201d is not a version.</li>\n"
    "  <li>Measure queue times before and after, not just build times.</li>\n</ul>\n"
    '<h2 id="results">Results</h2>\n'
    "<p>Median build time fell from 14 to 9 minutes, and the 95th percentile queue time dropped by half. "
    'Caches did most of the work: see <a href="https://example.com/blog/build-caches/" '
    'rel="noopener">our earlier post on build caches</a> for the details &amp; the numbers.</p>\n'
    "<blockquote><p>It\u2019s the boring parts of a migration that decide whether it succeeds.</p>"
    "</blockquote>\n"
    "<p>Next time we will write the inventory first and automate the rest. If you are planning a similar "
    "move, <strong>start with the list</strong>; everything else follows from it.</p>\n"
    "<p>Thanks to everyone on the infrastructure team who carried pagers during the switch-over week, and "
    "to the teams who volunteered to go first.</p>\n"
)
ROUTE = "/blog/faster-builds/?utm_source=newsletter"

HEAD_TEMPLATE = """<title>{{ title }}</title>
<meta name="description" content="{{ description }}">
<link rel="canonical" href="{{ canonical_url }}">
<meta name="robots" content="{{ robots }}">
{% for key, value in og.items() if value is not none %}<meta property="og:{{ key }}" content="{{ value }}">
{% endfor %}{% for key, value in twitter.items() if value is not none %}<meta name="twitter:{{ key }}" content="{{ value }}">
{% endfor %}<script type="application/ld+json">{{ schema }}</script>
"""


def typical_inputs() -> tuple[q.SEOEntity, q.SEOConfig]:
    config = q.SEOConfig(
        "www.example.com", "https://www.example.com", site_name="Example Blog",
        title_template="{title} | Example Blog", locale="en_US", twitter_site="@example",
        publisher_name="Example Inc.", publisher_logo="/media/logo.png")
    entity = q.SEOEntity(
        "post", slug="faster-builds", title="How we moved our build farm", body_html=BODY,
        status="published", published_at="2024-05-14T09:30:00Z", updated_at="2024-05-20T16:05:00Z",
        author_name="Jane Doe",
        featured_image=q.SEOImage("https://www.example.com/media/2024/05/racks.jpg", width=1200, height=630,
                                  alt="Two racks of servers"),
        breadcrumbs=[q.Breadcrumb("Home", "/"), q.Breadcrumb("Blog", "/blog/"),
                     q.Breadcrumb("How we moved our build farm", "/blog/faster-builds/")])
    return entity, config


class NoOpHook:
    def run(self, event: str, payload: Any, entity: Any, config: Any) -> None:
        return None


def jinja_job() -> Callable[[], object] | None:
    try:
        import jinja2
    except ImportError:
        return None
    entity, config = typical_inputs()
    data = q.build_seo_payload(entity, ROUTE, config).to_dict()
    template = jinja2.Environment(autoescape=True).from_string(HEAD_TEMPLATE)

    def job() -> object:
        schema = json.dumps(data["schema_jsonld"], ensure_ascii=False, sort_keys=True).replace("</", "<\\/")
        html = template.render(title=data["title"], description=data["description"],
                               canonical_url=data["canonical"], robots=data["robots"],
                               og=data["og"], twitter=data["twitter"], schema=schema)
        return '"' + hashlib.sha256(html.encode()).hexdigest() + '"'

    return job


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--number", type=int, default=20000)
    parser.add_argument("--repeat", type=int, default=9)
    options = parser.parse_args()

    entity, config = typical_inputs()
    hooked = q.SEOConfig("www.example.com", "https://www.example.com", site_name="Example Blog",
                         title_template="{title} | Example Blog", locale="en_US", twitter_site="@example",
                         publisher_name="Example Inc.", publisher_logo="/media/logo.png", hooks=NoOpHook())
    build = q.build_seo_payload
    payload = build(entity, ROUTE, config)
    # to_json() has the hashed text's key order; only the layout differs.
    compact = json.dumps(json.loads(payload.to_json()), ensure_ascii=False, separators=(",", ":")).encode()
    assert hashlib.sha256(compact).hexdigest() == payload.hash(), "not the hashed text"
    text = compact.decode()

    def sha() -> object:
        return hashlib.sha256(compact).hexdigest()

    def main_job() -> object:
        p = build(entity, ROUTE, config)
        return p.render_html(), p.etag()

    # Each measure is timed in alternation with its base, so that both see the
    # same load; the ratio printed is the median of the per-round ratios.
    rows: list[tuple[str, float, str, str]] = []
    sha_ns: list[float] = []

    def row(name: str, fn: Callable[[], object], base: Callable[[], object], base_name: str,
            target: float, at_most: bool = True, number: int = options.number) -> None:
        fn(), base()
        ns, base_ns, ratio = paired_ns(fn, base, number=number, repeat=options.repeat)
        if base is sha:
            sha_ns.append(base_ns)
        if at_most:
            shown, met = f"{ratio:.2f}x {base_name}", ratio <= target
            goal = f"<= {target}"
        else:
            # A speed-up: how many times longer the base takes.
            ratio = 1 / ratio
            shown, met = f"{base_name} takes {ratio:.1f}x as long", ratio >= target
            goal = f">= {target}"
        rows.append((name, ns, shown, f"(target {goal}: {'ok' if met else 'OVER'})"))

    row("build_seo_payload", lambda: build(entity, ROUTE, config), sha, "sha256", 1.0)
    row("render_html()", payload.render_html, sha, "sha256", 0.4)
    row("etag()", payload.etag, sha, "sha256", 1.2)
    row("hash()", payload.hash, sha, "sha256", 1.2)
    row("build + render_html + etag", main_job, sha, "sha256", 3.0)
    row("build with one no-op hook", lambda: build(entity, ROUTE, hooked), lambda: build(entity, ROUTE, config),
        "plain build", 2.5)
    row("to_dict()", payload.to_dict, lambda: json.loads(text), "json.loads", 0.3)
    jinja = jinja_job()
    if jinja is not None:
        row("main job vs a Jinja2 head", main_job, jinja, "Jinja2 head + json.dumps + sha256", 10,
            at_most=False, number=max(1, options.number // 10))

    print(f"typical post: compact JSON {len(compact)} bytes; sha256 of it {statistics.median(sha_ns):.0f} ns")
    for name, ns, shown, verdict in rows:
        print(f"{name:28s} {ns / 1000:8.2f} us  {shown} {verdict}")


if __name__ == "__main__":
    main()
