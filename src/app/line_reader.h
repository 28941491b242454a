#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "platform/page_channel.h"

namespace vardeko {

// The bridge's input lines, read in blocks straight from the system. A line longer than
// a block (a screenshot's post is 16 MiB) is gathered block by block and joined once at
// its final size: a string grown by doubling would leave each outgrown buffer resident,
// and unwiped although lines carry passwords. Every byte read is wiped once consumed.
class LineReader {
 public:
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

  // Reads at most `size` bytes into `data`; 0 at the end of the input or on an error.
  using ReadFunction = std::function<std::size_t(char* data, std::size_t size)>;

  explicit LineReader(ReadFunction read, std::size_t blockBytes = kBlockBytes);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line without its "\n" or "\r\n", or null once the input has ended. A last
  // line without "\n" still counts, an empty rest does not.
  PostedJson Next();

 private:
  ReadFunction read_;
  std::size_t blockBytes_;
  std::unique_ptr<char[]> block_;
  std::size_t begin_ = 0;  // the unread bytes of the block: [begin_, end_)
  std::size_t end_ = 0;
};

}  // namespace vardeko
