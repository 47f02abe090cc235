"""Python schema generators, by schema.org type.

Put a :class:`SchemaRegistry` into a configuration's ``schema_registry``.
After the native build, when the payload's JSON-LD document is an object
whose ``"@type"`` has a generator here, the build calls that generator and
the result replaces the document (``None`` keeps the native one)::

    registry = SchemaRegistry()

    @registry.register("Recipe")
    def recipe(entity, config, canonical, title, description, image):
        return {"@context": "https://schema.org", "@type": "Recipe", "name": title, "url": canonical}

    config = SEOConfig("www.example.com", "https://www.example.com",
                       schema_type_map=[("post", "Recipe")], schema_registry=registry)

A generator receives copies of the entity and the configuration (without
their registries), the payload's canonical URL, title and description, and
its Open Graph image URL or ``None``. It returns a JSON-compatible value
(usually a dict) or ``None``.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import Any, TypeVar, overload

from _quarlo_native import SEOConfig, SEOEntity

__all__ = ["SchemaGenerator", "SchemaRegistry"]

#: ``fn(entity, config, canonical, title, description, image)``.
SchemaGenerator = Callable[[SEOEntity, SEOConfig, str, str, str, str | None], Any]

G = TypeVar("G", bound=SchemaGenerator)


class SchemaRegistry:
    """Schema generators by schema type, in registration order."""

    def __init__(self) -> None:
        self._generators: dict[str, SchemaGenerator] = {}

    @overload
    def register(self, schema_type: str) -> Callable[[G], G]: ...

    @overload
    def register(self, schema_type: str, fn: G) -> G: ...

    def register(self, schema_type: str, fn: G | None = None) -> G | Callable[[G], G]:
        """Registers ``fn`` as the generator of ``schema_type`` and returns it.

        Without ``fn``, returns a decorator that registers the function it
        decorates. Registering a type again replaces its generator; the type
        keeps its place in :meth:`list_types`.

        Raises:
            TypeError: If ``schema_type`` is not a str or ``fn`` is not callable.
        """
        if not isinstance(schema_type, str):
            raise TypeError(f"schema_type must be a str, not {type(schema_type).__name__}")
        if fn is None:
            def decorator(function: G) -> G:
                return self.register(schema_type, function)

            return decorator
        if not callable(fn):
            raise TypeError(f"schema generator must be callable, not {type(fn).__name__}")
        self._generators[schema_type] = fn
        return fn

    def has(self, schema_type: str) -> bool:
        """Returns whether a generator is registered for ``schema_type``."""
        return schema_type in self._generators

    def list_types(self) -> list[str]:
        """Lists the registered schema types in registration order."""
        return list(self._generators)

    def generate(self, schema_type: str, entity: SEOEntity, config: SEOConfig, canonical: str, title: str,
                 description: str, image: str | None) -> Any:
        """Calls the generator of ``schema_type`` and returns its result.

        Raises:
            KeyError: If no generator is registered for ``schema_type``.
        """
        try:
            fn = self._generators[schema_type]
        except KeyError:
            raise KeyError(f"no schema generator registered for {schema_type!r}") from None
        return fn(entity, config, canonical, title, description, image)
