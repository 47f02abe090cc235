// Contract records: JSON text, digest and the file write.
#include "core/contract/model.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/base/record_json.hpp"
#include "core/base/sha256.hpp"

namespace quarlo {
namespace {

// Measures the contract's pretty text without writing it, so that shared
// nested expectations, which may stand for far more text than memory holds,
// are refused before anything is written. A record's text depends only on
// the record and the writer depth its brace opens at, so each distinct
// (record, depth) pair is written once with its nested expectations
// replaced by an empty one ("{}" at any depth), and the nested texts' sizes
// are added in place of those two bytes. Sizes saturate instead of
// overflowing.
class TextMeter {
 public:
  // Size of `e`'s text when its opening brace is written at writer depth
  // `depth`.
  std::size_t nested(const SEOExpectation& e, std::size_t depth) {
    const auto key = std::make_pair(&e, depth);
    if (const auto found = memo_.find(key); found != memo_.end()) return found->second;
    std::string text;
    JsonTextWriter w(text, JsonLayout::Pretty);
    write_record(w, stubbed(e));
    // Written at depth 0: every line break carries 2 * depth more spaces.
    const auto breaks = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    std::size_t size = add(text.size(), multiply(2 * depth, breaks));
    size = add(size, children(e, depth));
    memo_.emplace(key, size);
    return size;
  }

  // What the nested expectations of `e` (written at `depth`) add beyond
  // their stand-ins.
  std::size_t children(const SEOExpectation& e, std::size_t depth) {
    std::size_t size = 0;
    if (e.title) size = add(size, nested(**e.title, depth + 1) - 2);
    if (e.description) size = add(size, nested(**e.description, depth + 1) - 2);
    return size;
  }

  // `e` with its nested expectations replaced by the empty one.
  static SEOExpectation stubbed(const SEOExpectation& e) {
    static const Shared<SEOExpectation> empty{SEOExpectation{}};
    SEOExpectation copy = e;
    if (copy.title) copy.title = empty;
    if (copy.description) copy.description = empty;
    return copy;
  }

  static std::size_t add(std::size_t a, std::size_t b) noexcept {
    return b > std::numeric_limits<std::size_t>::max() - a ? std::numeric_limits<std::size_t>::max() : a + b;
  }
  static std::size_t multiply(std::size_t a, std::size_t b) noexcept {
    return a != 0 && b > std::numeric_limits<std::size_t>::max() / a ? std::numeric_limits<std::size_t>::max()
                                                                      : a * b;
  }

 private:
  std::map<std::pair<const SEOExpectation*, std::size_t>, std::size_t> memo_;
};

QuarloError too_deep() {
  return QuarloError::serialization("expectations nest deeper than " + std::to_string(kMaxExpectationNesting) +
                                    " levels");
}

QuarloError too_long() {
  return QuarloError::serialization("contract text would exceed " + std::to_string(kMaxContractTextBytes) +
                                    " bytes");
}

QuarloError write_failure(int error_number) {
  std::string message = "failed to write contract: ";
  message.append(std::strerror(error_number));
  return QuarloError::serialization(std::move(message));
}

// Closes the descriptor on scope exit unless it was closed before.
class Descriptor {
 public:
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const noexcept { return fd_; }
  // Closes the descriptor; false (with errno set) when closing fails.
  bool close() noexcept { return ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_;
};

// A file created under a temporary name, removed again unless kept.
class TemporaryFile {
 public:
  TemporaryFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  [[nodiscard]] Descriptor& fd() noexcept { return fd_; }
  [[nodiscard]] const std::string& path() const noexcept { return path_; }
  void keep() noexcept { path_.clear(); }

 private:
  Descriptor fd_;
  std::string path_;
};

Result<void> write_all(int fd, std::string_view text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return write_failure(errno);
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  return {};
}

Result<void> write_and_close(Descriptor& fd, std::string_view text) {
  Result<void> written = write_all(fd.get(), text);
  if (!fd.close() && written) return write_failure(errno);
  return written;
}

// The plain write: create or truncate, then write. Everything that is not
// replaced whole goes this way, so it is refused exactly when such a write
// is refused, with the same description.
Result<void> write_plainly(const std::string& path, std::string_view text) {
  Descriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.get() < 0) return write_failure(errno);
  return write_and_close(fd, text);
}

// The plain write into a regular file already open for writing.
Result<void> write_in_place(Descriptor& fd, std::string_view text) {
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return write_failure(errno);
  if (::ftruncate(fd.get(), 0) != 0) return write_failure(errno);
  return write_and_close(fd, text);
}

// The file a write through `path` lands in: symbolic links are followed,
// so the link stays and the file it names is replaced.
std::string resolve_links(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n < 0) return current;
    target.resize(static_cast<std::size_t>(n));
    if (!target.empty() && target.front() != '/') {
      const std::size_t slash = current.rfind('/');
      if (slash != std::string::npos) target.insert(0, current, 0, slash + 1);
    }
    current = std::move(target);
  }
  return current;
}

