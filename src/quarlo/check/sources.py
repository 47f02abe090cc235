"""Where pages come from: a directory of built HTML files, a JSON Lines file
of payload dictionaries, or a running site fetched over HTTP. Each source
also finds the site's sitemap."""

from __future__ import annotations

import concurrent.futures
import gzip
import http.client
import io
import json
import multiprocessing
import os
import re
import socket
import ssl
import threading
import urllib.parse
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Iterable, Iterator, Union

from .._ordered import chunked, ordered_futures
from .contract import Contract
from .evaluate import url_key
from .findings import Finding, Location
from .page import Page, page_from_payload, parse_head

#: Sitemaps may hold 50 MB uncompressed; a little more is tolerated.
MAX_SITEMAP_BYTES = 64 * 1024 * 1024
#: Pages larger than this are reported, not read.
MAX_PAGE_BYTES = 16 * 1024 * 1024
MAX_REDIRECTS = 5
_SITEMAP_NS = "{http://www.sitemaps.org/schemas/sitemap/0.9}"
_CHUNK = 32

PageOrFinding = Union[Page, Finding]
Fetch = Callable[[str], bytes]


class SitemapError(Exception):
    """A sitemap that cannot be fetched or read."""


@dataclass
class Sitemap:
    """The URLs of a site's sitemap (by ``url_key``), or, when it could not be
    read, ``urls`` None and a finding that says why."""

    urls: set[str] | None
    findings: list[Finding]


def read_sitemap(data: bytes) -> tuple[str, list[str]]:
    """The kind of a sitemap file ("urlset" or "sitemapindex") and its
    ``<loc>`` texts in order. Gzip-compressed files are read too."""
    if data[:2] == b"\x1f\x8b":
        try:
            with gzip.GzipFile(fileobj=io.BytesIO(data)) as unzipped:
                data = unzipped.read(MAX_SITEMAP_BYTES + 1)
        except (OSError, EOFError) as exc:
            raise SitemapError(f"not a readable gzip file: {exc}") from None
    if len(data) > MAX_SITEMAP_BYTES:
        raise SitemapError("larger than 64 MB")
    kind, locs = "", []
    try:
        for event, element in ElementTree.iterparse(io.BytesIO(data), events=("start", "end")):
            if event == "start":
                if not kind:
                    kind = element.tag.removeprefix(_SITEMAP_NS)
                    if kind not in ("urlset", "sitemapindex"):
                        raise SitemapError(f"the root element is <{element.tag}>, not a sitemap")
            elif element.tag == _SITEMAP_NS + "loc":
                locs.append((element.text or "").strip())
            elif element.tag in (_SITEMAP_NS + "url", _SITEMAP_NS + "sitemap"):
                element.clear()
    except ElementTree.ParseError as exc:
        raise SitemapError(f"not well-formed XML: {exc}") from None
    return kind, locs


@dataclass
class PageRef:
    """A page listed by a source and not yet read: its route, where it is,
    and, for a JSON Lines record, the page itself (read with the list)."""

    route: str
    location: Location
    page: Page | None = None


class Source:
    """A source of pages. ``refs`` lists, in a fixed order, each page or,
    for what cannot be tied to a route, a finding; ``load`` reads one page;
    ``pages`` does both, with ``jobs`` workers."""

    description = ""

    def refs(self, contract: Contract) -> Iterator[Union[PageRef, Finding]]:
        raise NotImplementedError

    def load(self, ref: PageRef, contract: Contract) -> Page:
        raise NotImplementedError

    def pages(self, contract: Contract, jobs: int) -> Iterator[PageOrFinding]:
        for item in self.refs(contract):
            yield item if isinstance(item, Finding) else self.load(item, contract)

    def sitemap(self, contract: Contract) -> Sitemap:
        """The sitemap's URLs, for the ``sitemap`` expectations."""
        raise NotImplementedError

    def close(self) -> None:
        """Releases what the source holds open (connections)."""

    @staticmethod
    def _load_sitemap(location: str, fetch: Fetch) -> Sitemap:
        urls: set[str] = set()
        try:
            kind, locs = read_sitemap(fetch(location))
            if kind == "sitemapindex":
                for loc in locs:
                    child_kind, child_locs = read_sitemap(fetch(loc))
                    if child_kind != "urlset":
                        raise SitemapError(f"{loc}: a sitemap index may list only sitemaps")
                    urls.update(map(url_key, child_locs))
            else:
                urls.update(map(url_key, locs))
        except SitemapError as exc:
            return Sitemap(None, [Finding("sitemap.unreadable", "error", f"cannot read the sitemap: {exc}",
                                          Location(location))])
        return Sitemap(urls, [])


