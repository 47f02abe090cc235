"""The payload's structured data as one linked JSON-LD graph.

The payload build writes each schema.org document on its own: a page with
breadcrumbs gets a list of two documents, each with its own ``"@context"``,
and every document carries an inline copy of the publisher. The hook that
:func:`graph_hook` returns rewrites ``schema_jsonld`` into one document::

    {"@context": "https://schema.org", "@graph": [organization, website, page nodes...]}

Switch it on for every page of a site::

    hooks = HookRegistry()
    hooks.register(graph_hook())
    config = SEOConfig("www.example.com", "https://www.example.com", publisher_name="Example Media",
                       hooks=hooks)

The graph, in this node order:

1. The Organization: ``"@id"`` the site URL + ``"#organization"``, the
   configuration's ``publisher_name``, its ``publisher_logo`` in absolute form
   and the site URL. Only when the configuration names a publisher; without
   one no node links to a publisher.
2. The WebSite: ``"@id"`` the site URL + ``"#website"``, the site URL, the
   configuration's ``site_name`` (else the publisher name), ``"publisher"``
   pointing at the Organization, and the search action when the page's
   documents had one (the built-in home page document has it).
3. The page's own documents, in the order the build wrote them (main document
   first, breadcrumb list last), each without its ``"@context"``, with
   ``"@id"`` the canonical URL + ``"#"`` + its type name in lower case
   (``#article``, ``#product``; the breadcrumb list is ``#breadcrumb``; a
   second node of the same type gets ``-2``); a document that names its own
   ``"@id"`` keeps it. Every page node but the breadcrumb list gets
   ``"isPartOf"`` the WebSite, ``"publisher"`` the Organization (replacing the
   inline copy of the configured publisher; another publisher is kept) and
   ``"breadcrumb"`` the breadcrumb list, each unless it already has one.
   Article-family nodes get a ``"headline"``. The built-in article's
   ``"mainEntityOfPage"`` reference to the canonical URL is written as that
   URL unless a node of the graph has the canonical URL as its ``"@id"``, so
   that no reference points outside the graph.

A page node whose ``"@id"`` equals the Organization's or the WebSite's (the
home page is the site) is folded into that node: the site node's own values
win and the page document adds the keys the site node lacks.

Where the values come from. A hook receives the payload dictionary, a copy of
the entity and a copy of the configuration (see :mod:`quarlo.hooks`):

- site URL: the configuration's public base URL resolved the way every
  canonical URL is (``normalize_public_url_fn("/", config)``: canonical host,
  URL policy, path prefix of the base URL), so the site's ``@id``\\ s share the
  canonical URLs' scheme and host. If the base URL does not parse (possible
  only when a ``canonical_url`` override kept the build away from it), the
  scheme and host of the payload's canonical URL are used.
- publisher name, logo, site name and title template: the configuration's
  dictionary form. The logo's absolute form follows the built-in documents:
  a logo not starting with ``http://`` or ``https://`` is appended to the
  public base URL without its trailing slashes.
- page URL: the payload's ``"canonical"`` as it stands when the hook runs
  (without a fragment).
- headline: the entity's title with surrounding white space removed, as the
  build takes it; for an entity without a usable title, the payload's title
  with the configuration's title template taken off (the title the build fell
  back to: a ``meta_title`` override or "Untitled"), or the payload's title
  as it stands when the template does not fit it. So it does not follow a hook that changes the payload's title,
  whichever order the hooks run in. Longer than :data:`HEADLINE_LIMIT`
  characters, it is cut at the last white space within the limit (mid-word
  only when the first word alone is longer), without an ellipsis.

Keys are sorted at every level and the node order is fixed, so equal inputs
give the same payload and ETag. Only a ``schema_jsonld`` that is one object
or a non-empty list of objects, each with a string (or list of strings)
``"@type"``, no ``"@graph"`` and either no ``"@context"`` or the schema.org
one, is linked, whether the build, an override or a schema generator made it;
any other value, a graph already made included, is passed on untouched.
"""

from __future__ import annotations

import copy
import re
from typing import Any
from urllib.parse import quote, urlsplit

from _quarlo_native import SEOConfig, SEOEntity, normalize_public_url_fn

from .hooks import Hook

__all__ = ["HEADLINE_LIMIT", "SCHEMA_CONTEXT", "graph_hook"]

#: The ``"@context"`` of the graph document.
SCHEMA_CONTEXT = "https://schema.org"

#: The most characters a ``"headline"`` holds.
HEADLINE_LIMIT = 110

# Contexts that mean the schema.org vocabulary: documents with one of them
# (or none) can share the graph's context.
_SCHEMA_CONTEXTS = frozenset({"https://schema.org", "https://schema.org/", "http://schema.org",
                              "http://schema.org/"})

