"""Per-call cost of validation and contract serialisation from Python
(median of repeats).

Run after installing the module: python3 bench/python/bench_contract.py
"""

import _quarlo_native as q

from timing import report


class Replace:
    """A hook that swaps the payload's dict form for a fixed one."""

    def __init__(self, data):
        self.data = data

    def run(self, event, payload, entity, config):
        return self.data


def typical_payload():
    config = q.SEOConfig("www.example.com", "https://www.example.com", site_name="Example Journal",
                         default_og_image=q.SEOImage("https://www.example.com/img/default.png"))
    entity = q.SEOEntity("post", title="A forty character title for a blog post",
                         excerpt="An excerpt of about one hundred and twenty characters that describes the post "
                                 "well enough for a search engine snippet.")
    return q.build_seo_payload(entity, "/blog/hello-world", config)


def five_findings_payload():
    data = {"title": "T" * 70, "description": "", "canonical": "/blog/hello", "robots": "index,follow,bogus",
            "og": {"type": "article", "image": "img/hello.png"}, "twitter": {"card": "summary"}}
    config = q.SEOConfig("www.example.com", "https://www.example.com", hooks=Replace(data))
    return q.build_seo_payload(q.SEOEntity("post"), "/", config)


def contract_with_rules(count):
    rules = [
        q.SEOContractRule(f"/section-{i}/*", q.SEOExpectation(
            required=True, indexable=i % 2 == 0, canonical="self", schema_required=True,
            schema_types=["Article"], og_required=True, title=q.SEOExpectation(min_length=10, max_length=60),
            description=q.SEOExpectation(max_length=160)), severity=("warning", "info", "error")[i % 3])
        for i in range(count)
    ]
    config = q.SEOContractConfig("www.example.com", defaults=q.SEOExpectation(required=True), rules=rules,
                                 exceptions=[("/", q.SEOExpectation(indexable=True))])
    return q.build_seo_contract(config)


def main() -> None:
    passing = typical_payload()
    failing = five_findings_payload()
    assert q.validate_payload(passing) == [] and len(q.validate_payload(failing)) == 5
    contract = contract_with_rules(20)
    report("validate_payload(passing typical payload)", lambda: q.validate_payload(passing), target_ns=1000)
    report("validate_payload(five findings)", lambda: q.validate_payload(failing), target_ns=4000)
    report("SEOContract.to_json (20 rules)", contract.to_json, target_ns=20000)
    report("SEOContract.hash (20 rules)", contract.hash)


if __name__ == "__main__":
    main()
