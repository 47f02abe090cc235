"""Running work on an executor in input order with a bounded number of
tasks in flight, so that memory stays flat however long the input is."""

from __future__ import annotations

import collections
import itertools
from concurrent.futures import Executor, Future
from typing import Any, Callable, Iterable, Iterator, TypeVar

T = TypeVar("T")
R = TypeVar("R")


def ordered_futures(executor: Executor, fn: Callable[..., R], items: Iterable[T], window: int,
                    *args: Any) -> Iterator[tuple[T, Future[R]]]:
    """Submits ``fn(item, *args)`` for each item, keeping at most ``window``
    submitted and not yet handed out, and yields each item with its future in
    input order. Leaving the loop early cancels the futures not yet run."""
    pending: collections.deque[tuple[T, Future[R]]] = collections.deque()
    try:
        for item in items:
            pending.append((item, executor.submit(fn, item, *args)))
            if len(pending) >= window:
                yield pending.popleft()
        while pending:
            yield pending.popleft()
    finally:
        for _, future in pending:
            future.cancel()


def chunked(items: Iterable[T], size: int) -> Iterator[list[T]]:
    """Consecutive lists of ``size`` items (the last one shorter)."""
    iterator = iter(items)
    while chunk := list(itertools.islice(iterator, size)):
        yield chunk