# schema.org's Article and its subtypes: the nodes that get a headline.
_ARTICLE_TYPES = frozenset({
    "Article", "AdvertiserContentArticle", "AnalysisNewsArticle", "APIReference",
    "AskPublicHealthAnnouncement", "BackgroundNewsArticle", "BlogPosting", "DiscussionForumPosting",
    "LiveBlogPosting", "MedicalScholarlyArticle", "NewsArticle", "OpinionNewsArticle", "Report",
    "ReportageNewsArticle", "ReviewNewsArticle", "SatiricalArticle", "ScholarlyArticle",
    "SocialMediaPosting", "TechArticle",
})

_BREADCRUMB_LIST = "BreadcrumbList"

# Unicode White_Space, the characters the payload build trims from texts.
_WHITE_SPACE = ("\t\n\v\f\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008"
                "\u2009\u200a\u2028\u2029\u202f\u205f\u3000")

_TITLE_PLACEHOLDER = "{title}"


def graph_hook(*, organization_id: str = "#organization", website_id: str = "#website",
               headline: bool = True) -> Hook:
    """Returns a hook that turns the payload's JSON-LD into one linked graph.

    Register it with :meth:`quarlo.hooks.HookRegistry.register`.

    Args:
        organization_id: The Organization's ``"@id"``: a fragment (starting
            with ``"#"``) appended to the site URL, or a full IRI used as is.
        website_id: The WebSite's ``"@id"``, in the same way.
        headline: Give Article-family nodes a ``"headline"``.

    Raises:
        TypeError: If an id is not a str or ``headline`` is not a bool.
        ValueError: If an id is empty or both ids are the same.
    """
    for name, value in (("organization_id", organization_id), ("website_id", website_id)):
        if not isinstance(value, str):
            raise TypeError(f"{name} must be a str, not {type(value).__name__}")
        if not value:
            raise ValueError(f"{name} must not be empty")
    if organization_id == website_id:
        raise ValueError("organization_id and website_id must differ")
    if not isinstance(headline, bool):
        raise TypeError(f"headline must be a bool, not {type(headline).__name__}")

    def link_jsonld(payload: dict[str, Any], entity: SEOEntity, config: SEOConfig) -> None:
        documents = _linkable(payload.get("schema_jsonld"))
        canonical = payload.get("canonical")
        if documents is None or not isinstance(canonical, str):
            return
        settings = config.to_dict()
        site_url = _site_url(config, canonical)
        title: str | None = None
        if headline and any(_types(document) & _ARTICLE_TYPES for document in documents):
            title = _headline(_entity_title(entity, payload.get("title"), settings.get("title_template"))) or None
        payload["schema_jsonld"] = _graph(documents, canonical, settings,
                                          _join(site_url, organization_id), _join(site_url, website_id),
                                          site_url, title)

    return link_jsonld


def _linkable(value: Any) -> list[dict[str, Any]] | None:
    """The documents of a ``schema_jsonld`` value that can be linked, or
    ``None`` when the value is to be passed on untouched."""
    documents = value if isinstance(value, list) else [value]
    if not documents:
        return None
    for document in documents:
        if not isinstance(document, dict) or "@graph" in document or not _types(document):
            return None
        context = document.get("@context", SCHEMA_CONTEXT)
        if not isinstance(context, str) or context not in _SCHEMA_CONTEXTS:
            return None
    return documents


def _types(document: dict[str, Any]) -> frozenset[str]:
    """The document's type names; empty when ``"@type"`` is not a str or a
    non-empty list of str."""
    kind = document.get("@type")
    if isinstance(kind, str):
        return frozenset((kind,))
    if isinstance(kind, list) and kind and all(isinstance(item, str) for item in kind):
        return frozenset(kind)
    return frozenset()


def _first_type(document: dict[str, Any]) -> str:
    kind = document["@type"]
    return kind if isinstance(kind, str) else str(kind[0])


def _site_url(config: SEOConfig, canonical: str) -> str:
    """The site's root URL in canonical form."""
    try:
        return normalize_public_url_fn("/", config)
    except ValueError:
        parts = urlsplit(canonical)
        return f"{parts.scheme}://{parts.netloc}/"


def _join(site_url: str, node_id: str) -> str:
    return _without_fragment(site_url) + node_id if node_id.startswith("#") else node_id


def _without_fragment(url: str) -> str:
    return url.split("#", 1)[0]


def _absolute(reference: str, public_base_url: str) -> str:
    """A logo reference in absolute form, as the built-in documents write it."""
    if reference.startswith(("http://", "https://")):
        return reference
    return public_base_url.rstrip("/") + reference


