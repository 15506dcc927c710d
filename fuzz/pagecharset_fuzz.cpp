// Charset detection and conversion of pages. The body is the tail of the fuzz input, not
// followed by a zero byte or anything else, so a read past it is caught. The declared charset
// must come from the header or the first 1024 bytes; an undeclared page stays as it is and a
// UTF-8 page is what Qt's decoder reads, up to its first NUL.
#include "app/net/pagecharset.h"
#include "fuzz/fuzzinput.h"
#include "runtime/core/cp936codec.h"

#include <QString>

#include <algorithm>

using namespace pennaro;
using pennaro::fuzzing::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pennaro::fuzzing::FuzzInput input(data, size);
    HttpResponse response;
    response.contentType = input.field().toByteArray();
    const QByteArrayView tail = input.rest();
    response.body = QByteArray::fromRawData(tail.data(), tail.size());

    const QByteArray charset = declaredCharset(response);
    check(std::none_of(charset.begin(), charset.end(), [](char c) { return c >= 'A' && c <= 'Z'; }),
          "the charset is in lower case", {}, charset);
    HttpResponse headOnly;
    headOnly.contentType = response.contentType;
    const QByteArray fromHeader = declaredCharset(headOnly);
    if (!fromHeader.isEmpty()) {
        check(charset == fromHeader, "the header wins");
        check(response.contentType.toLower().contains(charset), "the header names the charset",
              response.contentType, charset);
    } else if (!charset.isEmpty()) {
        const QByteArray head =
            tail.first(std::min<qsizetype>(tail.size(), 1024)).toByteArray().toLower();
        check(head.contains(charset) || (charset == "utf-8" && head.contains("utf-16")),
              "a meta tag in the first 1024 bytes names the charset", head, charset);
    }

    const Bytes page = pageBytesInListCodePage(response);
    if (charset.isEmpty()) {
        check(page == tail, "an undeclared page stays as it is");
    } else if (charset == "utf-8" || charset == "utf8") {
        const qsizetype nul = tail.indexOf('\0');
        const QByteArray expected =
            Cp936Codec::encode(QString::fromUtf8(nul < 0 ? tail : tail.first(nul)));
        check(page == expected, "a UTF-8 page is Qt's reading of it", expected, page);
    } else if (page != tail) {
        check(!page.contains('\0'), "a converted page holds no zero byte", {}, page);
    }
    return 0;
}
