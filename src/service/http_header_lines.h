#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Header lines as the libcurl engine handles them, both ways. Kept apart from libcurl
// so that they can be tested and fuzzed on their own; they follow what WinHTTP reports
// and sends, so both engines behave alike.
namespace vardeko {

// The reply's headers, built from the lines libcurl hands over one at a time, each with
// its line end. A status line starts a new block (an interim 1xx reply has one of its
// own); the final reply's block ends with an empty line. Lines after that (trailers)
// change nothing.
struct ReplyHeaders {
  std::uint32_t status = 0;
  std::optional<std::string> contentType;      // the block's first, blanks and tabs trimmed
  std::optional<std::uint64_t> contentLength;  // the block's first, when it is a number
  bool complete = false;                       // the final reply's block has ended
};

void TakeHeaderLine(ReplyHeaders& headers, std::string_view line);

// Rewrites one request header line ("Name: value", without its line end) in place into
// the form libcurl sends as given, and returns its new length. libcurl reads "Name:"
// with nothing after it as "remove this header", so a line whose value is empty (or
// blanks only) becomes "Name;"; every other line is kept as it is.
std::size_t ToCurlHeaderLine(std::span<char> line);

// Whether the request header line names Content-Type (in either form).
bool IsContentTypeLine(std::string_view line);

}  // namespace vardeko
