// Display of texts kept in a Windows code page: the manager's texts with Han characters
// are stored as GBK (code page 936) bytes, one line as Big5 (code page 950); the dialogs
// show UTF-8.
#pragma once

#include <string>

// Converts `bytes` from the code page named for iconv ("CP936", "CP950") to UTF-8. Bytes
// that do not convert are shown as "?", so a damaged text still shows.
std::string CodePageToUtf8(const std::string& bytes, const char* codePage);
