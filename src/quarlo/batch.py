"""Building the payloads of many pages at once, in this process or on any
``concurrent.futures.Executor``: a process pool on one machine, or a cluster
through an executor such as a Dask ``distributed`` client's
``client.get_executor()``.

Items travel to the workers in chunks of pickled records: plain data (an
entity as its ``to_dict()``, the route, the overrides through the package's
reducers), so the workers need nothing but this package. Results come back
the same way and are handed out in input order, a failed item as its
exception in its place. At most a fixed number of chunks are in flight, so
memory stays flat however many items there are.

What it costs: a typical post builds in a few microseconds, and reading a
payload back in this process costs about as much as building it here, so a
pool pays when little comes back: when the workers also do what follows
the build (``then``: an ETag, a rendering, a file written; or
:func:`write_site`), or when each build is expensive (Python hooks and
schema generators, long bodies). Entities may be given as their
``to_dict()`` form, which travels as it is and is read on the worker.
"""

from __future__ import annotations

import json
import os
import pickle
import urllib.parse
from concurrent.futures import Executor, Future
from dataclasses import dataclass, field
from pathlib import Path
from collections.abc import Mapping
from typing import Any, Callable, Iterable, Iterator, Optional, Tuple, Union

from _quarlo_native import (Breadcrumb, FAQItem, SEOConfig, SEOEntity, SEOImage, SEOOverrides, SEOPayload,
                            build_seo_payload)

from ._ordered import chunked, ordered_futures
from .data import _ENTITY_TYPES, entity_from_dict
from .web import head

__all__ = ["DEFAULT_CHUNKSIZE", "SiteReport", "build_many", "head_path", "write_site"]

EntityLike = Union[SEOEntity, Mapping[str, Any]]
Item = Union[Tuple[EntityLike, str], Tuple[EntityLike, str, Optional[SEOOverrides]]]
Result = Union[SEOPayload, Exception]
Record = Tuple[EntityLike, str, Optional[SEOOverrides]]
Then = Callable[[SEOPayload], Any]

#: Items per chunk when ``chunksize`` is not given.
DEFAULT_CHUNKSIZE = 250
#: Chunks submitted and not yet handed out, at most.
IN_FLIGHT = 16


class _BuildHere:
    """A worker's answer for an item whose result cannot travel back
    exactly: the item is built again in the calling process."""

    def __reduce__(self) -> tuple[Any, ...]:
        return _build_here, ()


def _build_here() -> _BuildHere:
    return _BUILD_HERE


_BUILD_HERE = _BuildHere()


def _record(item: object) -> Record:
    """An item as (entity, route, overrides), or TypeError naming what is
    wrong with it."""
    if not isinstance(item, tuple) or len(item) not in (2, 3):
        raise TypeError(f"an item is (entity, route) or (entity, route, overrides), not {item!r:.80}")
    entity, route, overrides = item if len(item) == 3 else (*item, None)
    if not isinstance(entity, (SEOEntity, dict)) and not isinstance(entity, Mapping):
        raise TypeError(f"an item's entity must be an SEOEntity or its to_dict() form, not {type(entity).__name__}")
    if not isinstance(route, str):
        raise TypeError(f"an item's route must be a str, not {type(route).__name__}")
    if overrides is not None and not isinstance(overrides, SEOOverrides):
        raise TypeError(f"an item's overrides must be SEOOverrides or None, not {type(overrides).__name__}")
    return entity, route, overrides


def _build(record: Record, config: SEOConfig) -> Result:
    entity, route, overrides = record
    try:
        if not isinstance(entity, SEOEntity):
            entity = _entity(entity)
        return build_seo_payload(entity, route, config, overrides)
    except Exception as exc:  # the item's result
        return exc


