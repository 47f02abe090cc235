"""The wsgiref example serves a page whose head comes from the module and
answers If-None-Match with 304."""

import http.client
import importlib.util
import pathlib
import threading

import pytest


EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "wsgi_app.py"
TIMEOUT = 10


@pytest.fixture(scope="module")
def example():
    spec = importlib.util.spec_from_file_location("wsgi_app_example", EXAMPLE)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.fixture
def server(example):
    server = example.create_server("127.0.0.1", 0, quiet=True)
    server.timeout = TIMEOUT
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True)
    thread.start()
    try:
        yield server.server_address[:2]
    finally:
        server.shutdown()
        thread.join(TIMEOUT)
        server.server_close()
        assert not thread.is_alive()


def request(address, path, headers=None, method="GET"):
    connection = http.client.HTTPConnection(*address, timeout=TIMEOUT)
    try:
        connection.request(method, path, headers=headers or {})
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        connection.close()


def test_page_then_not_modified(example, server):
    status, headers, body = request(server, "/blog/hello-world")
    payload = example.build_payload("/blog/hello-world")
    assert status == 200 and headers["ETag"] == payload.etag()
    assert headers["Content-Type"] == "text/html; charset=utf-8" and int(headers["Content-Length"]) == len(body)
    assert payload.render_html().encode() in body

    status, headers, body = request(server, "/blog/hello-world", {"If-None-Match": payload.etag()})
    assert (status, headers["ETag"], body) == (304, payload.etag(), b"")


@pytest.mark.parametrize(
    "if_none_match, status",
    [('"0000"', 200), ('"0000", W/{etag}', 304), ("*", 304), ("", 200), ("{etag_unquoted}", 200)],
)
def test_if_none_match_forms(example, server, if_none_match, status):
    etag = example.build_payload("/").etag()
    value = if_none_match.format(etag=etag, etag_unquoted=etag.strip('"'))
    assert request(server, "/", {"If-None-Match": value})[0] == status


@pytest.mark.parametrize("path, method, status, allow", [("/nope", "GET", 404, None), ("/", "POST", 405, "GET, HEAD"),
                                                         ("/blog/hello-world", "DELETE", 405, "GET, HEAD")])
def test_unknown_path_and_method(server, path, method, status, allow):
    answer, headers, _ = request(server, path, method=method)
    assert (answer, headers.get("Allow")) == (status, allow)


@pytest.mark.parametrize("path, title", [("/", "Example Journal"), ("/blog/hello-world", "Hello, world | Example Journal")])
def test_page_titles(server, path, title):
    body = request(server, path)[2].decode()
    assert f"<title>{title}</title>" in body and f'<meta property="og:title" content="{title}">' in body
