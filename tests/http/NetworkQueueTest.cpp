// NetworkQueue against real servers on loopback: the batch's reports and
// its finish message, the limit of four at once, HEAD requests measuring
// downloads first, combined progress reaching the indicator on the main
// thread in order, cancellation, and a queue that goes away.
#include "http/NetworkQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "http/TestEnvironment.h"
#include "support/ClosedPort.h"
#include "support/LoopbackServer.h"
#include "support/MainLoop.h"

namespace glowsnap::test {
namespace {

// Records what a queue tells its delegate, and on which thread.
class QueueRecorder : public NetworkQueueDelegate {
 public:
  bool respondsToSelector(const Selector& s) const override {
    return s == "fetched:" || s == "failed:" || s == "batchDone:";
  }
  void performSelector(const Selector& s, HTTPRequest& request) override {
    if (!isMainThread()) offMainThread = true;
    if (s == "fetched:") finished.push_back(&request);
    if (s == "failed:") {
      failed.push_back(&request);
      codes.push_back(request.error() ? request.error()->code : 0);
    }
  }
  void performSelector(const Selector& s, NetworkQueue& queue) override {
    if (!isMainThread()) offMainThread = true;
    if (s == "batchDone:") {
      ++batchesDone;
      countAtFinish = queue.requestsCount();
    }
  }
  std::vector<HTTPRequest*> finished, failed;
  std::vector<int> codes;
  int batchesDone = 0;
  int countAtFinish = -1;
  bool offMainThread = false;
};

class RecordingBar : public ProgressIndicator {
 public:
  bool respondsToSelector(const Selector& s) const override {
    return s == "setDoubleValue:" || s == "setMaxValue:";
  }
  void setDoubleValue(double v) override {
    if (!isMainThread()) offMainThread = true;
    values.push_back(v);
  }
  void setMaxValue(double v) override { maxValue = v; }
  std::vector<double> values;
  double maxValue = 0;
  bool offMainThread = false;
};

std::shared_ptr<NetworkQueue> recordedQueue(QueueRecorder& recorder) {
  auto queue = NetworkQueue::queue();
  queue->setDelegate(&recorder);
  queue->setRequestDidFinishSelector("fetched:");
  queue->setRequestDidFailSelector("failed:");
  queue->setQueueDidFinishSelector("batchDone:");
  return queue;
}

std::shared_ptr<HTTPRequest> get(const std::string& url) {
  return HTTPRequest::requestWithURL(URL::parse(url));
}

std::string bodyOf(const std::string& target) {
  // A different length per path: /a 1000, /b 2000, ...
  std::size_t n = static_cast<std::size_t>(target.back() - 'a' + 1) * 1000;
  return std::string(n, target.back());
}

void respondWithBody(const RawRequest& r, ServerConnection& c) {
  std::string body = bodyOf(r.target);
  if (r.method == "HEAD") {
    c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n");
  } else {
    c.respond(200, body, {{"Connection", "close"}});
  }
  c.close();
}

TEST(NetworkQueue, OnlyRequestsCanBeAdded) {
  class NotARequest : public Operation {
    void main() override {}
    bool isFinished() const override { return true; }
  };
  auto queue = NetworkQueue::queue();
  try {
    queue->addOperation(std::make_shared<NotARequest>());
    FAIL() << "no exception";
  } catch (const NetworkQueueException& e) {
    EXPECT_EQ(e.name(), "AttemptToAddInvalidRequest");
    EXPECT_STREQ(e.what(), "Attempted to add an object that was not an HTTPRequest to a NetworkQueue");
  }
  EXPECT_EQ(queue->requestsCount(), 0);
  EXPECT_EQ(queue->operationCount(), 0u);
}

TEST(NetworkQueue, ABatchCountsOneUnitPerRequestAndFinishesOnce) {
  LoopbackServer server(respondWithBody);
  QueueRecorder recorder;
  RecordingBar bar;
  auto queue = recordedQueue(recorder);
  queue->setDownloadProgressDelegate(&bar);
  EXPECT_EQ(bar.maxValue, 1.0);
  std::vector<bool> activity;
  queue->setNetworkActivityHandler([&](bool active) { activity.push_back(active); });
  // The caller keeps its requests; the queue lets go of each once it ran.
  std::vector<std::shared_ptr<HTTPRequest>> requests;
  for (const char* path : {"/a", "/b", "/c"}) {
    requests.push_back(get(server.url(path)));
    queue->addOperation(requests.back());
  }
  EXPECT_EQ(queue->requestsCount(), 3);
  EXPECT_FALSE(queue->isNetworkActive());  // made suspended
  spinMainLoopFor(0.2);
  EXPECT_EQ(server.requestCount(), 0u);
  queue->go();
  EXPECT_EQ(queue->downloadProgressTotalBytes(), 3u);
  ASSERT_TRUE(spinMainLoopUntil([&] { return recorder.batchesDone > 0; }, 30))
      << "the batch did not finish";
  spinMainLoopFor(0.2);
  EXPECT_EQ(recorder.finished.size(), 3u);
  EXPECT_TRUE(recorder.failed.empty());
  EXPECT_EQ(recorder.batchesDone, 1);
  EXPECT_EQ(recorder.countAtFinish, 0);
  EXPECT_FALSE(recorder.offMainThread);
  // Each request moves the bar by a third as it ends (its start only
  // repeats the value shown).
  std::vector<double> steps;
  for (double v : bar.values)
    if (v > 0 && (steps.empty() || steps.back() != v)) steps.push_back(v);
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_DOUBLE_EQ(steps[0], 1.0 / 3);
  EXPECT_DOUBLE_EQ(steps[1], 2.0 / 3);
  EXPECT_DOUBLE_EQ(steps[2], 1.0);
  EXPECT_TRUE(std::is_sorted(bar.values.begin(), bar.values.end()));
  EXPECT_FALSE(bar.offMainThread);
  EXPECT_FALSE(queue->isNetworkActive());
  ASSERT_FALSE(activity.empty());
  EXPECT_TRUE(std::find(activity.begin(), activity.end(), true) != activity.end());
  EXPECT_FALSE(activity.back());
  for (auto& r : requests) EXPECT_EQ(r->responseString(), bodyOf(r->url()->path()));
}

TEST(NetworkQueue, AccurateProgressMeasuresEachDownloadWithAHeadFirst) {
  std::mutex lock;
  std::vector<std::string> order;  // "HEAD /a", "GET /a", ...
  LoopbackServer server([&](const RawRequest& r, ServerConnection& c) {
    {
      std::lock_guard l(lock);
      order.push_back(r.method + " " + r.target);
    }
    respondWithBody(r, c);
  });
  QueueRecorder recorder;
  RecordingBar bar;
  auto queue = recordedQueue(recorder);
  queue->setShowAccurateProgress(true);
  queue->setDownloadProgressDelegate(&bar);
  for (const char* path : {"/a", "/b", "/c", "/d", "/e"}) {
    auto request = get(server.url(path));
    request->addRequestHeader("X-Batch", "one");
    queue->addOperation(request);
  }
  // HEAD requests are not open requests of the batch.
  EXPECT_EQ(queue->requestsCount(), 5);
  EXPECT_EQ(queue->operationCount(), 10u);
  queue->go();
  ASSERT_TRUE(spinMainLoopUntil([&] { return recorder.batchesDone > 0; }, 30))
      << "the batch did not finish";
  spinMainLoopFor(0.2);
  EXPECT_EQ(recorder.finished.size(), 5u);
  EXPECT_EQ(recorder.batchesDone, 1);
  // Every GET came after its HEAD, and the HEAD sent the request's headers.
  for (const char* path : {"/a", "/b", "/c", "/d", "/e"}) {
    auto head = std::find(order.begin(), order.end(), std::string("HEAD ") + path);
    auto getIt = std::find(order.begin(), order.end(), std::string("GET ") + path);
    ASSERT_NE(head, order.end()) << path;
    ASSERT_NE(getIt, order.end()) << path;
    EXPECT_LT(head, getIt) << path;
  }
  for (const auto& r : server.requests()) EXPECT_EQ(r.header("X-Batch"), "one");
  EXPECT_EQ(queue->downloadProgressTotalBytes(), 15000u);
  EXPECT_EQ(queue->downloadProgressBytes(), 15000u);
  ASSERT_FALSE(bar.values.empty());
  EXPECT_TRUE(std::is_sorted(bar.values.begin(), bar.values.end()));
  EXPECT_DOUBLE_EQ(bar.values.back(), 1.0);
  EXPECT_FALSE(bar.offMainThread);
}

TEST(NetworkQueue, APostWithAccurateProgressCountsItsBodyBeforeItRuns) {
  LoopbackServer server([](const RawRequest& r, ServerConnection& c) {
    c.respond(200, std::to_string(r.body.size()), {{"Connection", "close"}});
    c.close();
  });
  QueueRecorder recorder;
  RecordingBar bar;
  auto queue = recordedQueue(recorder);
  queue->setShowAccurateProgress(true);
  queue->setUploadProgressDelegate(&bar);
  auto post = get(server.url("/upload"));
  post->appendPostData(Bytes(200000, 'p'));
  queue->addOperation(post);
  EXPECT_TRUE(post->haveBuiltPostBody());
  EXPECT_EQ(queue->uploadProgressTotalBytes(), 200000u);
  EXPECT_EQ(queue->operationCount(), 1u);  // no HEAD for a POST
  queue->go();
  ASSERT_TRUE(spinMainLoopUntil([&] { return recorder.batchesDone > 0; }, 30))
      << "the upload did not finish";
  spinMainLoopFor(0.2);
  EXPECT_EQ(post->responseString(), "200000");
  ASSERT_FALSE(bar.values.empty());
  EXPECT_DOUBLE_EQ(bar.values.back(), 1.0);
  EXPECT_TRUE(std::is_sorted(bar.values.begin(), bar.values.end()));
}

TEST(NetworkQueue, AtMostFourRunAtOnceAndCancellingReportsEachOnce) {
  LoopbackServer server([](const RawRequest&, ServerConnection& c) { c.hold(); });
  QueueRecorder recorder;
  auto queue = recordedQueue(recorder);
  std::vector<std::shared_ptr<HTTPRequest>> requests;
  for (int i = 0; i < 6; ++i) {
    requests.push_back(get(server.url("/held/" + std::to_string(i))));
    requests.back()->setTimeOutSeconds(0);
    queue->addOperation(requests.back());
  }
  queue->go();
  ASSERT_TRUE(spinMainLoopUntil([&] { return server.requestCount() >= 4; }, 20))
      << "four requests did not arrive";
  spinMainLoopFor(0.5);
  EXPECT_EQ(server.requestCount(), 4u);
  EXPECT_TRUE(queue->isNetworkActive());
  queue->cancelAllOperations();
  ASSERT_TRUE(spinMainLoopUntil([&] { return recorder.batchesDone > 0; }, 20))
      << "the batch did not finish after cancelling";
  spinMainLoopFor(0.3);
  EXPECT_EQ(recorder.failed.size(), 6u);
  EXPECT_EQ(recorder.codes, std::vector<int>(6, 4));
  EXPECT_EQ(recorder.batchesDone, 1);
  EXPECT_EQ(queue->requestsCount(), 0);
  EXPECT_EQ(server.requestCount(), 4u);
}

TEST(NetworkQueue, TheFirstFailureCancelsTheRestAndTheBatchStillFinishes) {
  LoopbackServer server([](const RawRequest&, ServerConnection& c) { c.hold(); });
  QueueRecorder recorder;
  auto queue = recordedQueue(recorder);
  auto refused = get(closedLoopbackURL());
  queue->addOperation(refused);
  for (int i = 0; i < 4; ++i) {
    auto r = get(server.url("/held/" + std::to_string(i)));
    r->setTimeOutSeconds(0);
    queue->addOperation(r);
  }
  queue->go();
  ASSERT_TRUE(spinMainLoopUntil([&] { return recorder.batchesDone > 0; }, 30))
      << "the batch did not finish";
  spinMainLoopFor(0.3);
  ASSERT_EQ(recorder.failed.size(), 5u);
  EXPECT_EQ(recorder.failed.front(), refused.get());
  EXPECT_EQ(recorder.codes.front(), 1);
  EXPECT_EQ(std::count(recorder.codes.begin(), recorder.codes.end(), 4), 4);
  EXPECT_EQ(recorder.batchesDone, 1);
  EXPECT_EQ(queue->requestsCount(), 0);
}

TEST(NetworkQueue, ADelegateIsSentOnlyWhatItImplements) {
  LoopbackServer server(respondWithBody);
  class Silent : public NetworkQueueDelegate {
   public:
    bool respondsToSelector(const Selector&) const override { return false; }
    void performSelector(const Selector&, HTTPRequest&) override { ++calls; }
    void performSelector(const Selector&, NetworkQueue&) override { ++calls; }
    int calls = 0;
  } silent;
  auto queue = NetworkQueue::queue();
  queue->setDelegate(&silent);
  queue->setRequestDidFinishSelector("fetched:");
  queue->setQueueDidFinishSelector("batchDone:");
  auto request = get(server.url("/a"));
  queue->addOperation(request);
  queue->go();
  ASSERT_TRUE(spinMainLoopUntil([&] { return queue->requestsCount() == 0; }, 20));
  spinMainLoopFor(0.1);
  EXPECT_EQ(silent.calls, 0);
  EXPECT_EQ(request->responseString(), bodyOf("/a"));
}

TEST(NetworkQueue, AQueueThatGoesAwayDetachesItsRequests) {
  LoopbackServer server([](const RawRequest&, ServerConnection& c) { c.hold(); });
  RecordingDelegate own;
  auto queue = NetworkQueue::queue();
  queue->setMaxConcurrentOperationCount(1);
  auto running = get(server.url("/first"));
  running->setTimeOutSeconds(0);
  auto waiting = get(server.url("/second"));
  waiting->setDelegate(&own);
  queue->addOperation(running);
  queue->addOperation(waiting);
  EXPECT_NE(running->queue(), nullptr);
  queue->go();
  ASSERT_TRUE(spinMainLoopUntil([&] { return server.requestCount() == 1; }, 20));
  queue.reset();
  EXPECT_EQ(running->queue(), nullptr);
  EXPECT_EQ(waiting->queue(), nullptr);
  // The one that never started hears that it will not run.
  ASSERT_TRUE(spinMainLoopUntil([&] { return own.failed > 0; }, 10));
  EXPECT_EQ(own.codes, std::vector<int>{4});
  // The running one still ends normally when cancelled.
  running->cancel();
  ASSERT_TRUE(spinMainLoopUntil([&] { return running->isFinished(); }, 10));
  spinMainLoopFor(0.2);
  waiting->setDelegate(nullptr);
}

}  // namespace
}  // namespace glowsnap::test
