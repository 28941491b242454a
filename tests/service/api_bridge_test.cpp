#include "service/api_bridge.h"

#include <gtest/gtest.h>

#include "base/api_failure.h"
#include "fakes/temp_dir.h"

namespace vardeko {
namespace {

void ExpectFailure(ApiBridge& bridge, std::string_view method, const nlohmann::json& args,
                   const FailureText& expected) {
  try {
    nlohmann::json taken = args;
    bridge.Call(method, taken);
    ADD_FAILURE() << method << " succeeded";
  } catch (const ApiFailure& failure) {
    EXPECT_EQ(failure.code(), expected.code) << method;
    EXPECT_EQ(std::string_view(failure.what()), expected.message) << method;
  }
}

TEST(ApiBridgeTest, ArgumentsMustBeAnArrayBeforeTheNameIsLookedAt) {
  testing::TempDir data;
  ApiBridge bridge("https://api.example.test/api", data.path());
  ExpectFailure(bridge, "health", nlohmann::json::object(), failures::kInvalidInput);
  ExpectFailure(bridge, "no such method", nullptr, failures::kInvalidInput);
}

TEST(ApiBridgeTest, NamesTheTableDoesNotKnowAreInvalidMethods) {
  testing::TempDir data;
  ApiBridge bridge("https://api.example.test/api", data.path());
  for (const char* method : {"test:window-size", "test:request-close", "Health", ""}) {
    ExpectFailure(bridge, method, nlohmann::json::array(), failures::kInvalidMethod);
  }
}

}  // namespace
}  // namespace vardeko
