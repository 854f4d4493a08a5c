// The driver's two failure messages, written as the console can show them.
//
// The texts are Chinese.  A Windows console is given them as characters,
// through its Unicode interface, so that it shows them whatever its code page.
// Anywhere else they are bytes: Big5 (code page 950) on Windows, and on other
// hosts too unless the locale names a UTF-8 codeset, in which case UTF-8.
#ifndef APP_MESSAGES_H_
#define APP_MESSAGES_H_

enum class Failure {
  OPEN,   // "開檔失敗: " -- the file could not be opened.
  WRITE,  // "寫檔失敗: " -- the file could not be written.
};

// Writes the message for |failure|, then |path| and the end of the line, to
// standard output, after whatever the stream already holds.
void report(Failure failure, const char* path);

// Whether the locale that governs character types names a UTF-8 codeset.  As
// in POSIX, the first of LC_ALL, LC_CTYPE and LANG that is set and not empty
// decides; any of them may be null.
bool locale_uses_utf8(const char* lc_all, const char* lc_ctype, const char* lang);

#endif  // APP_MESSAGES_H_
