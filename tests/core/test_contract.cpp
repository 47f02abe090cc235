// Tests of contracts: JSON text, digest, file writes and their failures.
#include "core/contract/builder.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
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
  title.title = Shared<SEOExpectation>(inner);
  d.title = Shared<SEOExpectation>(title);
  d.description = Shared<SEOExpectation>(SEOExpectation{});

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
    parent.title = Shared<SEOExpectation>(std::move(e));
    e = std::move(parent);
  }
  EXPECT_EQ(expectation_depth(e), kMaxExpectationNesting);
  SEOContractConfig config = host_only();
  config.defaults = e;
  EXPECT_TRUE(build(config).to_json());
  SEOExpectation deeper;
  deeper.description = Shared<SEOExpectation>(e);
  config.defaults = deeper;
  auto r = build(config).to_json();
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind(), ErrorKind::Serialization);
}

// e = {title: e, description: e}, `levels` times over a leaf: one record per
// level, but a text that doubles with each.
SEOExpectation doubling(std::size_t levels) {
  SEOExpectation e;
  e.one_of = std::vector<std::string>{std::string(100, 'x'), "\"\t\x01"};
  for (std::size_t i = 0; i < levels; ++i) {
    const Shared<SEOExpectation> child(std::move(e));
    e = SEOExpectation{};
    e.title = child;
    e.description = child;
  }
  return e;
}

TEST(ContractText, NestedRecordsAreSharedNotCopied) {
  const SEOExpectation e = doubling(2);
  const SEOExpectation copy = e;
  EXPECT_EQ(&**copy.title, &**e.title);
  EXPECT_EQ(&**e.title, &**e.description);
  EXPECT_EQ(expectation_depth(doubling(kMaxExpectationNesting - 1)), kMaxExpectationNesting);
}

TEST(ContractText, SizeIsMeasuredExactlyBeforeWriting) {
  for (std::size_t levels = 0; levels <= 10; ++levels) {
    SEOContractConfig config = host_only();
    config.defaults = doubling(levels);
    config.rules.push_back({"/r", doubling(levels / 2), ContractSeverity::Info});
    config.exceptions.emplace("/e", doubling(levels));
    const SEOContract contract = build(config);
    ASSERT_EQ(*contract.json_size(), contract.to_json()->size()) << levels;
  }
}

TEST(ContractText, RefusesATextBeyondTheLimit) {
  // Thirty levels stand for a billion expectation objects: measured, not
  // written, and refused.
  SEOContractConfig config = host_only();
  config.defaults = doubling(30);
  const SEOContract contract = build(config);
  EXPECT_GT(*contract.json_size(), kMaxContractTextBytes);
  for (const auto& r : {contract.to_json(), contract.hash()}) {
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), ErrorKind::Serialization);
    EXPECT_EQ(r.error().message(), "contract text would exceed 268435456 bytes");
  }
  // Sixty-three levels: sizes saturate rather than wrap around.
  config.defaults = doubling(kMaxExpectationNesting - 1);
  EXPECT_EQ(*build(config).json_size(), std::numeric_limits<std::size_t>::max());
  EXPECT_FALSE(build(config).to_json());
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

TEST_F(ContractFile, NewFileGetsThePlainCreateMode) {
  const mode_t mask = ::umask(022);
  const fs::path target = dir_ / "new.json";
  ASSERT_TRUE(build(host_only()).write(target.string()));
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// Where a write lands and how: replaced by a new file (a new inode, whole or
// not at all) or written in place (the same inode, as a plain write).
struct OutcomeCase {
  enum class Writer { Any, NonRoot, Root };
  const char* name;
  // Makes the files and returns the path to write; `written` is set to the
  // file whose text is checked afterwards.
  std::function<fs::path(const fs::path& dir, fs::path& written)> setup;
  bool replaced;
  Writer writer = Writer::Any;
};

class ContractWriteOutcome : public ContractFile, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(ContractWriteOutcome, LandsWhereAPlainWriteWould) {
  const OutcomeCase& c = GetParam();
  const bool root = ::geteuid() == 0;
  if ((c.writer == OutcomeCase::Writer::Root && !root) || (c.writer == OutcomeCase::Writer::NonRoot && root)) {
    GTEST_SKIP() << "needs another writer";
  }
  fs::path written;
  const fs::path path = c.setup(dir_, written);
  struct stat before {};
  ASSERT_EQ(::stat(written.c_str(), &before), 0);
  const SEOContract contract = build(host_only());
  ASSERT_TRUE(contract.write(path.string()));
  struct stat after {};
  ASSERT_EQ(::stat(written.c_str(), &after), 0);
  EXPECT_EQ(read(written), *contract.to_json());
  EXPECT_EQ(after.st_ino != before.st_ino, c.replaced);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(after.st_nlink, before.st_nlink);
}

fs::path old_file(const fs::path& p, fs::perms perms = fs::perms::owner_read | fs::perms::owner_write) {
  { std::ofstream(p) << "old contract, much longer than the new one ......................................."; }
  fs::permissions(p, perms);
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    Contract, ContractWriteOutcome,
    ::testing::Values(
        OutcomeCase{"OwnFileKeepsItsMode",
                    [](const fs::path& d, fs::path& w) {
                      return w = old_file(d / "c.json", fs::perms::owner_read | fs::perms::owner_write |
                                                            fs::perms::group_read | fs::perms::others_exec);
                    },
                    true},
        OutcomeCase{"ThroughASymbolicLink",
                    [](const fs::path& d, fs::path& w) {
                      w = old_file(d / "real.json");
                      fs::create_symlink("real.json", d / "link.json");
                      return d / "link.json";
                    },
                    true},
        OutcomeCase{"HardLinksInPlace",
                    [](const fs::path& d, fs::path& w) {
                      w = old_file(d / "other-name.json");
                      fs::create_hard_link(w, d / "c.json");
                      return d / "c.json";
                    },
                    false},
        // Root may create files in any directory, so only another writer
        // meets the refusal.
        OutcomeCase{"ReadOnlyDirectoryInPlace",
                    [](const fs::path& d, fs::path& w) {
                      w = old_file(d / "c.json");
                      fs::permissions(d, fs::perms::owner_read | fs::perms::owner_exec);
                      return w;
                    },
                    false, OutcomeCase::Writer::NonRoot},
        // Only root may give the new file to the old one's owner and group.
        OutcomeCase{"OtherOwnerKept",
                    [](const fs::path& d, fs::path& w) {
                      w = old_file(d / "c.json");
                      EXPECT_EQ(::chown(w.c_str(), 65534, 65534), 0);
                      return w;
                    },
                    true, OutcomeCase::Writer::Root}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

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
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_FALSE(entry.path().filename().string().starts_with(".quarlo-contract-")) << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Contract, ContractWriteFailure,
    ::testing::Values(FailureCase{"MissingDirectory", [](const fs::path& d) { return d / "missing" / "c.json"; },
                                  "No such file or directory"},
                      FailureCase{"PathIsADirectory", [](const fs::path& d) { return d; }, "Is a directory"},
                      FailureCase{"SymbolicLinkLoop",
                                  [](const fs::path& d) {
                                    fs::create_symlink("b", d / "a");
                                    fs::create_symlink("a", d / "b");
                                    return d / "a";
                                  },
                                  "Too many levels of symbolic links"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

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
