#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/api_failure.h"

namespace vardeko::testing {

// "CODE message" of the ApiFailure the action raises, or "<passed>".
inline std::string FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ApiFailure& failure) {
    return failure.code() + " " + failure.what();
  }
  return "<passed>";
}

inline std::string Text(const FailureText& failure) {
  return std::string(failure.code) + " " + std::string(failure.message);
}

inline const std::string kPassed = "<passed>";

}  // namespace vardeko::testing
