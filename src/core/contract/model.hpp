// SEO contracts: what search-engine metadata every route of a site is
// expected to carry (defaults, route-pattern rules, per-route exceptions),
// their one JSON file format, digest and file write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/error.hpp"
#include "core/base/fields.hpp"

namespace quarlo {

// Deepest nesting of title/description expectations (the outermost
// expectation is level 1). Comparing and freeing an expectation recurse once
// per level, so the binding refuses deeper ones when they are built, and
// to_json refuses them too.
inline constexpr std::size_t kMaxExpectationNesting = 64;

// Longest contract JSON text that to_json writes. Nested expectations are
// shared (below), so a handful of records can stand for a text that repeats
// them exponentially often: `e = {title: e, description: e}` thirty times
// over is thirty records but a billion objects of text. The text's exact
// length is measured before anything is written, and a longer one is
// refused instead of filling memory. An honest contract is a few kilobytes;
// even a million routes of exceptions stay far below the limit.
inline constexpr std::size_t kMaxContractTextBytes = std::size_t{256} << 20;

enum class ContractSeverity : std::uint8_t { Error, Warning, Info };

// "Error", "Warning", "Info".
[[nodiscard]] std::string_view contract_severity_serialized_name(ContractSeverity severity) noexcept;
[[nodiscard]] inline std::string_view serialized_name(ContractSeverity severity) noexcept {
  return contract_severity_serialized_name(severity);
}

// An immutable record on the heap, shared by every copy: copying copies a
// pointer, so a record nested under many parents (or twice under one) is
// stored once, and building a parent costs the same whatever lies below.
// Equality compares the records.
template <class T>
class Shared {
 public:
  using element_type = T;

  explicit Shared(T value) : ptr_(std::make_shared<const T>(std::move(value))) {}
  // `ptr` must not be null.
  explicit Shared(std::shared_ptr<const T> ptr) noexcept : ptr_(std::move(ptr)) {}

  [[nodiscard]] const T& operator*() const noexcept { return *ptr_; }
  [[nodiscard]] const T* operator->() const noexcept { return ptr_.get(); }

  friend bool operator==(const Shared& a, const Shared& b) { return a.ptr_ == b.ptr_ || *a.ptr_ == *b.ptr_; }

 private:
  std::shared_ptr<const T> ptr_;
};

struct SchemaExpectation {
  std::optional<bool> required;
  std::optional<std::vector<std::string>> types;

  // Derived from this table: the contract's JSON text.
  static constexpr auto fields = std::tuple{
      field<"required">(&SchemaExpectation::required),
      field<"types">(&SchemaExpectation::types),
  };

  friend bool operator==(const SchemaExpectation&, const SchemaExpectation&) = default;
};

struct FieldExpectation {
  std::optional<bool> required;

  // Derived from this table: the contract's JSON text.
  static constexpr auto fields = std::tuple{field<"required">(&FieldExpectation::required)};

  friend bool operator==(const FieldExpectation&, const FieldExpectation&) = default;
};

// Optional constraints; an absent field does not apply. Field order is the
// JSON member order.
struct SEOExpectation {
  std::optional<bool> required;
  std::optional<bool> forbidden;
  std::optional<std::string> equals;
  std::optional<std::string> not_equals;
  std::optional<std::string> contains;
  std::optional<std::string> matches;
  std::optional<std::vector<std::string>> one_of;
  std::optional<std::uint64_t> min_length;
  std::optional<std::uint64_t> max_length;
  std::optional<std::uint64_t> min_items;
  std::optional<std::uint64_t> max_items;
  std::optional<bool> indexable;
  std::optional<std::string> canonical;
  std::optional<SchemaExpectation> schema;
  std::optional<FieldExpectation> open_graph;
  std::optional<FieldExpectation> twitter;
  std::optional<FieldExpectation> sitemap;
  std::optional<FieldExpectation> hreflang;
  std::optional<Shared<SEOExpectation>> title;
  std::optional<Shared<SEOExpectation>> description;

  // Derived from this table: the contract's JSON text and the binding's
  // properties.
  static constexpr auto fields = std::tuple{
      field<"required">(&SEOExpectation::required),
      field<"forbidden">(&SEOExpectation::forbidden),
      field<"equals">(&SEOExpectation::equals),
      field<"not_equals">(&SEOExpectation::not_equals),
      field<"contains">(&SEOExpectation::contains),
      field<"matches">(&SEOExpectation::matches),
      field<"one_of">(&SEOExpectation::one_of),
      field<"min_length">(&SEOExpectation::min_length),
      field<"max_length">(&SEOExpectation::max_length),
      field<"min_items">(&SEOExpectation::min_items),
      field<"max_items">(&SEOExpectation::max_items),
      field<"indexable">(&SEOExpectation::indexable),
      field<"canonical">(&SEOExpectation::canonical),
      field<"schema">(&SEOExpectation::schema),
      field<"open_graph">(&SEOExpectation::open_graph),
      field<"twitter">(&SEOExpectation::twitter),
      field<"sitemap">(&SEOExpectation::sitemap),
      field<"hreflang">(&SEOExpectation::hreflang),
      field<"title">(&SEOExpectation::title),
      field<"description">(&SEOExpectation::description),
  };

