"""Functions that post-process the payload.

Put a :class:`HookRegistry` into a configuration's ``hooks``. After the
native build (and the schema registry pass), the build hands the payload's
dictionary to the hooks registered for ``"post_process"`` and reads the
result back as the payload::

    hooks = HookRegistry()

    @hooks.register
    def brand(payload, entity, config):
        payload["title"] = payload["title"] + " | Example"

    config = SEOConfig("www.example.com", "https://www.example.com", hooks=hooks)

A hook receives the dictionary, a copy of the entity and a copy of the
configuration (without their registries). It returns a dictionary, which the
next hook receives, or ``None`` to pass on the dictionary it was given,
changed in place or not.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import Any, TypeVar

from _quarlo_native import SEOConfig, SEOEntity

__all__ = ["POST_PROCESS", "Hook", "HookRegistry"]

#: The event the payload build runs.
POST_PROCESS = "post_process"

#: ``fn(payload_dict, entity, config)``, returning a dict or ``None``.
Hook = Callable[[dict[str, Any], SEOEntity, SEOConfig], dict[str, Any] | None]

H = TypeVar("H", bound=Hook)


class HookRegistry:
    """Hook functions by event, each event's in registration order."""

    def __init__(self) -> None:
        self._hooks: dict[str, list[Hook]] = {}

    def register(self, fn: H, event: str = POST_PROCESS) -> H:
        """Registers ``fn`` for ``event`` (after the hooks already there) and
        returns it, so it also serves as a decorator: ``@hooks.register``.

        Raises:
            TypeError: If ``fn`` is not callable or ``event`` is not a str.
        """
        if not callable(fn):
            raise TypeError(f"hook must be callable, not {type(fn).__name__}")
        if not isinstance(event, str):
            raise TypeError(f"event must be a str, not {type(event).__name__}")
        self._hooks.setdefault(event, []).append(fn)
        return fn

    def run(self, event: str, payload_dict: dict[str, Any], entity: SEOEntity,
            config: SEOConfig) -> dict[str, Any]:
        """Runs the hooks of ``event`` in order, each on the previous one's
        dictionary, and returns the last dictionary.

        Raises:
            TypeError: If a hook returns neither a dict nor ``None``.
        """
        current = payload_dict
        for fn in tuple(self._hooks.get(event, ())):  # hooks registered meanwhile wait for the next run
            result = fn(current, entity, config)
            if result is None:
                continue
            if not isinstance(result, dict):
                raise TypeError(f"{event} hooks must return a dict or None; {fn!r} returned "
                                f"{type(result).__name__}")
            current = result
        return current
