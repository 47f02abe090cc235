"""A FastAPI blog: the head in a Jinja2 template through seo_head, whole-page
conditional GET with an ETag from a digest of the body, and a metadata
endpoint for headless front ends.

    pip install fastapi uvicorn "quarlo-native[jinja]"
    python examples/fastapi_app.py    # http://127.0.0.1:8000/blog/hello-world
"""

import hashlib
from typing import Any
from urllib.parse import unquote, urlsplit

from fastapi import FastAPI, HTTPException, Request, Response
from fastapi.templating import Jinja2Templates
from jinja2 import DictLoader, Environment

from quarlo import SEOConfig, SEOEntity, SEOImage, build_seo_payload
from quarlo.jinja import install
from quarlo.web import if_none_match, route_from_asgi

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

templates = Jinja2Templates(env=Environment(loader=DictLoader({"post.html": PAGE}), autoescape=True))
install(templates.env)  # seo_head: inserted as it is, autoescaping or not
app = FastAPI()


def entity(post: dict[str, Any]) -> SEOEntity:
    return SEOEntity("post", title=post["title"], excerpt=post["excerpt"], body_html=post["body"],
                     published_at=post["published"], author_name=post["author"])


@app.get("/blog/{slug}")
def post_page(slug: str, request: Request) -> Response:
    post = POSTS.get(slug)
    if post is None:
        raise HTTPException(404)
    # The route as the client sent it: one canonical URL for every spelling.
    payload = build_seo_payload(entity(post), route_from_asgi(request.scope), CONFIG)
    response = templates.TemplateResponse(request, "post.html", {"payload": payload, "post": post})
    etag = f'"{hashlib.sha256(response.body).hexdigest()}"'  # a digest of the whole page, body included
    if if_none_match(request.headers.get("If-None-Match"), etag):
        return Response(status_code=304, headers={"ETag": etag})
    response.headers["ETag"] = etag
    return response


@app.get("/seo")
def seo(path: str, request: Request) -> Response:
    """The payload of a page for a headless front end: ``/seo?path=/blog/x``,
    the path as the browser shows it (percent-encoded), with the payload's own
    ETag."""
    page = unquote(urlsplit(path).path)
    post = POSTS.get(page.removeprefix("/blog/")) if page.startswith("/blog/") else None
    if post is None:
        raise HTTPException(404)
    payload = build_seo_payload(entity(post), path, CONFIG)
    etag = payload.etag()
    if if_none_match(request.headers.get("If-None-Match"), etag):
        return Response(status_code=304, headers={"ETag": etag})
    return Response(payload.to_json(), media_type="application/json", headers={"ETag": etag})


if __name__ == "__main__":
    import uvicorn

    uvicorn.run(app, host="127.0.0.1", port=8000)
