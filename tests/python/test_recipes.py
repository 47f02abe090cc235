"""The README's web framework recipes (the files in examples/), each served by
a real server on 127.0.0.1 and asked by a real HTTP client."""

import contextlib
import importlib.util
import io
import pathlib
import re
import socket
import sys
import threading

import pytest

import quarlo
from quarlo.web import head

ROOT = pathlib.Path(__file__).resolve().parents[2]
TIMEOUT = 10
RECIPES = ["flask_app", "fastapi_app", "django_app"]


def load(name):
    """The example module, loaded once under a name of its own (Django finds
    its URLs through it)."""
    module_name = f"quarlo_recipe_{name}"
    if module_name not in sys.modules:
        spec = importlib.util.spec_from_file_location(module_name, ROOT / "examples" / f"{name}.py")
        module = importlib.util.module_from_spec(spec)
        sys.modules[module_name] = module
        spec.loader.exec_module(module)
    return sys.modules[module_name]


@contextlib.contextmanager
def flask_server(module):
    from werkzeug.serving import make_server

    server = make_server("127.0.0.1", 0, module.app, threaded=True)
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True)
    thread.start()
    try:
        yield server.server_port
    finally:
        server.shutdown()
        thread.join(TIMEOUT)
        server.server_close()


@contextlib.contextmanager
def fastapi_server(module):
    import uvicorn

    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    server = uvicorn.Server(uvicorn.Config(module.app, log_level="warning", lifespan="off"))
    thread = threading.Thread(target=server.run, kwargs={"sockets": [listener]}, daemon=True)
    thread.start()
    try:
        for _ in range(TIMEOUT * 100):
            if server.started or not thread.is_alive():
                break
            threading.Event().wait(0.01)
        assert server.started
        yield listener.getsockname()[1]
    finally:
        server.should_exit = True
        thread.join(TIMEOUT)
        listener.close()


@contextlib.contextmanager
def django_server(module):
    from django.core.servers.basehttp import ThreadedWSGIServer, WSGIRequestHandler
    from django.core.wsgi import get_wsgi_application

    class QuietHandler(WSGIRequestHandler):
        def log_message(self, *args):
            pass

    server = ThreadedWSGIServer(("127.0.0.1", 0), QuietHandler)
    server.set_app(get_wsgi_application())
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True)
    thread.start()
    try:
        yield server.server_address[1]
    finally:
        server.shutdown()
        thread.join(TIMEOUT)
        server.server_close()


SERVERS = {"flask_app": ("flask", flask_server), "fastapi_app": ("fastapi", fastapi_server),
           "django_app": ("django", django_server)}


class Site:
    def __init__(self, name, module, client):
        self.name, self.module, self.client = name, module, client
        self.config = module.get_config() if name == "django_app" else module.CONFIG

    def payload(self, slug, route):
        return quarlo.build_seo_payload(self.module.entity(self.module.POSTS[slug]), route, self.config)


@pytest.fixture(scope="module", params=RECIPES)
def site(request):
    framework, serve = SERVERS[request.param]
    pytest.importorskip(framework)
    httpx = pytest.importorskip("httpx")
    module = load(request.param)
    with serve(module) as port, httpx.Client(base_url=f"http://127.0.0.1:{port}", timeout=TIMEOUT) as client:
        yield Site(request.param, module, client)


def canonical(body):
    return re.search(r'<link rel="canonical" href="([^"]*)">', body).group(1)


def test_head_in_the_template(site):
    response = site.client.get("/blog/caf%C3%A9?page=2&utm_source=newsletter")
    assert response.status_code == 200 and response.headers["content-type"].startswith("text/html")
    payload = site.payload("café", "/blog/caf%C3%A9?page=2&utm_source=newsletter")
    expected = head(payload, meta=[("name", "author", "Ann Example")])
    assert expected in response.text  # inserted as it is, while the page's own text is escaped
    assert "<title>Café &amp; crème | Example Journal</title>" in expected and "<h1>Café &amp; crème</h1>" in response.text
    assert '<meta property="article:published_time" content="2026-02-01">' in expected
    # The canonical URL of the page as a link spells it, not the one the framework decoded.
    assert canonical(response.text) == quarlo.normalize_public_url_fn("https://www.example.com/blog/café?page=2",
                                                                      site.config)
    assert site.client.get("/blog/missing").status_code == 404


