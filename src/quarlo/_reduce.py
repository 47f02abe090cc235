"""Pickling and copying of the module's classes.

Importing ``quarlo`` registers a reducer (``copyreg``) for each of the
module's 18 classes, so ``pickle`` (every protocol), ``copy.copy`` and
``copy.deepcopy`` work on them. Each object travels as plain data read
through its public surface, and is rebuilt through the public surface:

- records with readable fields from those fields, or from their ``to_dict``
  (configurations and entities through :func:`quarlo.config_from_dict` and
  :func:`quarlo.entity_from_dict`);
- payloads from their JSON text, read back by the payload build's hook pass
  (the module's reading of a payload dictionary); Open Graph and Twitter
  records as parts of such a payload;
- validation findings by validating a payload made to have that finding;
- contract objects from the JSON of a contract built from them;
- overrides, which show nothing of themselves, from what they do to two
  builds made to tell every override apart.

A configuration's ``hooks`` and ``schema_registry`` travel with it when
``pickle`` can pickle them (a :class:`quarlo.HookRegistry` of module-level
functions can); otherwise pickling fails with an error naming them. Copies
share them (``copy.copy``) or copy them (``copy.deepcopy``).
"""

from __future__ import annotations

import copy
import copyreg
import json
import pickle
import re
from collections.abc import Callable
from typing import Any

from _quarlo_native import (
    Breadcrumb,
    FAQItem,
    InvalidUrlError,
    OGPayload,
    Robots,
    SchemaRegistry,
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
    validate_payload,
)

from .data import config_from_dict, entity_from_dict

__all__ = ["register", "restore"]

Reduced = tuple[Callable[..., Any], tuple[Any, ...]]


def restore(kind: str, *state: Any) -> Any:
    """Rebuilds an object of the class named ``kind`` from its state (the
    callable that every pickle of the module's objects names)."""
    return _RESTORERS[kind](*state)


class _Carried:
    """A configuration's registry (``field``) on its way through pickle or a
    copy: pickles as the registry itself, or fails naming the field."""

    __slots__ = ("field", "value")

    def __init__(self, field: str, value: object) -> None:
        self.field, self.value = field, value

    def __reduce_ex__(self, protocol: Any) -> Reduced:
        try:
            pickle.dumps(self.value, protocol)
        except Exception as error:
            raise pickle.PicklingError(f"cannot pickle the SEOConfig's {self.field} "
                                       f"({type(self.value).__name__} object): {error}") from error
        return _itself, (self.value,)

    def __deepcopy__(self, memo: dict[int, Any]) -> _Carried:
        return _Carried(self.field, copy.deepcopy(self.value, memo))


def _itself(value: object) -> object:
    return value


def _carried(value: object) -> object:
    return value.value if isinstance(value, _Carried) else value


# Payloads read back from data, through the hook pass of a build.

class _Replace:
    """A hook object whose post-processing returns the given payload data."""

    def __init__(self, data: dict[str, Any]) -> None:
        self.data = data

    def run(self, event: str, payload: dict[str, Any], entity: SEOEntity, config: SEOConfig) -> dict[str, Any]:
        return self.data


def _payload(data: dict[str, Any]) -> SEOPayload:
    config = SEOConfig("quarlo.invalid", "https://quarlo.invalid", auto_generate_schema=False, hooks=_Replace(data))
    return build_seo_payload(SEOEntity("other"), "/", config)


def _bare(**fields: Any) -> dict[str, Any]:
    return {"title": "", "description": "", "canonical": "", "robots": "", "og": {"type": ""},
            "twitter": {"card": ""}, **fields}


def _reduce_payload(payload: SEOPayload) -> Reduced:
    if "schema_jsonld" in payload and payload.schema_jsonld is None:
        # Only an override can give a JSON null document, and a payload read
        # from data never holds one.
        raise pickle.PicklingError("cannot pickle an SEOPayload whose schema_jsonld is JSON null")
    return restore, ("SEOPayload", payload.to_json())


# Validation findings: the payload field that each rule looks at.

