"""Running work on an executor in input order with a bounded number of
tasks in flight, so that memory stays flat however long the input is."""

from __future__ import annotations

import collections
import itertools
from concurrent.futures import Future
from typing import Callable, Iterable, Iterator, TypeVar

T = TypeVar("T")
R = TypeVar("R")


def ordered_futures(submit: Callable[[T], Future[R]], items: Iterable[T],
                    window: int) -> Iterator[tuple[T, Future[R]]]:
    """Calls ``submit(item)`` for each item, keeping at most ``window``
    futures submitted and not yet handed out, and yields each item with its
    future in input order. Leaving the loop early cancels the futures not
    yet run."""
    pending: collections.deque[tuple[T, Future[R]]] = collections.deque()
    try:
        for item in items:
            pending.append((item, submit(item)))
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
