"""quarlo: deterministic SEO metadata for Python web applications.

Every class and function of the native module ``_quarlo_native`` is available
here under the same name, except ``SchemaRegistry``: two small registries hold
the Python code that a payload build calls out to, through a configuration's
``schema_registry`` and ``hooks``:

- :class:`quarlo.SchemaRegistry` (:mod:`quarlo.registry`): Python schema
  generators by schema.org type (the native introspection class stays
  ``_quarlo_native.SchemaRegistry``);
- :class:`quarlo.HookRegistry` (:mod:`quarlo.hooks`): functions that
  post-process the payload dictionary.

:func:`quarlo.jsonld.graph_hook` makes a hook that links the payload's
JSON-LD documents into one graph.
"""

# --- the native module's names: generated from src/python/interface/description.py by generate.py
from _quarlo_native import (
    Breadcrumb,
    ConfigurationError,
    ContractError,
    EntityError,
    FAQItem,
    InvalidUrlError,
    OGPayload,
    QuarloError,
    Robots,
    SchemaError,
    SEOAuthor,
    SEOConfig,
    SEOContract,
    SEOContractConfig,
    SEOContractRule,
    SEOEntity,
    SEOExpectation,
    SEOImage,
    SEOIssue,
    SEOOverrides,
    SEOPayload,
    TwitterPayload,
    URLPolicy,
    build_seo_contract,
    build_seo_payload,
    build_seo_payload_dict,
    build_seo_payload_with_overrides,
    clean_query_fn,
    clean_url_fn,
    normalize_path_fn,
    normalize_public_url_fn,
    validate_payload,
)

__all__ = [
    "Breadcrumb",
    "FAQItem",
    "OGPayload",
    "Robots",
    "SEOAuthor",
    "SEOConfig",
    "SEOContract",
    "SEOContractConfig",
    "SEOContractRule",
    "SEOEntity",
    "SEOExpectation",
    "SEOImage",
    "SEOIssue",
    "SEOOverrides",
    "SEOPayload",
    "SchemaRegistry",
    "TwitterPayload",
    "URLPolicy",
    "build_seo_contract",
    "build_seo_payload",
    "build_seo_payload_dict",
    "build_seo_payload_with_overrides",
    "clean_query_fn",
    "clean_url_fn",
    "normalize_path_fn",
    "normalize_public_url_fn",
    "validate_payload",
    "QuarloError",
    "InvalidUrlError",
    "ConfigurationError",
    "EntityError",
    "SchemaError",
    "ContractError",
]
# --- end of the generated names

from . import hooks, jsonld, registry
from ._version import __version__
# The Python registries that a configuration's schema_registry and hooks take;
# the native introspection class stays _quarlo_native.SchemaRegistry.
from .hooks import HookRegistry
from .registry import SchemaRegistry
from .data import config_from_dict, config_from_file, entity_from_dict
from . import _reduce

_reduce.register()  # pickle, copy and deepcopy of the module's classes

__all__ += ["HookRegistry", "config_from_dict", "config_from_file", "entity_from_dict"]