_ISSUE_PAYLOADS: dict[str, Callable[[dict[str, Any]], dict[str, Any]]] = {
    "QUARLO101": lambda details: {"title": ""},
    "QUARLO102": lambda details: {"title": "x" * int(details["length"])},
    "QUARLO103": lambda details: {"description": ""},
    "QUARLO104": lambda details: {"description": "x" * int(details["length"])},
    "QUARLO105": lambda details: {},
    "QUARLO106": lambda details: {"og": {"type": "website", "image": details["image"]}},
    "QUARLO107": lambda details: {"robots": details["directive"]},
    "QUARLO108": lambda details: {"og": {"type": "website"}},
}


def _issue(rule_id: str, url: str | None, details: dict[str, Any]) -> SEOIssue:
    fields = {"title": "T", "description": "D", "canonical": url or "", "robots": "index,follow",
              "og": {"type": "website", "image": "https://quarlo.invalid/i.png"}, "twitter": {"card": "summary"}}
    fields.update(_ISSUE_PAYLOADS[rule_id](details))
    return next(issue for issue in validate_payload(_payload(fields)) if issue.rule_id == rule_id)


def _issue_fields(issue: SEOIssue) -> tuple[Any, ...]:
    return issue.rule_id, issue.severity, issue.message, issue.url, issue.details


def _reduce_issue(issue: SEOIssue) -> Reduced:
    state = (issue.rule_id, issue.url, issue.details)
    try:
        same = _issue_fields(_issue(*state)) == _issue_fields(issue)
    except (KeyError, TypeError, ValueError, StopIteration):
        same = False
    if not same:
        raise pickle.PicklingError(f"cannot pickle the SEOIssue of {issue.rule_id}: no payload gives it")
    return restore, ("SEOIssue", *state)


# Contracts and their parts, from a contract's JSON (which, unlike the
# dictionary form, keeps integers above 2**63 exact).

_FIELD_EXPECTATIONS = {"open_graph": "og_required", "twitter": "twitter_required", "sitemap": "sitemap_required",
                       "hreflang": "hreflang_required"}


def _expectation(data: dict[str, Any]) -> SEOExpectation:
    arguments: dict[str, Any] = {}
    for key, value in data.items():
        if key == "schema":
            arguments.update(schema_required=value.get("required"), schema_types=value.get("types"))
        elif key in _FIELD_EXPECTATIONS:
            arguments[_FIELD_EXPECTATIONS[key]] = value.get("required")
        elif key in ("title", "description"):
            arguments[key] = _expectation(value)
        else:
            arguments[key] = value
    return SEOExpectation(**arguments)


def _contract_config(data: dict[str, Any]) -> SEOContractConfig:
    site = data["site"]
    return SEOContractConfig(
        site["canonical_host"], scheme=site["scheme"], defaults=_expectation(data["defaults"]),
        rules=[SEOContractRule(rule["match"], _expectation(rule["expect"]),
                               severity=rule["severity"].lower() if "severity" in rule else None)
               for rule in data["rules"]],
        exceptions=[(route, _expectation(expectation)) for route, expectation in data["exceptions"].items()])


def _contract_data(config: SEOContractConfig) -> dict[str, Any]:
    data: dict[str, Any] = json.loads(build_seo_contract(config).to_json())
    return data


# Overrides show nothing of themselves: two builds tell what each one does.
# Everything an override can replace comes out differently in the two builds
# without it, so a field that comes out the same in both is the override's.

_DEFAULT_CARD = "summary_large_image"


def _probe(overrides: SEOOverrides, number: int) -> SEOPayload:
    config = SEOConfig(
        f"probe{number}.quarlo.invalid", "https://quarlo.invalid",
        url_policy=URLPolicy(trailing_slash="preserve", collapse_duplicate_slashes=False, strip_tracking_params=False),
        default_robots=Robots(max_snippet=number), title_template=f"{{title}} probe {number}",
        schema_type_map=[("page", f"QuarloProbe{number}")])
    entity = SEOEntity("page", title=f"Title {number}", excerpt=f"Excerpt {number}",
                       breadcrumbs=[Breadcrumb("Probe", "/probe")])
    return build_seo_payload(entity, f"/probe-{number}", config, overrides)


def _same(first: Any, second: Any, *chained: Any) -> Any:
    """The value of an override whose field shows ``first`` and ``second`` in
    the two builds and falls back to a field that shows ``chained`` there:
    present when the two agree, and not merely because the fallback does."""
    if first is None or first != second or (len(chained) == 2 and chained[0] == chained[1] == first):
        return None
    return first


