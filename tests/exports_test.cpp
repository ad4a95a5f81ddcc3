// The exported functions: callable from C, and a null in any position, or in
// several, is refused with 10 before anything else happens. Every call here
// has a null, so none can reach the network.
#include <gtest/gtest.h>

#include <functional>

#include "taskclient.h"

extern "C" int taskclient_c_callers_refused(void);

namespace {

TEST(ExportedFunctions, CallableFromC) { EXPECT_EQ(taskclient_c_callers_refused(), 8); }

TEST(ExportedFunctions, NullInAnyPositionIsRefused) {
  using Args = const tc_text16* const*;
  struct Export {
    const char* name;
    int arity;
    std::function<int32_t(Args)> call;
  } exports[] = {
      {"GoogleTasksGetTokenSSL", 4, [](Args a) { return GoogleTasksGetTokenSSL(a[0], a[1], a[2], a[3]); }},
      {"GoogleTasksTokenRefreshSSL", 4, [](Args a) { return GoogleTasksTokenRefreshSSL(a[0], a[1], a[2], a[3]); }},
      {"GTaskListTasksSSL", 2, [](Args a) { return GTaskListTasksSSL(a[0], a[1]); }},
      {"GTaskListTasksListSSL", 3, [](Args a) { return GTaskListTasksListSSL(a[0], a[1], a[2]); }},
      // The fourth argument is reserved: it may be null and is never read.
      {"GTaskTaskAddSSL", 4, [](Args a) { return GTaskTaskAddSSL(a[0], a[1], a[2], nullptr, a[3]); }},
      {"GTaskTaskDeleteSSL", 4, [](Args a) { return GTaskTaskDeleteSSL(a[0], a[1], a[2], a[3]); }},
      {"GoogleTasksGetTokenPkceSSL", 6,
       [](Args a) { return GoogleTasksGetTokenPkceSSL(a[0], a[1], a[2], a[3], a[4], a[5]); }},
      {"GTaskListTasksListPageSSL", 4, [](Args a) { return GTaskListTasksListPageSSL(a[0], a[1], a[2], a[3]); }},
      {"GTaskTaskCompleteSSL", 4, [](Args a) { return GTaskTaskCompleteSSL(a[0], a[1], a[2], a[3]); }},
      // The JSON body may be null (no body): the four others are checked.
      {"GTaskRequestSSL", 4, [](Args a) { return GTaskRequestSSL(a[0], a[1], a[2], nullptr, a[3]); }},
      {"GTaskReadReply", 2, [](Args a) { return GTaskReadReply(a[0], a[1]); }},
      // The value's buffer is the caller's: the two paths are checked.
      {"GTaskReadField", 2,
       [](Args a) {
         tc_text16 value[4];
         return GTaskReadField(a[0], a[1], value, 4);
       }},
      {"GTaskRequestsSSL", 3, [](Args a) { return GTaskRequestsSSL(a[0], a[1], a[2]); }},
      // The index is a number: the two paths are checked, at the first reply and past it.
      {"GTaskReadReplyAt", 2, [](Args a) { return GTaskReadReplyAt(a[0], 0, a[1]); }},
      {"GTaskReadReplyAt at index 1", 2, [](Args a) { return GTaskReadReplyAt(a[0], 1, a[1]); }},
  };
  static const tc_text16 x[] = {'x', 0};
  for (const Export& e : exports) {
    SCOPED_TRACE(e.name);
    for (unsigned nulls = 1; nulls < (1u << e.arity); ++nulls) {
      const tc_text16* args[6];
      for (int i = 0; i < 6; ++i) args[i] = (nulls >> i) & 1 ? nullptr : x;
      EXPECT_EQ(e.call(args), TC_BAD_ARGUMENT) << "nulls " << nulls;
    }
  }
}

}  // namespace
