// Tests of contracts: JSON text, digest, file writes and their failures.
#include "core/contract/builder.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/base/sha256.hpp"

namespace quarlo {
namespace {

namespace fs = std::filesystem;

SEOContractConfig host_only() {
  SEOContractConfig config;
  config.canonical_host = "example.com";
  return config;
}

SEOContract build(const SEOContractConfig& config) { return build_contract(config); }

TEST(ContractText, MinimalContract) {
  EXPECT_EQ(*build(host_only()).to_json(),
            "{\n"
            "  \"contract_version\": \"1\",\n"
            "  \"generator\": {\n"
            "    \"name\": \"quarlo\",\n"
            "    \"version\": \"0.2.0\"\n"
            "  },\n"
            "  \"site\": {\n"
            "    \"canonical_host\": \"example.com\",\n"
            "    \"scheme\": \"https\"\n"
            "  },\n"
            "  \"defaults\": {},\n"
            "  \"rules\": [],\n"
            "  \"exceptions\": {}\n"
            "}");
}

TEST(ContractText, EveryFieldInOrder) {
  SEOContractConfig config = host_only();
  config.scheme = "http";
  SEOExpectation& d = config.defaults;
  d.required = true;
  d.forbidden = false;
  d.equals = "a";
  d.not_equals = "b";
  d.contains = "c";
  d.matches = "^d$";
  d.one_of = std::vector<std::string>{"x", "y"};
  d.min_length = 1;
  d.max_length = 60;
  d.min_items = 0;
  d.max_items = 18446744073709551615u;
  d.indexable = true;
  d.canonical = "self";
  d.schema = SchemaExpectation{std::nullopt, std::vector<std::string>{"Article"}};
  d.open_graph = FieldExpectation{false};
  d.twitter = FieldExpectation{};
  d.sitemap = FieldExpectation{true};
  d.hreflang = FieldExpectation{};
  SEOExpectation title;
  title.max_length = 60;
  SEOExpectation inner;
  inner.contains = "\"q\"\t/\xC3\xA9";
  title.title = Box<SEOExpectation>(inner);
  d.title = Box<SEOExpectation>(title);
  d.description = Box<SEOExpectation>(SEOExpectation{});

  SEOExpectation max60;
  max60.max_length = 60;
  config.rules.push_back({"/blog/*", max60, ContractSeverity::Warning});
  config.rules.push_back({"/blog/*", SEOExpectation{}, std::nullopt});
  config.rules.push_back({"/x", SEOExpectation{}, ContractSeverity::Info});
  config.exceptions.emplace("/b", SEOExpectation{});
  config.exceptions.emplace("/a\t\"", max60);
  config.exceptions.emplace("/\xC3\xA9", SEOExpectation{});

  EXPECT_EQ(*build(config).to_json(),
            R"({
  "contract_version": "1",
  "generator": {
    "name": "quarlo",
    "version": "0.2.0"
  },
  "site": {
    "canonical_host": "example.com",
    "scheme": "http"
  },
  "defaults": {
    "required": true,
    "forbidden": false,
    "equals": "a",
    "not_equals": "b",
    "contains": "c",
    "matches": "^d$",
    "one_of": [
      "x",
      "y"
    ],
    "min_length": 1,
    "max_length": 60,
    "min_items": 0,
    "max_items": 18446744073709551615,
    "indexable": true,
    "canonical": "self",
    "schema": {
      "types": [
        "Article"
      ]
    },
    "open_graph": {
      "required": false
    },
    "twitter": {},
    "sitemap": {
      "required": true
    },
    "hreflang": {},
    "title": {
      "max_length": 60,
      "title": {
        "contains": "\"q\"\t/é"
      }
    },
    "description": {}
  },
  "rules": [
    {
      "match": "/blog/*",
      "expect": {
        "max_length": 60
      },
      "severity": "Warning"
    },
    {
      "match": "/blog/*",
      "expect": {}
    },
    {
      "match": "/x",
      "expect": {},
      "severity": "Info"
    }
  ],
  "exceptions": {
    "/a\t\"": {
      "max_length": 60
    },
    "/b": {},
    "/é": {}
  }
})");
}

TEST(ContractText, RefusesNestingBeyondTheLimit) {
  SEOExpectation e;
  for (std::size_t i = 1; i < kMaxExpectationNesting; ++i) {
    SEOExpectation parent;
    parent.title = Box<SEOExpectation>(std::move(e));
    e = std::move(parent);
  }
  EXPECT_EQ(expectation_depth(e), kMaxExpectationNesting);
  SEOContractConfig config = host_only();
  config.defaults = e;
  EXPECT_TRUE(build(config).to_json());
  SEOExpectation deeper;
  deeper.description = Box<SEOExpectation>(e);
  config.defaults = deeper;
  auto r = build(config).to_json();
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), ErrorKind::Serialization);
}

