// A small team of threads for one factorization: the calling thread and size()-1 workers that
// live as long as the team. The blocked scheme hands it one phase at a time; within a phase the
// members split independent entries between them, so the results never depend on the size.
#pragma once

#include <atomic>
#include <chrono>
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
  // Starts up to `size`-1 workers (fewer if the system refuses threads; size() tells). While
  // `busy` (when given) counts threads of the program that are busy with other work, members()
  // leaves that many out, so that the program never runs more threads than it was given.
  explicit Team(int size, const std::atomic<int>* busy = nullptr);
  ~Team();
  Team(const Team&) = delete;
  Team& operator=(const Team&) = delete;

  int size() const { return static_cast<int>(workers_.size()) + 1; }
  // The members a phase that starts now may use: size() less the busy threads, at least one.
  int members() const;

  // Runs fn(member) for member = 0..members-1 (at most size()), member 0 on the calling
  // thread, and returns when every one has finished; the other members keep sleeping. fn must
  // not throw.
  template <class F>
  void run(F& fn, int members) {
    if (workers_.empty() || members <= 1) {
      fn(0);
      return;
    }
    dispatch(&call<F>, &fn, members, false);
  }
  template <class F>
  void run(F& fn) {
    run(fn, size());
  }
  // As run(fn, members()), for a phase whose work is a queue that members take from as they
  // come: a member left out because threads were busy joins as soon as they are free again
  // (it looks every kJoinPoll), unless member 0 has returned from fn by then.
  template <class F>
  void run_open(F& fn) {
    if (workers_.empty()) {
      fn(0);
      return;
    }
    dispatch(&call<F>, &fn, members(), true);
  }

 private:
  template <class F>
  static void call(void* fn, int member) {
    (*static_cast<F*>(fn))(member);
  }
  void dispatch(void (*fn)(void*, int), void* ctx, int members, bool open);
  void work(int member);
  // For a member left out of open phase `number`: true (and counted among the phase's
  // members) once it may join, false once the phase is closed to it.
  bool admitted(int member, uint64_t number);

  // A phase in one word, so that a worker reads it at once: its members, whether it is open,
  // and its number (bumped for each phase and for the stop).
  static constexpr uint64_t kMembersMask = 0xffff, kOpen = 1 << 16, kNext = 1 << 17;
  static constexpr std::chrono::milliseconds kJoinPoll{1};

  std::vector<std::thread> workers_;
  const std::atomic<int>* busy_;
  void (*task_)(void*, int) = nullptr;
  void* ctx_ = nullptr;
  std::atomic<uint64_t> phase_{0};
  std::atomic<int> pending_{0};  // workers still in the current phase
  std::atomic<bool> stop_{false};
  Waiter start_, finish_;
  std::mutex join_mutex_;
  uint64_t open_ = 0;    // the number of the last open phase (under join_mutex_)
  bool closed_ = false;  // it takes no more members (under join_mutex_)
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
