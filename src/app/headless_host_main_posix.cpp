// vardeko-bridge on Linux: the UI loop runs on the UI event queue; a reader thread
// turns standard input into events on it.
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <thread>

#include "app/headless_host.h"
#include "app/line_reader.h"
#include "platform/ui_event_queue_posix.h"

int main() {
  // Replies of up to 32 MiB and screenshots of 16 MiB pass through the workers' threads:
  // one heap, grown and kept in large steps, rather than an arena per thread grown a page
  // at a time and buffers mapped afresh (and faulted in) per reply.
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_TOP_PAD, 16 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  std::ios::sync_with_stdio(false);
  vardeko::UiEventQueue queue;
  vardeko::LineGate lineHandled;
  vardeko::HeadlessHost host(std::cout, std::cerr, [&lineHandled] { lineHandled.Release(); });
  if (!host.Configure(vardeko::SystemLaunchPlatform(), queue.window())) return 1;

  // Standard input cannot be interrupted; the reader ends with the process.
  std::thread([&queue, &lineHandled] {
    vardeko::LineReader input([](char* data, std::size_t size) -> std::size_t {
      for (;;) {
        const ssize_t got = read(STDIN_FILENO, data, size);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) return 0;
      }
    });
    while (vardeko::PostedJson line = input.Next()) {
      queue.Push({vardeko::kHeadlessInputLine, std::move(line)});
      lineHandled.Acquire();
    }
    queue.Push({vardeko::kHeadlessEndOfInput, nullptr});
  }).detach();

  const int code = host.Run(
      [&queue](int timeoutMs) -> std::optional<std::pair<std::uint32_t, vardeko::PostedJson>> {
        std::optional<vardeko::UiEventQueue::Event> event;
        if (timeoutMs < 0) {
          event = queue.Take();
        } else {
          event = queue.Take(std::chrono::milliseconds(timeoutMs));
        }
        if (!event) return std::nullopt;
        return std::make_pair(event->message, std::move(event->json));
      });
  std::cout.flush();
  // Running requests are abandoned, as the app does when its window closes.
  std::_Exit(code);
}
