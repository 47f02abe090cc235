"""Configurations and entities from plain data: settings dicts, TOML and JSON.

:func:`config_from_dict` and :func:`entity_from_dict` take what
``SEOConfig.to_dict()`` and ``SEOEntity.to_dict()`` give, and the same shapes
written by hand (nested records as tables, enumeration words in either
spelling, ``"never"`` or ``"Never"``, ``"post"`` or ``"Post"``), and rebuild
an equal object. :func:`config_from_file` reads a ``.toml`` or ``.json``
file of that shape::

    # seo.toml
    canonical_host = "www.example.com"
    public_base_url = "https://www.example.com"
    site_name = "Example Journal"
    title_template = "{title} | Example Journal"

    [default_og_image]
    url = "https://www.example.com/img/default.png"
    width = 1200
    height = 630

    [url_policy]
    trailing_slash = "always"

    [schema_type_map]
    post = "BlogPosting"

A key that the record does not have, or a value of the wrong type, is an
error naming its path, such as ``default_og_image.width`` or
``breadcrumbs[1].url``. An absent key and a ``null`` one both leave the field
at its default.
"""

from __future__ import annotations

import json
import os
import sys
from collections.abc import Callable, Mapping
from typing import Any

from _quarlo_native import (
    Breadcrumb,
    ConfigurationError,
    EntityError,
    FAQItem,
    Robots,
    SEOConfig,
    SEOEntity,
    SEOImage,
    URLPolicy,
)

if sys.version_info >= (3, 11):
    import tomllib
else:
    import tomli as tomllib

__all__ = ["config_from_dict", "config_from_file", "entity_from_dict"]

#: Reads the value at a path into what a constructor takes.
Reader = Callable[[str, object], Any]


class _Problem(Exception):
    """A value that cannot be read, at its path."""

    def __init__(self, path: str, problem: str) -> None:
        super().__init__(f"{path}: {problem}" if path else problem)


def _describe(value: object) -> str:
    text = repr(value)
    return f"{type(value).__name__} {text if len(text) <= 40 else text[:37] + '...'}"


def _text(path: str, value: object) -> str:
    if not isinstance(value, str):
        raise _Problem(path, f"expected a str, got {_describe(value)}")
    return value


def _flag(path: str, value: object) -> bool:
    if not isinstance(value, bool):
        raise _Problem(path, f"expected true or false, got {_describe(value)}")
    return value


def _integer(low: int, high: int) -> Reader:
    def read(path: str, value: object) -> int:
        if isinstance(value, bool) or not isinstance(value, int) or not low <= value <= high:
            raise _Problem(path, f"expected an int from {low} to {high}, got {_describe(value)}")
        return value

    return read


def _texts(path: str, value: object) -> list[str]:
    if isinstance(value, (str, bytes)) or not isinstance(value, (list, tuple)):
        raise _Problem(path, f"expected a list of str, got {_describe(value)}")
    return [_text(f"{path}[{index}]", item) for index, item in enumerate(value)]


def _list_of(reader: Reader) -> Reader:
    def read(path: str, value: object) -> list[Any]:
        if not isinstance(value, (list, tuple)):
            raise _Problem(path, f"expected a list, got {_describe(value)}")
        return [reader(f"{path}[{index}]", item) for index, item in enumerate(value)]

    return read


def _word(words: Mapping[str, str], passing: bool = False) -> Reader:
    """An enumeration word in either spelling, as the lower-case word; with
    ``passing``, other texts are left for the constructor to refuse."""

    def read(path: str, value: object) -> str:
        text = _text(path, value)
        if text in words:
            return words[text]
        if text in words.values() or passing:
            return text
        expected = ", ".join(repr(word) for word in words.values())
        raise _Problem(path, f"expected one of {expected}, got {text!r}")

    return read


def _schema_type_map(path: str, value: object) -> list[tuple[str, str]]:
    """A table of entity type to schema.org type, or a list of pairs; a
    null type (as ``to_dict`` shows a type without schema) is left out,
    which also means no schema."""
    if isinstance(value, Mapping):
        pairs = [(_text(path, key), item) for key, item in value.items()]
    elif isinstance(value, (list, tuple)):
        pairs = []
        for index, pair in enumerate(value):
            if not isinstance(pair, (list, tuple)) or len(pair) != 2:
                raise _Problem(f"{path}[{index}]", f"expected an (entity type, schema type) pair, got {_describe(pair)}")
            pairs.append((_text(f"{path}[{index}][0]", pair[0]), pair[1]))
    else:
        raise _Problem(path, f"expected a table of entity type to schema type, got {_describe(value)}")
    return [(key, _text(f"{path}.{key}", item)) for key, item in pairs if item is not None]


def _anything(path: str, value: object) -> object:
    return value


class _Record:
    """A record's fields: ``positional`` ones are required and passed by
    position, the others by keyword."""

    def __init__(self, make: Callable[..., Any], positional: tuple[str, ...], **fields: Reader) -> None:
        self.make, self.positional, self.fields = make, positional, fields

    def __call__(self, path: str, value: object) -> Any:
        if not isinstance(value, Mapping):
            raise _Problem(path, f"expected a table, got {_describe(value)}")
        prefix = f"{path}." if path else ""
        for key in value:
            if key not in self.fields:
                raise _Problem(f"{prefix}{key}", f"unknown key (expected one of {', '.join(self.fields)})")
        for key in self.positional:
            if value.get(key) is None:
                raise _Problem(f"{prefix}{key}", "missing")
        arguments = {key: self.fields[key](f"{prefix}{key}", item) for key, item in value.items() if item is not None}
        positional = [arguments.pop(key) for key in self.positional]
        return self.make(*positional, **arguments)


