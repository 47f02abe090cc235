"""The Python interface of _quarlo_native, written once: every class, function,
constructor, method and property accessor with its arguments, annotations,
defaults, decorators and documentation, and the exception classes with the
core error kinds each one is raised for.

This is the only place these texts and names are written. At build time
generate.py makes from these tables the installed interface description
(_quarlo_native.interface.json), the type stubs (_quarlo_native.pyi) and the
C++ header the binding takes its docstrings, text signatures, keyword lists,
argument formats, defaults and public names from (python/interface/tables.hpp
in the build tree); the quarlo package re-exports the module's ``__all__``.
tests/python/test_interface.py checks the built module against these tables.
The constructors' documentation (with its "Args:" section) exists only in the
interface description: at run time a class carries its own docstring.

Annotations are Python expressions over ``builtins``, ``typing`` and
``collections.abc``; the module's own classes are written by their id
(``_quarlo_native.`` followed by the class name). Defaults are Python literals
written as in the runtime text signatures; the binding reads the ``True``,
``False`` and string defaults from the generated header and treats ``None`` as
"not given".
"""

from __future__ import annotations

from dataclasses import dataclass, field

MODULE = "_quarlo_native"
MODULE_DOC = "Python bindings for the quarlo core library."

# Annotations used more than once.
STR = "builtins.str"
OPT_STR = "builtins.str | None"
BOOL = "builtins.bool"
OPT_BOOL = "builtins.bool | None"
OPT_INT = "builtins.int | None"
ANY = "typing.Any"
STR_LIST = "builtins.list[builtins.str]"
STR_SEQ = "collections.abc.Sequence[builtins.str] | None"
DICT = "builtins.dict[builtins.str, typing.Any]"
NONE = "None"


def ref(name: str) -> str:
    """The annotation naming one of the module's classes."""
    return f"{MODULE}.{name}"


def opt(name: str) -> str:
    return f"{ref(name)} | None"


@dataclass(frozen=True)
class Arg:
    """One parameter. ``doc`` is its entry in an "Args:" section; a line
    break in it starts a continuation line."""

    name: str
    annotation: str
    default: str | None = None
    doc: str = ""


@dataclass(frozen=True)
class Doc:
    """A docstring in the module's layout: a summary line, then paragraphs
    and the sections "Args:", "Returns:" and "Raises:", each after one blank
    line. Section entries are indented by four spaces and their continuation
    lines by eight. The "Args:" entries come from the parameters."""

    summary: str
    paragraphs: tuple[str, ...] = ()
    returns: str = ""
    raises: tuple[tuple[str, str], ...] = ()

    def render(self, args: tuple[Arg, ...] = ()) -> str:
        def entry(text: str) -> str:
            first, *rest = text.split("\n")
            return "\n".join(["    " + first] + ["        " + line for line in rest])

        blocks = [self.summary, *self.paragraphs]
        documented = [arg for arg in args if arg.doc]
        if documented:
            blocks.append("\n".join(["Args:"] + [entry(f"{arg.name}: {arg.doc}") for arg in documented]))
        if self.returns:
            blocks.append("Returns:\n" + entry(self.returns))
        if self.raises:
            blocks.append("\n".join(["Raises:"] + [entry(f"{name}: {text}") for name, text in self.raises]))
        return "\n\n".join(blocks)


@dataclass(frozen=True)
class Function:
    """A module function, or a method when it belongs to a class. Methods
    take ``self`` positional-only, as their text signatures ($self) say."""

    name: str
    doc: Doc | str
    args: tuple[Arg, ...] = ()
    kwonly: tuple[Arg, ...] = ()
    returns: str = NONE
    posonly: tuple[Arg, ...] = ()  # after self, for the protocol slots


@dataclass(frozen=True)
class Property:
    name: str
    returns: str
    doc: str
    setter_doc: str = ""  # a settable property's setter documentation


@dataclass(frozen=True)
class Constructor:
    doc: Doc
    args: tuple[Arg, ...] = ()
    kwonly: tuple[Arg, ...] = ()


@dataclass(frozen=True)
class Class:
    name: str
    doc: str
    constructor: Constructor | None = None  # None: cannot be instantiated from Python
    members: tuple[Property | Function, ...] = field(default=())


def kw(name: str, annotation: str, doc: str, default: str = "None") -> Arg:
    """A keyword-only or defaulted parameter."""
    return Arg(name, annotation, default, doc)


