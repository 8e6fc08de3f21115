#include "transfer/stream_downloader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/closed_port.h"
#include "support/fakesite/fake_site.h"
#include "support/sandbox.h"
#include "transfer/speed_sampler.h"

namespace korvid {
namespace {

using fakesite::CannedReply;
using fakesite::FakeSite;
using fakesite::Fault;

constexpr const char* kBlobPath = "/bulk/blob.bin";
constexpr std::size_t kBlobSize = 3 * 1024 * 1024 + 123;
constexpr const char* kHeaderBlock =
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64; rv:46.0) Gecko/20100101 Firefox/46.0\r\n"
    "Accept:text/html,*/*;q=0.8\r\n"
    "referer: https://www.example.test/";

std::string Blob(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 4096) % 251);
  return bytes;
}

using test::ClosedPort;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Reports as they arrive, each with the moment it arrived.
class ReportLog {
 public:
  ProgressHandler Handler() {
    return [this](const ProgressReport& report) {
      std::lock_guard guard(m_mutex);
      m_reports.push_back(report);
      m_arrivals.push_back(NowMs());
    };
  }
  std::vector<ProgressReport> Reports() const {
    std::lock_guard guard(m_mutex);
    return m_reports;
  }
  std::vector<int> Kinds() const {
    std::vector<int> kinds;
    for (const auto& report : Reports()) kinds.push_back(report.kind);
    return kinds;
  }
  std::vector<std::int64_t> Arrivals() const {
    std::lock_guard guard(m_mutex);
    return m_arrivals;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<ProgressReport> m_reports;
  std::vector<std::int64_t> m_arrivals;
};

class StreamDownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_site.Start());
    CannedReply reply;
    reply.contentType = "application/octet-stream";
    reply.body = m_blob;
    m_site.SetCanned("GET", kBlobPath, reply);
  }

  std::string BlobUrl() const { return m_site.BaseUrl() + kBlobPath; }

  // Runs one transfer to its end; false when the completion event did not
  // come within the bound.
  bool Run(const std::string& url, const std::string& target,
           const std::string& headers = kHeaderBlock) {
    StreamDownloader::Request request;
    request.url = url;
    request.targetPath = target;
    request.headerBlock = headers;
    request.handler = m_log.Handler();
    request.userValue = 7;
    request.done = &m_done;
    m_started = m_downloader.StartTransfer(std::move(request));
    return m_done.WaitFor(20000);
  }

  FakeSite m_site;
  test::Sandbox m_sandbox;
  const std::string m_blob = Blob(kBlobSize);
  ReportLog m_log;
  CompletionEvent m_done;
  StreamDownloader m_downloader;
  bool m_started = false;
};

TEST_F(StreamDownloaderTest, WholeBodyOverLongerOldFileReportsInOrderAndSendsTheHeaderBlock) {
  m_site.SetFault(kBlobPath, Fault::Throttle(3 * 1024 * 1024));
  const auto target = m_sandbox / "media.mp4";
  ASSERT_TRUE(m_sandbox.WriteFile("media.mp4", std::string(kBlobSize + 5000, 'x')));

  ASSERT_TRUE(Run(BlobUrl(), target.string()));
  EXPECT_TRUE(m_started);
  const TransferOutcome outcome = m_downloader.Outcome();
  EXPECT_TRUE(outcome.Complete());
  EXPECT_EQ(outcome.received, static_cast<std::int64_t>(kBlobSize));
  EXPECT_EQ(test::ReadWholeFile(target), m_blob);  // the old tail is gone

  const auto reports = m_log.Reports();
  ASSERT_GE(reports.size(), 3u);
  EXPECT_EQ(reports.front().kind, kReportStarted);
  EXPECT_EQ(reports.front().received, 0);
  EXPECT_EQ(reports.back().kind, kReportEnded);
  EXPECT_EQ(reports.back().received, reports.back().total);
  EXPECT_FLOAT_EQ(reports.back().fraction, 1.0F);
  EXPECT_GT(reports.back().speed, 0.0F);
  std::int64_t previous = 0;
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].userValue, 7);
    EXPECT_EQ(reports[i].targetPath, target.string());
    EXPECT_EQ(reports[i].total, static_cast<std::int64_t>(kBlobSize));
    EXPECT_EQ(reports[i].remaining, reports[i].total - reports[i].received);
    EXPECT_GE(reports[i].received, previous);
    previous = reports[i].received;
    if (i > 0 && i + 1 < reports.size()) {
      EXPECT_EQ(reports[i].kind, kReportProgress);
    }
  }
  // The first periodic report comes about half a second after the start.
  ASSERT_EQ(reports[1].kind, kReportProgress);
  const auto arrivals = m_log.Arrivals();
  EXPECT_GE(arrivals[1] - arrivals[0], 450);
  EXPECT_LE(arrivals[1] - arrivals[0], 1500);
  EXPECT_GE(reports[1].elapsedMs, 450);

  const auto requests = m_site.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("User-Agent"),
            "Mozilla/5.0 (Windows NT 6.1; WOW64; rv:46.0) Gecko/20100101 Firefox/46.0");
  EXPECT_EQ(requests[0].Header("Accept"), "text/html,*/*;q=0.8");
  EXPECT_EQ(requests[0].Header("referer"), "https://www.example.test/");
  EXPECT_EQ(requests[0].Header("Range"), "bytes=0-");
  EXPECT_FALSE(requests[0].HasHeader("Cookie"));
}