def test_whole_page_conditional_get(site, monkeypatch):
    first = site.client.get("/blog/hello-world")
    etag = first.headers["etag"]
    for if_none_match in (etag, "W/" + etag, f'"other", {etag}', "*"):
        response = site.client.get("/blog/hello-world", headers={"If-None-Match": if_none_match})
        assert (response.status_code, response.content, response.headers["etag"]) == (304, b"", etag)
    assert site.client.get("/blog/hello-world", headers={"If-None-Match": '"other"'}).status_code == 200

    # An edited body changes the page's ETag, though not the metadata's.
    metadata = site.payload("hello-world", "/blog/hello-world")
    monkeypatch.setitem(site.module.POSTS["hello-world"], "body", "<p>Edited.</p>")
    assert site.payload("hello-world", "/blog/hello-world").etag() == metadata.etag()
    edited = site.client.get("/blog/hello-world", headers={"If-None-Match": etag})
    assert edited.status_code == 200 and "<p>Edited.</p>" in edited.text and edited.headers["etag"] != etag


@pytest.mark.parametrize("site", ["flask_app", "fastapi_app"], indirect=True)
def test_metadata_endpoint(site):
    route = "/blog/caf%C3%A9?page=2&utm_source=x"  # location.pathname + location.search
    response = site.client.get("/seo", params={"path": route})
    payload = site.payload("café", route)
    assert response.status_code == 200 and response.headers["content-type"].startswith("application/json")
    assert response.text == payload.to_json() and response.headers["etag"] == payload.etag()
    assert payload.canonical == canonical(site.client.get(route).text)

    for if_none_match, status in ((payload.etag(), 304), ("W/" + payload.etag(), 304), ("*", 304),
                                  (payload.hash(), 200), (f'"{payload.hash()}x"', 200)):
        response = site.client.get("/seo", params={"path": route}, headers={"If-None-Match": if_none_match})
        assert response.status_code == status and response.headers["etag"] == payload.etag()
    assert site.client.get("/seo", params={"path": "/blog/missing"}).status_code == 404
    assert site.client.get("/seo", params={"path": "/about"}).status_code == 404


BLOCK = re.compile(r"<!-- (examples/[\w.]+) -->\n```python\n(.*?)```\n", re.DOTALL)


def test_readme_shows_the_recipes_as_they_are():
    shown = dict(BLOCK.findall((ROOT / "README.md").read_text(encoding="utf-8")))
    assert set(shown) >= {f"examples/{name}.py" for name in RECIPES}
    for path, code in shown.items():
        assert code == (ROOT / path).read_text(encoding="utf-8"), path


try:
    from django.core.handlers.asgi import ASGIRequest
    from django.test import RequestFactory
except ImportError:
    pass


@pytest.mark.skipif("ASGIRequest" not in globals(), reason="Django is not installed")
@pytest.mark.parametrize("make_request, route", [
    (lambda: RequestFactory().get("/blog/café", {"page": "2", "utm_source": "x"}), "/blog/caf%C3%A9?page=2&utm_source=x"),
    (lambda: RequestFactory().get("/a%20b/", REQUEST_URI="/a%20b/?q=%C3%A9"), "/a%20b/?q=%C3%A9"),
    (lambda: ASGIRequest({"type": "http", "method": "GET", "path": "/blog/café", "raw_path": b"/blog/caf%C3%A9",
                          "query_string": b"q=%C3%A9", "headers": []}, io.BytesIO()), "/blog/caf%C3%A9?q=%C3%A9"),
])
def test_django_route_and_tag(make_request, route):
    module = load("django_app")
    from django.template import engines
    from django.test import override_settings

    from quarlo.django import get_config, route as django_route

    assert django_route(make_request()) == route
    template = engines["django"].from_string("{% load quarlo %}{% seo_head payload alternates=alternates %}")
    payload = quarlo.build_seo_payload(quarlo.SEOEntity("page"), route, get_config())
    rendered = template.render({"payload": payload, "alternates": {"de": route}})
    assert rendered.endswith(f'<link rel="alternate" hreflang="de" href="{payload.canonical}">\n')
    with override_settings(QUARLO={**module.settings.QUARLO, "canonical_host": "example.org"}):
        assert get_config().to_dict()["canonical_host"] == "example.org"
    assert get_config().to_dict()["canonical_host"] == "www.example.com"
