// Contract records: JSON text, digest and the file write.
#include "core/contract/model.hpp"

#include <algorithm>
#include <atomic>
#include <charconv>
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

#include "core/base/sha256.hpp"
#include "core/base/json.hpp"

namespace quarlo {
namespace {

// Counts the bytes of the text the writer would produce, without producing
// it. A nested record that nests further records is measured once per level
// it is written at and its size reused wherever it occurs again, so
// measuring costs one visit per distinct (record, level) pair even when the
// text repeats a record exponentially often. Sizes saturate instead of
// overflowing.
class TextMeter {
 public:
  using Memo = std::map<std::pair<const SEOExpectation*, std::size_t>, std::size_t>;

  explicit TextMeter(Memo& memo) noexcept : memo_(memo) {}

  void push_back(char) noexcept { add(1); }
  void append(std::string_view text) noexcept { add(text.size()); }
  void append(std::size_t count, char) noexcept { add(count); }
  void add_json_string(std::string_view text) noexcept { add(json_string_size(text)); }
  // Adds the size of a nested expectation written at `level`.
  void add_nested(const SEOExpectation& e, std::size_t level);

  [[nodiscard]] std::size_t size() const noexcept { return size_; }

 private:
  void add(std::size_t n) noexcept {
    size_ = n > std::numeric_limits<std::size_t>::max() - size_ ? std::numeric_limits<std::size_t>::max()
                                                                  : size_ + n;
  }

  Memo& memo_;
  std::size_t size_ = 0;
};

// A JSON string literal, written or measured.
void append_text(std::string& out, std::string_view text) { append_json_string(out, text); }
void append_text(TextMeter& meter, std::string_view text) { meter.add_json_string(text); }

// The pretty layout of the JSON texts (two spaces per level), written
// straight from the records: no intermediate JSON value is built. The writer
// is a template over its output, which is either the text (std::string) or
// a TextMeter that only counts the bytes the text would take.
template <class Out>
void newline_indent(Out& out, std::size_t level) {
  out.push_back('\n');
  out.append(level * 2, ' ');
}

// Writes one object whose opening brace sits at `level`: each member() call
// starts a member and leaves `out` ready for its value; close() writes the
// closing brace, or "{}" when no member was written.
template <class Out>
class ObjectWriter {
 public:
  ObjectWriter(Out& out, std::size_t level) noexcept : out_(out), level_(level) {}

  Out& member(std::string_view key) {
    out_.push_back(empty_ ? '{' : ',');
    empty_ = false;
    newline_indent(out_, level_ + 1);
    append_text(out_, key);
    out_.append(std::string_view(": "));
    return out_;
  }
  void close() {
    if (empty_) {
      out_.append(std::string_view("{}"));
      return;
    }
    newline_indent(out_, level_);
    out_.push_back('}');
  }
  // The level of member values (for nested containers).
  [[nodiscard]] std::size_t inner() const noexcept { return level_ + 1; }

