"""Readable reprs of the record classes: name=value in the class's order,
None left out, long values and long reprs cut."""

import pytest

import _quarlo_native as q

CONFIG = q.SEOConfig("www.example.com", "https://www.example.com", site_name="Ex")


@pytest.mark.parametrize("obj, expected", [
    (q.Breadcrumb("Home", "/"), "Breadcrumb(name='Home', url='/')"),
    (q.FAQItem("Why?", "Because."), "FAQItem(question='Why?', answer='Because.')"),
    (q.SEOImage("/a.png", width=3), "SEOImage(url='/a.png', width=3)"),
    (q.SEOAuthor("Ann"), "SEOAuthor(name='Ann')"),
    (q.Robots(index=False, max_snippet=5), "Robots(index=False, follow=True, max_snippet=5)"),
    (q.SEOContractRule("/blog/*", q.SEOExpectation(indexable=True), severity="warning"),
     "SEOContractRule(match='/blog/*', expect=SEOExpectation(indexable=True), severity='warning')"),
    (q.SEOEntity("page", title="About"), "SEOEntity(entity_type='Page', title='About')"),
])
def test_repr_names_the_values(obj, expected):
    assert repr(obj) == expected


def test_findings_print_readably():
    payload = q.build_seo_payload(q.SEOEntity("post", title="Hello"), "/x", CONFIG)
    issues = q.validate_payload(payload)
    assert repr(issues[0]).startswith("SEOIssue(rule_id='QUARLO")
    assert "message=" in repr(issues[0]) and "severity=" in repr(issues[0])


def test_long_values_and_reprs_are_cut():
    entity = q.SEOEntity("post", title="T", body_html="é" * 10_000)
    text = repr(entity)
    assert len(text) <= 400 and text.endswith(")")
    body = text[text.index("body_html=") + len("body_html="):]
    assert body.startswith("'éé") and body.index("...") == 77
    payload = q.build_seo_payload(entity, "/x", CONFIG)
    assert len(repr(payload)) <= 400 and repr(payload).startswith("SEOPayload(title='T', ")