def _entity_title(entity: SEOEntity, payload_title: Any, template: Any) -> str:
    """The title the page was built with, before the title template."""
    title = (entity.title or "").strip(_WHITE_SPACE)
    if title:
        return title
    text = payload_title if isinstance(payload_title, str) else ""
    if isinstance(template, str) and _TITLE_PLACEHOLDER in template:
        # Every placeholder holds the same text: the first captures it, the others repeat it.
        first, second, *rest = (re.escape(part) for part in template.split(_TITLE_PLACEHOLDER))
        pattern = first + "(.*)" + second + "".join(r"\1" + part for part in rest)
        match = re.fullmatch(pattern, text, re.DOTALL)
        if match:
            return match.group(1)
    return text


def _headline(title: str) -> str:
    """The title cut to at most HEADLINE_LIMIT characters at a word boundary."""
    if len(title) <= HEADLINE_LIMIT:
        return title
    for end in range(HEADLINE_LIMIT, 0, -1):  # title[HEADLINE_LIMIT] is the first character cut off
        if title[end] in _WHITE_SPACE:
            kept = title[:end].rstrip(_WHITE_SPACE)
            if kept:
                return kept
            break
    return title[:HEADLINE_LIMIT]


def _fragment(document: dict[str, Any]) -> str:
    kind = _first_type(document)
    return "breadcrumb" if kind == _BREADCRUMB_LIST else quote(kind.lower(), safe="")


def _graph(documents: list[dict[str, Any]], canonical: str, settings: dict[str, Any],
           organization_id: str, website_id: str, site_url: str, headline: str | None) -> dict[str, Any]:
    publisher_name = settings.get("publisher_name")
    organization: dict[str, Any] | None = None
    if isinstance(publisher_name, str):
        organization = {"@id": organization_id, "@type": "Organization", "name": publisher_name, "url": site_url}
        logo = settings.get("publisher_logo")
        if isinstance(logo, str):
            organization["logo"] = _absolute(logo, str(settings.get("public_base_url", "")))
    website: dict[str, Any] = {"@id": website_id, "@type": "WebSite", "url": site_url}
    site_name = settings.get("site_name", publisher_name)
    if isinstance(site_name, str):
        website["name"] = site_name
    if organization is not None:
        website["publisher"] = {"@id": organization_id}
    site_nodes = {node["@id"]: node for node in (organization, website) if node is not None}

    # Page node ids: the document's own, else the page URL and the type name.
    page_url = _without_fragment(canonical)
    ids: list[str] = []
    for document in documents:
        own = document.get("@id")
        if isinstance(own, str) and own:
            ids.append(own)
            continue
        fragment = _fragment(document)
        node_id, count = f"{page_url}#{fragment}", 1
        while node_id in ids:
            count += 1
            node_id = f"{page_url}#{fragment}-{count}"
        ids.append(node_id)
    breadcrumb_id = next((node_id for node_id, document in zip(ids, documents)
                          if _BREADCRUMB_LIST in _types(document)), None)

    nodes: list[dict[str, Any]] = list(site_nodes.values())
    page_nodes: dict[str, dict[str, Any]] = {}
    for node_id, document in zip(ids, documents):
        node = copy.deepcopy(document)
        node.pop("@context", None)
        node["@id"] = node_id
        types = _types(node)
        action = node.get("potentialAction")
        if "WebSite" in types and isinstance(action, dict) and action.get("@type") == "SearchAction":
            website.setdefault("potentialAction", node.pop("potentialAction"))
        publisher = node.get("publisher")
        if (isinstance(publisher, dict) and "@id" not in publisher and publisher_name is not None
                and publisher.get("name") == publisher_name):
            del node["publisher"]  # the inline copy of the configured publisher
        if node.get("mainEntityOfPage") == {"@id": canonical} and canonical not in ids:
            node["mainEntityOfPage"] = canonical  # a link to no node of the graph: the page's URL
        if headline is not None and types & _ARTICLE_TYPES:
            node.setdefault("headline", headline)
        if node_id in site_nodes:  # the page is the site (or its publisher): fold it in
            for key, value in node.items():
                site_nodes[node_id].setdefault(key, value)
            continue
        if _BREADCRUMB_LIST not in types:
            node.setdefault("isPartOf", {"@id": website_id})
            if organization is not None:
                node.setdefault("publisher", {"@id": organization_id})
            if breadcrumb_id is not None and breadcrumb_id != node_id:
                node.setdefault("breadcrumb", {"@id": breadcrumb_id})
        if node_id in page_nodes:  # two documents naming the same @id are one node
            for key, value in node.items():
                page_nodes[node_id].setdefault(key, value)
            continue
        page_nodes[node_id] = node
        nodes.append(node)
    return {"@context": SCHEMA_CONTEXT, "@graph": [_sorted(node) for node in nodes]}


def _sorted(value: Any) -> Any:
    """The value with the keys of every object in ascending order (code point
    order, which is the byte order of their UTF-8 form)."""
    if isinstance(value, dict):
        return {key: _sorted(value[key]) for key in sorted(value)}
    if isinstance(value, list):
        return [_sorted(item) for item in value]
    return value
