#include "app/messages.h"

#include <gtest/gtest.h>

namespace {

TEST(LocaleUsesUtf8Test, FirstSetVariableNamesTheCodeset) {
  const struct {
    const char* lc_all;
    const char* lc_ctype;
    const char* lang;
    bool utf8;
  } cases[] = {
      {nullptr, nullptr, nullptr, false},
      {nullptr, nullptr, "C.UTF-8", true},
      {nullptr, nullptr, "en_US.utf8", true},
      {nullptr, nullptr, "zh_TW.UTF-8@radical", true},
      {nullptr, nullptr, "zh_TW.Big5", false},
      {nullptr, nullptr, "C", false},
      {nullptr, nullptr, "POSIX", false},
      {nullptr, nullptr, "en_US.UTF-16", false},
      {nullptr, nullptr, "en_US.UTF-8x", false},
      {nullptr, nullptr, "UTF-8", false},
      {nullptr, "C.UTF-8", "zh_TW.Big5", true},
      {nullptr, "zh_TW.Big5", "C.UTF-8", false},
      {"C", "C.UTF-8", "C.UTF-8", false},
      {"en_GB.UTF-8", "C", "C", true},
      {"", "", "C.UTF-8", true},
      {"", "C", "C.UTF-8", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(locale_uses_utf8(c.lc_all, c.lc_ctype, c.lang), c.utf8)
        << "LC_ALL=" << (c.lc_all ? c.lc_all : "(unset)")
        << " LC_CTYPE=" << (c.lc_ctype ? c.lc_ctype : "(unset)")
        << " LANG=" << (c.lang ? c.lang : "(unset)");
  }
}

}  // namespace
