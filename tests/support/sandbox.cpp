#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <thread>

namespace korvid::test {

namespace {

std::string CurrentTestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) {
    return "no-test";
  }
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    // Parameterised tests carry '/' in their names.
    if (c == '/' || c == '\\' || c == ':' || c == ' ') {
      c = '_';
    }
  }
  return name;
}

}  // namespace

std::filesystem::path TestWorkDir() {
  std::filesystem::path dir = KORVID_TEST_WORK_DIR;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return dir;
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return {};
  }
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

Sandbox::Sandbox() {
  static std::atomic<int> counter{0};
  const std::string leaf = CurrentTestName() + "-" + std::to_string(::getpid()) + "-" +
                           std::to_string(counter.fetch_add(1));
  m_path = TestWorkDir() / "sandbox" / leaf;
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
  std::filesystem::create_directories(m_path, ec);
}

Sandbox::~Sandbox() {
  if (m_keep) {
    return;
  }
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::filesystem::path Sandbox::operator/(const std::filesystem::path& relative) const {
  return m_path / relative;
}

bool Sandbox::WriteFile(const std::filesystem::path& relative, const std::string& bytes) const {
  const std::filesystem::path target = m_path / relative;
  std::error_code ec;
  std::filesystem::create_directories(target.parent_path(), ec);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!out) {
    return false;
  }
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string Sandbox::ReadFile(const std::filesystem::path& relative) const {
  return ReadWholeFile(m_path / relative);
}

bool WaitFor(const std::function<bool()>& predicate, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return predicate();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace korvid::test
