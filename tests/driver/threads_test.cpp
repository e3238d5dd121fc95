// The thread count of a run: DRAV_THREADS, read by the program alone and handed to the
// factorization.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "driver/drav.h"

#ifdef _WIN32
#include <stdlib.h>
// The C runtime of Windows sets its variables with _putenv_s (an empty value removes one).
static int setenv(const char* name, const char* value, int) {
  return _putenv_s(name, value);
}
static int unsetenv(const char* name) {
  return _putenv_s(name, "");
}
#endif

namespace drav {
namespace {

TEST(RunThreads, ComeFromTheEnvironmentOrTheMachine) {
  const char* saved = std::getenv("DRAV_THREADS");
  const std::string keep = saved ? saved : "";
  struct Case {
    const char* env;
    int expected;  // 0: the machine's count
  };
  const Case cases[] = {{"2", 2},  {" 5 ", 5}, {"7\t", 7}, {"1024", 1024}, {"0", 0},
                        {"-2", 0}, {"two", 0}, {"3x", 0},  {"", 0},        {"1025", 0}};
  const int machine = [] {
    unsetenv("DRAV_THREADS");
    return run_threads();
  }();
  EXPECT_GE(machine, 1);
  for (const Case& c : cases) {
    setenv("DRAV_THREADS", c.env, 1);
    EXPECT_EQ(run_threads(), c.expected ? c.expected : machine) << "'" << c.env << "'";
  }
  if (saved) {
    setenv("DRAV_THREADS", keep.c_str(), 1);
  } else {
    unsetenv("DRAV_THREADS");
  }
}

}  // namespace
}  // namespace drav
