"""``{% load quarlo %}``: the ``seo_head`` tag."""

from __future__ import annotations

from collections.abc import Iterable, Mapping

from django import template

from _quarlo_native import SEOConfig, SEOPayload

from ...web import Head, head
from .. import get_config

register = template.Library()


@register.simple_tag
def seo_head(payload: SEOPayload, config: SEOConfig | None = None, alternates: Mapping[str, str] | None = None,
             meta: Iterable[tuple[str, str, str]] = ()) -> Head:
    """``{% seo_head payload %}``: the head tags of :func:`quarlo.web.head`,
    inserted unescaped. Alternates that are routes are resolved with
    ``config``, or else with the configuration of ``settings.QUARLO``."""
    if config is None and alternates:
        config = get_config()
    return head(payload, config, alternates=alternates, meta=meta)