def to_dict(doc: str) -> Function:
    return Function("to_dict", doc, returns=DICT)


# ------------------------------------------------------------------ classes
# In the order the module publishes them (byte-wise ascending names).

CLASSES: tuple[Class, ...] = (
    Class(
        "Breadcrumb",
        "A single entry in a breadcrumb trail.",
        Constructor(
            Doc("Creates a breadcrumb entry."),
            args=(Arg("name", STR, doc="Breadcrumb label."), Arg("url", STR, doc="Breadcrumb URL.")),
        ),
        (
            Property("name", STR, "Human readable label for the breadcrumb."),
            Property("url", STR, "URL the breadcrumb links to."),
        ),
    ),
    Class(
        "FAQItem",
        "A single question and answer pair for FAQ schemas.",
        Constructor(
            Doc("Creates a question and answer pair."),
            args=(Arg("question", STR, doc="Question text."), Arg("answer", STR, doc="Answer text.")),
        ),
        (
            Property("question", STR, "The question text."),
            Property("answer", STR, "The answer text."),
        ),
    ),
    Class(
        "OGPayload",
        "Open Graph metadata for a payload. Read-only.",
        None,
        (
            Property("type", STR, 'Open Graph object type, for example ``"article"`` or ``"website"``.'),
            Property("title", OPT_STR, "Open Graph title."),
            Property("description", OPT_STR, "Open Graph description."),
            Property("url", OPT_STR, "Open Graph canonical URL."),
            Property("image", OPT_STR, "Absolute URL of the Open Graph image."),
            Property("image_width", OPT_INT, "Open Graph image width in pixels."),
            Property("image_height", OPT_INT, "Open Graph image height in pixels."),
            Property("image_alt", OPT_STR, "Open Graph image alternative text."),
            Property("site_name", OPT_STR, "Site name."),
            Property("locale", OPT_STR, 'Locale, for example ``"en_US"``.'),
            Property("locale_alternate", "builtins.list[builtins.str] | None", "Alternate locales."),
            Property("audio", OPT_STR, "Open Graph audio URL."),
            Property("video", OPT_STR, "Open Graph video URL."),
            to_dict("Returns the Open Graph metadata as a dictionary."),
        ),
    ),
    Class(
        "Robots",
        "Robots directives for a page.",
        Constructor(
            Doc("Creates robots directives. All arguments are keyword-only."),
            kwonly=(
                kw("index", BOOL, "Whether search engines may index the page.", "True"),
                kw("follow", BOOL, "Whether search engines may follow links.", "True"),
                kw("max_snippet", OPT_INT, "Maximum snippet length."),
                kw("max_image_preview", OPT_STR, "Maximum image preview size."),
                kw("max_video_preview", OPT_INT, "Maximum video preview length in seconds."),
            ),
        ),
        (
            Property("index", BOOL, "Whether search engines may index the page. Defaults to ``True``."),
            Property("follow", BOOL, "Whether search engines may follow links. Defaults to ``True``."),
            Property("max_snippet", OPT_INT, "Maximum number of characters to show in a snippet."),
            Property("max_image_preview", OPT_STR, 'Maximum image preview size, for example ``"large"``.'),
            Property("max_video_preview", OPT_INT, "Maximum video preview length in seconds."),
            Function(
                "serialize",
                'Serializes the directives into the meta robots string, for example\n``"index,follow"``.',
                returns=STR,
            ),
        ),
    ),
    Class(
        "SEOAuthor",
        "An author reference used in article schemas.",
        Constructor(
            Doc("Creates an author reference."),
            args=(Arg("name", STR, doc="Display name of the author."),),
            kwonly=(kw("url", OPT_STR, "Optional profile URL."),),
        ),
        (
            Property("name", STR, "Display name of the author."),
            Property("url", OPT_STR, "Optional profile URL for the author."),
        ),
    ),
    Class(
        "SEOConfig",
        "Site-wide configuration for payload generation.",
        Constructor(
            Doc(
                "Creates a site-wide configuration.",
                raises=(("ConfigurationError", "If a configuration value is invalid."),),
            ),
            args=(
                Arg("canonical_host", STR,
                    doc='Canonical hostname without a scheme, for example\n``"www.example.com"``.'),
                Arg("public_base_url", STR,
                    doc='Full base URL for path resolution, for example\n``"https://www.example.com"``.'),
            ),
            kwonly=(
                kw("url_policy", opt("URLPolicy"), "URL normalization policy."),
                kw("default_robots", opt("Robots"), "Robots directives for regular pages."),
                kw("default_og_image", opt("SEOImage"), "Fallback Open Graph image."),
                kw("site_name", OPT_STR, "Site name for ``og:site_name`` and title templates."),
                kw("title_template", OPT_STR, "Title template containing ``{title}``."),
                kw("search_robots", opt("Robots"), "Robots directives for search pages."),
                kw("auto_generate_schema", BOOL, "Generate JSON-LD from the entity type.", "True"),
                kw("publisher_name", OPT_STR, "Organization or publisher name."),
                kw("publisher_logo", OPT_STR, "Publisher logo URL."),
                kw("locale", OPT_STR, 'Open Graph locale, for example ``"en_US"``.'),
                kw("locale_alternate", STR_SEQ, "Alternate locales."),
                kw("twitter_site", OPT_STR, "Twitter ``@handle`` for ``twitter:site``."),
                kw("emit_warnings", BOOL, "Emit Python warnings for validation issues.", "False"),
                kw("schema_type_map",
                   "collections.abc.Sequence[builtins.tuple[builtins.str, builtins.str]] | None",
                   "Entity type to schema.org type overrides."),
                kw("search_url_template", OPT_STR,
                   "Search URL template for the homepage\n``WebSite`` ``SearchAction``."),
                kw("hooks", ANY, "Config-scoped ``HookRegistry``."),
                kw("schema_registry", ANY, "Config-scoped ``SchemaRegistry``."),
            ),
        ),
        (
            Property("hooks", ANY, "Config-scoped hook registry, consulted after the payload is built.",
                     setter_doc="Sets the config-scoped hook registry."),
            Property("schema_registry", ANY, "Config-scoped schema registry with Python-callable generators.",
                     setter_doc="Sets the config-scoped schema registry."),
            to_dict("Returns the configuration as a dictionary."),
        ),
    ),
    Class(
        "SEOContract",
        "A generated, machine-readable SEO contract.",
        None,
        (
            Property("contract_version", STR, "Version of the contract format itself."),
            Property("site", "builtins.dict[builtins.str, builtins.str]", "Site identity stored in the contract."),
            Function("hash", "Returns the SHA-256 hash of the serialized contract.", returns=STR),
            Function("to_json", "Returns the contract as pretty printed JSON.", returns=STR),
            to_dict("Returns the contract as a dictionary."),
            Function("write", "Writes the contract as JSON to the given path.", args=(Arg("path", STR),)),
        ),
    ),
    Class(
        "SEOContractConfig",
        "Input configuration for building a contract.",
        Constructor(
            Doc("Creates a contract configuration."),
            args=(Arg("canonical_host", STR, doc="Canonical hostname without a scheme."),),
            kwonly=(
                kw("scheme", STR, 'URL scheme, defaults to ``"https"``.', '"https"'),
                kw("defaults", opt("SEOExpectation"), "Default expectations applied to every route."),
                kw("rules", f"collections.abc.Sequence[{ref('SEOContractRule')}] | None", "Route specific rules."),
                kw("exceptions",
                   f"collections.abc.Sequence[builtins.tuple[builtins.str, {ref('SEOExpectation')}]] | None",
                   "Per-route expectation overrides."),
            ),
        ),
    ),
    Class(
        "SEOContractRule",
        "A contract rule matched against route paths.",
        Constructor(
            Doc("Creates a contract rule."),
            args=(
                Arg("match", STR, doc='Route pattern, for example ``"/blog/*"``.'),
                Arg("expect", ref("SEOExpectation"), doc="Expectations applied when the pattern matches."),
            ),
            kwonly=(kw("severity", OPT_STR, 'Optional severity, one of ``"error"``, ``"warning"``,\nor ``"info"``.'),),
        ),
        (
            Property("match", STR, 'Route pattern, for example ``"/blog/*"``.'),
            Property("expect", ref("SEOExpectation"), "Expectations applied when the pattern matches."),
            Property("severity", OPT_STR, "Optional severity for failures of this rule."),
        ),
    ),
    Class(
        "SEOEntity",
        "A content entity to generate SEO metadata for.",
        Constructor(
            Doc(
                "Creates a content entity.",
                raises=(("EntityError", "If ``entity_type`` is not a supported value."),),
            ),
            args=(
                Arg("entity_type", STR,
                    doc="One of ``home``, ``post``, ``page``, ``video``,\n"
                        "``taxonomy``, ``search``, ``product``, ``organization``,\n"
                        "``local_business``, ``faq``, or ``other``."),
            ),
            kwonly=(
                kw("slug", OPT_STR, "URL slug."),
                kw("title", OPT_STR, "Page title."),
                kw("excerpt", OPT_STR, "Short description."),
                kw("body_html", OPT_STR, "Full content as HTML."),
                kw("status", OPT_STR,
                   'Publication status. ``"published"`` (case-insensitive)\n'
                   "keeps the page indexable; any other value becomes noindex."),
                kw("featured_image", opt("SEOImage"), "Primary image."),
                kw("published_at", OPT_STR, "ISO date or datetime."),
                kw("updated_at", OPT_STR, "ISO date or datetime."),
                kw("author_name", OPT_STR, "Author display name."),
                kw("breadcrumbs", f"collections.abc.Sequence[{ref('Breadcrumb')}] | None", "Breadcrumb trail."),
                kw("sku", OPT_STR, "Product SKU."),
                kw("price", OPT_STR, "Product price."),
                kw("price_currency", OPT_STR, "ISO currency code."),
                kw("availability", OPT_STR, "Product availability."),
                kw("same_as", STR_SEQ, "Additional URLs for organization schemas."),
                kw("address", OPT_STR, "Postal address for local business schemas."),
                kw("faq_items", f"collections.abc.Sequence[{ref('FAQItem')}] | None",
                   "Question and answer pairs for FAQ schemas."),
            ),
        ),
        (
            Property("entity_type", STR, "The entity type as a string."),
            Property("title", OPT_STR, "The page title."),
            Property("excerpt", OPT_STR, "The short description."),
            to_dict("Returns the entity as a dictionary."),
        ),
    ),
    Class(
        "SEOExpectation",
        "Expectations applied to a page, a rule match, or contract defaults.",
        Constructor(
            Doc("Creates an expectation. Every argument is optional; unset fields are\nnot checked."),
            kwonly=(
                kw("required", OPT_BOOL, "The field must be present."),
                kw("forbidden", OPT_BOOL, "The field must be absent."),
                kw("equals", OPT_STR, "The field must equal this value."),
                kw("not_equals", OPT_STR, "The field must not equal this value."),
                kw("contains", OPT_STR, "The field must contain this substring."),
                kw("matches", OPT_STR, "The field must match this regular expression."),
                kw("one_of", STR_SEQ, "The field must be one of these values."),
                kw("min_length", OPT_INT, "Minimum string length."),
                kw("max_length", OPT_INT, "Maximum string length."),
                kw("min_items", OPT_INT, "Minimum number of items."),
                kw("max_items", OPT_INT, "Maximum number of items."),
                kw("indexable", OPT_BOOL, "Whether the page must be indexable."),
                kw("canonical", OPT_STR, 'Expected canonical behavior, for example ``"self"``.'),
                kw("schema_required", OPT_BOOL, "Whether a JSON-LD schema must be present."),
                kw("schema_types", STR_SEQ, "Required schema.org types."),
                kw("og_required", OPT_BOOL, "Whether Open Graph metadata must be present."),
                kw("twitter_required", OPT_BOOL, "Whether Twitter Card metadata must be present."),
                kw("sitemap_required", OPT_BOOL, "Whether a sitemap entry must be present."),
                kw("hreflang_required", OPT_BOOL, "Whether hreflang annotations must be present."),
                kw("title", opt("SEOExpectation"), "Nested expectations for the title."),
                kw("description", opt("SEOExpectation"), "Nested expectations for the description."),
            ),
        ),
        (
            Property("required", OPT_BOOL, "Whether the field is required."),
            Property("indexable", OPT_BOOL, "Whether the page must be indexable."),
            Property("canonical", OPT_STR, "Expected canonical behavior."),
        ),
    ),
    Class(
        "SEOImage",
        "An image reference used for Open Graph, Twitter Cards, and schemas.",
        Constructor(
            Doc("Creates an image reference."),
            args=(Arg("url", STR, doc="Absolute URL of the image."),),
            kwonly=(
                kw("width", OPT_INT, "Image width in pixels."),
                kw("height", OPT_INT, "Image height in pixels."),
                kw("alt", OPT_STR, "Alternative text."),
            ),
        ),
        (
            Property("url", STR, "Absolute URL of the image."),
            Property("width", OPT_INT, "Image width in pixels."),
            Property("height", OPT_INT, "Image height in pixels."),
            Property("alt", OPT_STR, "Alternative text describing the image."),
            to_dict("Returns the image as a dictionary."),
        ),
    ),
    Class(
        "SEOIssue",
        "A single validation finding.",
        None,
        (
            Property("rule_id", STR, 'Stable rule identifier, for example ``"QUARLO101"``.'),
            Property("severity", STR, 'Severity, one of ``"error"``, ``"warning"``, or ``"info"``.'),
            Property("message", STR, "Human readable description of the finding."),
            Property("url", OPT_STR, "Canonical URL the finding applies to."),
            Property("details", DICT, "Additional structured details about the finding."),
        ),
    ),
    Class(
        "SEOOverrides",
        "Per-call overrides that take precedence over the entity and config.",
        Constructor(
            Doc("Creates per-call overrides. All arguments are keyword-only and\noptional."),
            kwonly=(
                kw("meta_title", OPT_STR, "Overrides the resolved title."),
                kw("meta_description", OPT_STR, "Overrides the resolved description."),
                kw("canonical_url", OPT_STR,
                   "Overrides the resolved canonical URL. Trusted:\n"
                   "used as-is after an absolute ``http(s)`` URL check."),
                kw("canonical_path", OPT_STR,
                   "Overrides the route used to build the canonical\n"
                   "URL, normalized through the URL policy. Ignored when\n"
                   "``canonical_url`` is set."),
                kw("robots", opt("Robots"), "Overrides the robots directives."),
                kw("og_title", OPT_STR, "Overrides the Open Graph title."),
                kw("og_description", OPT_STR, "Overrides the Open Graph description."),
                kw("og_image", opt("SEOImage"), "Overrides the Open Graph image."),
                kw("twitter_card", OPT_STR, "Overrides the Twitter Card type."),
                kw("twitter_title", OPT_STR, "Overrides the Twitter title."),
                kw("twitter_description", OPT_STR, "Overrides the Twitter description."),
                kw("twitter_image", opt("SEOImage"), "Overrides the Twitter image."),
                kw("schema_jsonld", ANY, "Replaces the generated JSON-LD schema."),
                kw("omit_schema", BOOL, "When ``True``, no JSON-LD is emitted.", "False"),
                kw("skip_title_template", BOOL, "When ``True``, the title template is skipped.", "False"),
                kw("twitter_creator", OPT_STR, "Overrides the Twitter creator handle."),
                kw("og_audio", OPT_STR, "Open Graph audio URL."),
                kw("og_video", OPT_STR, "Open Graph video URL."),
            ),
        ),
    ),
    Class(
        "SEOPayload",
        "The resolved, deterministic SEO payload.\n\n"
        'Dict-compatible: supports ``payload["title"]``, ``payload.get(...)``,\n'
        "``len(payload)``, iteration, and equality against another payload or a\n"
        "plain dictionary.",
        None,
        (
            Property("title", STR, "The resolved title."),
            Property("description", STR, "The resolved description."),
            Property("canonical", STR, "The normalized canonical URL."),
            Property("robots", STR, "The serialized robots directives."),
            Property("og", ref("OGPayload"), "The Open Graph metadata."),
            Property("twitter", ref("TwitterPayload"), "The Twitter Card metadata."),
            Property("schema_jsonld", ANY, "The generated JSON-LD schema, as a dict or list."),
            Function("get", "Returns the value for ``key``, or ``default`` when absent.",
                     args=(Arg("key", STR), Arg("default", ANY, "None")), returns=ANY),
            Function("keys", "Returns the payload keys.", returns=STR_LIST),
            to_dict("Returns the payload as a dictionary."),
            Function("to_json", "Returns the payload as a pretty printed JSON string.", returns=STR),
            Function("hash", "Returns the SHA-256 hash of the payload.", returns=STR),
            Function("etag", "Returns the payload hash as a quoted HTTP ETag.", returns=STR),
            Function("render_html",
                     "Renders the full head snippet: title, description, canonical, robots,\n"
                     "Open Graph, Twitter Cards, and JSON-LD.",
                     returns=STR),
            Function("render_opengraph", "Renders only the Open Graph meta tags.", returns=STR),
            Function("render_twitter", "Renders only the Twitter Card meta tags.", returns=STR),
            Function("render_jsonld", "Renders only the JSON-LD script tag.", returns=STR),
            # The dictionary protocol and equality are type slots: their
            # parameters are positional-only, and at run time they carry the
            # interpreter's docstrings, whose wording varies between versions.
            Function("__getitem__", "Returns the value for ``key``; raises ``KeyError`` when absent.",
                     posonly=(Arg("key", STR),), returns=ANY),
            Function("__contains__", "Returns whether the payload has the key ``key``.",
                     posonly=(Arg("key", STR),), returns=BOOL),
            Function("__len__", "Returns the number of payload keys.", returns="builtins.int"),
            Function("__iter__", "Iterates over the payload keys, as :meth:`keys` lists them.",
                     returns="collections.abc.Iterator[builtins.str]"),
            Function("__eq__", "Compares with another payload, or with a plain dictionary as its\n"
                     "dictionary form.", posonly=(Arg("value", "builtins.object"),), returns=BOOL),
        ),
    ),
    Class(
        "SchemaRegistry",
        "Native introspection handle for the core schema registry.\n\n"
        "Python callables are registered through ``quarlo.registry.SchemaRegistry``,\n"
        "which stores them and applies the generated schema around the build. This\n"
        "native type only exposes ``has`` and ``list_types``.",
        Constructor(Doc("Creates an empty native registry.")),
        (
            Function("has", "Returns whether a native builder is registered for ``schema_type``.",
                     args=(Arg("schema_type", STR),), returns=BOOL),
            Function("list_types", "Lists the schema types with a registered native builder.", returns=STR_LIST),
        ),
    ),
    Class(
        "TwitterPayload",
        "Twitter Card metadata for a payload. Read-only.",
        None,
        (
            Property("card", STR, 'Card type, for example ``"summary_large_image"``.'),
            Property("title", OPT_STR, "Twitter title."),
            Property("description", OPT_STR, "Twitter description."),
            Property("image", OPT_STR, "Absolute URL of the Twitter image."),
            Property("image_alt", OPT_STR, "Twitter image alternative text."),
            Property("site", OPT_STR, "Twitter ``@handle`` for the site."),
            Property("creator", OPT_STR, "Twitter ``@handle`` of the content creator."),
            to_dict("Returns the Twitter Card metadata as a dictionary."),
        ),
    ),
    Class(
        "URLPolicy",
        "Controls how canonical URLs are normalized.",
        Constructor(
            Doc("Creates a URL policy. All arguments are keyword-only."),
            kwonly=(
                kw("enforce_https", BOOL, "Rewrite ``http`` to ``https``.", "True"),
                kw("lowercase_paths", BOOL, "Lowercase path segments. Defaults to ``False``.", "False"),
                kw("trailing_slash", STR, '``"always"``, ``"never"``, or ``"preserve"``.', '"never"'),
                kw("collapse_duplicate_slashes", BOOL, "Collapse repeated slashes.", "True"),
                kw("strip_tracking_params", BOOL, "Remove tracking parameters.", "True"),
                kw("allowed_query_params", STR_SEQ, "Query parameters to keep."),
                kw("extra_tracking_params", STR_SEQ, "Extra parameter names to strip."),
            ),
        ),
        (
            Property("enforce_https", BOOL, "Whether ``http`` is rewritten to ``https``."),
            Property("lowercase_paths", BOOL,
                     "Whether path segments are lowercased. Off by default: path case is\n"
                     "preserved because it can be significant."),
            Property("trailing_slash", STR,
                     'Trailing slash policy: ``"always"``, ``"never"``, or ``"preserve"``.'),
            Property("collapse_duplicate_slashes", BOOL, "Whether repeated slashes are collapsed."),
            Property("strip_tracking_params", BOOL, "Whether tracking parameters such as ``utm_*`` are removed."),
            Property("allowed_query_params", STR_LIST,
                     "Query parameters to keep when tracking parameters are stripped. A\n"
                     "listed parameter is kept even when it matches a tracking pattern."),
            Property("extra_tracking_params", STR_LIST,
                     "Additional query parameter names to strip, on top of the built-in\ntracking list."),
        ),
    ),
)

