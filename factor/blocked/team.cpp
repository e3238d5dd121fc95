#include "factor/blocked/team.h"

#include <algorithm>
#include <exception>

namespace drav::blocked {

void Waiter::wake() {
  if (sleepers_.load() > 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    cv_.notify_all();
  }
}

Team::Team(int size, const std::atomic<int>* busy) : busy_(busy) {
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
  phase_.fetch_add(kNext);
  start_.wake();
  for (std::thread& w : workers_) w.join();
}

int Team::members() const {
  const int busy = busy_ != nullptr ? busy_->load() : 0;
  return std::max(1, size() - std::max(0, busy));
}

void Team::dispatch(void (*fn)(void*, int), void* ctx, int members, bool open) {
  members = std::min(members, size());
  task_ = fn;
  ctx_ = ctx;
  const uint64_t number = (phase_.load() & ~(kNext - 1)) + kNext;
  if (open) {
    std::lock_guard<std::mutex> lock(join_mutex_);
    open_ = number;
    closed_ = false;
  }
  // The members of the phase; a worker left out of an open phase counts itself in when it is
  // admitted (admitted()), and is not waited for otherwise.
  pending_.store(members - 1);
  phase_.store(number | (open ? kOpen : 0) | static_cast<uint64_t>(members));
  start_.wake();
  fn(ctx, 0);
  if (open) {
    std::lock_guard<std::mutex> lock(join_mutex_);
    closed_ = true;
  }
  finish_.wait([this] { return pending_.load() == 0; });
}

bool Team::admitted(int member, uint64_t number) {
  std::unique_lock<std::mutex> lock(join_mutex_);
  for (;;) {
    // Closed, or already followed by another phase, which the worker then takes up afresh.
    if (closed_ || open_ != number) return false;
    if (member < members()) {
      pending_.fetch_add(1);
      return true;
    }
    // The threads it waits for are busy with other work: it sleeps, and does not keep the
    // phase's other members from going on (nobody wakes it: it looks again after a while).
    lock.unlock();
    std::this_thread::sleep_for(kJoinPoll);
    lock.lock();
  }
}

void Team::work(int member) {
  uint64_t seen = 0;
  for (;;) {
    // A phase without this member leaves it asleep.
    uint64_t phase = seen;
    start_.wait([&] {
      phase = phase_.load();
      return (phase & ~(kNext - 1)) != (seen & ~(kNext - 1)) &&
             (stop_.load() || (phase & kOpen) != 0 ||
              member < static_cast<int>(phase & kMembersMask));
    });
    seen = phase;
    if (stop_.load()) return;
    if (member < static_cast<int>(phase & kMembersMask) || admitted(member, phase & ~(kNext - 1))) {
      task_(ctx_, member);
      if (pending_.fetch_sub(1) == 1) finish_.wake();
    }
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
