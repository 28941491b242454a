#include "service/http_header_lines.h"

#include <charconv>

namespace vardeko {
namespace {

constexpr std::string_view kStatusLinePrefix = "HTTP/";  // "HTTP/1.1 200 OK"
constexpr std::string_view kContentType = "Content-Type";
constexpr std::string_view kContentLength = "Content-Length";
constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kLineEnd = "\r\n";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && kLineEnd.find(line.back()) != std::string_view::npos) {
    line.remove_suffix(1);
  }
  return line;
}

// The number after the status line's first space; 0 when there is none.
std::uint32_t StatusCode(std::string_view statusLine) {
  const std::size_t space = statusLine.find(' ');
  if (space == std::string_view::npos) return 0;
  const std::string_view rest = statusLine.substr(space + 1);
  std::uint32_t status = 0;
  std::from_chars(rest.data(), rest.data() + rest.size(), status);
  return status;
}

// The name before the line's first ':' or ';' (the two forms a request line may take).
std::string_view HeaderName(std::string_view line) {
  return line.substr(0, line.find_first_of(":;"));
}

}  // namespace

void TakeHeaderLine(ReplyHeaders& headers, std::string_view rawLine) {
  const std::string_view line = WithoutLineEnd(rawLine);
  if (StartsWithIgnoringCase(line, kStatusLinePrefix)) {
    headers = ReplyHeaders{};
    headers.status = StatusCode(line);
    return;
  }
  if (headers.complete) return;  // trailers
  if (line.empty()) {
    // Another block follows an interim reply, except after 101: libcurl takes an
    // unrequested switch of protocols as the reply, and so does WinHTTP.
    headers.complete = headers.status >= 200 || headers.status == 101;
    return;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  const std::string_view name = line.substr(0, colon);
  const std::string_view value = Trimmed(line.substr(colon + 1));
  if (EqualsIgnoringCase(name, kContentType)) {
    if (!headers.contentType) headers.contentType = std::string(value);
  } else if (EqualsIgnoringCase(name, kContentLength) && !headers.contentLength) {
    std::uint64_t length = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
    if (error == std::errc() && end == value.data() + value.size() && !value.empty()) {
      headers.contentLength = length;
    }
  }
}

std::size_t ToCurlHeaderLine(std::span<char> line) {
  const std::string_view text(line.data(), line.size());
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos ||
      text.find_first_not_of(kBlanks, colon + 1) != std::string_view::npos) {
    return line.size();
  }
  line[colon] = ';';
  return colon + 1;
}

bool IsContentTypeLine(std::string_view line) {
  return EqualsIgnoringCase(HeaderName(line), kContentType);
}

}  // namespace vardeko
