#pragma once

#include "runtime/core/textdefs.h"

#include <functional>

namespace pennaro {

// The forum name as the value of a query key: its UTF-8 bytes, each either as itself (only with
// keepPlain, and only for , - . / 0-9 A-Z a-z) or as "%" and two upper-case hex digits.
// pumpEvents, when set, runs after every byte so that the window stays responsive.
Text encodeForumName(QByteArrayView name, bool keepPlain,
                     const std::function<void()>& pumpEvents = {});

// The UTF-8 form of a code page 936 text.
Text gbkToUtf8(QByteArrayView text);

// Code pages 936 and 65001. UTF-16LE units followed by one zero unit; empty for a code page
// that is not served.
Bytes ansiToUtf16(QByteArrayView text, int codePage);

// UTF-16LE units up to the first zero unit, encoded in code page 936 or 65001; empty for a code
// page that is not served.
Text utf16ToMultiByte(QByteArrayView utf16, int codePage);

} // namespace pennaro