// A new file (mode 0666 under the umask, as a plain create) beside `path`,
// under a name no one else uses; nullopt with errno set when the directory
// does not take it.
std::optional<TemporaryFile> create_beside(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string prefix = path.substr(0, slash == std::string::npos ? 0 : slash + 1) + ".quarlo-contract-";
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp_path = prefix + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
    const int fd = ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return std::optional<TemporaryFile>(std::in_place, fd, std::move(temp_path));
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

// Writes the text into the temporary file and renames it to `path`. A
// failure leaves whatever `path` named before untouched.
Result<void> commit(TemporaryFile& temp, const std::string& path, std::string_view text) {
  QUARLO_TRY_VOID(write_all(temp.fd().get(), text));
  if (::fsync(temp.fd().get()) != 0) return write_failure(errno);
  if (!temp.fd().close()) return write_failure(errno);
  if (::rename(temp.path().c_str(), path.c_str()) != 0) return write_failure(errno);
  temp.keep();
  return {};
}

// Replaces the regular file `file` (one link, open for writing, reached
// through `path`) by a complete new one, as long as the result is what the
// plain write would leave: the same owner, group and mode, and under the
// same name. nullopt when that cannot be done (the directory refuses new
// files, the owner or group cannot be given, the path changed meanwhile):
// the caller then writes in place.
std::optional<Result<void>> replace_whole(const std::string& path, const struct stat& file, std::string_view text) {
  const std::string target = resolve_links(path);
  struct stat named {};
  if (::lstat(target.c_str(), &named) != 0 || !S_ISREG(named.st_mode) || named.st_dev != file.st_dev ||
      named.st_ino != file.st_ino) {
    return std::nullopt;
  }
  std::optional<TemporaryFile> temp = create_beside(target);
  if (!temp) return std::nullopt;
  struct stat created {};
  if (::fstat(temp->fd().get(), &created) != 0) return std::nullopt;
  if (created.st_uid != file.st_uid || created.st_gid != file.st_gid) {
    // -1 leaves a value as it is; only a privileged writer may give a file
    // away, and only to a group it belongs to without privilege.
    const uid_t owner = created.st_uid == file.st_uid ? static_cast<uid_t>(-1) : file.st_uid;
    const gid_t group = created.st_gid == file.st_gid ? static_cast<gid_t>(-1) : file.st_gid;
    if (::fchown(temp->fd().get(), owner, group) != 0) return std::nullopt;
  }
  // After the owner: changing it clears the set-user-ID and set-group-ID bits.
  if (::fchmod(temp->fd().get(), file.st_mode & 07777) != 0) return std::nullopt;
  return commit(*temp, target, text);
}

}  // namespace

std::string_view contract_severity_serialized_name(ContractSeverity severity) noexcept {
  switch (severity) {
    case ContractSeverity::Error:
      return "Error";
    case ContractSeverity::Warning:
      return "Warning";
    case ContractSeverity::Info:
      return "Info";
  }
  return "Warning";
}

std::size_t expectation_depth(const SEOExpectation& expectation) noexcept {
  // Breadth-first over the (at most two) children of each level, without
  // recursion. Each level keeps every record once: nested records are
  // shared, and a record reached along many paths would otherwise be
  // visited once per path.
  std::size_t depth = 0;
  std::vector<const SEOExpectation*> level{&expectation};
  std::vector<const SEOExpectation*> next;
  while (!level.empty()) {
    ++depth;
    next.clear();
    for (const SEOExpectation* e : level) {
      if (e->title) next.push_back(&**e->title);
      if (e->description) next.push_back(&**e->description);
    }
    std::sort(next.begin(), next.end(), std::less<>());
    next.erase(std::unique(next.begin(), next.end()), next.end());
    level.swap(next);
  }
  return depth;
}

