#include "factor/blocked/team.h"

#include <system_error>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace drav::blocked {

namespace {

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#else
  std::this_thread::yield();
#endif
}

// Phases follow each other within microseconds, so a waiting member spins a little, then
// yields its core (the member it waits for may need it: more threads than cores, or a
// machine shared with other work), and at last sleeps.
constexpr int kSpins = 2000;
constexpr int kYields = 200;

template <class T, class Pred>
void wait_until(const std::atomic<T>& a, Pred done) {
  for (int i = 0; i < kSpins; ++i) {
    if (done(a.load(std::memory_order_acquire))) return;
    relax();
  }
  for (int i = 0; i < kYields; ++i) {
    if (done(a.load(std::memory_order_acquire))) return;
    std::this_thread::yield();
  }
  for (;;) {
    const T v = a.load(std::memory_order_acquire);
    if (done(v)) return;
    a.wait(v, std::memory_order_acquire);
  }
}

}  // namespace

Team::Team(int size) {
  for (int t = 1; t < size; ++t) {
    try {
      workers_.emplace_back([this, t] { work(t); });
    } catch (const std::system_error&) {
      break;  // fewer members: the same results, later
    }
  }
}

Team::~Team() {
  stop_.store(true, std::memory_order_relaxed);
  generation_.fetch_add(1, std::memory_order_release);
  generation_.notify_all();
  for (std::thread& w : workers_) w.join();
}

void Team::dispatch(void (*fn)(void*, int), void* ctx) {
  task_ = fn;
  ctx_ = ctx;
  pending_.store(static_cast<int>(workers_.size()), std::memory_order_relaxed);
  generation_.fetch_add(1, std::memory_order_release);
  generation_.notify_all();
  fn(ctx, 0);
  wait_until(pending_, [](int v) { return v == 0; });
}

void Team::work(int member) {
  uint32_t seen = 0;
  for (;;) {
    wait_until(generation_, [seen](uint32_t g) { return g != seen; });
    seen = generation_.load(std::memory_order_acquire);
    if (stop_.load(std::memory_order_relaxed)) return;
    task_(ctx_, member);
    if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) pending_.notify_all();
  }
}

void Barrier::arrive_and_wait() {
  if (size_ <= 1) return;
  const uint32_t round = round_.load(std::memory_order_acquire);
  if (arrived_.fetch_add(1, std::memory_order_acq_rel) == size_ - 1) {
    arrived_.store(0, std::memory_order_relaxed);
    round_.fetch_add(1, std::memory_order_release);
    round_.notify_all();
    return;
  }
  wait_until(round_, [round](uint32_t r) { return r != round; });
}

Range share(int lo, int hi, int t, int n, int grain) {
  if (hi <= lo) return {lo, lo};
  const int units = (hi - lo + grain - 1) / grain;
  const int per = units / n, extra = units % n;
  const int u0 = t * per + (t < extra ? t : extra);
  const int u1 = u0 + per + (t < extra ? 1 : 0);
  const int b = lo + u0 * grain, e = lo + u1 * grain;
  return {b < hi ? b : hi, e < hi ? e : hi};
}

}  // namespace drav::blocked
