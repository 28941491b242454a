#include "api/api_bridge.h"

#include <gtest/gtest.h>

#include "bridge/api_failure.h"

namespace vardeko {
namespace {

void ExpectFailure(ApiBridge& bridge, std::string_view method, const nlohmann::json& args,
                   const FailureText& expected) {
  try {
    bridge.Call(method, args);
    ADD_FAILURE() << method << " succeeded";
  } catch (const ApiFailure& failure) {
    EXPECT_EQ(failure.code(), expected.code) << method;
    EXPECT_EQ(std::string_view(failure.what()), expected.message) << method;
  }
}

TEST(ApiBridgeTest, ArgumentsMustBeAnArrayBeforeTheNameIsLookedAt) {
  ApiBridge bridge("https://api.example.test/api", "/nonexistent");
  ExpectFailure(bridge, "health", nlohmann::json::object(), failures::kInvalidInput);
  ExpectFailure(bridge, "no such method", nullptr, failures::kInvalidInput);
}

TEST(ApiBridgeTest, NamesTheTableDoesNotKnowAreInvalidMethods) {
  ApiBridge bridge("https://api.example.test/api", "/nonexistent");
  for (const char* method : {"test:window-size", "test:request-close", "Health", ""}) {
    ExpectFailure(bridge, method, nlohmann::json::array(), failures::kInvalidMethod);
  }
}

}  // namespace
}  // namespace vardeko
