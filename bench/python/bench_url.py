"""Per-call cost of the URL functions from Python (median of repeats).

Run after installing the module: python3 bench/python/bench_url.py
"""

import _quarlo_native as q

from timing import report

CONFIG = q.SEOConfig("www.example.com", "https://www.example.com")


def main() -> None:
    route = "/blog/hello-world/"
    full = "https://www.example.com/blog/hello-world/?utm_source=news&page=2&utm_medium=email&sort=asc"
    report("normalize_public_url_fn(route)", lambda: q.normalize_public_url_fn(route, CONFIG), target_ns=600)
    report("normalize_public_url_fn(full URL)", lambda: q.normalize_public_url_fn(full, CONFIG))
    report("clean_url_fn(URL, 4 params)",
           lambda: q.clean_url_fn("https://www.example.com/p?id=42&utm_source=news&page=2&fbclid=abc"),
           target_ns=900)
    report("clean_query_fn(5 params)",
           lambda: q.clean_query_fn("id=42&utm_source=news&page=2&fbclid=abc123&sort=asc"))


if __name__ == "__main__":
    main()