# None (absent) never reaches a reader: _text reads optional texts too.
_U32, _I32 = _integer(0, 2**32 - 1), _integer(-(2**31), 2**31 - 1)

_IMAGE = _Record(SEOImage, ("url",), url=_text, width=_U32, height=_U32, alt=_text)
_ROBOTS = _Record(Robots, (), index=_flag, follow=_flag, max_snippet=_I32, max_image_preview=_text,
                  max_video_preview=_I32)
_POLICY = _Record(URLPolicy, (), enforce_https=_flag, lowercase_paths=_flag,
                  trailing_slash=_word({"Always": "always", "Never": "never", "Preserve": "preserve"}),
                  collapse_duplicate_slashes=_flag, strip_tracking_params=_flag, allowed_query_params=_texts,
                  extra_tracking_params=_texts)
_CONFIG = _Record(SEOConfig, ("canonical_host", "public_base_url"), canonical_host=_text, public_base_url=_text,
                  url_policy=_POLICY, default_robots=_ROBOTS, default_og_image=_IMAGE, site_name=_text,
                  title_template=_text, search_robots=_ROBOTS, schema_type_map=_schema_type_map,
                  auto_generate_schema=_flag, publisher_name=_text, publisher_logo=_text, locale=_text,
                  locale_alternate=_texts, twitter_site=_text, emit_warnings=_flag, search_url_template=_text,
                  hooks=_anything, schema_registry=_anything)
_ENTITY_TYPES = {"Home": "home", "Post": "post", "Page": "page", "Video": "video", "Taxonomy": "taxonomy",
                 "Search": "search", "Other": "other", "Product": "product", "Organization": "organization",
                 "LocalBusiness": "local_business", "Faq": "faq"}
_ENTITY = _Record(SEOEntity, ("entity_type",), entity_type=_word(_ENTITY_TYPES, passing=True), slug=_text,
                  title=_text, excerpt=_text, body_html=_text, status=_text, featured_image=_IMAGE, published_at=_text,
                  updated_at=_text, author_name=_text,
                  breadcrumbs=_list_of(_Record(Breadcrumb, ("name", "url"), name=_text, url=_text)), sku=_text,
                  price=_text, price_currency=_text, availability=_text, same_as=_texts, address=_text,
                  faq_items=_list_of(_Record(FAQItem, ("question", "answer"), question=_text, answer=_text)))


def config_from_dict(data: Mapping[str, Any]) -> SEOConfig:
    """Builds an ``SEOConfig`` from ``SEOConfig.to_dict()``'s shape: the
    constructor's arguments by name, nested records (``url_policy``, the two
    robots, ``default_og_image``) as tables of their own arguments, and
    ``schema_type_map`` as a table of entity type to schema.org type (or a
    list of pairs). ``hooks`` and ``schema_registry`` may be given as
    objects; they are passed on as they are.

    Raises:
        ConfigurationError: If a key is unknown or a value has the wrong type
            (the message begins with the key's path, for example
            ``default_og_image.width``), or the configuration is invalid.
    """
    try:
        config: SEOConfig = _CONFIG("", data)
    except _Problem as problem:
        raise ConfigurationError(str(problem)) from None
    return config


def entity_from_dict(data: Mapping[str, Any]) -> SEOEntity:
    """Builds an ``SEOEntity`` from ``SEOEntity.to_dict()``'s shape: the
    constructor's arguments by name, ``entity_type`` as the lower-case word or
    the serialised name (``"local_business"`` or ``"LocalBusiness"``),
    ``featured_image`` as a table, ``breadcrumbs`` and ``faq_items`` as lists
    of tables.

    Raises:
        EntityError: If a key is unknown, a value has the wrong type (the
            message begins with the key's path, for example
            ``breadcrumbs[0].url``) or the entity type is not supported.
    """
    try:
        entity: SEOEntity = _ENTITY("", data)
    except _Problem as problem:
        raise EntityError(str(problem)) from None
    return entity


def config_from_file(path: str | os.PathLike[str]) -> SEOConfig:
    """Reads an ``SEOConfig`` from a ``.toml`` or ``.json`` file holding the
    shape of :func:`config_from_dict`.

    Raises:
        ConfigurationError: If the file does not parse or its configuration is
            not valid; the message begins with the file's path.
        ValueError: If the file name ends neither in ``.toml`` nor ``.json``.
        OSError: If the file cannot be read.
    """
    suffix = os.fspath(path).rsplit(".", 1)[-1].lower()
    if suffix not in ("toml", "json"):
        raise ValueError(f"{os.fspath(path)}: a configuration file is .toml or .json")
    with open(path, "rb") as file:
        try:
            data = tomllib.load(file) if suffix == "toml" else json.load(file)
            return config_from_dict(data)
        except ValueError as error:  # the parsers' errors, ConfigurationError
            raise ConfigurationError(f"{os.fspath(path)}: {error}") from error
