#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/http_client.h"
#include "support/fakesite/fake_site.h"

namespace korvid {
namespace {

using fakesite::FakeSite;
using fakesite::Fault;

// The requests of the site code: each makes its own handle, as the site
// client's calls do.
class ConnectionReuseTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_site.Start()); }

  [[nodiscard]] bool Get(const std::string& path) {
    const HttpResponse answer = HttpRequest(m_site.BaseUrl() + path);
    return answer.Completed() && answer.status == 200;
  }
  [[nodiscard]] int ConnectionsUsed(const std::string& path) const {
    std::set<int> used;
    for (const auto& request : m_site.Requests()) {
      if (request.path == path) used.insert(request.connection);
    }
    return static_cast<int>(used.size());
  }

  FakeSite m_site;
};

struct ReuseCase {
  std::string name;
  int workers;
  int requestsEach;
  int mostConnections;  // the server closes a connection after 100 requests
};

class ConnectionReuse : public ConnectionReuseTest,
                        public ::testing::WithParamInterface<ReuseCase> {};

TEST_P(ConnectionReuse, ManyRequestsToOneHostShareOneConnectionPerWorker) {
  const ReuseCase& c = GetParam();
  std::atomic<int> failures{0};
  std::vector<std::thread> workers;
  for (int worker = 0; worker < c.workers; ++worker) {
    workers.emplace_back([&] {
      for (int i = 0; i < c.requestsEach; ++i) {
        if (!Get("/x/web-interface/view?bvid=BV1Ks411D7aa")) ++failures;
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(failures, 0);
  EXPECT_LE(m_site.AcceptedConnections(), c.mostConnections);
  EXPECT_GE(m_site.AcceptedConnections(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectionReuse,
    ::testing::Values(
        ReuseCase{.name = "OneWorker", .workers = 1, .requestsEach = 60, .mostConnections = 1},
        ReuseCase{.name = "FourWorkers", .workers = 4, .requestsEach = 20, .mostConnections = 4},
        // Connections the server closed after 100 requests are replaced.
        ReuseCase{.name = "PastTheServersLimit",
                  .workers = 1,
                  .requestsEach = 250,
                  .mostConnections = 3}),
    [](const ::testing::TestParamInfo<ReuseCase>& instance) { return instance.param.name; });

TEST_F(ConnectionReuseTest, AConnectionThatBrokeOffIsNotUsedAgain) {
  ASSERT_TRUE(Get("/x/web-interface/view?bvid=BV1Ks411D7aa"));
  m_site.SetFault("/x/web-interface/view", Fault::DropAfter(10));
  EXPECT_FALSE(Get("/x/web-interface/view?bvid=BV1Ks411D7aa"));
  m_site.ClearFaults();
  EXPECT_TRUE(Get("/x/web-interface/view?bvid=BV1Ks411D7aa"));
  EXPECT_EQ(ConnectionsUsed("/x/web-interface/view"), 2);
}

}  // namespace
}  // namespace korvid
