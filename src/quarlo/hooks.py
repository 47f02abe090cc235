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
from typing import Any, TypeVar, overload

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

    @overload
    def register(self, fn: H, /, *, event: str = POST_PROCESS) -> H: ...

    @overload
    def register(self, fn: H, event: str, /) -> H: ...

    @overload
    def register(self, event: str, fn: H, /) -> H: ...

    @overload
    def register(self, event: str = POST_PROCESS, /) -> Callable[[H], H]: ...

    @overload
    def register(self, *, event: str) -> Callable[[H], H]: ...

    def register(self, *args: Any, event: str | None = None) -> Any:
        """Registers a hook for an event (``"post_process"`` unless given),
        after the hooks already there, and returns it. Every spelling works::

            @hooks.register
            @hooks.register("post_process")
            @hooks.register(event="post_process")
            hooks.register(fn, event="post_process")
            hooks.register("post_process", fn)  # the order of SchemaRegistry.register

        Without a function, returns a decorator that registers the function it
        decorates.

        Raises:
            TypeError: If the hook is not callable, the event is not a str, or
                the event is given twice.
        """
        if len(args) > 2:
            raise TypeError(f"register() takes at most 2 positional arguments ({len(args)} given)")
        first, second = (*args, None, None)[:2]
        # register(event[, fn]) or register(fn[, event])
        fn, name = (second, first) if first is None or isinstance(first, str) else (first, second)
        if name is not None and event is not None:
            raise TypeError("register() got the event twice")
        name = (POST_PROCESS if event is None else event) if name is None else name
        if not isinstance(name, str):
            raise TypeError(f"event must be a str, not {type(name).__name__}")
        if fn is None:
            event_name = name

            def decorator(function: H) -> H:
                return self.register(function, event=event_name)

            return decorator
        if not callable(fn):
            raise TypeError(f"hook must be callable, not {type(fn).__name__}")
        self._hooks.setdefault(name, []).append(fn)
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
