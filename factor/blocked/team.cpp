#include "factor/blocked/team.h"

#include <exception>

namespace drav::blocked {

void Waiter::wake() {
  if (sleepers_.load() > 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    cv_.notify_all();
  }
}

Team::Team(int size) {
  for (int t = 1; t < size; ++t) {
    try {
      workers_.emplace_back([this, t] { work(t); });
    } catch (const std::exception&) {
      break;  // fewer members (no thread or no memory for one): the same results, later
    }
  }
}

Team::~Team() {
  stop_.store(true);
  generation_.fetch_add(1);
  start_.wake();
  for (std::thread& w : workers_) w.join();
}

void Team::dispatch(void (*fn)(void*, int), void* ctx) {
  task_ = fn;
  ctx_ = ctx;
  pending_.store(static_cast<int>(workers_.size()));
  generation_.fetch_add(1);
  start_.wake();
  fn(ctx, 0);
  finish_.wait([this] { return pending_.load() == 0; });
}

void Team::work(int member) {
  uint32_t seen = 0;
  for (;;) {
    start_.wait([&] { return generation_.load() != seen; });
    seen = generation_.load();
    if (stop_.load()) return;
    task_(ctx_, member);
    if (pending_.fetch_sub(1) == 1) finish_.wake();
  }
}

void Barrier::arrive_and_wait() {
  if (size_ <= 1) return;
  const uint32_t round = round_.load();
  if (arrived_.fetch_add(1) == size_ - 1) {
    arrived_.store(0);
    round_.fetch_add(1);
    waiter_.wake();
    return;
  }
  waiter_.wait([&] { return round_.load() != round; });
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
