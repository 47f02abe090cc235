"""Django: the quarlo app.

::

    INSTALLED_APPS = [..., "quarlo.django"]
    QUARLO = {  # the arguments of SEOConfig, nested records as dicts
        "canonical_host": "www.example.com",
        "public_base_url": "https://www.example.com",
        "title_template": "{title} | Example Journal",
        "default_og_image": {"url": "https://www.example.com/img/default.png", "width": 1200, "height": 630},
    }

    # a view
    from quarlo import build_seo_payload
    from quarlo.django import get_config, route

    payload = build_seo_payload(entity, route(request), get_config())

    {# a template #}
    {% load quarlo %}
    <head>{% seo_head payload %}</head>

:func:`get_config` builds the ``SEOConfig`` of ``settings.QUARLO`` once
(again after a test changes the setting); :func:`route` gives the route of a
request as the client sent it. The ``seo_head`` tag takes the arguments of
:func:`quarlo.web.head`; without a ``config``, alternates that are routes are
resolved with :func:`get_config`.
"""

from __future__ import annotations

import functools
from typing import Any

from django.conf import settings
from django.core.exceptions import ImproperlyConfigured
from django.core.signals import setting_changed
from django.http import HttpRequest

from _quarlo_native import ConfigurationError, SEOConfig

from ..data import config_from_dict
from ..web import route_from_asgi, route_from_wsgi

__all__ = ["get_config", "route"]


@functools.cache
def get_config() -> SEOConfig:
    """The ``SEOConfig`` of ``settings.QUARLO`` (read by
    :func:`quarlo.config_from_dict`), built on first use.

    Raises:
        ImproperlyConfigured: If ``QUARLO`` is not set or not a valid
            configuration.
    """
    data = getattr(settings, "QUARLO", None)
    if data is None:
        raise ImproperlyConfigured("settings.QUARLO is not set: a dict of SEOConfig arguments")
    try:
        return config_from_dict(data)
    except ConfigurationError as error:
        raise ImproperlyConfigured(f"settings.QUARLO: {error}") from error


def _forget_config(*, setting: str, **kwargs: Any) -> None:
    if setting == "QUARLO":
        get_config.cache_clear()


setting_changed.connect(_forget_config, dispatch_uid="quarlo.django.get_config")


def route(request: HttpRequest) -> str:
    """The route of a request as the client sent it: its percent-encoded path
    and its query (from the ASGI scope under ASGI, else from the WSGI
    environment)."""
    scope = getattr(request, "scope", None)
    if isinstance(scope, dict):
        return route_from_asgi(scope)
    meta = request.META
    if meta.get("REQUEST_URI") or meta.get("RAW_URI"):
        return route_from_wsgi(meta)
    # Django replaces PATH_INFO by the path decoded from UTF-8; request.path is
    # that path under SCRIPT_NAME. Its bytes, as WSGI would hold them:
    path = request.path.encode("utf-8", "surrogatepass").decode("latin-1")
    return route_from_wsgi({"PATH_INFO": path, "QUERY_STRING": meta.get("QUERY_STRING", "")})
