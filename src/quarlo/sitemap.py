"""Sitemap files for a site's pages.

``write_sitemaps(entries, directory, config)`` streams entries into sitemap
files of at most 50,000 URLs and 50 MB each, and writes a sitemap index when
more than one file is needed. Every URL goes through the module's URL
normalisation, so the sitemap lists the same canonical URLs as the pages'
canonical links. The same entries always give the same bytes.
"""

from __future__ import annotations

import datetime
import os
import re
import urllib.parse
from pathlib import Path
from typing import IO, Iterable, Mapping, NamedTuple, Optional, Sequence, Tuple, Union

from _quarlo_native import SEOConfig, normalize_public_url_fn

from .web import _LANGUAGE_TAG

#: Limits of one sitemap file (and of one index).
MAX_URLS = 50_000
MAX_BYTES = 50 * 1024 * 1024
MAX_URL_LENGTH = 2048

Lastmod = Union[datetime.date, datetime.datetime, str]
Alternates = Union[Mapping[str, str], Iterable[Tuple[str, str]]]


class SitemapEntry(NamedTuple):
    """One page of a sitemap: its route or URL, when it last changed, and
    its language alternates (language tag, or "x-default", to a route or
    absolute URL). A plain ``str``, or a tuple of one to three of these
    values, is accepted wherever an entry is."""

    loc: str
    lastmod: Optional[Lastmod] = None
    alternates: Optional[Alternates] = None


Entry = Union[str, SitemapEntry, Tuple[str], Tuple[str, Optional[Lastmod]],
              Tuple[str, Optional[Lastmod], Optional[Alternates]]]

_NAMESPACES = 'xmlns="http://www.sitemaps.org/schemas/sitemap/0.9" xmlns:xhtml="http://www.w3.org/1999/xhtml"'
_URLSET_START = f'<?xml version="1.0" encoding="UTF-8"?>\n<urlset {_NAMESPACES}>\n'.encode()
_URLSET_END = b"</urlset>\n"
_INDEX_START = (b'<?xml version="1.0" encoding="UTF-8"?>\n'
                b'<sitemapindex xmlns="http://www.sitemaps.org/schemas/sitemap/0.9">\n')
_INDEX_END = b"</sitemapindex>\n"
_W3C_DATETIME = re.compile(r"(\d{4})-(\d{2})-(\d{2})(?:T(\d{2}):(\d{2}):(\d{2})(?:\.\d+)?(?:Z|[+-](\d{2}):(\d{2})))?\Z")
# Characters kept as they are in a URL; everything else is percent-encoded
# as UTF-8 (spaces, controls, non-ASCII).
_URL_SAFE = ":/?#[]@!$&'()*+,;=%~-._"
_XML_ESCAPES = {"&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&apos;"}
_XML_SPECIAL = re.compile("[&<>\"']")


def _xml(text: str) -> str:
    return _XML_SPECIAL.sub(lambda match: _XML_ESCAPES[match.group()], text)


def _url(text: str, what: str) -> str:
    url = urllib.parse.quote(text, safe=_URL_SAFE)
    if len(url) > MAX_URL_LENGTH:
        raise ValueError(f"{what} is longer than {MAX_URL_LENGTH} characters: {url[:80]}...")
    return url


def _canonical(loc: str, config: SEOConfig) -> str:
    if not isinstance(loc, str):
        raise TypeError(f"a sitemap entry's location must be a str, not {type(loc).__name__}")
    return _url(normalize_public_url_fn(loc, config), f"URL of {loc!r}")


def _lastmod(value: Lastmod) -> str:
    if isinstance(value, datetime.datetime):
        if value.tzinfo is None or value.utcoffset() is None:
            raise ValueError(f"lastmod {value.isoformat()} has no time zone")
        return value.isoformat()
    if isinstance(value, datetime.date):
        return value.isoformat()
    match = _W3C_DATETIME.match(value) if isinstance(value, str) else None
    if match:
        year, month, day, hour, minute, second, zone_hours, zone_minutes = (
            int(part) if part else 0 for part in match.groups())
        try:
            datetime.datetime(year, month, day, hour, minute, second)
            if zone_hours > 23 or zone_minutes > 59:
                raise ValueError
        except ValueError:
            pass
        else:
            return str(value)
    raise ValueError(f"lastmod {value!r} is not a date, an aware datetime or a text like 2024-05-01 or "
                     "2024-05-01T12:00:00+02:00")


def _alternates(value: Alternates, config: SEOConfig) -> list[tuple[str, str]]:
    pairs = value.items() if isinstance(value, Mapping) else value
    result = []
    for pair in pairs:
        language, target = pair
        if not isinstance(language, str) or not _LANGUAGE_TAG.fullmatch(language):
            raise ValueError(f"hreflang {language!r} is not a language tag or 'x-default'")
        if not isinstance(target, str):
            raise TypeError(f"the alternate for {language!r} must be a str")
        parts = urllib.parse.urlsplit(target.strip())
        if parts.scheme:
            if parts.scheme not in ("http", "https") or not parts.netloc:
                raise ValueError(f"the alternate for {language!r} is not an http(s) URL: {target!r}")
            href = _url(target.strip(), f"the alternate for {language!r}")
        else:  # a route of this site
            href = _canonical(target, config)
        result.append((language, href))
    return result