  friend bool operator==(const SEOExpectation&, const SEOExpectation&) = default;
};

// Levels of title/description nesting, counting this expectation as 1. Costs
// one step per distinct nested record, however often each is shared.
[[nodiscard]] std::size_t expectation_depth(const SEOExpectation& expectation) noexcept;

struct SEOContractRule {
  std::string match;
  SEOExpectation expect;
  std::optional<ContractSeverity> severity;

  // Derived from this table: the contract's JSON text.
  static constexpr auto fields = std::tuple{
      field<"match">(&SEOContractRule::match),
      field<"expect">(&SEOContractRule::expect),
      field<"severity">(&SEOContractRule::severity),
  };

  friend bool operator==(const SEOContractRule&, const SEOContractRule&) = default;
};

using ContractExceptions = std::map<std::string, SEOExpectation, std::less<>>;

struct ContractGenerator {
  std::string name = "quarlo";
  std::string version = "0.2.0";

  // Derived from this table: the contract's JSON text.
  static constexpr auto fields = std::tuple{
      field<"name">(&ContractGenerator::name),
      field<"version">(&ContractGenerator::version),
  };

  friend bool operator==(const ContractGenerator&, const ContractGenerator&) = default;
};

struct ContractSite {
  std::string canonical_host;
  std::string scheme = "https";

  // Derived from this table: the contract's JSON text.
  static constexpr auto fields = std::tuple{
      field<"canonical_host">(&ContractSite::canonical_host),
      field<"scheme">(&ContractSite::scheme),
  };

  friend bool operator==(const ContractSite&, const ContractSite&) = default;
};

struct SEOContract {
  std::string contract_version = "1";
  ContractGenerator generator;
  ContractSite site;
  SEOExpectation defaults;
  std::vector<SEOContractRule> rules;
  ContractExceptions exceptions;

  // Derived from this table: the contract's JSON text (and through it the
  // digest, the written file and the binding's dictionary form).
  static constexpr auto fields = std::tuple{
      field<"contract_version">(&SEOContract::contract_version),
      field<"generator">(&SEOContract::generator),
      field<"site">(&SEOContract::site),
      field<"defaults">(&SEOContract::defaults),
      field<"rules">(&SEOContract::rules),
      field<"exceptions">(&SEOContract::exceptions),
  };

  // The contract's JSON text (pretty, two spaces, no final newline), which is
  // also the exact content of a written file. Failure (Serialization):
  // expectations nested deeper than kMaxExpectationNesting, or a text longer
  // than kMaxContractTextBytes ("contract text would exceed N bytes").
  [[nodiscard]] Result<std::string> to_json() const;
  // The length in bytes of that text, measured without writing it (at most
  // SIZE_MAX); fails like to_json on nesting that is too deep.
  [[nodiscard]] Result<std::size_t> json_size() const;
  // SHA-256 of the JSON text as 64 lower-case hex digits: equal to the digest
  // of a file written by write().
  [[nodiscard]] Result<std::string> hash() const;
  // Writes the JSON text to the file at `path`, with the outcome of a plain
  // create-or-truncate write, made atomic where that changes nothing else:
  //  * a new file, and an existing regular file with one link that the
  //    caller may write, in a directory that takes new files, are written
  //    whole under a temporary name in that directory and renamed into
  //    place, so readers and concurrent writers never see a partial text and
  //    a failure leaves the previous file untouched; a replaced file keeps
  //    its mode, owner and group (when the owner or group cannot be given to
  //    the new file, it is written in place instead);
  //  * everything else is written in place exactly as the plain write would:
  //    a file with hard links (all names see the new text), a writable file
  //    in a directory that refuses new files, a device or pipe. What the
  //    plain write refuses is refused (a read-only file, a directory, a loop
  //    of symbolic links, a missing directory).
  // Symbolic links are followed: the link stays, the file it names is
  // written. Failure: Serialization, "failed to write contract: " + the
  // system's description.
  [[nodiscard]] Result<void> write(std::string_view path) const;

  friend bool operator==(const SEOContract&, const SEOContract&) = default;
};

}  // namespace quarlo