def _build_then(record: Record, config: SEOConfig, then: Then | None) -> Any:
    """An item's payload, or what ``then`` makes of it, or the exception
    of either."""
    payload = _build(record, config)
    if then is None or isinstance(payload, Exception):
        return payload
    try:
        return then(payload)
    except Exception as exc:
        return exc


def _rendered(record: Record, config: SEOConfig) -> Union[tuple[str, str, str], Exception]:
    """(head HTML, canonical URL, ETag) of an item, or its exception."""
    payload = _build(record, config)
    if isinstance(payload, Exception):
        return payload
    try:
        return str(head(payload, config)), payload.canonical, payload.etag()
    except Exception as exc:
        return exc


# Entities travel as their dictionary form. The worker rebuilds them
# directly from that form, which entity_from_dict would also read, but
# checking every key on the way; any surprise goes to entity_from_dict.

def _entity(data: Mapping[str, Any]) -> SEOEntity:
    try:
        arguments = dict(data)
        kind = _ENTITY_TYPES[arguments.pop("entity_type")]
        image = arguments.get("featured_image")
        if image is not None:
            arguments["featured_image"] = SEOImage(**image)
        crumbs = arguments.get("breadcrumbs")
        if crumbs is not None:
            arguments["breadcrumbs"] = [Breadcrumb(crumb["name"], crumb["url"]) for crumb in crumbs]
        questions = arguments.get("faq_items")
        if questions is not None:
            arguments["faq_items"] = [FAQItem(item["question"], item["answer"]) for item in questions]
        return SEOEntity(kind, **arguments)
    except (KeyError, TypeError, ValueError):
        return entity_from_dict(data)


# Payloads come back as their dictionary form and are read back by a build's
# hook pass (the module's reading of a payload dictionary): one trivial build
# whose hook hands over the dictionary.

class _Handover:
    def __init__(self) -> None:
        self.data: dict[str, Any] | None = None

    def run(self, event: str, payload: dict[str, Any], entity: SEOEntity, config: SEOConfig) -> Any:
        return self.data


class _PayloadReader:
    def __init__(self) -> None:
        self.handover = _Handover()
        self.config = SEOConfig("quarlo.invalid", "https://quarlo.invalid", auto_generate_schema=False,
                                hooks=self.handover)
        self.entity = SEOEntity("other")

    def __call__(self, data: dict[str, Any]) -> SEOPayload:
        self.handover.data = data
        try:
            return build_seo_payload(self.entity, "/", self.config)
        finally:
            self.handover.data = None


def _payload_data(payload: SEOPayload) -> Union[dict[str, Any], _BuildHere]:
    data = payload.to_dict()
    # A JSON null document (only an override gives one) reads back as none.
    return _BUILD_HERE if "schema_jsonld" in data and data["schema_jsonld"] is None else data


# The worker side. A worker keeps the last configuration it unpickled, so
# consecutive chunks of one run unpickle it once.

_CONFIG: tuple[bytes, SEOConfig] | None = None


def _worker_config(data: bytes) -> SEOConfig:
    global _CONFIG
    if _CONFIG is None or _CONFIG[0] != data:
        _CONFIG = (data, pickle.loads(data))
    return _CONFIG[1]


def _records(data: bytes) -> Iterator[Record]:
    for entity, route, overrides in pickle.loads(data):
        # The entity's data is read by the build, so that bad data is its
        # item's exception.
        yield entity, route, None if overrides is None else pickle.loads(overrides)


def _finish(results: list[Any]) -> bytes:
    """The results of a chunk pickled as one; a result that does not pickle
    is built again by the caller."""
    try:
        return pickle.dumps(results, pickle.HIGHEST_PROTOCOL)
    except Exception:
        safe = []
        for result in results:
            try:
                pickle.dumps(result, pickle.HIGHEST_PROTOCOL)
                safe.append(result)
            except Exception:
                safe.append(_BUILD_HERE)
        return pickle.dumps(safe, pickle.HIGHEST_PROTOCOL)


