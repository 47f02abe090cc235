// The payload build of a typical post: every precedence chain, the canonical
// URL, the description snippet of the body, the Article document and the
// breadcrumb list. The binary counts every allocation through a replaced
// global operator new, so the build reports its heap allocations as the
// "allocs" counter.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "core/payload/builder.hpp"
#include "typical_post.hpp"

namespace {

std::atomic<std::uint64_t> g_allocations{0};

void* counted_allocate(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}

void* counted_allocate_aligned(std::size_t size, std::align_val_t align) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  const auto alignment = static_cast<std::size_t>(align);
  const std::size_t rounded = ((size == 0 ? 1 : size) + alignment - 1) / alignment * alignment;
  if (void* p = std::aligned_alloc(alignment, rounded)) {
    return p;
  }
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return counted_allocate(size); }
void* operator new[](std::size_t size) { return counted_allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return counted_allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return counted_allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t align) { return counted_allocate_aligned(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return counted_allocate_aligned(size, align); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

void BM_BuildPayload_TypicalPost(benchmark::State& state) {
  const quarlo::SEOConfig config = quarlo::bench::typical_config();
  const quarlo::SEOEntity entity = quarlo::bench::typical_post_entity();
  const std::uint64_t before = g_allocations.load(std::memory_order_relaxed);
  for (auto _ : state) {
    auto payload = quarlo::build_seo_payload_with_overrides(entity, quarlo::bench::kTypicalRoute, config, nullptr);
    benchmark::DoNotOptimize(payload);
  }
  const std::uint64_t made = g_allocations.load(std::memory_order_relaxed) - before;
  // Heap allocations of one build, the payload's own included.
  state.counters["allocs"] =
      benchmark::Counter(static_cast<double>(made), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_BuildPayload_TypicalPost);

}  // namespace