_ROBOTS_TEXT = re.compile(r"(no)?index,(no)?follow(?:,max-snippet:(-?\d+))?(?:,max-image-preview:(.*?))?"
                          r"(?:,max-video-preview:(-?\d+))?", re.DOTALL)


def _robots(text: str) -> Robots | None:
    match = _ROBOTS_TEXT.fullmatch(text)
    if match is None:
        return None
    snippet, image, video = match.group(3, 4, 5)
    return Robots(index=match.group(1) is None, follow=match.group(2) is None,
                  max_snippet=None if snippet is None else int(snippet), max_image_preview=image,
                  max_video_preview=None if video is None else int(video))


def _main_documents(payload: SEOPayload) -> list[Any]:
    """The documents before the probe's breadcrumb list, as the JSON text has
    them."""
    schema = json.loads(payload.to_json())["schema_jsonld"]
    return schema[:-1] if isinstance(schema, list) else []


def _overrides_arguments(overrides: SEOOverrides) -> dict[str, Any]:
    first, second = _probe(overrides, 1), _probe(overrides, 2)
    arguments: dict[str, Any] = {}

    titles = first.title, second.title
    suffixes = " probe 1", " probe 2"
    templated = titles[0].endswith(suffixes[0]) and titles[1].endswith(suffixes[1])
    bases = [title[: -len(suffix)] if templated else title for title, suffix in zip(titles, suffixes)]
    if not templated:
        arguments["skip_title_template"] = True
    arguments["meta_title"] = _same(*bases)
    arguments["meta_description"] = _same(first.description, second.description)

    hosts = "https://probe1.quarlo.invalid", "https://probe2.quarlo.invalid"
    if first.canonical == second.canonical:
        arguments["canonical_url"] = first.canonical
    elif first.canonical.startswith(hosts[0]) and second.canonical.startswith(hosts[1]):
        arguments["canonical_path"] = _same(first.canonical[len(hosts[0]):], second.canonical[len(hosts[1]):])

    if first.robots == second.robots:
        arguments["robots"] = _robots(first.robots)

    og, twitter = first.og, first.twitter
    if og.image is not None:
        arguments["og_image"] = SEOImage(og.image, width=og.image_width, height=og.image_height, alt=og.image_alt)
    if twitter.image is not None and (og.image is None or (twitter.image, twitter.image_alt) != (og.image, og.image_alt)):
        arguments["twitter_image"] = SEOImage(twitter.image, alt=twitter.image_alt)

    other_og, other_twitter = second.og, second.twitter
    arguments["og_title"] = _same(og.title, other_og.title, *titles)
    arguments["og_description"] = _same(og.description, other_og.description, first.description, second.description)
    arguments["twitter_title"] = _same(twitter.title, other_twitter.title, og.title, other_og.title)
    arguments["twitter_description"] = _same(twitter.description, other_twitter.description, og.description,
                                             other_og.description)
    arguments["twitter_card"] = twitter.card if twitter.card != _DEFAULT_CARD else None
    arguments.update(twitter_creator=twitter.creator, og_audio=og.audio, og_video=og.video)

    documents = _main_documents(first)
    if documents == _main_documents(second):
        if not documents:
            arguments["omit_schema"] = True
        elif len(documents) == 1 and not isinstance(documents[0], list):
            # A JSON null document comes from a value that does not convert.
            arguments["schema_jsonld"] = float("nan") if documents[0] is None else documents[0]
        else:
            arguments["schema_jsonld"] = documents
    return {key: value for key, value in arguments.items() if value is not None}


def _reduce_overrides(overrides: SEOOverrides) -> Reduced:
    try:
        arguments = _overrides_arguments(overrides)
        rebuilt = SEOOverrides(**arguments)
        same = all(_probe(rebuilt, number).to_json() == _probe(overrides, number).to_json() for number in (1, 2))
    except InvalidUrlError as error:
        raise pickle.PicklingError(f"cannot pickle SEOOverrides that fail every build: {error}") from error
    if not same:
        raise pickle.PicklingError("cannot pickle these SEOOverrides: their effect cannot be told apart")
    return restore, ("SEOOverrides", arguments)