def read_html_file(path: str, route: str) -> Page:
    """The page of one HTML file; an unreadable file is a page with an
    error."""
    location = Location(path)
    try:
        data = Path(path).read_bytes()
    except OSError as exc:
        return Page(route, location, error=f"cannot read the file: {exc.strerror or exc}")
    try:
        return parse_head(data, route, location)
    except ImportError:
        raise
    except Exception as exc:  # the parser accepts any bytes; anything else is reported, not raised
        return Page(route, location, error=f"cannot parse the file: {exc!r}")


def _read_html_files(chunk: list[PageRef]) -> list[Page]:
    return [read_html_file(ref.location.uri, ref.route) for ref in chunk]


_PATH_SAFE = "/!$&'()*+,;=:@-._~"


def _read_file(path: Path, what: str) -> bytes:
    try:
        return path.read_bytes()
    except OSError as exc:
        raise SitemapError(f"cannot read {what} {path}: {exc.strerror or exc}") from None


class DirectorySource(Source):
    """Built HTML files (``*.html``, ``*.htm``) under a directory, in sorted
    path order. A file's route is its path below the directory,
    percent-encoded; ``index.html`` stands for its directory (``blog/
    index.html`` is ``/blog/``). The sitemap is ``sitemap.xml`` in the
    directory unless another file is given; the sitemaps a sitemap index
    lists are read from the directory by their URL's path."""

    def __init__(self, directory: Union[str, Path], *, sitemap: Union[str, Path, None] = None) -> None:
        self.directory = Path(directory)
        self.sitemap_path = Path(sitemap) if sitemap is not None else self.directory / "sitemap.xml"
        self.description = f"{directory} (directory)"

    def refs(self, contract: Contract) -> Iterator[Union[PageRef, Finding]]:
        for root, dirs, names in os.walk(self.directory):
            dirs.sort()
            relative = Path(root).relative_to(self.directory).as_posix()
            base = "/" if relative == "." else f"/{relative}/"
            for name in sorted(names):
                if name.endswith((".html", ".htm")):
                    route = base if name in ("index.html", "index.htm") else base + name
                    yield PageRef(urllib.parse.quote(route, safe=_PATH_SAFE), Location(os.path.join(root, name)))

    def load(self, ref: PageRef, contract: Contract) -> Page:
        return read_html_file(ref.location.uri, ref.route)

    def pages(self, contract: Contract, jobs: int) -> Iterator[PageOrFinding]:
        if jobs <= 1:
            yield from super().pages(contract, jobs)
            return
        # Parsing is the cost: worker processes, fed a chunk of files at a time.
        refs = (ref for ref in self.refs(contract) if isinstance(ref, PageRef))
        context = multiprocessing.get_context("spawn")
        with concurrent.futures.ProcessPoolExecutor(jobs, mp_context=context) as pool:
            for _, future in ordered_futures(lambda chunk: pool.submit(_read_html_files, chunk),
                                             chunked(refs, _CHUNK), jobs * 4):
                yield from future.result()

    def sitemap(self, contract: Contract) -> Sitemap:
        def fetch(location: str) -> bytes:
            if "://" not in location:
                return _read_file(Path(location), "the sitemap")
            path = urllib.parse.unquote(urllib.parse.urlsplit(location).path).lstrip("/")
            return _read_file(self.directory / path, "the sitemap")
        return self._load_sitemap(str(self.sitemap_path), fetch)


