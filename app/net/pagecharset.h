#pragma once

#include "app/net/httpclient.h"

namespace pennaro {

// The charset a response declares, in lower case, "" for none: the charset parameter of its
// Content-Type header, else that of the first <meta charset> or <meta http-equiv=
// "Content-Type" content="...; charset=..."> that lies wholly in the first 1024 bytes of the
// body. A meta tag naming UTF-16 means UTF-8, as in browsers: an ASCII-readable tag cannot
// stand in a UTF-16 page.
QByteArray declaredCharset(const HttpResponse& response);

// The body in the list's code page. A page that declares a charset outside the GBK family is
// converted from it, with GB18030 four-byte forms for characters that code page 936 lacks and
// U+FFFD for bytes that are not valid in that charset. An undeclared page, a GBK-family one
// and one in a charset the system does not know stay as they are. A converted page ends at
// its first NUL character, just where a raw page's text ends at its first zero byte.
Bytes pageBytesInListCodePage(const HttpResponse& response);

} // namespace pennaro
