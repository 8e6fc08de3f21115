// Every test process of this area gets a program folder of its own, so the
// settings file and the visitor cookies it keeps are never shared with a
// test running beside it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/sandbox.h"

namespace korvid {
namespace {

class OwnProgramFolder final : public ::testing::Environment {
 public:
  void SetUp() override {
    m_folder = test::TestWorkDir() / ("site-home-" + std::to_string(::getpid()));
    std::error_code error;
    std::filesystem::remove_all(m_folder, error);
    std::filesystem::create_directories(m_folder, error);
    ASSERT_FALSE(error) << m_folder;
    ASSERT_EQ(::setenv("KORVID_HOME", m_folder.c_str(), 1), 0);
  }
  void TearDown() override {
    std::error_code error;
    std::filesystem::remove_all(m_folder, error);
  }

 private:
  std::filesystem::path m_folder;
};

[[maybe_unused]] const auto* const kOwnProgramFolder =
    ::testing::AddGlobalTestEnvironment(new OwnProgramFolder);

}  // namespace
}  // namespace korvid
