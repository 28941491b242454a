#include "app/line_reader.h"

#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "base/secure_wipe.h"

namespace vardeko {
namespace {

// The parts of a long line joined at their total size; the parts are wiped as they go.
PostedJson Join(std::vector<SecretString>& parts, std::string_view last) {
  std::size_t total = last.size();
  for (const SecretString& part : parts) total += part.size();
  PostedJson line(new std::string());
  line->reserve(total);
  for (SecretString& part : parts) {
    line->append(part.view());
    part.Wipe();
  }
  line->append(last);
  return line;
}

}  // namespace

LineReader::LineReader(ReadFunction read, std::size_t blockBytes)
    : read_(std::move(read)),
      blockBytes_(blockBytes),
      block_(std::make_unique<char[]>(blockBytes)) {}

LineReader::~LineReader() { SecureWipe(block_.get(), end_); }

PostedJson LineReader::Next() {
  std::vector<SecretString> parts;  // a long line's blocks so far
  for (;;) {
    if (begin_ == end_) {
      SecureWipe(block_.get(), end_);
      begin_ = end_ = 0;
      end_ = read_(block_.get(), blockBytes_);
      if (end_ == 0) return parts.empty() ? nullptr : Join(parts, {});
    }
    char* const start = block_.get() + begin_;
    const std::size_t available = end_ - begin_;
    const auto* lineEnd = static_cast<char*>(std::memchr(start, '\n', available));
    if (lineEnd == nullptr) {
      parts.emplace_back(std::string_view(start, available));
      begin_ = end_;
      continue;
    }
    const auto length = static_cast<std::size_t>(lineEnd - start);
    PostedJson line = Join(parts, {start, length});
    if (!line->empty() && line->back() == '\r') line->pop_back();
    SecureWipe(start, length + 1);
    begin_ += length + 1;
    return line;
  }
}

}  // namespace vardeko
