"""A Flask blog: the head in a Jinja2 template through seo_head, whole-page
conditional GET with Werkzeug's ETag, and a metadata endpoint for headless
front ends.

    pip install flask "quarlo-native[jinja]"
    python examples/flask_app.py    # http://127.0.0.1:5000/blog/hello-world
"""

from typing import Any
from urllib.parse import unquote, urlsplit

from flask import Flask, Response, abort, render_template_string, request

from quarlo import SEOConfig, SEOEntity, SEOImage, build_seo_payload
from quarlo.jinja import install
from quarlo.web import if_none_match, route_from_wsgi

CONFIG = SEOConfig("www.example.com", "https://www.example.com", site_name="Example Journal",
                   title_template="{title} | Example Journal",
                   default_og_image=SEOImage("https://www.example.com/img/default.png", width=1200, height=630))

# The blog's posts by slug (a database in a real application).
POSTS: dict[str, dict[str, Any]] = {
    "hello-world": {"title": "Hello, world", "excerpt": "The first post of the journal.",
                    "body": "<p>Welcome to the journal.</p>", "published": "2026-01-05", "author": "Ann Example"},
    "café": {"title": "Café & crème", "excerpt": "Where we write.", "body": "<p>Coffee first.</p>",
             "published": "2026-02-01", "author": "Ann Example"},
}

PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
{{ seo_head(payload, meta=[("name", "author", post.author)]) }}</head>
<body>
<h1>{{ post.title }}</h1>
{{ post.body|safe }}
</body>
</html>
"""

app = Flask(__name__)
install(app.jinja_env)  # seo_head: inserted as it is, autoescaping or not


def entity(post: dict[str, Any]) -> SEOEntity:
    return SEOEntity("post", title=post["title"], excerpt=post["excerpt"], body_html=post["body"],
                     published_at=post["published"], author_name=post["author"])


@app.get("/blog/<slug>")
def post_page(slug: str) -> Response:
    post = POSTS.get(slug)
    if post is None:
        abort(404)
    # The route as the client sent it: one canonical URL for every spelling.
    payload = build_seo_payload(entity(post), route_from_wsgi(request.environ), CONFIG)
    response = Response(render_template_string(PAGE, payload=payload, post=post), mimetype="text/html")
    response.add_etag()  # a digest of the whole page, body included
    response.make_conditional(request)  # 304 without a body when If-None-Match names it
    return response


@app.get("/seo")
def seo() -> Response:
    """The payload of a page for a headless front end: ``/seo?path=/blog/x``,
    the path as the browser shows it (percent-encoded), with the payload's own
    ETag."""
    route = request.args.get("path", "")
    path = unquote(urlsplit(route).path)
    post = POSTS.get(path.removeprefix("/blog/")) if path.startswith("/blog/") else None
    if post is None:
        abort(404)
    payload = build_seo_payload(entity(post), route, CONFIG)
    etag = payload.etag()
    if if_none_match(request.headers.get("If-None-Match"), etag):
        return Response(status=304, headers={"ETag": etag})
    return Response(payload.to_json(), mimetype="application/json", headers={"ETag": etag})


if __name__ == "__main__":
    app.run("127.0.0.1", 5000)
