#include "shell/host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/dpi_scaling.h"
#include "fakes/fake_browser_runtime.h"
#include "fakes/fake_window_operations.h"
#include "platform/ui_event_queue_posix.h"
#include "shell/envelope.h"

namespace vardeko::testing {
namespace {

class PageChannelTest : public ::testing::Test {
 protected:
  std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
  FakeWindowOperations window{log};
  RecordingBrowser browser{log};
  Host host{window};
};

TEST_F(PageChannelTest, HostStartsWithTheDocumentedValues) {
  EXPECT_FALSE(host.window);
  EXPECT_FALSE(host.closing || host.pageLoaded || host.debugEnabled);
  EXPECT_EQ(host.inFlight->load(), 0u);
  EXPECT_EQ(host.startUrl, u"https://app.vardeko.localhost/index.html");
  EXPECT_TRUE(host.dataDirectory.empty() && host.rendererDirectory.empty());
}

TEST_F(PageChannelTest, PostJsonToPageWithoutBrowserViewDoesNothing) {
  EXPECT_NO_THROW(PostJsonToPage(host, CloseRequestedEvent()));
  host.webview = std::make_unique<RecordingView>(browser);
  PostJsonToPage(host, CloseRequestedEvent());
  host.webview.reset();
  PostJsonToPage(host, CloseRequestedEvent());
  EXPECT_EQ(log->Take(), std::vector<std::string>{R"(page {"event":"close-requested"})"});
}

TEST_F(PageChannelTest, PostedTextReachesThePageThroughTheQueue) {
  UiEventQueue queue;
  host.window = queue.window();
  host.webview = std::make_unique<RecordingView>(browser);

  std::thread worker([window = host.window] {
    PostJsonToWindow(window, PostedJson(new std::string(R"({"data":"截图","id":"x","ok":true})")));
  });
  worker.join();

  std::optional<UiEventQueue::Event> event = queue.Take(std::chrono::seconds(5));
  ASSERT_TRUE(event);
  ASSERT_EQ(event->message, WM_APP_POST_JSON);
  DeliverPostedJson(host, std::move(event->json));
  EXPECT_EQ(log->Take(), std::vector<std::string>{R"(page {"data":"截图","id":"x","ok":true})"});
}

TEST_F(PageChannelTest, EveryPostWakesTheWaitingLoopAfterTheEventIsQueued) {
  UiEventQueue queue;
  std::atomic<int> queuedWhenWoken{0};
  queue.SetWakeUp([&queue, &queuedWhenWoken] {
    // Taken from the waking thread: the event is there, and no lock of the queue is held.
    if (queue.Take(std::chrono::milliseconds(0))) ++queuedWhenWoken;
  });
  std::thread worker([window = queue.window()] {
    PostJsonToWindow(window, PostedJson(new std::string("{}")));
    PostCloseConfirmed(window);
    PostCloseAttempt(window);
  });
  worker.join();
  EXPECT_EQ(queuedWhenWoken.load(), 3);
}

TEST_F(PageChannelTest, DeliveryAfterTheBrowserViewIsReleasedFreesTheText) {
  // LeakSanitizer fails the run if either text is kept.
  DeliverPostedJson(host, PostedJson(new std::string("{}")));
  DeliverPostedJson(host, PostedJson());
  EXPECT_EQ(log->Take(), std::vector<std::string>{});
}

TEST_F(PageChannelTest, PostsToAQueueThatIsGoneFail) {
  WindowHandle gone;
  {
    UiEventQueue queue;
    gone = queue.window();
    // Texts still queued when the window goes are freed with it.
    EXPECT_TRUE(PostJsonToWindow(gone, PostedJson(new std::string("{}"))));
  }
  EXPECT_FALSE(PostJsonToWindow(gone, PostedJson(new std::string("{}"))));
  EXPECT_FALSE(PostCloseConfirmed(gone));
  EXPECT_FALSE(PostCloseAttempt(WindowHandle{}));
  UiEventQueue next;
  EXPECT_NE(next.window(), gone);  // handles are not reused
}

TEST(SecureWipeTest, WipesTheWholeBufferAndEmptiesTheString) {
  std::string secret(100, 's');
  secret.resize(10);  // the tail beyond size() still held secret bytes
  const char* buffer = secret.data();
  const std::size_t capacity = secret.capacity();
  SecureWipe(secret);
  EXPECT_TRUE(secret.empty());
  for (std::size_t i = 0; i < capacity; ++i) ASSERT_EQ(buffer[i], '\0') << i;
}

TEST(MulDivTest, RoundsHalfAwayFromZeroLikeWin32) {
  EXPECT_EQ(MulDiv(960, 144, 96), 1440);
  EXPECT_EQ(MulDiv(1001, 120, 96), 1251);  // 1251.25
  EXPECT_EQ(MulDiv(3, 1, 2), 2);           // 1.5
  EXPECT_EQ(MulDiv(-3, 1, 2), -2);
  EXPECT_EQ(MulDiv(3, -1, 2), -2);
  EXPECT_EQ(MulDiv(5, 1, 0), -1);
  EXPECT_EQ(MulDiv(0x7FFFFFFF, 2, 1), -1);
  EXPECT_EQ(MulDiv(0x7FFFFFFF, 2, 2), 0x7FFFFFFF);
}

}  // namespace
}  // namespace vardeko::testing
