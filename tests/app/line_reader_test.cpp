#include "app/line_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vardeko::testing {
namespace {

// Every line of `input`, read through blocks of `blockBytes` from a source that hands
// over at most `step` bytes a call (as a pipe does).
std::vector<std::string> Lines(const std::string& input, std::size_t blockBytes, std::size_t step) {
  std::size_t offset = 0;
  LineReader reader(
      [&](char* data, std::size_t size) {
        const std::size_t n = std::min({size, step, input.size() - offset});
        input.copy(data, n, offset);
        offset += n;
        return n;
      },
      blockBytes);
  std::vector<std::string> lines;
  while (PostedJson line = reader.Next()) lines.push_back(*line);
  return lines;
}

TEST(LineReaderTest, LinesComeWholeWhateverTheBlocksAndReads) {
  const std::string long1(5000, 'a');
  const std::string long2 = std::string(4096, 'b') + "c";
  const struct {
    std::string input;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"one\ntwo\n", {"one", "two"}},
      {"last without end", {"last without end"}},
      {"\n\nx\n", {"", "", "x"}},
      {"crlf\r\nlf\n\r\n", {"crlf", "lf", ""}},
      {"a\rb\n", {"a\rb"}},  // only a carriage return before the line end goes
      {long1 + "\n" + long2 + "\nshort\n" + long1, {long1, long2, "short", long1}},
  };
  for (const auto& c : cases) {
    for (const std::size_t block :
         {std::size_t{1}, std::size_t{7}, std::size_t{4096}, LineReader::kBlockBytes}) {
      for (const std::size_t step : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 20}) {
        EXPECT_EQ(Lines(c.input, block, step), c.lines)
            << c.input.substr(0, 20) << " block " << block << " step " << step;
      }
    }
  }
}

TEST(LineReaderTest, AReadErrorEndsTheInputAfterWhatCameBefore) {
  int calls = 0;
  LineReader reader(
      [&](char* data, std::size_t size) -> std::size_t {
        if (++calls > 1) return 0;  // the error
        return std::string("a\npartial").copy(data, size);
      },
      16);
  EXPECT_EQ(*reader.Next(), "a");
  EXPECT_EQ(*reader.Next(), "partial");
  EXPECT_EQ(reader.Next(), nullptr);
  EXPECT_EQ(reader.Next(), nullptr);
}

}  // namespace
}  // namespace vardeko::testing
