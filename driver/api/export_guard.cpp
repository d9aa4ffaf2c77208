#include "driver/api/export_guard.h"

#include <exception>

#include "platform/diagnostic_log.h"

namespace torva::api {

void LogEscapedException(const char* function) noexcept {
  try {
    throw;
  } catch (const std::exception& error) {
    TORVA_LOG_ERROR("%s did nothing: %s", function, error.what());
  } catch (...) {
    TORVA_LOG_ERROR("%s did nothing: an unknown exception", function);
  }
}

}  // namespace torva::api
