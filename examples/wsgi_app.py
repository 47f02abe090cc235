"""A web page whose <head> comes from _quarlo_native, served by the standard
library's wsgiref (no other dependency).

Every response carries the payload's ETag; a request whose If-None-Match
names it gets 304 Not Modified without a body. The page body is made from
the payload alone, so the ETag covers everything that is sent.

    python3 examples/wsgi_app.py            # http://127.0.0.1:8000/blog/hello-world
    python3 examples/wsgi_app.py --port 0   # any free port
"""

import argparse
import html
from collections.abc import Callable
from typing import Any
from wsgiref.simple_server import WSGIRequestHandler, WSGIServer, make_server

import _quarlo_native as q

CONFIG = q.SEOConfig(
    "www.example.com",
    "https://www.example.com",
    site_name="Example Journal",
    title_template="{title} | Example Journal",
    default_og_image=q.SEOImage("https://www.example.com/img/default.png", width=1200, height=630),
    twitter_site="@examplejournal",
)

ENTITIES = {
    "/": q.SEOEntity("home", title="Example Journal", excerpt="Essays and notes on the craft of writing."),
    "/blog/hello-world": q.SEOEntity(
        "post",
        title="Hello, world",
        excerpt="The first post of the example journal.",
        status="published",
        breadcrumbs=[q.Breadcrumb("Home", "/"), q.Breadcrumb("Blog", "/blog")],
    ),
}

# The home page is titled by the site name alone, not wrapped in the title
# template (which would read "Example Journal | Example Journal").
OVERRIDES = {"/": q.SEOOverrides(skip_title_template=True)}

ALLOWED_METHODS = ("GET", "HEAD")

PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
{head}</head>
<body>
<h1>{heading}</h1>
<p>{description}</p>
</body>
</html>
"""


def etag_matches(if_none_match: str | None, etag: str) -> bool:
    """Whether an If-None-Match header value names `etag` (weak comparison)."""
    if not if_none_match:
        return False
    for candidate in if_none_match.split(","):
        candidate = candidate.strip()
        if candidate == "*" or candidate.removeprefix("W/") == etag:
            return True
    return False


def build_payload(path: str) -> q.SEOPayload:
    """The payload of the page at `path` (a key of ENTITIES)."""
    return q.build_seo_payload(ENTITIES[path], path, CONFIG, OVERRIDES.get(path))


def plain_answer(start_response: Callable[..., Any], status: str,
                 extra_headers: tuple[tuple[str, str], ...] = ()) -> list[bytes]:
    start_response(status, [("Content-Type", "text/plain; charset=utf-8"), *extra_headers])
    return [status.encode()]


def app(environ: dict[str, Any], start_response: Callable[..., Any]) -> list[bytes]:
    path = environ.get("PATH_INFO") or "/"
    if path not in ENTITIES:
        return plain_answer(start_response, "404 Not Found")
    if environ["REQUEST_METHOD"] not in ALLOWED_METHODS:
        # HTTP requires a 405 answer to name the methods the page does allow.
        return plain_answer(start_response, "405 Method Not Allowed", (("Allow", ", ".join(ALLOWED_METHODS)),))

    payload = build_payload(path)
    etag = payload.etag()
    headers = [("ETag", etag), ("Cache-Control", "no-cache")]
    if etag_matches(environ.get("HTTP_IF_NONE_MATCH"), etag):
        start_response("304 Not Modified", headers)
        return []

    body = PAGE.format(head=payload.render_html(), heading=html.escape(payload.og.title or payload.title),
                       description=html.escape(payload.description)).encode()
    headers += [("Content-Type", "text/html; charset=utf-8"), ("Content-Length", str(len(body)))]
    start_response("200 OK", headers)
    return [] if environ["REQUEST_METHOD"] == "HEAD" else [body]


class QuietHandler(WSGIRequestHandler):
    def log_message(self, format: str, *args: Any) -> None:  # noqa: A002 (the base class's name)
        pass


def create_server(host: str = "127.0.0.1", port: int = 8000, quiet: bool = False) -> WSGIServer:
    return make_server(host, port, app, handler_class=QuietHandler if quiet else WSGIRequestHandler)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8000)
    options = parser.parse_args()
    with create_server(options.host, options.port) as server:
        print(f"serving on http://{options.host}:{server.server_port}/blog/hello-world (Ctrl-C to stop)")
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    main()
