// Contract records: JSON text, digest and the atomic file write.
#include "core/contract/model.hpp"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/base/record_json.hpp"
#include "core/base/sha256.hpp"

namespace quarlo {
namespace {

QuarloError too_deep() {
  return QuarloError::serialization("expectations nest deeper than " + std::to_string(kMaxExpectationNesting) +
                                    " levels");
}

QuarloError write_failure(int error_number) {
  std::string message = "failed to write contract: ";
  message.append(std::strerror(error_number));
  return QuarloError::serialization(std::move(message));
}

// Closes the descriptor and removes the temporary file unless released.
class TemporaryFile {
 public:
  TemporaryFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  [[nodiscard]] int fd() const noexcept { return fd_; }
  [[nodiscard]] const std::string& path() const noexcept { return path_; }
  // Closes the descriptor; false (with errno set) when closing fails.
  bool close() noexcept {
    const int fd = std::exchange(fd_, -1);
    return ::close(fd) == 0;
  }
  void keep() noexcept { path_.clear(); }

 private:
  int fd_;
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

Result<void> write_directly(const std::string& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return write_failure(errno);
  Result<void> written = write_all(fd, text);
  if (::close(fd) != 0 && written) return write_failure(errno);
  return written;
}

// The file a write lands in: a symbolic link is written through, so the
// link stays and the file it names is replaced.
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
  // recursion.
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
    level.swap(next);
  }
  return depth;
}

Result<std::string> SEOContract::to_json() const {
  if (expectation_depth(defaults) > kMaxExpectationNesting) return too_deep();
  for (const auto& rule : rules) {
    if (expectation_depth(rule.expect) > kMaxExpectationNesting) return too_deep();
  }
  for (const auto& [route, expectation] : exceptions) {
    if (expectation_depth(expectation) > kMaxExpectationNesting) return too_deep();
  }

  // Written straight from the records (their field tables), in the pretty
  // layout; nesting was bounded above, so the recursion is too.
  std::string out;
  out.reserve(512 + 512 * rules.size() + 256 * exceptions.size());
  JsonTextWriter w(out, JsonLayout::Pretty);
  write_record(w, *this);
  return out;
}

Result<std::string> SEOContract::hash() const {
  QUARLO_TRY(const std::string text, to_json());
  return sha256_hex(text);
}

Result<void> SEOContract::write(std::string_view path) const {
  QUARLO_TRY(const std::string text, to_json());
  if (path.find('\0') != std::string_view::npos) return write_failure(EINVAL);

  const std::string target = resolve_links(std::string(path));
  // The permission bits a plain create would give (the umask applies to
  // open's mode) or those of the file being replaced.
  mode_t mode = 0666;
  bool keep_mode = false;
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) return write_failure(EISDIR);
    // A device or pipe is written into, never replaced.
    if (!S_ISREG(existing.st_mode)) return write_directly(target, text);
    mode = existing.st_mode & 07777;
    keep_mode = true;
  }

  // The temporary file is created like the target would be (mode 0666
  // under the umask), then given the replaced file's bits if there is one.
  const std::size_t slash = target.rfind('/');
  const std::string prefix = target.substr(0, slash == std::string::npos ? 0 : slash + 1) + ".quarlo-contract-";
  static std::atomic<unsigned> counter{0};
  int fd = -1;
  std::string temp_path;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp_path = prefix + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
    fd = ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return write_failure(errno);
  }
  if (fd < 0) return write_failure(EEXIST);
  TemporaryFile temp(fd, temp_path);
  if (keep_mode && ::fchmod(temp.fd(), mode) != 0) return write_failure(errno);

  QUARLO_TRY_VOID(write_all(temp.fd(), text));
  if (::fsync(temp.fd()) != 0) return write_failure(errno);
  if (!temp.close()) return write_failure(errno);
  if (::rename(temp.path().c_str(), target.c_str()) != 0) return write_failure(errno);
  temp.keep();
  return {};
}

}  // namespace quarlo
