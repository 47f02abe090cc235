"""Jinja2: the page head in a template.

::

    from quarlo.jinja import install

    install(env)  # or install(app.jinja_env) in Flask, install(templates.env) in Starlette

    {{ seo_head(payload) }}                                  {# as a global #}
    {{ payload|seo_head(config, alternates={"de": "/de/"}) }} {# or as a filter #}

``seo_head`` takes the arguments of :func:`quarlo.web.head` and returns a
:class:`quarlo.web.Head`, which autoescaping leaves as it is: no ``|safe`` is
needed. Jinja2 itself is not imported here.
"""

from __future__ import annotations

from typing import TYPE_CHECKING

from .web import head

if TYPE_CHECKING:
    from jinja2 import Environment

__all__ = ["install"]


def install(env: Environment) -> Environment:
    """Adds ``seo_head`` to ``env`` as a global and as a filter; returns
    ``env``."""
    env.globals["seo_head"] = head
    env.filters["seo_head"] = head
    return env