# ---------------------------------------------------------------- functions
# In the order the module publishes them (byte-wise ascending names).

_PAYLOAD_INVALID = ("QuarloError", "If the entity, route, or configuration is invalid.")


def _payload_args(overrides: Arg) -> tuple[Arg, ...]:
    return (
        Arg("entity", ref("SEOEntity"), doc="Content entity."),
        Arg("route", STR, doc='Route path, for example ``"/blog/hello"``.'),
        Arg("config", ref("SEOConfig"), doc="Site-wide configuration."),
        overrides,
    )


def _undocumented(args: tuple[Arg, ...]) -> tuple[Arg, ...]:
    return tuple(Arg(arg.name, arg.annotation, arg.default) for arg in args)


FUNCTIONS: tuple[Function, ...] = (
    Function(
        "build_seo_contract",
        Doc("Builds a machine-readable SEO contract.",
            raises=(("ContractError", "If contract generation fails."),)),
        args=(Arg("config", ref("SEOContractConfig")),),
        returns=ref("SEOContract"),
    ),
    Function(
        "build_seo_payload",
        Doc("Builds a deterministic SEO payload for an entity at a route.",
            returns="The resolved payload.", raises=(_PAYLOAD_INVALID,)),
        args=_payload_args(Arg("overrides", opt("SEOOverrides"), "None", "Optional per-call overrides.")),
        returns=ref("SEOPayload"),
    ),
    Function(
        "build_seo_payload_dict",
        Doc("Builds a payload and returns it as a plain dictionary.", raises=(_PAYLOAD_INVALID,)),
        args=_undocumented(_payload_args(Arg("overrides", opt("SEOOverrides"), "None"))),
        returns=DICT,
    ),
    Function(
        "build_seo_payload_with_overrides",
        Doc("Builds a deterministic SEO payload with explicit overrides.",
            paragraphs=("Prefer :func:`build_seo_payload`; this variant requires ``overrides``.",),
            raises=(("QuarloError", "If the entity, route, overrides, or configuration is\ninvalid."),)),
        args=_undocumented(_payload_args(Arg("overrides", ref("SEOOverrides")))),
        returns=ref("SEOPayload"),
    ),
    Function(
        "clean_query_fn",
        Doc("Removes tracking parameters from a query string."),
        args=(Arg("query", STR),),
        returns=STR,
    ),
    Function(
        "clean_url_fn",
        Doc("Removes tracking parameters from a URL.",
            returns="A dict with ``url``, ``removed_params``, and ``cleaned_params``."),
        args=(Arg("url", STR),),
        returns=DICT,
    ),
    Function(
        "normalize_path_fn",
        Doc("Normalizes a route path according to the URL policy.",
            raises=(("ValueError", "If the path or policy is invalid."),)),
        args=(Arg("path", STR), Arg("policy", ref("URLPolicy"))),
        returns=STR,
    ),
    Function(
        "normalize_public_url_fn",
        Doc("Resolves a path or URL against the configured public base URL.",
            raises=(("QuarloError", "If the input or configuration is invalid."),)),
        args=(Arg("url", STR), Arg("config", ref("SEOConfig"))),
        returns=STR,
    ),
    Function(
        "validate_payload",
        Doc("Runs the built-in validation checks against a payload.",
            returns="A list of :class:`SEOIssue` findings, empty when the payload passes."),
        args=(Arg("payload", ref("SEOPayload")),),
        returns=f"builtins.list[{ref('SEOIssue')}]",
    ),
)

# The exception classes, published after the functions: name, base, and the
# core error kinds (ErrorKind in src/core/base/error.hpp) raised as this
# class; every kind belongs to exactly one class. They take the ordinary
# exception arguments and have no members of their own, so the interface
# description has no records for them; the stubs declare them.


@dataclass(frozen=True)
class ExceptionClass:
    name: str
    base: str  # builtins.<name>, or a class of this table listed before it
    kinds: tuple[str, ...] = ()


EXCEPTIONS: tuple[ExceptionClass, ...] = (
    ExceptionClass("QuarloError", "builtins.ValueError", ("Serialization",)),
    ExceptionClass("InvalidUrlError", ref("QuarloError"), ("InvalidUrl",)),
    ExceptionClass("ConfigurationError", ref("QuarloError"), ("InvalidConfig", "UrlPolicy")),
    ExceptionClass("EntityError", ref("QuarloError"), ("InvalidEntity",)),
    ExceptionClass("SchemaError", ref("QuarloError"), ("InvalidSchema",)),
    ExceptionClass("ContractError", ref("QuarloError"), ("Contract",)),
)
