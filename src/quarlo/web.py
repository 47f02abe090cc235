"""Serving the payload from a web application; no framework is needed.

- :func:`head` renders a page's head tags: the payload's own
  (:meth:`SEOPayload.render_html`) followed by hreflang alternates, the
  article times and authors of an article page, and extra meta tags. It
  returns a :class:`Head`, which Jinja2 and Django templates insert
  unescaped.
- :func:`route_from_wsgi` and :func:`route_from_asgi` give the route of a
  request as the client sent it (percent-encoded path and query), so that
  every spelling of one URL resolves to one canonical URL and the module,
  not the framework, decides which query parameters stay.
- :func:`if_none_match` answers whether an ``If-None-Match`` header names an
  ETag (weak comparison), for a 304 Not Modified.
"""

from __future__ import annotations

import re
from collections.abc import Iterable, Iterator, Mapping
from typing import Any
from urllib.parse import quote, urlsplit

from _quarlo_native import SEOConfig, SEOPayload, normalize_public_url_fn

__all__ = ["META_ATTRIBUTES", "Head", "escape", "head", "if_none_match", "route_from_asgi", "route_from_wsgi"]

#: The attributes that name a meta tag's key.
META_ATTRIBUTES = ("name", "property", "http-equiv")


class Head(str):
    """HTML for a page's ``<head>``: a ``str`` that Jinja2 and Django templates
    insert as it is (``__html__``) instead of escaping it."""

    __slots__ = ()

    def __html__(self) -> str:
        return str(self)


# The module's escaping of attribute and text values, and a carriage return
# as a character reference (a raw one would be normalised away by parsers).
_ESCAPES = str.maketrans({"&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&#x27;", "\r": "&#13;"})


def escape(text: str) -> str:
    """Escapes a text for an HTML attribute value or text, as the head
    snippet's values are escaped."""
    return text.translate(_ESCAPES)


# A well-formed language tag (RFC 5646, without the irregular grandfathered
# tags), or "x-default" (which is also well-formed as a private-use tag).
_LANGUAGE_TAG = re.compile(
    r"""(?:
        (?:[a-z]{2,3}(?:-[a-z]{3}){0,3}|[a-z]{4,8})  # language, extended language subtags
        (?:-[a-z]{4})?                               # script
        (?:-(?:[a-z]{2}|[0-9]{3}))?                  # region
        (?:-(?:[a-z0-9]{5,8}|[0-9][a-z0-9]{3}))*     # variants
        (?:-[0-9a-wyz](?:-[a-z0-9]{2,8})+)*          # extensions
        (?:-x(?:-[a-z0-9]{1,8})+)?                   # private use
    |x(?:-[a-z0-9]{1,8})+)""",
    re.IGNORECASE | re.ASCII | re.VERBOSE,
)
_SCHEME = re.compile(r"[A-Za-z][A-Za-z0-9+.-]*:")


def head(payload: SEOPayload, config: SEOConfig | None = None, *, alternates: Mapping[str, str] | None = None,
         meta: Iterable[tuple[str, str, str]] = ()) -> Head:
    """Renders the head tags of a page.

    The result is ``payload.render_html()`` followed by, one tag a line:

    1. ``<link rel="alternate" hreflang="…" href="…">`` for each entry of
       ``alternates``, in the mapping's order. A key is a language tag (such
       as ``"de"`` or ``"pt-BR"``) or ``"x-default"``; a value is an absolute
       http(s) URL, used as it is, or a route of this site, resolved with
       :func:`normalize_public_url_fn` under ``config``;
    2. when the payload's ``og.type`` is ``"article"``:
       ``article:published_time``, ``article:modified_time`` and
       ``article:author`` (one for each author) from the ``datePublished``,
       ``dateModified`` and ``author`` ``name`` of the first JSON-LD document,
       each when present;
    3. ``<meta ATTRIBUTE="KEY" content="CONTENT">`` for each
       ``(attribute, key, content)`` of ``meta``, in order; the attribute is
       ``"name"``, ``"property"`` or ``"http-equiv"``.

    Every value is escaped as the payload's own tags are; the same arguments
    always give the same text.

    Raises:
        ValueError: If a language tag is not well-formed, a route cannot be
            resolved (or there is no ``config`` to resolve it with), an
            alternate URL is not http(s), or a meta attribute is not one of the
            three.
        TypeError: If a value is not a str, or a meta entry is not a triple.
    """
    lines = [payload.render_html()]
    for tag, target in (alternates or {}).items():
        href = _alternate_href(tag, target, config)
        lines.append(f'<link rel="alternate" hreflang="{escape(tag)}" href="{escape(href)}">\n')
    if payload.og.type == "article":
        lines.extend(_meta_tag("property", key, content) for key, content in _article_tags(payload.schema_jsonld))
    for entry in meta:
        lines.append(_meta_tag(*_meta_entry(entry)))
    return Head("".join(lines))


