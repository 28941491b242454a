#include "base/api_failure.h"

#include <gtest/gtest.h>

#include <new>

namespace vardeko {
namespace {

ApiFailure Caught(const std::function<void()>& raise) {
  try {
    raise();
  } catch (const ApiFailure& failure) {
    return failure;
  }
  ADD_FAILURE() << "nothing was raised";
  return ApiFailure("", "");
}

TEST(ApiFailureTest, ErrorObjectCarriesMessageBytesUnescaped) {
  const ApiFailure failure("BUSY", "操作较多，请稍后重试。");
  EXPECT_STREQ(failure.what(), "操作较多，请稍后重试。");
  EXPECT_EQ(ErrorObject(failure).dump(), R"({"code":"BUSY","message":"操作较多，请稍后重试。"})");
}

TEST(ApiFailureTest, CopiesAreIndependent) {
  ApiFailure original("A", "first");
  const ApiFailure copy = original;
  original = ApiFailure("B", "second");
  EXPECT_EQ(copy.code(), "A");
  EXPECT_STREQ(copy.what(), "first");
}

TEST(ApiFailureTest, NetworkFailureDistinguishesTheTimeout) {
  const ApiFailure timeout = Caught([] { ThrowNetworkFailure(12002); });
  EXPECT_EQ(timeout.code(), "TIMEOUT");
  EXPECT_STREQ(timeout.what(), "连接超时，请稍后重试。");
  for (std::uint32_t error : {0u, 5u, 10060u, 12029u, 12001u, 12003u}) {
    const ApiFailure other = Caught([error] { ThrowNetworkFailure(error); });
    EXPECT_EQ(other.code(), "NETWORK_ERROR") << error;
    EXPECT_STREQ(other.what(), "无法连接服务，请检查网络并确认后端已启动。");
  }
}

TEST(ApiFailureTest, InvalidInputKeepsTheGivenMessage) {
  const ApiFailure failure = Caught([] { ThrowInvalidInput("记录编号不正确。"); });
  EXPECT_EQ(failure.code(), "INVALID_INPUT");
  EXPECT_STREQ(failure.what(), "记录编号不正确。");
}

// Each boundary turns the same exceptions into its own failures.
TEST(ApiFailureTest, BoundariesConvertDifferently) {
  const auto jsonTypeError = [] { nlohmann::json(1).get<std::string>(); };
  const auto outOfMemory = [] { throw std::bad_alloc(); };
  const auto serviceFailure = [] { throw ApiFailure("UNAUTHORIZED", "请登录后继续。"); };

  const auto atWorker = [](const std::function<void()>& raise) {
    try {
      raise();
    } catch (...) {
      return CurrentFailureAtWorker();
    }
    return ApiFailure("", "");
  };
  const auto atDispatcher = [](const std::function<void()>& raise) {
    try {
      raise();
    } catch (...) {
      return CurrentFailureAtDispatcher();
    }
    return ApiFailure("", "");
  };
  const auto atEntry = [](const std::function<void()>& raise) {
    return Caught([&] { ConvertJsonErrorsAtServiceEntry(raise); });
  };

  EXPECT_STREQ(atEntry(jsonTypeError).what(), "输入参数不正确。");
  EXPECT_EQ(atEntry(jsonTypeError).code(), "INVALID_INPUT");
  EXPECT_EQ(atEntry(serviceFailure).code(), "UNAUTHORIZED");
  EXPECT_THROW(ConvertJsonErrorsAtServiceEntry(outOfMemory), std::bad_alloc);

  EXPECT_STREQ(atDispatcher(jsonTypeError).what(), "请求参数不正确。");
  EXPECT_STREQ(atDispatcher(outOfMemory).what(), "请求参数不正确。");
  EXPECT_EQ(atDispatcher(serviceFailure).code(), "UNAUTHORIZED");

  EXPECT_EQ(atWorker(outOfMemory).code(), "INTERNAL_ERROR");
  EXPECT_STREQ(atWorker(outOfMemory).what(), "操作未完成，请稍后重试。");
  EXPECT_STREQ(atWorker(serviceFailure).what(), "请登录后继续。");
}

}  // namespace
}  // namespace vardeko
