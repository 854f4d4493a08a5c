#include "app/messages.h"

#ifdef _WIN32
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iostream>
#include <iterator>

namespace {

struct Text {
  const char* big5;
  const char* utf8;
  // Read only where a console takes characters: Windows.
  // cppcheck-suppress unusedStructMember
  const wchar_t* utf16;
};

// Each text in Big5, in UTF-8 and as UTF-16 characters.
constexpr Text OPEN_FAILED = {
    "\xB6\x7D\xC0\xC9\xA5\xA2\xB1\xD1: ",
    "\xE9\x96\x8B\xE6\xAA\x94\xE5\xA4\xB1\xE6\x95\x97: ",
    L"\u958B\u6A94\u5931\u6557: ",
};
constexpr Text WRITE_FAILED = {
    "\xBC\x67\xC0\xC9\xA5\xA2\xB1\xD1: ",
    "\xE5\xAF\xAB\xE6\xAA\x94\xE5\xA4\xB1\xE6\x95\x97: ",
    L"\u5BEB\u6A94\u5931\u6557: ",
};

#ifdef _WIN32
// Bytes written to a console are read in its code page, where Big5 is noise
// unless that is 950; characters are shown as themselves.  The code page is
// the user's business, so it is neither set nor asked for.  False, with
// nothing written, where standard output is not a console or the console
// will not take the text.
bool write_to_console(const wchar_t* text) {
  const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (console == nullptr || console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) {
    return false;
  }
  std::cout.flush();
  const auto length = static_cast<DWORD>(std::wcslen(text));
  DWORD written = 0;
  return WriteConsoleW(console, text, length, &written, nullptr) != 0;
}
#endif

bool console_uses_utf8() {
#ifdef _WIN32
  // Not a console: the bytes stay Big5, which a caller or a stored log may
  // rely on.
  return false;
#else
  return locale_uses_utf8(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
#endif
}

bool equals_ignoring_case(const char* text, std::size_t length, const char* word) {
  if (length != std::strlen(word)) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
  }
  return true;
}

}  // namespace

void report(Failure failure, const char* path) {
  const Text& text = failure == Failure::OPEN ? OPEN_FAILED : WRITE_FAILED;
#ifdef _WIN32
  const bool written = write_to_console(text.utf16);
#else
  const bool written = false;
#endif
  if (!written) std::cout << (console_uses_utf8() ? text.utf8 : text.big5);
  // The path is ASCII, like the rest of the console's text.
  std::cout << path << std::endl;
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
