#include "service/http_header_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vardeko::testing {
namespace {

ReplyHeaders Take(const std::vector<std::string>& lines) {
  ReplyHeaders headers;
  for (const std::string& line : lines) TakeHeaderLine(headers, line);
  return headers;
}

TEST(ReplyHeaderLinesTest, FinalBlockWithItsFirstTrimmedValues) {
  const ReplyHeaders headers = Take(
      {"HTTP/1.1 100 Continue\r\n", "Content-Type: text/early\r\n", "\r\n", "HTTP/1.1 200 OK\r\n",
       "content-type: \t image/png \t\r\n", "Content-Type: text/plain\r\n",
       "Content-Length:  42 \r\n", "Content-Length: 7\r\n", "\r\n", "Content-Type: trailer\r\n"});
  EXPECT_TRUE(headers.complete);
  EXPECT_EQ(headers.status, 200u);
  EXPECT_EQ(headers.contentType, "image/png");
  EXPECT_EQ(headers.contentLength, 42u);
}

TEST(ReplyHeaderLinesTest, InterimBlocksWaitButASwitchOfProtocolsEnds) {
  EXPECT_FALSE(Take({"HTTP/1.1 103 Early Hints\r\n", "Link: </a>\r\n", "\r\n"}).complete);
  const ReplyHeaders switched =
      Take({"HTTP/1.1 101 Switching Protocols\r\n", "Upgrade: x\r\n", "\r\n"});
  EXPECT_TRUE(switched.complete);
  EXPECT_EQ(switched.status, 101u);
  EXPECT_FALSE(Take({"HTTP/1.1 204 No Content\r\n"}).complete);  // not before its empty line
}

TEST(ReplyHeaderLinesTest, OddLinesAreHarmless) {
  const ReplyHeaders headers =
      Take({"garbage\r\n", "HTTP/1.1\r\n", "Content-Length: 12x\r\n", "Content-Type:\r\n", "\n"});
  EXPECT_EQ(headers.status, 0u);
  EXPECT_FALSE(headers.contentLength);
  EXPECT_EQ(headers.contentType, "");  // present and empty, as WinHTTP reports it
  EXPECT_FALSE(headers.complete);
}

TEST(RequestHeaderLinesTest, EmptyValuesTakeTheFormLibcurlSends) {
  for (const auto& [line, sent] : std::vector<std::pair<std::string, std::string>>{
           {"X-File-Name: ", "X-File-Name;"},
           {"X-File-Name:", "X-File-Name;"},
           {"X-File-Name: \t", "X-File-Name;"},
           {"X-File-Name: a.png", "X-File-Name: a.png"},
           {"Authorization: Bearer t", "Authorization: Bearer t"},
       }) {
    std::string text = line;
    text.resize(ToCurlHeaderLine(text));
    EXPECT_EQ(text, sent);
  }
  EXPECT_TRUE(IsContentTypeLine("content-type: image/png"));
  EXPECT_TRUE(IsContentTypeLine("Content-Type;"));
  EXPECT_FALSE(IsContentTypeLine("Content-Typed: x"));
}

}  // namespace
}  // namespace vardeko::testing
