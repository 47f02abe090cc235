// Appending to a string through a raw pointer.
//
// Writers that emit many short pieces (a line break and its indentation, a
// tag head, an entity) lose most of their time to std::string's per-append
// bookkeeping. A TextCursor grows the string ahead of the write position
// instead: a writer asks for room for what it may write next, stores through
// the pointer it gets back, and the string is cut to what was written at the
// end. Room asked for may include slack, so that stores can run in whole
// sixteen-byte blocks past the bytes that count.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace quarlo {

class TextCursor {
 public:
  // Starts writing at offset `at` of `out` (at most its size), with room for
  // `guess` bytes. Bytes of `out` from `at` on are overwritten.
  TextCursor(std::string& out, std::size_t at, std::size_t guess) : out_(out) {
    if (out_.size() < at + guess) out_.resize(at + guess);
    limit_ = out_.data() + out_.size();
    start_ = out_.data() + at;
  }
  // Starts writing at the end of `out`.
  TextCursor(std::string& out, std::size_t guess) : TextCursor(out, out.size(), guess) {}
  TextCursor(const TextCursor&) = delete;
  TextCursor& operator=(const TextCursor&) = delete;

  // Where writing starts.
  [[nodiscard]] char* start() const noexcept { return start_; }

  // `w`, or where it moved to, with at least `n` bytes of room after it. The
  // string grows geometrically, so writing stays linear however it grows.
  char* room(char* w, std::size_t n) {
    if (static_cast<std::size_t>(limit_ - w) >= n) [[likely]] return w;
    return grow(w, n);
  }

  // Cuts the string to the bytes written before `w`.
  void finish(const char* w) { out_.resize(offset(w)); }

  // The offset of `w` in the string, which keeps its size: a buffer used
  // again and again is not cut, so it is not filled again when it next grows.
  [[nodiscard]] std::size_t offset(const char* w) const noexcept {
    return static_cast<std::size_t>(w - out_.data());
  }

 private:
  char* grow(char* w, std::size_t n) {
    const std::size_t written = offset(w);
    out_.resize(std::max(written + n, 2 * out_.size() + 64));
    limit_ = out_.data() + out_.size();
    return out_.data() + written;
  }

  std::string& out_;
  char* start_ = nullptr;
  char* limit_ = nullptr;
};

// Runs fn(buffer) with a string kept per thread for a text written page
// after page: once grown, it is neither allocated nor cleared again. Each
// call site (each type of `fn`) has its own. A buffer grown past 64 KiB by a
// large text is let go afterwards, so what fn returns must not refer to it.
template <class Fn>
decltype(auto) with_kept_buffer(Fn&& fn) {
  constexpr std::size_t kKeptCapacity = 64 * 1024;
  thread_local std::string buffer;
  struct LetGo {
    ~LetGo() {
      if (buffer.capacity() > kKeptCapacity) std::string().swap(buffer);
    }
  } let_go;
  return std::forward<Fn>(fn)(buffer);
}

// Copies `s` to `w` (which has room for it); returns the position after it.
inline char* put(char* w, std::string_view s) noexcept {
  if (!s.empty()) std::memcpy(w, s.data(), s.size());
  return w + s.size();
}

}  // namespace quarlo
