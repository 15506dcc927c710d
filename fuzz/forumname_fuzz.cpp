// encodeForumName: percent-decoding the value gives the UTF-8 of the name (iconv's, where iconv
// reads the whole name as code page 936), that UTF-8 leads back to the very same name, and the
// value holds only what a query value may hold.
#include "fuzz/fuzzinput.h"
#include "runtime/core/cp936codec.h"
#include "text/forumname.h"

#include <QString>

#include <iconv.h>

using namespace pennaro;
using pennaro::fuzzing::check;

namespace {

bool plainByte(char c) {
    return c == ',' || c == '-' || c == '.' || c == '/' || (c >= '0' && c <= '9') ||
           (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1; // lower-case digits are not written
}

// The name in UTF-8 as iconv reads code page 936; false where it does not read all of it.
bool iconvUtf8(QByteArrayView name, QByteArray& utf8) {
    static const iconv_t cd = iconv_open("UTF-8", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    QByteArray in = name.toByteArray();
    utf8.resize(name.size() * 4 + 4);
    char* inPtr = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    char* outPtr = utf8.data();
    size_t outLeft = static_cast<size_t>(utf8.size());
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
        return false;
    utf8.resize(utf8.size() - static_cast<qsizetype>(outLeft));
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pennaro::fuzzing::FuzzInput input(data, size);
    const bool keepPlain = input.byte() & 1;
    const QByteArrayView name = input.field(); // a typed name holds no zero byte

    int pumped = 0;
    const Text value = encodeForumName(name, keepPlain, [&] { ++pumped; });

    QByteArray decoded;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '%') {
            check(i + 2 < value.size() && hexValue(value[i + 1]) >= 0 &&
                      hexValue(value[i + 2]) >= 0,
                  "an escape has two upper-case hex digits", {}, value);
            const char byte =
                static_cast<char>(hexValue(value[i + 1]) * 16 + hexValue(value[i + 2]));
            check(!(keepPlain && plainByte(byte)), "a plain byte is kept as itself", {}, value);
            decoded += byte;
            i += 2;
        } else {
            check(keepPlain && plainByte(c), "only plain bytes stand as themselves", {}, value);
            decoded += c;
        }
    }
    check(pumped == decoded.size(), "the pump runs once per byte");

    const QByteArray utf8 = Cp936Codec::decode(name).toUtf8();
    check(decoded == utf8, "percent-decoding gives the name's UTF-8", utf8, decoded);
    QByteArray reference;
    if (iconvUtf8(name, reference))
        check(decoded == reference, "the UTF-8 is iconv's", reference, decoded);
    const Text nameAgain = Cp936Codec::encode(QString::fromUtf8(decoded));
    check(nameAgain == name, "the value leads back to the same name", name.toByteArray(),
          nameAgain);
    return 0;
}
