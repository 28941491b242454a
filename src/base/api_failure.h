#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vardeko {

// The one way a native service reports a failure: a machine-readable code and a user
// message in Simplified Chinese (what()) that the page shows unchanged. Codes passed on
// from the remote service may be any text.
class ApiFailure : public std::runtime_error {
 public:
  ApiFailure(std::string code, std::string message);

  const std::string& code() const noexcept { return code_; }

 private:
  std::string code_;
};

// One row of the table of failures the system raises itself.
struct FailureText {
  std::string_view code;
  std::string_view message;
};

// The complete table of codes and messages. Where a code has several messages, the
// general one is marked as its default.
namespace failures {
inline constexpr FailureText kWindowAction{"INVALID_INPUT", "窗口操作不正确。"};
inline constexpr FailureText kWindowSize{"INVALID_INPUT", "窗口尺寸不正确。"};
inline constexpr FailureText kBusy{"BUSY", "操作较多，请稍后重试。"};
inline constexpr FailureText kDispatcherDefault{"INVALID_INPUT", "请求参数不正确。"};
inline constexpr FailureText kInternalError{"INTERNAL_ERROR", "操作未完成，请稍后重试。"};
inline constexpr FailureText kInvalidInput{"INVALID_INPUT", "输入参数不正确。"};  // default
inline constexpr FailureText kInvalidEncoding{"INVALID_INPUT", "文字编码不正确。"};
inline constexpr FailureText kTextTooLong{"INVALID_INPUT", "填写内容超过长度限制。"};
inline constexpr FailureText kCountNotInteger{"INVALID_INPUT", "数量需要填写整数。"};
inline constexpr FailureText kCountOutOfRange{"INVALID_INPUT", "数量超出允许范围。"};
inline constexpr FailureText kInvalidRecordId{"INVALID_INPUT", "记录编号不正确。"};
inline constexpr FailureText kInvalidMethod{"INVALID_METHOD", "不支持此操作。"};
inline constexpr FailureText kUnauthorized{"UNAUTHORIZED", "请登录后继续。"};
inline constexpr FailureText kAuthChanged{"AUTH_CHANGED", "登录操作已被新的请求替换，请重试。"};
inline constexpr FailureText kTimeout{"TIMEOUT", "连接超时，请稍后重试。"};
inline constexpr FailureText kNetworkError{
    "NETWORK_ERROR", "无法连接服务，请检查网络并确认后端已启动。"};  // default
inline constexpr FailureText kRedirect{"NETWORK_ERROR", "服务地址发生跳转，请检查配置。"};
inline constexpr FailureText kResponseTooLarge{"RESPONSE_TOO_LARGE",
                                               "服务返回的数据超过大小限制。"};
inline constexpr FailureText kApiError{"API_ERROR", "服务请求失败，请稍后重试。"};
inline constexpr FailureText kInvalidResponse{"INVALID_RESPONSE",
                                              "服务返回的数据格式不正确。"};  // default
inline constexpr FailureText kInvalidLoginResult{"INVALID_RESPONSE", "登录结果格式不正确。"};
inline constexpr FailureText kInvalidImage{"INVALID_IMAGE", "截图数据不正确。"};  // default
inline constexpr FailureText kImageSize{"INVALID_IMAGE",
                                        "请选择不超过 12 MB 的 PNG、JPEG 或 WebP 截图。"};
inline constexpr FailureText kImageNameOrType{"INVALID_IMAGE", "截图名称或格式不正确。"};
inline constexpr FailureText kImageTypeUnsupported{"INVALID_IMAGE",
                                                   "只支持 PNG、JPEG 和 WebP 图片。"};
inline constexpr FailureText kServedImageType{"INVALID_IMAGE", "服务返回的截图格式不正确。"};
inline constexpr FailureText kAddressNotSecure{"INVALID_CONFIG",
                                               "服务地址须为 HTTPS，或本机 HTTP 地址。"};
inline constexpr FailureText kAddressInvalid{"INVALID_CONFIG", "服务地址不正确。"};
inline constexpr FailureText kRemoteAddressNeedsHttps{"INVALID_CONFIG",
                                                      "远程服务地址须使用 HTTPS。"};
inline constexpr FailureText kSessionStoreInit{"INTERNAL_ERROR", "无法初始化会话存储。"};
}  // namespace failures

// The WinHTTP error number of a time-out.
inline constexpr std::uint32_t kWinHttpTimeoutError = 12002;

ApiFailure MakeFailure(const FailureText& failure);
[[noreturn]] void Throw(const FailureText& failure);

// Raises INVALID_INPUT with one of that code's messages.
[[noreturn]] void ThrowInvalidInput(std::string message);

// Raises TIMEOUT for WinHTTP's time-out error (12002) and NETWORK_ERROR for every other
// Win32 or WinHTTP error number.
[[noreturn]] void ThrowNetworkFailure(std::uint32_t error);

// The error object the page receives: {"code": ..., "message": ...}.
nlohmann::json ErrorObject(const ApiFailure& failure);

// Boundary conversions. Each is called inside a catch block and says what the exception
// in flight becomes at that boundary.

// Request worker: an ApiFailure stays itself; anything else is INTERNAL_ERROR.
ApiFailure CurrentFailureAtWorker();

// Dispatcher, once the request id is known: an ApiFailure stays itself; anything else,
// errors of the JSON library included, is INVALID_INPUT "请求参数不正确。".
ApiFailure CurrentFailureAtDispatcher();

// Entry of the service client: runs `call`, turning errors of the JSON library into
// INVALID_INPUT "输入参数不正确。"; every other exception passes unchanged.
template <class Call>
decltype(auto) ConvertJsonErrorsAtServiceEntry(Call&& call) {
  try {
    return std::forward<Call>(call)();
  } catch (const nlohmann::json::exception&) {
    Throw(failures::kInvalidInput);
  }
}

}  // namespace vardeko