TEST_F(StreamDownloaderTest, WithoutContentLengthTotalStaysZeroUntilACleanEnd) {
  Fault chunked = Fault::Chunked();
  chunked.throttleBytesPerSecond = 3 * 1024 * 1024;
  m_site.SetFault(kBlobPath, chunked);
  const auto target = m_sandbox / "chunked.bin";

  ASSERT_TRUE(Run(BlobUrl(), target.string(), ""));
  const auto reports = m_log.Reports();
  ASSERT_GE(reports.size(), 3u);
  for (std::size_t i = 0; i + 1 < reports.size(); ++i) {
    EXPECT_EQ(reports[i].total, 0);
    EXPECT_EQ(reports[i].remaining, 0);
    EXPECT_EQ(reports[i].fraction, 0.0F);
  }
  EXPECT_GT(reports[reports.size() - 2].received, 0);
  // Only the clean end of the body tells that it is whole.
  EXPECT_EQ(reports.back().total, static_cast<std::int64_t>(kBlobSize));
  EXPECT_TRUE(m_downloader.Outcome().Complete());
  EXPECT_EQ(test::ReadWholeFile(target), m_blob);
  EXPECT_EQ(m_site.Requests().at(0).Header("User-Agent"), StreamDownloader::kDefaultAgent);
}

// Reads a FIFO on a thread of its own until `expected` bytes came or the
// time is up. Opened read-write, so the transfer's open never waits for it.
class FifoReader {
 public:
  FifoReader(const std::filesystem::path& path, std::size_t expected) {
    if (::mkfifo(path.c_str(), 0600) != 0) return;
    m_fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fd >= 0) m_thread = std::thread([this, expected] { Drain(expected); });
  }
  ~FifoReader() {
    if (m_thread.joinable()) m_thread.join();
    if (m_fd >= 0) ::close(m_fd);
  }
  FifoReader(const FifoReader&) = delete;
  FifoReader& operator=(const FifoReader&) = delete;

  std::string Bytes() {
    if (m_thread.joinable()) m_thread.join();
    return m_bytes;
  }

 private:
  void Drain(std::size_t expected) {
    const auto deadline = NowMs() + 20000;
    char buffer[64 * 1024];
    while (m_bytes.size() < expected && NowMs() < deadline) {
      pollfd wait{m_fd, POLLIN, 0};
      if (::poll(&wait, 1, 100) <= 0) continue;
      const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
      if (n > 0) m_bytes.append(buffer, static_cast<std::size_t>(n));
    }
  }

  int m_fd = -1;
  std::thread m_thread;
  std::string m_bytes;
};