def build_chunk(config_data: bytes, records: bytes, then_data: bytes | None = None) -> bytes:
    """What runs on a worker for :func:`build_many`: builds a pickled chunk
    of records under a pickled configuration; returns the pickled list of
    payload dictionaries (or, given a pickled ``then``, of its results) and
    exceptions."""
    config = _worker_config(config_data)
    if then_data is not None:
        then = pickle.loads(then_data)
        return _finish([_build_then(record, config, then) for record in _records(records)])
    results: list[Any] = []
    for record in _records(records):
        payload = _build(record, config)
        results.append(payload if isinstance(payload, Exception) else _payload_data(payload))
    return _finish(results)


def render_chunk(config_data: bytes, records: bytes) -> bytes:
    """What runs on a worker for :func:`write_site`: like
    :func:`build_chunk`, with (head HTML, canonical URL, ETag) for each
    item instead of its payload."""
    config = _worker_config(config_data)
    return _finish([_rendered(record, config) for record in _records(records)])


def _write_head(directory: Path, html: str, canonical: str) -> str:
    """Writes a head below the directory; returns its path there."""
    relative = head_path(canonical)
    target = directory / relative
    try:
        target.write_text(html, encoding="utf-8")
    except FileNotFoundError:
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_text(html, encoding="utf-8")
    return relative.as_posix()


def _written(record: Record, config: SEOConfig, directory: Path) -> Union[tuple[str, str, str], Exception]:
    """(canonical URL, ETag, head file) of an item whose head was written,
    or its exception."""
    return _write_rendered(_rendered(record, config), directory)


def _write_rendered(rendered: Any, directory: Path) -> Union[tuple[str, str, str], Exception]:
    """Writes a rendered head (html, canonical URL, ETag): (canonical URL,
    ETag, head file), or the exception of the rendering or the write."""
    if isinstance(rendered, Exception):
        return rendered
    html, canonical, etag = rendered
    try:
        return canonical, etag, _write_head(directory, html, canonical)
    except (OSError, ValueError) as exc:
        return exc


def write_chunk(config_data: bytes, records: bytes, directory: str) -> bytes:
    """What runs on a worker for :func:`write_site` with ``workers_write``:
    builds, renders and writes each item's head below ``directory``; returns
    the pickled list of (canonical URL, ETag, head file) and exceptions."""
    config = _worker_config(config_data)
    target = Path(directory)
    return _finish([_written(record, config, target) for record in _records(records)])


# The calling side.

@dataclass
class _Chunk:
    """Items on their way: each position holds its record, or the exception
    that makes the item's result (a malformed item)."""

    slots: list[Union[Record, Exception]] = field(default_factory=list)
    here: set[int] = field(default_factory=set)  # positions built in this process

    def data(self) -> bytes:
        sent: list[tuple[int, tuple[Any, ...]]] = []
        for index, slot in enumerate(self.slots):
            if isinstance(slot, Exception):
                continue
            entity, route, overrides = slot
            try:
                # Overrides go as their own pickle: some do not pickle, and
                # then only their item is built here.
                pickled = None if overrides is None else pickle.dumps(overrides, pickle.HIGHEST_PROTOCOL)
            except Exception:
                self.here.add(index)
                continue
            sent.append((index, (entity.to_dict() if isinstance(entity, SEOEntity) else dict(entity), route, pickled)))
        try:
            return pickle.dumps([record for _, record in sent], pickle.HIGHEST_PROTOCOL)
        except Exception:
            pass
        # Some entity data does not pickle: those items are built here.
        records = []
        for index, record in sent:
            try:
                pickle.dumps(record, pickle.HIGHEST_PROTOCOL)
                records.append(record)
            except Exception:
                self.here.add(index)
        return pickle.dumps(records, pickle.HIGHEST_PROTOCOL)

    def merge(self, results: list[Any], local: Callable[[Record], Any]) -> Iterator[tuple[Optional[str], Any]]:
        """(route, result) of each item in order; a malformed item has no
        route."""
        sent = iter(results)
        for index, slot in enumerate(self.slots):
            if isinstance(slot, Exception):
                yield None, slot
                continue
            result = local(slot) if index in self.here else next(sent)
            yield slot[1], local(slot) if result is _BUILD_HERE else result


