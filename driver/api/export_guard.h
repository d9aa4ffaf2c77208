#pragma once
// Keeps C++ exceptions inside the library. Every exported call is a function-try-block that ends
// with TORVA_EXPORT_GUARD(nothing done value):
//
//   int fmDLLGetDeviceCount(void) try {
//     ...
//   } TORVA_EXPORT_GUARD(0)
//
// An exception that escapes the body (an allocation or thread creation that failed, a system
// error from a lock) is logged as an error and the call returns its "nothing done" value: 0, or
// nothing for calls without a result. The caller sees a call that did nothing, never an exception
// crossing the C interface.

namespace torva::api {

// Logs the exception being handled, naming the exported call. Call only from a catch handler.
void LogEscapedException(const char* function) noexcept;

}  // namespace torva::api

#define TORVA_EXPORT_GUARD(...)                      \
  catch (...) {                                      \
    ::torva::api::LogEscapedException(__func__);     \
    return __VA_ARGS__;                              \
  }
