// The driver's two failure messages, in the encoding of the host's console.
//
// The texts are Chinese.  A Windows console gets them as Big5 (code page 950)
// bytes, as does any other host unless its locale names a UTF-8 codeset, in
// which case they are written as UTF-8.
#ifndef APP_MESSAGES_H_
#define APP_MESSAGES_H_

// "開檔失敗: " -- the listing file could not be opened.
const char* open_failed_message();

// "寫檔失敗: " -- the listing file could not be written.
const char* write_failed_message();

// Whether the locale that governs character types names a UTF-8 codeset.  As
// in POSIX, the first of LC_ALL, LC_CTYPE and LANG that is set and not empty
// decides; any of them may be null.
bool locale_uses_utf8(const char* lc_all, const char* lc_ctype, const char* lang);

#endif  // APP_MESSAGES_H_
