#pragma once

#include "app/net/httpclient.h"

namespace pennaro {

// The charset a response declares: the Content-Type header's, else that of a <meta charset> or
// <meta http-equiv="Content-Type"> in the first 1024 bytes of the body; lower case, "" for none.
QByteArray declaredCharset(const HttpResponse& response);

// The body in the list's code page. A page that declares a charset outside the GBK family is
// converted from it (characters that code page 936 lacks take their GB18030 four-byte forms);
// an undeclared page, a GBK one, or one in a charset the system cannot convert stays as it is.
// A converted page ends where its text holds a NUL, as a raw page ends at a zero byte.
Bytes pageBytesInListCodePage(const HttpResponse& response);

} // namespace pennaro
