#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

// Small helpers over the SQLite C interface, shared by the stores of 任务.db.
namespace korvid::sqlite {

// A prepared statement, finalised when it goes away.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) m_stmt = nullptr;
  }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  [[nodiscard]] bool Ok() const { return m_stmt != nullptr; }
  void Bind(int index, std::string_view text) {
    sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Bind(int index, std::int64_t value) { sqlite3_bind_int64(m_stmt, index, value); }
  // Runs a statement that returns no rows and makes it ready for new values.
  [[nodiscard]] bool Run() {
    const int result = sqlite3_step(m_stmt);
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    return result == SQLITE_DONE;
  }
  [[nodiscard]] int Step() { return sqlite3_step(m_stmt); }
  // Makes a stepped statement ready for new values.
  void Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
  }
  [[nodiscard]] std::string Text(int column) const {
    const auto* text = sqlite3_column_text(m_stmt, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)))
                : std::string();
  }
  [[nodiscard]] std::int64_t Int(int column) const { return sqlite3_column_int64(m_stmt, column); }

 private:
  sqlite3_stmt* m_stmt = nullptr;
};

inline bool Exec(sqlite3* db, const char* sql, std::string* why = nullptr) {
  char* message = nullptr;
  const int result = sqlite3_exec(db, sql, nullptr, nullptr, &message);
  if (result != SQLITE_OK && why) *why = message ? message : sqlite3_errstr(result);
  sqlite3_free(message);
  return result == SQLITE_OK;
}

}  // namespace korvid::sqlite