def _element(entry: Entry, config: SEOConfig) -> bytes:
    if isinstance(entry, str):
        entry = SitemapEntry(entry)
    elif not isinstance(entry, tuple) or not 1 <= len(entry) <= 3:
        raise TypeError(f"a sitemap entry is a str or a tuple (loc, lastmod, alternates), not {entry!r}")
    loc, lastmod, alternates = SitemapEntry(*entry)
    lines = [f"  <url>\n    <loc>{_xml(_canonical(loc, config))}</loc>\n"]
    if lastmod is not None:
        lines.append(f"    <lastmod>{_lastmod(lastmod)}</lastmod>\n")
    if alternates is not None:
        for language, href in _alternates(alternates, config):
            lines.append(f'    <xhtml:link rel="alternate" hreflang="{_xml(language)}" href="{_xml(href)}"/>\n')
    lines.append("  </url>\n")
    return "".join(lines).encode()


class _Files:
    """Sitemap files being written, under temporary names until all are
    done."""

    def __init__(self, directory: Path, base_name: str) -> None:
        self.directory = directory
        self.base_name = base_name
        self.temporary: list[Path] = []
        self.stream: IO[bytes] | None = None
        self.count = self.size = 0

    def add(self, element: bytes) -> None:
        limit = MAX_BYTES - len(_URLSET_START) - len(_URLSET_END)
        if len(element) > limit:
            raise ValueError("one sitemap entry is larger than a sitemap file may be")
        if self.stream is None or self.count == MAX_URLS or self.size + len(element) > limit:
            self.finish()
            path = self.directory / f".{self.base_name}-{len(self.temporary) + 1}.xml.tmp"
            self.temporary.append(path)
            self.stream = path.open("wb")
            self.stream.write(_URLSET_START)
            self.count = self.size = 0
        self.stream.write(element)
        self.count += 1
        self.size += len(element)

    def finish(self) -> None:
        if self.stream is not None:
            self.stream.write(_URLSET_END)
            self.stream.close()
            self.stream = None

    def discard(self) -> None:
        if self.stream is not None:
            self.stream.close()
        for path in self.temporary:
            path.unlink(missing_ok=True)


def write_sitemaps(entries: Iterable[Entry], directory: Union[str, os.PathLike[str]], config: SEOConfig, *,
                   base_name: str = "sitemap") -> list[Path]:
    """Writes the sitemap of ``entries`` into ``directory`` and returns the
    paths written, the first being the one to submit.

    Each entry is a route or URL (a ``str``), or a tuple ``(loc, lastmod,
    alternates)`` of which the last two may be left out or None
    (:class:`SitemapEntry`). ``loc`` and the alternates given as routes are
    resolved to canonical URLs with ``normalize_public_url_fn``; alternates
    given as absolute http(s) URLs (other language sites) are kept as they
    are. ``lastmod`` is a ``datetime.date``, an aware ``datetime.datetime`` or
    a text in the same W3C forms. URLs are percent-encoded where they hold
    characters a URL may not, and XML-escaped.

    Up to 50,000 URLs and 50 MB go into ``{base_name}.xml``; beyond that the
    URLs go into ``{base_name}-1.xml``, ``{base_name}-2.xml`` ... and
    ``{base_name}.xml`` is the sitemap index listing them, at the site root
    of the configuration's public base URL. Entries are read one at a time
    and written in order; files of an earlier, longer run are not removed.
    Raises ValueError for an entry it cannot write (then no file is
    written) and for no entries at all.
    """
    if not base_name or "/" in base_name or os.sep in base_name or base_name.startswith("."):
        raise ValueError(f"base_name {base_name!r} must be a plain file name")
    target = Path(directory)
    files = _Files(target, base_name)
    try:
        for entry in entries:
            files.add(_element(entry, config))
        files.finish()
        if not files.temporary:
            raise ValueError("a sitemap needs at least one URL")
        if len(files.temporary) > MAX_URLS:
            raise ValueError(f"more than {MAX_URLS} sitemap files would not fit in one index")
        if len(files.temporary) == 1:
            main = target / f"{base_name}.xml"
            os.replace(files.temporary[0], main)
            return [main]
        written = [target / f"{base_name}-{number}.xml" for number in range(1, len(files.temporary) + 1)]
        root = normalize_public_url_fn("/", config).rstrip("/")
        index = target / f".{base_name}.xml.tmp"
        files.temporary.append(index)
        with index.open("wb") as stream:
            stream.write(_INDEX_START)
            for path in written:
                loc = _xml(f"{root}/{urllib.parse.quote(path.name)}")
                stream.write(f"  <sitemap>\n    <loc>{loc}</loc>\n  </sitemap>\n".encode())
            stream.write(_INDEX_END)
    except BaseException:
        files.discard()
        raise
    for temporary, path in zip(files.temporary, written):
        os.replace(temporary, path)
    main = target / f"{base_name}.xml"
    os.replace(index, main)
    return [main, *written]


__all__: Sequence[str] = ["MAX_BYTES", "MAX_URLS", "SitemapEntry", "write_sitemaps"]