// Whatever the pieces libcurl hands over and whatever the target, the body
// arrives whole; only a regular file is cut at the end.
TEST_F(StreamDownloaderTest, EveryKindOfTargetGetsTheWholeBody) {
  enum class Target { kFile, kDevNull, kFifo };
  struct Case {
    std::string name;
    Target target;
    std::int64_t throttle;  // bytes per second; 0: loopback speed, large pieces
  };
  const std::vector<Case> cases = {
      {.name = "file at full speed", .target = Target::kFile, .throttle = 0},
      {.name = "file in small pieces", .target = Target::kFile, .throttle = 6 * 1024 * 1024},
      {.name = "/dev/null", .target = Target::kDevNull, .throttle = 0},
      {.name = "fifo", .target = Target::kFifo, .throttle = 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.throttle > 0) m_site.SetFault(kBlobPath, Fault::Throttle(c.throttle));
    const auto file = m_sandbox / ("target-" + std::to_string(&c - cases.data()));
    if (c.target == Target::kFile) {
      ASSERT_TRUE(m_sandbox.WriteFile(file.filename(), "old"));
    }
    std::optional<FifoReader> fifo;
    if (c.target == Target::kFifo) fifo.emplace(file, kBlobSize);
    const std::string target = c.target == Target::kDevNull ? "/dev/null" : file.string();

    StreamDownloader downloader;
    CompletionEvent done;
    StreamDownloader::Request request;
    request.url = BlobUrl();
    request.targetPath = target;
    request.done = &done;
    ASSERT_TRUE(downloader.StartTransfer(std::move(request)));
    ASSERT_TRUE(done.WaitFor(20000));
    const TransferOutcome outcome = downloader.Outcome();
    EXPECT_EQ(outcome.error, TransferError::kNone);
    EXPECT_TRUE(outcome.Complete());
    EXPECT_EQ(outcome.received, static_cast<std::int64_t>(kBlobSize));
    if (c.target == Target::kFile) {
      EXPECT_TRUE(test::ReadWholeFile(file) == m_blob);
    }
    if (fifo) {
      EXPECT_TRUE(fifo->Bytes() == m_blob);
    }
    m_site.ClearFaults();
  }
}

struct FailureCase {
  const char* name;
  std::function<std::string(FakeSite&)> prepare;  // returns the URL
  TransferError error;
  bool started;
  std::vector<int> kinds;
  std::int64_t fileBytes;  // -1: the old file stays untouched
};

