#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/browser.h"
#include "shell/host.h"
#include "vardeko_version.h"

namespace vardeko {

inline constexpr std::size_t kMaxMessageLength = 18874368;  // UTF-16 code units
inline constexpr std::size_t kMaxIdBytes = 128;
inline constexpr std::size_t kMaxArgs = 8;
inline constexpr std::uint32_t kMaxInFlight = 12;
inline constexpr std::string_view kAppVersion = VARDEKO_VERSION_TEXT;

// Handles one web message from the page on the UI thread: checks its source and
// envelope, answers the built-in methods at once and hands every other method to a
// request worker. A message that fails the checks is dropped without a trace. Never
// throws.
void HandleWebMessage(Host& host, WebMessageReceivedArgs& args) noexcept;

}  // namespace vardeko
