#include "net/text_codec.h"

#include "net/text_width.h"

#include <iconv.h>

#include <cerrno>

#include "net/http_text.h"

namespace korvid {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

std::string IconvName(std::string_view charset) {
  std::string name = Trim(charset);
  if (EqualsIgnoreCase(name, "gbk") || EqualsIgnoreCase(name, "gb2312") ||
      EqualsIgnoreCase(name, "cp936") || EqualsIgnoreCase(name, "x-gbk")) {
    return "GB18030";
  }
  return name;
}

class Converter {
 public:
  explicit Converter(std::string_view charset)
      : m_handle(iconv_open("UTF-8", IconvName(charset).c_str())) {}
  ~Converter() {
    if (Valid()) iconv_close(m_handle);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // (iconv_t)-1 is how iconv_open reports a failure.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  [[nodiscard]] bool Valid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }

  [[nodiscard]] std::optional<std::string> Convert(std::string_view bytes, bool lossy) {
    std::string output;
    char buffer[4096];
    // iconv takes a non-const input pointer but never writes through it.
    char* input = const_cast<char*>(bytes.data());
    std::size_t inputLeft = bytes.size();
    while (true) {
      char* out = buffer;
      std::size_t outLeft = sizeof buffer;
      const bool flushing = inputLeft == 0;
      const std::size_t result = flushing ? iconv(m_handle, nullptr, nullptr, &out, &outLeft)
                                          : iconv(m_handle, &input, &inputLeft, &out, &outLeft);
      const int error = errno;
      output.append(buffer, static_cast<std::size_t>(out - buffer));
      if (result != static_cast<std::size_t>(-1)) {
        if (flushing) return output;
        continue;
      }
      if (error == E2BIG) continue;
      if (!lossy) return std::nullopt;
      // EILSEQ, or EINVAL for a sequence cut off at the end: skip one byte.
      output += kReplacementCharacter;
      if (inputLeft == 0) return output;
      ++input;
      --inputLeft;
    }
  }

 private:
  iconv_t m_handle;
};

std::optional<std::string> Decode(std::string_view bytes, std::string_view charset, bool lossy) {
  Converter converter(charset);
  if (!converter.Valid()) return std::nullopt;
  return converter.Convert(bytes, lossy);
}

}  // namespace

std::optional<std::string> DecodeToUtf8(std::string_view bytes, std::string_view charset) {
  return Decode(bytes, charset, false);
}

std::optional<std::string> DecodeToUtf8Lossy(std::string_view bytes, std::string_view charset) {
  return Decode(bytes, charset, true);
}

std::optional<std::string> GbkToUtf8(std::string_view bytes) {
  return DecodeToUtf8(bytes, "gbk");
}

}  // namespace korvid