namespace {

// Fails when an expectation of the contract nests too deep to be written.
Result<void> check_nesting(const SEOContract& contract) {
  if (expectation_depth(contract.defaults) > kMaxExpectationNesting) return too_deep();
  for (const auto& rule : contract.rules) {
    if (expectation_depth(rule.expect) > kMaxExpectationNesting) return too_deep();
  }
  for (const auto& [route, expectation] : contract.exceptions) {
    if (expectation_depth(expectation) > kMaxExpectationNesting) return too_deep();
  }
  return {};
}

// What the nested expectations of the contract's expectations add to its
// text beyond their stand-ins, at the depth each stands at: defaults is a
// member of the contract object, an exception a member of the exceptions
// object, a rule's expectation a member of a rule inside the rules array.
// Zero, at no cost, for a contract without nested expectations.
std::size_t nested_text_size(const SEOContract& contract) {
  TextMeter meter;
  std::size_t size = meter.children(contract.defaults, 1);
  for (const auto& rule : contract.rules) size = TextMeter::add(size, meter.children(rule.expect, 3));
  for (const auto& [route, expectation] : contract.exceptions) {
    size = TextMeter::add(size, meter.children(expectation, 2));
  }
  return size;
}

}  // namespace

Result<std::size_t> SEOContract::json_size() const {
  QUARLO_TRY_VOID(check_nesting(*this));
  // The contract with every expectation stubbed, plus what the stubs stand
  // for.
  SEOContract outline = *this;
  outline.defaults = TextMeter::stubbed(defaults);
  for (auto& rule : outline.rules) rule.expect = TextMeter::stubbed(rule.expect);
  for (auto& [route, expectation] : outline.exceptions) expectation = TextMeter::stubbed(expectation);
  std::string text;
  JsonTextWriter w(text, JsonLayout::Pretty);
  write_record(w, outline);
  return TextMeter::add(text.size(), nested_text_size(*this));
}

Result<std::string> SEOContract::to_json() const {
  QUARLO_TRY_VOID(check_nesting(*this));
  // Shared nested expectations may stand for far more text than memory
  // holds: what they add is measured first. The rest of the text is as large
  // as the records it is written from, so it is checked once written.
  const std::size_t nested = nested_text_size(*this);
  if (nested > kMaxContractTextBytes) return too_long();
  std::string out;
  out.reserve(512 + 512 * rules.size() + 256 * exceptions.size() + nested);
  JsonTextWriter w(out, JsonLayout::Pretty);
  write_record(w, *this);
  if (out.size() > kMaxContractTextBytes) return too_long();
  return out;
}

Result<std::string> SEOContract::hash() const {
  QUARLO_TRY(const std::string text, to_json());
  return sha256_hex(text);
}

Result<void> SEOContract::write(std::string_view path) const {
  QUARLO_TRY(const std::string text, to_json());
  if (path.find('\0') != std::string_view::npos) return write_failure(EINVAL);
  const std::string target(path);

  // Nothing there yet: the new file appears complete or not at all. Where
  // the temporary file cannot be made, the plain create reports why.
  struct stat entry {};
  if (::lstat(target.c_str(), &entry) != 0) {
    if (errno != ENOENT || target.empty() || target.back() == '/') return write_plainly(target, text);
    std::optional<TemporaryFile> temp = create_beside(target);
    if (!temp) return write_plainly(target, text);
    return commit(*temp, target, text);
  }

  // Something is there: open it as the plain write does, without truncating
  // (and without waiting for a reader of a pipe). What that open refuses
  // (a read-only file, a directory, a loop of links) is left to the plain
  // write, which refuses it the same way.
  Descriptor fd(::open(target.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
  if (fd.get() < 0) return write_plainly(target, text);
  struct stat file {};
  if (::fstat(fd.get(), &file) != 0) return write_failure(errno);
  // Devices and pipes are written into, never replaced.
  if (!S_ISREG(file.st_mode)) {
    static_cast<void>(fd.close());
    return write_plainly(target, text);
  }
  // A file with other names (hard links) is updated in place, so every
  // name shows the new text.
  if (file.st_nlink == 1) {
    if (std::optional<Result<void>> replaced = replace_whole(target, file, text)) return std::move(*replaced);
  }
  return write_in_place(fd, text);
}

}  // namespace quarlo