def _robots_state(robots: Robots) -> dict[str, Any]:
    return {"index": robots.index, "follow": robots.follow, "max_snippet": robots.max_snippet,
            "max_image_preview": robots.max_image_preview, "max_video_preview": robots.max_video_preview}


def _policy_state(policy: URLPolicy) -> dict[str, Any]:
    return {"enforce_https": policy.enforce_https, "lowercase_paths": policy.lowercase_paths,
            "trailing_slash": policy.trailing_slash, "collapse_duplicate_slashes": policy.collapse_duplicate_slashes,
            "strip_tracking_params": policy.strip_tracking_params,
            "allowed_query_params": policy.allowed_query_params,
            "extra_tracking_params": policy.extra_tracking_params}


def _config(data: dict[str, Any], hooks: object, schema_registry: object) -> SEOConfig:
    config = config_from_dict(data)
    config.hooks, config.schema_registry = _carried(hooks), _carried(schema_registry)
    return config


def _reduce_config(config: SEOConfig) -> Reduced:
    carried = [None if value is None else _Carried(field, value)
               for field, value in (("hooks", config.hooks), ("schema_registry", config.schema_registry))]
    return restore, ("SEOConfig", config.to_dict(), *carried)


_REDUCERS: dict[type, Callable[[Any], Reduced]] = {
    Breadcrumb: lambda crumb: (restore, ("Breadcrumb", crumb.name, crumb.url)),
    FAQItem: lambda item: (restore, ("FAQItem", item.question, item.answer)),
    OGPayload: lambda og: (restore, ("OGPayload", og.to_dict())),
    Robots: lambda robots: (restore, ("Robots", _robots_state(robots))),
    SEOAuthor: lambda author: (restore, ("SEOAuthor", author.name, author.url)),
    SEOConfig: _reduce_config,
    SEOContract: lambda contract: (restore, ("SEOContract", json.loads(contract.to_json()))),
    SEOContractConfig: lambda config: (restore, ("SEOContractConfig", _contract_data(config))),
    SEOContractRule: lambda rule: (restore, ("SEOContractRule", rule.match, rule.expect, rule.severity)),
    SEOEntity: lambda entity: (restore, ("SEOEntity", entity.to_dict())),
    SEOExpectation: lambda expectation: (
        restore, ("SEOExpectation", _contract_data(SEOContractConfig("", defaults=expectation))["defaults"])),
    SEOImage: lambda image: (restore, ("SEOImage", image.to_dict())),
    SEOIssue: _reduce_issue,
    SEOOverrides: _reduce_overrides,
    SEOPayload: _reduce_payload,
    SchemaRegistry: lambda registry: (restore, ("SchemaRegistry",)),
    TwitterPayload: lambda twitter: (restore, ("TwitterPayload", twitter.to_dict())),
    URLPolicy: lambda policy: (restore, ("URLPolicy", _policy_state(policy))),
}

_RESTORERS: dict[str, Callable[..., Any]] = {
    "Breadcrumb": Breadcrumb,
    "FAQItem": FAQItem,
    "OGPayload": lambda data: _payload(_bare(og=data)).og,
    "Robots": lambda state: Robots(**state),
    "SEOAuthor": lambda name, url: SEOAuthor(name, url=url),
    "SEOConfig": _config,
    "SEOContract": lambda data: build_seo_contract(_contract_config(data)),
    "SEOContractConfig": _contract_config,
    "SEOContractRule": lambda match, expect, severity: SEOContractRule(match, expect, severity=severity),
    "SEOEntity": entity_from_dict,
    "SEOExpectation": _expectation,
    "SEOImage": lambda data: SEOImage(**data),
    "SEOIssue": _issue,
    "SEOOverrides": lambda arguments: SEOOverrides(**arguments),
    "SEOPayload": lambda text: _payload(json.loads(text)),
    "SchemaRegistry": SchemaRegistry,
    "TwitterPayload": lambda data: _payload(_bare(twitter=data)).twitter,
    "URLPolicy": lambda state: URLPolicy(**state),
}


def register() -> None:
    """Registers the reducers with ``copyreg`` (done on ``import quarlo``)."""
    for cls, reducer in _REDUCERS.items():
        copyreg.pickle(cls, reducer)