 private:
  Out& out_;
  std::size_t level_;
  bool empty_ = true;
};

template <class Out>
void append_bool(Out& out, bool value) {
  out.append(value ? std::string_view("true") : std::string_view("false"));
}

template <class Out>
void append_u64(Out& out, std::uint64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

template <class Out>
void append_strings(Out& out, const std::vector<std::string>& values, std::size_t level) {
  if (values.empty()) {
    out.append(std::string_view("[]"));
    return;
  }
  out.push_back('[');
  bool first = true;
  for (const std::string& value : values) {
    if (!first) out.push_back(',');
    first = false;
    newline_indent(out, level + 1);
    append_text(out, value);
  }
  newline_indent(out, level);
  out.push_back(']');
}

template <class Out>
void append_field_expectation(Out& out, const FieldExpectation& field, std::size_t level) {
  ObjectWriter<Out> object(out, level);
  if (field.required) append_bool(object.member("required"), *field.required);
  object.close();
}

template <class Out>
void append_expectation(Out& out, const SEOExpectation& e, std::size_t level);

// A nested expectation, written or measured.
void append_nested(std::string& out, const SEOExpectation& e, std::size_t level) {
  append_expectation(out, e, level);
}
void append_nested(TextMeter& meter, const SEOExpectation& e, std::size_t level) { meter.add_nested(e, level); }

// Nesting was bounded by the caller, so the recursion is too.
template <class Out>
void append_expectation(Out& out, const SEOExpectation& e, std::size_t level) {
  ObjectWriter<Out> o(out, level);
  if (e.required) append_bool(o.member("required"), *e.required);
  if (e.forbidden) append_bool(o.member("forbidden"), *e.forbidden);
  if (e.equals) append_text(o.member("equals"), *e.equals);
  if (e.not_equals) append_text(o.member("not_equals"), *e.not_equals);
  if (e.contains) append_text(o.member("contains"), *e.contains);
  if (e.matches) append_text(o.member("matches"), *e.matches);
  if (e.one_of) append_strings(o.member("one_of"), *e.one_of, o.inner());
  if (e.min_length) append_u64(o.member("min_length"), *e.min_length);
  if (e.max_length) append_u64(o.member("max_length"), *e.max_length);
  if (e.min_items) append_u64(o.member("min_items"), *e.min_items);
  if (e.max_items) append_u64(o.member("max_items"), *e.max_items);
  if (e.indexable) append_bool(o.member("indexable"), *e.indexable);
  if (e.canonical) append_text(o.member("canonical"), *e.canonical);
  if (e.schema) {
    ObjectWriter<Out> schema(o.member("schema"), o.inner());
    if (e.schema->required) append_bool(schema.member("required"), *e.schema->required);
    if (e.schema->types) append_strings(schema.member("types"), *e.schema->types, schema.inner());
    schema.close();
  }
  if (e.open_graph) append_field_expectation(o.member("open_graph"), *e.open_graph, o.inner());
  if (e.twitter) append_field_expectation(o.member("twitter"), *e.twitter, o.inner());
  if (e.sitemap) append_field_expectation(o.member("sitemap"), *e.sitemap, o.inner());
  if (e.hreflang) append_field_expectation(o.member("hreflang"), *e.hreflang, o.inner());
  if (e.title) append_nested(o.member("title"), **e.title, o.inner());
  if (e.description) append_nested(o.member("description"), **e.description, o.inner());
  o.close();
}

void TextMeter::add_nested(const SEOExpectation& e, std::size_t level) {
  TextMeter inner(memo_);
  // A record without nested ones costs as much to measure as to look up.
  if (!e.title && !e.description) {
    append_expectation(inner, e, level);
    add(inner.size());
    return;
  }
  const auto key = std::make_pair(&e, level);
  if (const auto known = memo_.find(key); known != memo_.end()) {
    add(known->second);
    return;
  }
  append_expectation(inner, e, level);
  memo_.emplace(key, inner.size());
  add(inner.size());
}

// The whole contract text.
template <class Out>
void append_contract(Out& out, const SEOContract& c) {
  ObjectWriter<Out> doc(out, 0);
  append_text(doc.member("contract_version"), c.contract_version);
  {
    ObjectWriter<Out> g(doc.member("generator"), 1);
    append_text(g.member("name"), c.generator.name);
    append_text(g.member("version"), c.generator.version);
    g.close();
  }
  {
    ObjectWriter<Out> s(doc.member("site"), 1);
    append_text(s.member("canonical_host"), c.site.canonical_host);
    append_text(s.member("scheme"), c.site.scheme);
    s.close();
  }
  append_expectation(doc.member("defaults"), c.defaults, 1);
  Out& rule_list = doc.member("rules");
  if (c.rules.empty()) {
    rule_list.append(std::string_view("[]"));
  } else {
    rule_list.push_back('[');
    bool first = true;
    for (const SEOContractRule& rule : c.rules) {
      if (!first) out.push_back(',');
      first = false;
      newline_indent(out, 2);
      ObjectWriter<Out> entry(out, 2);
      append_text(entry.member("match"), rule.match);
      append_expectation(entry.member("expect"), rule.expect, 3);
      if (rule.severity) append_text(entry.member("severity"), contract_severity_serialized_name(*rule.severity));
      entry.close();
    }
    newline_indent(out, 1);
    out.push_back(']');
  }
  {
    ObjectWriter<Out> routes(doc.member("exceptions"), 1);
    for (const auto& [route, expectation] : c.exceptions) append_expectation(routes.member(route), expectation, 2);
    routes.close();
  }
  doc.close();
}

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

Result<std::size_t> SEOContract::json_size() const {
  if (expectation_depth(defaults) > kMaxExpectationNesting) return too_deep();
  for (const auto& rule : rules) {
    if (expectation_depth(rule.expect) > kMaxExpectationNesting) return too_deep();
  }
  for (const auto& [route, expectation] : exceptions) {
    if (expectation_depth(expectation) > kMaxExpectationNesting) return too_deep();
  }
  TextMeter::Memo memo;
  TextMeter meter(memo);
  append_contract(meter, *this);
  return meter.size();
}

Result<std::string> SEOContract::to_json() const {
  // Measured first: shared nested expectations may stand for far more text
  // than memory holds.
  QUARLO_TRY(const std::size_t size, json_size());
  if (size > kMaxContractTextBytes) return too_long();
  std::string out;
  out.reserve(size);
  append_contract(out, *this);
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
