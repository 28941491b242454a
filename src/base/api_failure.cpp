#include "base/api_failure.h"

#include <utility>

namespace vardeko {

ApiFailure::ApiFailure(std::string code, std::string message)
    : std::runtime_error(std::move(message)), code_(std::move(code)) {}

ApiFailure MakeFailure(const FailureText& failure) {
  return ApiFailure(std::string(failure.code), std::string(failure.message));
}

void Throw(const FailureText& failure) { throw MakeFailure(failure); }

void ThrowInvalidInput(std::string message) {
  throw ApiFailure(std::string(failures::kInvalidInput.code), std::move(message));
}

void ThrowNetworkFailure(std::uint32_t error) {
  Throw(error == kWinHttpTimeoutError ? failures::kTimeout : failures::kNetworkError);
}

nlohmann::json ErrorObject(const ApiFailure& failure) {
  nlohmann::json error = nlohmann::json::object();
  error["code"] = failure.code();
  error["message"] = failure.what();
  return error;
}

namespace {

ApiFailure CurrentFailureOr(const FailureText& fallback) {
  try {
    throw;
  } catch (const ApiFailure& failure) {
    return failure;
  } catch (...) {
    return MakeFailure(fallback);
  }
}

}  // namespace

ApiFailure CurrentFailureAtWorker() { return CurrentFailureOr(failures::kInternalError); }

ApiFailure CurrentFailureAtDispatcher() { return CurrentFailureOr(failures::kDispatcherDefault); }

}  // namespace vardeko
