"""Per-call cost of the SEOPayload methods for a typical blog post.

Run against the installed module:

    python3 bench/python/bench_payload.py

to_dict() is compared with json.loads of the payload's own compact JSON text
(the text that hash() digests), timed in the same run: both create the same
Python objects, to_dict() skips the parsing.
"""

import hashlib
import json

import _quarlo_native as q

from bench_classes import make_config, make_entity
from timing import report

TO_DICT_RATIO = 0.6


def typical_post():
    return q.build_seo_payload(make_entity(), "/blog/hello-world", make_config())


def compact_text(payload):
    # to_json() keeps the declaration order of the JSON texts; only the layout
    # differs from the hashed compact text.
    text = json.dumps(json.loads(payload.to_json()), separators=(",", ":"), ensure_ascii=False)
    assert hashlib.sha256(text.encode()).hexdigest() == payload.hash(), "not the hashed text"
    return text


def main() -> None:
    payload = typical_post()
    text = compact_text(payload)
    assert json.loads(text) == payload.to_dict()
    print(f"typical post: {len(payload)} keys, compact JSON {len(text.encode())} bytes")

    loads_ns = report("json.loads(compact text)", lambda: json.loads(text))
    to_dict_ns = report("payload.to_dict()", payload.to_dict, target_ns=TO_DICT_RATIO * loads_ns)
    ratio = to_dict_ns / loads_ns
    verdict = "ok" if ratio <= TO_DICT_RATIO else "OVER TARGET"
    print(f"{'  to_dict / json.loads':45s} {ratio:8.2f}     (target <= {TO_DICT_RATIO}: {verdict})")

    report('payload["title"]', lambda: payload["title"], target_ns=400)
    report('payload["og"]', lambda: payload["og"])
    report('"title" in payload', lambda: "title" in payload)
    report("len(payload)", lambda: len(payload))
    report("payload.keys()", payload.keys)
    report("payload.hash()", payload.hash, target_ns=1500)
    report("payload.etag()", payload.etag)
    expected = payload.to_dict()
    report("payload == dict", lambda: payload == expected)
    report("payload.to_json()", payload.to_json)
    report("payload.render_html()", payload.render_html)


if __name__ == "__main__":
    main()
