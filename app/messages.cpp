#include "app/messages.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

bool console_uses_utf8() {
#ifdef _WIN32
  // The console's code page is the user's business; the texts stay Big5.
  return false;
#else
  return locale_uses_utf8(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
#endif
}

const char* in_console_encoding(const char* big5, const char* utf8) {
  return console_uses_utf8() ? utf8 : big5;
}

bool equals_ignoring_case(const char* text, std::size_t length, const char* word) {
  if (length != std::strlen(word)) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
  }
  return true;
}

}  // namespace

const char* open_failed_message() {
  return in_console_encoding("\xB6\x7D\xC0\xC9\xA5\xA2\xB1\xD1: ",
                             "\xE9\x96\x8B\xE6\xAA\x94\xE5\xA4\xB1\xE6\x95\x97: ");
}

const char* write_failed_message() {
  return in_console_encoding("\xBC\x67\xC0\xC9\xA5\xA2\xB1\xD1: ",
                             "\xE5\xAF\xAB\xE6\xAA\x94\xE5\xA4\xB1\xE6\x95\x97: ");
}

bool locale_uses_utf8(const char* lc_all, const char* lc_ctype, const char* lang) {
  const char* const variables[] = {lc_all, lc_ctype, lang};
  const auto* const locale =
      std::find_if(std::begin(variables), std::end(variables),
                   [](const char* value) { return value != nullptr && *value != '\0'; });
  if (locale == std::end(variables)) return false;

  // language[_territory][.codeset][@modifier]
  const char* codeset = std::strchr(*locale, '.');
  if (codeset == nullptr) return false;
  ++codeset;
  const std::size_t length = std::strcspn(codeset, "@");
  return equals_ignoring_case(codeset, length, "utf-8") ||
         equals_ignoring_case(codeset, length, "utf8");
}