def _chunks(items: Iterable[object], size: int) -> Iterator[_Chunk]:
    for group in chunked(items, size):
        chunk = _Chunk()
        for item in group:
            try:
                chunk.slots.append(_record(item))
            except TypeError as exc:
                chunk.slots.append(exc)
        yield chunk


def _run(worker: Callable[..., bytes], local: Callable[[Record], Any], items: Iterable[object],
         config: SEOConfig, executor: Executor, chunksize: int | None,
         *extra: Any) -> Iterator[tuple[Optional[str], Any]]:
    """Runs ``worker(config, chunk, *extra)`` over chunks of the items on the
    executor; yields each item's route (None for a malformed item) and result
    in input order."""
    size = DEFAULT_CHUNKSIZE if chunksize is None else chunksize
    if size < 1:
        raise ValueError("chunksize must be at least 1")
    # The configuration goes with each chunk as the same bytes; a registry
    # that does not pickle fails here, before anything is sent.
    config_data = pickle.dumps(config, pickle.HIGHEST_PROTOCOL)

    def submit(chunk: _Chunk) -> Future[bytes]:
        return executor.submit(worker, config_data, chunk.data(), *extra)

    for chunk, future in ordered_futures(submit, _chunks(items, size), IN_FLIGHT):
        try:
            results = pickle.loads(future.result())
        except Exception as exc:  # the chunk failed as a whole (a worker died, ...): each item says so
            results = [exc] * (sum(1 for slot in chunk.slots if not isinstance(slot, Exception)) - len(chunk.here))
        yield from chunk.merge(results, local)


def build_many(items: Iterable[Item], config: SEOConfig, *, executor: Executor | None = None,
               chunksize: int | None = None, then: Then | None = None) -> Iterator[Any]:
    """The payloads of ``items``, each ``(entity, route)`` or ``(entity,
    route, overrides)``, in input order: an iterator that yields each item's
    ``SEOPayload``, or the exception its build raised (a malformed item gives
    a TypeError) in its place. Items are read as they are needed. An entity
    may be an ``SEOEntity`` or its ``to_dict()`` form (read as
    :func:`quarlo.entity_from_dict` reads it; a bad one is its item's
    exception).

    With ``then``, each payload goes through ``then(payload)`` where it was
    built and its result is yielded in the payload's place (an exception
    ``then`` raises is the item's result): ``then=SEOPayload.etag`` yields
    ETags, for example.

    With ``executor`` None the items are built in this process, one after
    the other. With an executor (``ProcessPoolExecutor``, a Dask client's
    ``get_executor()``, ...) they are sent in chunks of ``chunksize`` items
    (default 250) as pickled records, and the payloads come back equal to
    those built here (same ETags); ``then`` runs on the workers, and only
    its results come back. A chunk that fails as a whole (a worker that
    died) gives its exception for each of its items, and an item whose
    overrides, entity data or result cannot travel is built in this
    process. The configuration, and ``then`` when given, must pickle (the
    configuration with its hooks and schema registry if it has them);
    otherwise this raises before anything is sent.
    """
    if executor is None:
        for _, result in _local(items, lambda record: _build_then(record, config, then)):
            yield result
        return
    if then is not None:
        then_data = pickle.dumps(then, pickle.HIGHEST_PROTOCOL)
        for _, result in _run(build_chunk, lambda record: _build_then(record, config, then), items, config,
                              executor, chunksize, then_data):
            yield result
        return
    reader = _PayloadReader()
    for _, result in _run(build_chunk, lambda record: _build(record, config), items, config, executor, chunksize):
        yield reader(result) if isinstance(result, dict) else result