class JsonLinesSource(Source):
    """A JSON Lines file: one payload dictionary (``SEOPayload.to_dict()``)
    per line with its ``route`` added, and optionally ``alternates``. Blank
    lines are skipped. The sitemap, if any is checked, is a file given
    explicitly; the sitemaps a sitemap index lists are read from beside it,
    by file name."""

    def __init__(self, path: Union[str, Path], *, sitemap: Union[str, Path, None] = None) -> None:
        self.path = Path(path)
        self.sitemap_path = Path(sitemap) if sitemap is not None else None
        self.description = f"{path} (JSON Lines)"

    def refs(self, contract: Contract) -> Iterator[Union[PageRef, Finding]]:
        name = str(self.path)
        try:
            stream = self.path.open("rb")
        except OSError as exc:
            yield Finding("page.unreadable", "error", f"cannot read the file: {exc.strerror or exc}", Location(name))
            return
        with stream:
            for number, line in enumerate(stream, 1):
                if not line.strip():
                    continue
                location = Location(name, number)
                try:
                    record = json.loads(line)
                except ValueError as exc:
                    yield Finding("page.unreadable", "error", f"not a JSON object: {exc}", location)
                    continue
                route = record.get("route") if isinstance(record, dict) else None
                if not isinstance(route, str) or not route.startswith("/"):
                    yield Finding("page.unreadable", "error",
                                  "a line must be a payload object with a 'route' starting with '/'", location)
                    continue
                yield PageRef(route, location, page_from_payload(record, route, location))

    def load(self, ref: PageRef, contract: Contract) -> Page:
        assert ref.page is not None
        return ref.page

    def sitemap(self, contract: Contract) -> Sitemap:
        sitemap_path = self.sitemap_path
        if sitemap_path is None:
            return Sitemap(None, [Finding("sitemap.unreadable", "error",
                                          "the contract expects sitemap entries; give the sitemap with --sitemap",
                                          Location(str(self.path)))])

        def fetch(location: str) -> bytes:
            if "://" not in location:
                return _read_file(Path(location), "the sitemap")
            name = Path(urllib.parse.unquote(urllib.parse.urlsplit(location).path)).name
            return _read_file(sitemap_path.parent / name, "the sitemap")
        return self._load_sitemap(str(sitemap_path), fetch)


class OffSite(Exception):
    """A redirect or a URL that leaves the site's host."""


@dataclass
class Response:
    status: int
    reason: str
    headers: http.client.HTTPMessage
    body: bytes
    url: str