def _alternate_href(tag: object, target: object, config: SEOConfig | None) -> str:
    if not isinstance(tag, str):
        raise TypeError(f"alternates: language tag must be a str, not {type(tag).__name__}")
    if not _LANGUAGE_TAG.fullmatch(tag):
        raise ValueError(f"alternates: {tag!r} is not a language tag or 'x-default'")
    if not isinstance(target, str):
        raise TypeError(f"alternates[{tag!r}] must be a str, not {type(target).__name__}")
    if _SCHEME.match(target.strip()):
        parts = urlsplit(target.strip())
        if parts.scheme.lower() not in ("http", "https") or not parts.netloc:
            raise ValueError(f"alternates[{tag!r}]: {target!r} is neither a route nor an absolute http(s) URL")
        return target
    if config is None:
        raise ValueError(f"alternates[{tag!r}]: the route {target!r} needs a config to resolve it")
    try:
        return normalize_public_url_fn(target, config)
    except ValueError as error:
        raise ValueError(f"alternates[{tag!r}]: cannot resolve the route {target!r}: {error}") from error


def _article_tags(schema: Any) -> Iterator[tuple[str, str]]:
    documents = schema if isinstance(schema, list) else [schema]
    document = next((item for item in documents if isinstance(item, dict)), None)
    if document is None:
        return
    for key, name in (("datePublished", "article:published_time"), ("dateModified", "article:modified_time")):
        value = document.get(key)
        if isinstance(value, str):
            yield name, value
    authors = document.get("author")
    for author in authors if isinstance(authors, list) else [authors]:
        author_name = author.get("name") if isinstance(author, dict) else None
        if isinstance(author_name, str):
            yield "article:author", author_name


def _meta_entry(entry: object) -> tuple[str, str, str]:
    if not isinstance(entry, tuple) or len(entry) != 3:
        raise TypeError(f"meta entries must be (attribute, key, content) triples, not {entry!r}")
    attribute, key, content = entry
    for value in entry:
        if not isinstance(value, str):
            raise TypeError(f"meta entry {entry!r}: every item must be a str, not {type(value).__name__}")
    if attribute not in META_ATTRIBUTES:
        raise ValueError(f"meta entry {entry!r}: the attribute must be 'name', 'property' or 'http-equiv'")
    return attribute, key, content


def _meta_tag(attribute: str, key: str, content: str) -> str:
    return f'<meta {attribute}="{escape(key)}" content="{escape(content)}">\n'


# Characters kept as they are when a decoded path is percent-encoded again:
# those a path segment may hold unencoded (RFC 3986), and "/".
_PATH_SAFE = "/!$&'()*+,;=:@-._~"
# Characters kept as they are in a raw request target: printable ASCII
# ("%" included: escapes stay as the client wrote them).
_RAW_SAFE = "".join(chr(code) for code in range(0x21, 0x7F))
# The scheme and authority of a request target in absolute form.
_ABSOLUTE_FORM = re.compile(r"[A-Za-z][A-Za-z0-9+.-]*://[^/?#]*")


