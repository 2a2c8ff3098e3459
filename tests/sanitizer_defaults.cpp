// Sanitizer settings for the test programs. Tests that ask for more memory
// than exists want malloc's NULL, not the sanitizer's abort; allocations past
// 8 GiB count as more than exists.
extern "C" const char *__asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=8192";
}