class _Client:
    """GET requests to one site, one keep-alive connection per thread,
    following redirects only on the site's host."""

    def __init__(self, base_url: str, timeout: float) -> None:
        self.base = urllib.parse.urlsplit(base_url)
        self.host = (self.base.hostname or "").lower()
        self.timeout = timeout
        self.local = threading.local()
        self.context = ssl.create_default_context()
        self.lock = threading.Lock()
        self.opened: list[http.client.HTTPConnection] = []

    def _connection(self, scheme: str, netloc: str, fresh: bool) -> http.client.HTTPConnection:
        connections: dict[tuple[str, str], http.client.HTTPConnection] = self.local.__dict__.setdefault("c", {})
        key = (scheme, netloc)
        if fresh and key in connections:
            connections.pop(key).close()
        if key not in connections:
            if scheme == "https":
                connection: http.client.HTTPConnection = http.client.HTTPSConnection(
                    netloc, timeout=self.timeout, context=self.context)
            else:
                connection = http.client.HTTPConnection(netloc, timeout=self.timeout)
            connections[key] = connection
            with self.lock:
                self.opened.append(connection)
        return connections[key]

    def _once(self, url: str, limit: int) -> Response:
        parts = urllib.parse.urlsplit(url)
        target = (parts.path or "/") + (f"?{parts.query}" if parts.query else "")
        headers = {"User-Agent": "quarlo-check", "Accept": "text/html,application/xhtml+xml,application/xml;q=0.9",
                   "Accept-Encoding": "identity"}
        for attempt in (0, 1):
            connection = self._connection(parts.scheme, parts.netloc, fresh=attempt > 0)
            try:
                connection.request("GET", target, headers=headers)
                response = connection.getresponse()
            except (http.client.RemoteDisconnected, BrokenPipeError, ConnectionResetError):
                if attempt:  # a kept-alive connection the server had closed: one fresh try
                    raise
                continue
            body = response.read(limit + 1)
            if len(body) > limit or response.will_close:
                connection.close()
            if len(body) > limit:
                raise OSError(f"larger than {limit // (1024 * 1024)} MB")
            return Response(response.status, response.reason, response.headers, body, url)
        raise AssertionError("unreachable")

    def get(self, url: str, limit: int) -> Response:
        for _ in range(MAX_REDIRECTS + 1):
            response = self._once(url, limit)
            location = response.headers.get("Location")
            if response.status not in (301, 302, 303, 307, 308) or not location:
                return response
            target = urllib.parse.urljoin(url, location)
            if (urllib.parse.urlsplit(target).hostname or "").lower() != self.host:
                raise OffSite(f"HTTP {response.status} redirects off the site to {target}; not followed")
            url = target
        raise OSError(f"more than {MAX_REDIRECTS} redirects")

    def close(self) -> None:
        """Closes the connections of every thread (once they are done)."""
        with self.lock:
            for connection in self.opened:
                connection.close()
            self.opened.clear()
            self.local = threading.local()


_DIRECTIVES_WITH_COLON = ("unavailable_after", "max-snippet", "max-image-preview", "max-video-preview")


def _robots_headers(values: list[str]) -> list[str]:
    """X-Robots-Tag values that apply to every crawler (no user-agent
    prefix)."""
    kept = []
    for value in values:
        prefix = re.match(r"\s*([A-Za-z0-9_-]+)\s*:", value)
        if prefix is None or prefix.group(1).lower() in _DIRECTIVES_WITH_COLON:
            kept.append(value)
    return kept


