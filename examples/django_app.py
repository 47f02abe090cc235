"""A Django blog in one file: the quarlo app with its seo_head tag, the
configuration from settings.QUARLO, and whole-page conditional GET through
Django's ConditionalGetMiddleware.

    pip install django "quarlo-native[django]"
    python examples/django_app.py    # http://127.0.0.1:8000/blog/hello-world

In a project, the settings go into settings.py, the view into views.py and
the template into templates/.
"""

import sys
from typing import Any

import django
from django.conf import settings

PAGE = """{% load quarlo %}<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
{% seo_head payload meta=meta %}</head>
<body>
<h1>{{ post.title }}</h1>
{{ post.body|safe }}
</body>
</html>
"""

settings.configure(
    DEBUG=False,
    SECRET_KEY="example only",
    ALLOWED_HOSTS=["127.0.0.1", "localhost"],
    ROOT_URLCONF=__name__,
    INSTALLED_APPS=["quarlo.django"],
    # ETag from a digest of the whole page, body included; 304 when If-None-Match names it.
    MIDDLEWARE=["django.middleware.http.ConditionalGetMiddleware"],
    TEMPLATES=[{"BACKEND": "django.template.backends.django.DjangoTemplates",
                "OPTIONS": {"loaders": [("django.template.loaders.locmem.Loader", {"post.html": PAGE})]}}],
    QUARLO={
        "canonical_host": "www.example.com",
        "public_base_url": "https://www.example.com",
        "site_name": "Example Journal",
        "title_template": "{title} | Example Journal",
        "default_og_image": {"url": "https://www.example.com/img/default.png", "width": 1200, "height": 630},
    },
)
django.setup()

from django.http import Http404, HttpRequest, HttpResponse  # noqa: E402 (after the settings)
from django.shortcuts import render  # noqa: E402
from django.urls import path  # noqa: E402

from quarlo import SEOEntity, build_seo_payload  # noqa: E402
from quarlo.django import get_config, route  # noqa: E402

# The blog's posts by slug (a database in a real application).
POSTS: dict[str, dict[str, Any]] = {
    "hello-world": {"title": "Hello, world", "excerpt": "The first post of the journal.",
                    "body": "<p>Welcome to the journal.</p>", "published": "2026-01-05", "author": "Ann Example"},
    "café": {"title": "Café & crème", "excerpt": "Where we write.", "body": "<p>Coffee first.</p>",
             "published": "2026-02-01", "author": "Ann Example"},
}


def entity(post: dict[str, Any]) -> SEOEntity:
    return SEOEntity("post", title=post["title"], excerpt=post["excerpt"], body_html=post["body"],
                     published_at=post["published"], author_name=post["author"])


def post_page(request: HttpRequest, slug: str) -> HttpResponse:
    post = POSTS.get(slug)
    if post is None:
        raise Http404
    # The route as the client sent it: one canonical URL for every spelling.
    payload = build_seo_payload(entity(post), route(request), get_config())
    return render(request, "post.html", {"payload": payload, "post": post, "meta": [("name", "author", post["author"])]})


urlpatterns = [path("blog/<str:slug>", post_page)]

if __name__ == "__main__":
    from django.core.management import execute_from_command_line

    execute_from_command_line([sys.argv[0], "runserver", "127.0.0.1:8000", "--noreload"])