TEST(ContractBuilder, CopiesEverythingUnvalidated) {
  SEOContractConfig config;
  config.canonical_host = "";
  config.scheme = "gopher";
  SEOExpectation contradictory;
  contradictory.required = true;
  contradictory.forbidden = true;
  contradictory.min_length = 10;
  contradictory.max_length = 1;
  config.defaults = contradictory;
  config.rules.push_back({"[", contradictory, std::nullopt});
  const SEOContract contract = build(config);
  EXPECT_EQ(contract.contract_version, "1");
  EXPECT_EQ(contract.site.canonical_host, "");
  EXPECT_EQ(contract.site.scheme, "gopher");
  EXPECT_EQ(contract.defaults, contradictory);
  EXPECT_EQ(contract.rules, config.rules);
  EXPECT_EQ(*contract.hash(), *build(config).hash());
}

// ---- hash and write ---------------------------------------------------------------

class ContractFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("quarlo-contract-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  static std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
};

TEST_F(ContractFile, HashIsTheDigestOfTheWrittenFile) {
  const SEOContract contract = build(host_only());
  const fs::path target = dir_ / "seo-contract.json";
  ASSERT_TRUE(contract.write(target.string()));
  const std::string bytes = read(target);
  EXPECT_EQ(bytes, *contract.to_json());
  EXPECT_EQ(*contract.hash(), sha256_hex(bytes));
  EXPECT_EQ(contract.hash()->size(), 64u);
  // Only the target remains: no temporary file left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ContractFile, ReplacesAndKeepsPermissions) {
  const fs::path target = dir_ / "c.json";
  { std::ofstream(target) << "old contract, much longer than the new one ......................................."; }
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const SEOContract contract = build(host_only());
  ASSERT_TRUE(contract.write(target.string()));
  EXPECT_EQ(read(target), *contract.to_json());
  EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ContractFile, NewFileGetsThePlainCreateMode) {
  const mode_t mask = ::umask(022);
  const fs::path target = dir_ / "new.json";
  ASSERT_TRUE(build(host_only()).write(target.string()));
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(ContractFile, WritesThroughASymbolicLink) {
  const fs::path real = dir_ / "real.json";
  const fs::path link = dir_ / "link.json";
  { std::ofstream(real) << "old"; }
  fs::create_symlink("real.json", link);
  const SEOContract contract = build(host_only());
  ASSERT_TRUE(contract.write(link.string()));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(read(real), *contract.to_json());
}

struct FailureCase {
  const char* name;
  std::function<fs::path(const fs::path&)> target;
  std::string description;
};

class ContractWriteFailure : public ContractFile, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ContractWriteFailure, ReportsAndLeavesNoFileBehind) {
  const fs::path target = GetParam().target(dir_);
  auto r = build(host_only()).write(target.string());
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), ErrorKind::Serialization);
  EXPECT_EQ(r.error().message(), "failed to write contract: " + GetParam().description);
  EXPECT_EQ(r.error().display(), "serialization error: failed to write contract: " + GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Contract, ContractWriteFailure,
    ::testing::Values(FailureCase{"MissingDirectory", [](const fs::path& d) { return d / "missing" / "c.json"; },
                                  "No such file or directory"},
                      FailureCase{"PathIsADirectory", [](const fs::path& d) { return d; }, "Is a directory"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(ContractFile, ReadOnlyDirectoryKeepsTheOldContract) {
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores directory permissions";
  const fs::path target = dir_ / "c.json";
  { std::ofstream(target) << "old"; }
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  auto r = build(host_only()).write(target.string());
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "failed to write contract: Permission denied");
  EXPECT_EQ(read(target), "old");
}

TEST_F(ContractFile, LongFileNamesStillWork) {
  const fs::path target = dir_ / std::string(250, 'c');
  ASSERT_TRUE(build(host_only()).write(target.string()));
  EXPECT_EQ(read(target), *build(host_only()).to_json());
}

TEST(ContractDevice, WrittenIntoNotReplaced) {
  // /dev/full accepts the open and fails every write: the failure is
  // reported and the device stays a device.
  auto r = build(host_only()).write("/dev/full");
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "failed to write contract: No space left on device");
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
  EXPECT_TRUE(build(host_only()).write("/dev/null"));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

}  // namespace
}  // namespace quarlo