class SiteSource(Source):
    """A running site: the routes of a list (one a line, blank lines and
    ``#`` comments skipped; a full URL stands for its path and query) or of
    the site's sitemap, fetched concurrently (``jobs`` requests at a time)
    with a timeout per request. A redirect is followed on the site's host
    only. URLs on the contract's canonical host (in a sitemap, a sitemap
    index or the routes list) are fetched from the site."""

    def __init__(self, base_url: str, *, routes: Union[Iterable[str], None] = None,
                 sitemap: Union[str, None] = None, timeout: float = 10.0) -> None:
        parts = urllib.parse.urlsplit(base_url)
        if parts.scheme not in ("http", "https") or not parts.hostname:
            raise ValueError(f"the site URL {base_url!r} is not an absolute http(s) URL")
        if routes is None and sitemap is None:
            raise ValueError("a site needs its routes or its sitemap")
        self.base_url = base_url.rstrip("/")
        self.host = parts.hostname.lower()
        self.routes = routes
        self.sitemap_url = sitemap
        self.timeout = timeout
        self.description = f"{self.base_url} (site)"
        self.client = _Client(self.base_url, timeout)
        self._sitemap: Sitemap | None = None

    def site_url(self, url_or_route: str, contract: Contract) -> str:
        """The URL to fetch for a route, or for a URL on the site or on the
        contract's canonical host."""
        parts = urllib.parse.urlsplit(url_or_route.strip())
        if parts.scheme or parts.netloc:
            host = (parts.hostname or "").lower()
            if host not in (self.host, contract.host.split(":")[0].lower()):
                raise OffSite(f"{url_or_route} is not on the site")
        route = (parts.path or "/") + (f"?{parts.query}" if parts.query else "")
        if not route.startswith("/"):
            route = "/" + route
        return self.base_url + route

    def _fetch(self, location: str, contract: Contract) -> bytes:
        try:
            response = self.client.get(self.site_url(location, contract), MAX_SITEMAP_BYTES)
        except (OSError, OffSite, http.client.HTTPException) as exc:
            raise SitemapError(f"{location}: {exc}") from None
        if response.status != 200:
            raise SitemapError(f"{location}: HTTP {response.status} {response.reason}")
        return response.body

    def refs(self, contract: Contract) -> Iterator[Union[PageRef, Finding]]:
        if self.routes is not None:
            listed: Iterable[str] = (line.strip() for line in self.routes)
        else:
            assert self.sitemap_url is not None
            try:
                kind, locs = read_sitemap(self._fetch(self.sitemap_url, contract))
                if kind == "sitemapindex":
                    locs = [loc for child in locs for loc in read_sitemap(self._fetch(child, contract))[1]]
            except SitemapError as exc:
                yield Finding("sitemap.unreadable", "error", f"cannot read the sitemap: {exc}",
                              Location(self.sitemap_url))
                return
            listed = locs
        for item in listed:
            if not item or item.startswith("#"):
                continue
            try:
                url = self.site_url(item, contract)
            except OffSite as exc:
                yield Finding("page.unreadable", "warning", f"{exc}; not fetched", Location(item))
                continue
            yield PageRef(url[len(self.base_url):], Location(url))

    def load(self, ref: PageRef, contract: Contract) -> Page:
        route, location = ref.route, ref.location
        try:
            response = self.client.get(location.uri, MAX_PAGE_BYTES)
        except OffSite as exc:
            return Page(route, location, error=str(exc))
        except socket.timeout:
            return Page(route, location, error=f"no answer within {self.timeout:g} s")
        except (OSError, http.client.HTTPException) as exc:
            return Page(route, location, error=f"cannot fetch the page: {exc}")
        if response.status != 200:
            return Page(route, location, error=f"HTTP {response.status} {response.reason}")
        final = urllib.parse.urlsplit(response.url)
        path = (final.path or "/") + (f"?{final.query}" if final.query else "")
        charset = response.headers.get_content_charset()
        try:
            page = parse_head(response.body, route, location, path=path, encoding=charset)
        except ImportError:
            raise
        except Exception as exc:  # the parser accepts any bytes; anything else is reported, not raised
            return Page(route, location, error=f"cannot parse the page: {exc!r}")
        page.robots.extend(_robots_headers(response.headers.get_all("X-Robots-Tag") or []))
        return page

    def pages(self, contract: Contract, jobs: int) -> Iterator[PageOrFinding]:
        # Findings met while listing the routes wait for the pages before them.
        findings: list[Finding] = []

        def refs() -> Iterator[PageRef]:
            for item in self.refs(contract):
                if isinstance(item, Finding):
                    findings.append(item)
                else:
                    yield item

        try:
            with concurrent.futures.ThreadPoolExecutor(jobs, thread_name_prefix="quarlo-check") as pool:
                for _, future in ordered_futures(lambda ref: pool.submit(self.load, ref, contract), refs(),
                                                 jobs * 4):
                    yield from findings
                    findings.clear()
                    yield future.result()
            yield from findings
        finally:
            self.close()

    def sitemap(self, contract: Contract) -> Sitemap:
        if self._sitemap is None:
            location = self.sitemap_url or self.base_url + "/sitemap.xml"
            self._sitemap = self._load_sitemap(location, lambda url: self._fetch(url, contract))
        return self._sitemap

    def close(self) -> None:
        self.client.close()
