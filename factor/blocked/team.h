// A small team of threads for one factorization: the calling thread and size()-1 workers that
// live as long as the team. The blocked scheme hands it one phase at a time; within a phase the
// members split independent entries between them, so the results never depend on the size.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace drav::blocked {

// Where members wait for each other: a short spin, then the core is yielded, then the member
// sleeps on a condition variable (not std::atomic::wait, whose fallback on systems without a
// futex can miss a wake-up in some library versions). Every change a waiter looks for is made
// by a sequentially consistent operation before wake(), so a waiter either sees it or is woken.
class Waiter {
 public:
  // Returns once done() (which reads atomics) holds.
  template <class Done>
  void wait(Done done);
  void wake();

 private:
  // Phases follow each other within microseconds, so a waiting member spins a little, then
  // yields its core (the member it waits for may need it: more threads than cores, or a
  // machine shared with other work), and at last sleeps.
  static constexpr int kSpins = 2000;
  static constexpr int kYields = 200;

  static void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<int> sleepers_{0};
};

template <class Done>
void Waiter::wait(Done done) {
  for (int i = 0; i < kSpins; ++i) {
    if (done()) return;
    relax();
  }
  for (int i = 0; i < kYields; ++i) {
    if (done()) return;
    std::this_thread::yield();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  sleepers_.fetch_add(1);
  cv_.wait(lock, done);
  sleepers_.fetch_sub(1);
}

class Team {
 public:
  // Starts up to `size`-1 workers (fewer if the system refuses threads; size() tells).
  explicit Team(int size);
  ~Team();
  Team(const Team&) = delete;
  Team& operator=(const Team&) = delete;

  int size() const { return static_cast<int>(workers_.size()) + 1; }

  // Runs fn(member) for member = 0..size()-1, member 0 on the calling thread, and returns when
  // every member has finished. fn must not throw.
  template <class F>
  void run(F& fn) {
    if (workers_.empty()) {
      fn(0);
      return;
    }
    dispatch(&call<F>, &fn);
  }

 private:
  template <class F>
  static void call(void* fn, int member) {
    (*static_cast<F*>(fn))(member);
  }
  void dispatch(void (*fn)(void*, int), void* ctx);
  void work(int member);

  std::vector<std::thread> workers_;
  void (*task_)(void*, int) = nullptr;
  void* ctx_ = nullptr;
  std::atomic<uint32_t> generation_{0};  // bumped for each phase and for the stop
  std::atomic<int> pending_{0};          // workers still running the current phase
  std::atomic<bool> stop_{false};
  Waiter start_, finish_;
};

// A barrier for the `size` members of one phase, used again and again within it.
class Barrier {
 public:
  explicit Barrier(int size) : size_(size) {}
  void arrive_and_wait();

 private:
  const int size_;
  std::atomic<int> arrived_{0};
  std::atomic<uint32_t> round_{0};
  Waiter waiter_;
};

// The share [begin, end) of member t of n members over [lo, hi), cut at multiples of `grain`
// from lo.
struct Range {
  int begin, end;
};
Range share(int lo, int hi, int t, int n, int grain);

}  // namespace drav::blocked