class StreamDownloaderFailure : public StreamDownloaderTest,
                                public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StreamDownloaderFailure, EndsWithTheEventAndKeepsWhatArrived) {
  const FailureCase& param = GetParam();
  const auto target = m_sandbox / "target.bin";
  const std::string old = "older file";
  ASSERT_TRUE(m_sandbox.WriteFile("target.bin", old));

  ASSERT_TRUE(Run(param.prepare(m_site), target.string()));
  const TransferOutcome outcome = m_downloader.Outcome();
  EXPECT_EQ(outcome.error, param.error);
  EXPECT_EQ(outcome.started, param.started);
  EXPECT_FALSE(outcome.Complete());
  EXPECT_EQ(m_log.Kinds(), param.kinds);
  const std::string file = test::ReadWholeFile(target);
  if (param.fileBytes < 0) {
    EXPECT_EQ(file, old);
  } else {
    EXPECT_EQ(file, m_blob.substr(0, static_cast<std::size_t>(param.fileBytes)));
    EXPECT_EQ(outcome.received, param.fileBytes);
    EXPECT_EQ(m_log.Reports().back().received, param.fileBytes);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamDownloaderFailure,
    ::testing::Values(FailureCase{"DroppedMidBody",
                                  [](FakeSite& site) {
                                    site.SetFault(kBlobPath, Fault::DropAfter(1024 * 1024 + 17));
                                    return site.BaseUrl() + kBlobPath;
                                  },
                                  TransferError::kRead,
                                  true,
                                  {kReportStarted, kReportReadFailed, kReportEnded},
                                  1024 * 1024 + 17},
                      FailureCase{"UnreachableHost",
                                  [](FakeSite&) {
                                    return "http://127.0.0.1:" + std::to_string(ClosedPort()) +
                                           "/x.bin";
                                  },
                                  TransferError::kConnect,
                                  false,
                                  {},
                                  -1},
                      FailureCase{"NotFound",
                                  [](FakeSite& site) {
                                    site.SetFault(kBlobPath, Fault::Status(404));
                                    return site.BaseUrl() + kBlobPath;
                                  },
                                  TransferError::kHttpStatus,
                                  false,
                                  {},
                                  -1},
                      FailureCase{"ForbiddenWithEmptyBody",
                                  [](FakeSite& site) {
                                    CannedReply reply;
                                    reply.status = 403;
                                    site.SetCanned("GET", "/bulk/none.bin", reply);
                                    return site.BaseUrl() + "/bulk/none.bin";
                                  },
                                  TransferError::kHttpStatus,
                                  false,
                                  {},
                                  -1},
                      FailureCase{"EmptyBody",
                                  [](FakeSite& site) {
                                    site.SetCanned("GET", "/bulk/empty.bin", CannedReply{});
                                    return site.BaseUrl() + "/bulk/empty.bin";
                                  },
                                  TransferError::kNoData,
                                  false,
                                  {},
                                  -1},
                      FailureCase{"EmptyAddress",
                                  [](FakeSite&) { return std::string(); },
                                  TransferError::kNotStarted,
                                  false,
                                  {},
                                  -1}),
    [](const auto& instance) { return instance.param.name; });

TEST_F(StreamDownloaderTest, StopTransferEndsPromptlyWithTheEndReport) {
  m_site.SetFault(kBlobPath, Fault::Throttle(200 * 1024));
  const auto target = m_sandbox / "slow.bin";
  StreamDownloader::Request request;
  request.url = BlobUrl();
  request.targetPath = target.string();
  request.handler = m_log.Handler();
  request.done = &m_done;
  ASSERT_TRUE(m_downloader.StartTransfer(std::move(request)));
  ASSERT_TRUE(test::WaitFor([&] { return !m_log.Kinds().empty(); }, 10000));

  const auto before = NowMs();
  m_downloader.StopTransfer();
  EXPECT_LT(NowMs() - before, 2000);
  EXPECT_TRUE(m_done.WaitFor(0));
  const TransferOutcome outcome = m_downloader.Outcome();
  EXPECT_EQ(outcome.error, TransferError::kCancelled);
  EXPECT_EQ(m_log.Kinds().back(), kReportEnded);
  EXPECT_EQ(test::ReadWholeFile(target),
            m_blob.substr(0, static_cast<std::size_t>(outcome.received)));
}

TEST_F(StreamDownloaderTest, ElapsedTimeComesFromTheInjectedClock) {
  std::atomic<std::int64_t> now{10'000};
  StreamDownloader downloader({}, [&] { return now.load(); });
  ReportLog log;
  CompletionEvent done;
  StreamDownloader::Request request;
  request.url = BlobUrl();
  request.targetPath = (m_sandbox / "clock.bin").string();
  request.handler = [&](const ProgressReport& report) {
    log.Handler()(report);
    now += 3400;  // every report is seen 3.4 s after the one before
  };
  request.done = &done;
  ASSERT_TRUE(downloader.StartTransfer(std::move(request)));
  ASSERT_TRUE(done.WaitFor(20000));
  const auto reports = log.Reports();
  ASSERT_GE(reports.size(), 2u);
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].elapsedMs, static_cast<int>(i) * 3400);
  }
}

TEST(SpeedSampler, AveragesTheFilledSamplesAndThenOnlyTheLastSixty) {
  SpeedSampler sampler;
  EXPECT_EQ(sampler.AverageSpeed(), 0.0F);
  sampler.AddSample(10.0F);
  sampler.AddSample(20.0F);
  EXPECT_FLOAT_EQ(sampler.AverageSpeed(), 15.0F);
  for (int i = 3; i <= 60; ++i) sampler.AddSample(static_cast<float>(i * 10));
  EXPECT_FLOAT_EQ(sampler.AverageSpeed(), 305.0F);  // 10..600
  for (int i = 61; i <= 90; ++i) sampler.AddSample(static_cast<float>(i * 10));
  EXPECT_FLOAT_EQ(sampler.AverageSpeed(), 605.0F);  // 310..900
}

}  // namespace
}  // namespace korvid
