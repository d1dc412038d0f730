#pragma once

namespace vexb::test {
// Calls of the non-throwing operator new since the program started.
extern int g_nothrow_new_calls;
// While true, the non-throwing operator new answers null.
extern bool g_fail_nothrow_new;
}  // namespace vexb::test