def _native_bytes(text: str) -> bytes:
    """The bytes behind a WSGI "native string" (ISO-8859-1 by PEP 3333)."""
    try:
        return text.encode("latin-1")
    except UnicodeEncodeError:  # a server that decoded as UTF-8
        return text.encode("utf-8", "surrogatepass")


def _route(target: str) -> str:
    route = _ABSOLUTE_FORM.sub("", target, count=1) if _ABSOLUTE_FORM.match(target) else target
    return route if route.startswith("/") else "/" + route


def _with_query(path: str, query: bytes) -> str:
    return _route(path + ("?" + quote(query, safe=_RAW_SAFE) if query else ""))


def route_from_wsgi(environ: Mapping[str, Any]) -> str:
    """The route of a WSGI request as the client sent it: its path,
    percent-encoded, and its query, for ``build_seo_payload``.

    ``REQUEST_URI`` or ``RAW_URI`` (set by Werkzeug, Gunicorn, uWSGI and
    others) is used when present; otherwise ``SCRIPT_NAME`` + ``PATH_INFO``,
    which the server has decoded, is percent-encoded again and
    ``QUERY_STRING`` appended.
    """
    raw = environ.get("REQUEST_URI") or environ.get("RAW_URI")
    if isinstance(raw, str) and raw:
        return _route(quote(_native_bytes(raw), safe=_RAW_SAFE))
    path = quote(_native_bytes(str(environ.get("SCRIPT_NAME") or "") + str(environ.get("PATH_INFO") or "")),
                 safe=_PATH_SAFE)
    return _with_query(path, _native_bytes(str(environ.get("QUERY_STRING") or "")))


def route_from_asgi(scope: Mapping[str, Any]) -> str:
    """The route of an ASGI HTTP request as the client sent it: its path,
    percent-encoded, and its query, for ``build_seo_payload``.

    The scope's ``raw_path`` is used when present; otherwise its decoded
    ``path`` is percent-encoded again. ``query_string`` is appended.
    """
    raw_path = scope.get("raw_path")
    if isinstance(raw_path, (bytes, bytearray)) and raw_path:
        path = quote(bytes(raw_path), safe=_RAW_SAFE)
    else:
        path = quote(str(scope.get("path") or "/").encode("utf-8", "surrogatepass"), safe=_PATH_SAFE)
    query = scope.get("query_string")
    return _with_query(path, bytes(query) if isinstance(query, (bytes, bytearray)) else b"")


# One member of an If-None-Match list: an entity tag, weak or not, then the
# end of the header or a comma (RFC 9110, section 8.8.3).
_LIST_MEMBER = re.compile(r'[ \t,]*(?:W/)?"([\x21\x23-\x7e\x80-\xff]*)"[ \t]*(?:,|\Z)')
_ENTITY_TAG = re.compile(r'(?:W/)?"([\x21\x23-\x7e\x80-\xff]*)"')


def if_none_match(header: str | bytes | None, etag: str) -> bool:
    """Whether an ``If-None-Match`` header value names ``etag``, by the weak
    comparison that RFC 9110 prescribes for it: ``W/`` prefixes on either side
    are ignored, and ``*`` matches any ETag. A list is searched member by
    member; members that are not well-formed entity tags never match. Never
    raises for a malformed header: it just does not match.

    So a handler answers 304 Not Modified when this is true for the ETag the
    response would carry.
    """
    if isinstance(header, bytes):
        header = header.decode("latin-1")
    if not isinstance(header, str) or not isinstance(etag, str):
        return False
    wanted = _ENTITY_TAG.fullmatch(etag.strip(" \t"))
    if wanted is None:
        return False
    value = header.strip(" \t")
    if value == "*":
        return True
    position = 0
    while position < len(value):
        member = _LIST_MEMBER.match(value, position)
        if member is not None:
            if member.group(1) == wanted.group(1):
                return True
            position = member.end()
            continue
        comma = value.find(",", position)  # skip a malformed member
        if comma < 0:
            break
        position = comma + 1
    return False