def _local(items: Iterable[object], make: Callable[[Record], Any]) -> Iterator[tuple[Optional[str], Any]]:
    """(route, result) of each item, made in this process."""
    for item in items:
        try:
            record = _record(item)
        except TypeError as exc:
            yield None, exc
            continue
        yield record[1], make(record)


def head_path(canonical: str) -> Path:
    """The file of a page's head below the site directory: the canonical
    URL's path, percent-decoded, then ``head.html`` (``head@QUERY.html``
    for a URL with a query, the query percent-encoded whole). Raises
    ValueError for a path that would leave the directory."""
    parts = urllib.parse.urlsplit(canonical)
    segments = [urllib.parse.unquote(segment) for segment in parts.path.split("/") if segment]
    for segment in segments:
        if segment in (".", "..") or "/" in segment or "\\" in segment or "\0" in segment:
            raise ValueError(f"the canonical URL {canonical!r} has no file path of its own below the directory")
    name = f"head@{urllib.parse.quote(parts.query, safe='')}.html" if parts.query else "head.html"
    return Path(*segments, name)


@dataclass
class SiteReport:
    """What :func:`write_site` did: the number of heads written, and each
    failed item's input position, route (None for a malformed item) and
    exception."""

    directory: Path
    manifest: Path
    written: int = 0
    failures: list[tuple[int, Optional[str], Exception]] = field(default_factory=list)


def write_site(items: Iterable[Item], config: SEOConfig, directory: Union[str, "os.PathLike[str]"], *,
               executor: Executor | None = None, chunksize: int | None = None,
               workers_write: bool = False) -> SiteReport:
    """Writes each item's head fragment and a manifest into ``directory``.

    For each item, in input order, the page's head (:func:`quarlo.web.head`:
    the payload's head tags) goes to ``head.html`` below the directory at
    the canonical URL's path (:func:`head_path`: ``/blog/hello`` gives
    ``blog/hello/head.html``), and ``manifest.jsonl`` gets one line,
    ``{"route", "canonical", "etag", "head"}`` (the head file's path below
    the directory), or ``{"route", "error"}`` for an item that failed. Two
    items with one canonical URL share one head file; the later one wins.

    Items are built as by :func:`build_many`, with the same ``executor`` and
    ``chunksize``. The workers render the heads and send them back, and this
    process writes the files; with ``workers_write`` the workers write them
    (they must see ``directory`` at the same path: a process pool, or a
    cluster on shared storage), so only the manifest's texts come back.
    """
    target = Path(directory).absolute()
    target.mkdir(parents=True, exist_ok=True)
    report = SiteReport(target, target / "manifest.jsonl")

    def write_here(result: Any) -> Union[tuple[str, str, str], Exception]:
        """Writes a head rendered by a worker."""
        return _write_rendered(result, target)

    def built_here(record: Record) -> Any:
        return _written(record, config, target)

    results: Iterable[tuple[Optional[str], Any]]
    if executor is None:
        results = _local(items, built_here)
    elif workers_write:
        results = _run(write_chunk, built_here, items, config, executor, chunksize, str(target))
    else:
        rendered = _run(render_chunk, lambda record: _rendered(record, config), items, config, executor, chunksize)
        results = ((route, write_here(result)) for route, result in rendered)
    with report.manifest.open("w", encoding="utf-8") as manifest:
        for index, (route, result) in enumerate(results):
            if isinstance(result, Exception):
                report.failures.append((index, route, result))
                line: dict[str, Any] = {"route": route, "error": f"{type(result).__name__}: {result}"}
            else:
                canonical, etag, written = result
                line = {"route": route, "canonical": canonical, "etag": etag, "head": written}
                report.written += 1
            manifest.write(json.dumps(line, ensure_ascii=False) + "\n")
    return report
