// extractBetween over any subject and markers. Markers that the pattern reads literally must
// give items that are byte ranges of the subject, in order, each right after an occurrence of
// the left marker and right before one of the right marker, letters in any case, within one
// line. Other markers keep a pattern meaning, so for them only the sanitizers judge: those with
// \ . ^ $ | or a line feed, which escaping leaves alone, and those whose escaped form reads
// otherwise in the code page. Escaping walks bytes as the list's texts do (a byte of 0x80 or
// above and the byte after it are one character); over bytes that are not valid code page 936
// that walk and the code page part ways, and an escape can land on the wrong character (a
// backslash can even become the second byte of one).
#include "fuzz/fuzzinput.h"
#include "fuzz/referencewalk.h"
#include "runtime/core/cp936codec.h"
#include "text/textbetween.h"

#include <QString>

#include <algorithm>

using namespace pennaro;
using pennaro::fuzzing::check;
using namespace pennaro::fuzzing;

namespace {

// The marker as a literal pattern reads: the nine characters escaped.
QString escapedAsRead(QStringView marker) {
    QString out;
    for (const QChar c : marker) {
        if (QStringView(u"?*+[](){}").contains(c))
            out += u'\\';
        out += c;
    }
    return out;
}

// Escaping walks the marker character by character and drops a lone last byte of 0x80 or
// above, as every such walk does; what is left is what the pattern looks for.
QByteArrayView effective(QByteArrayView marker) {
    const Walk walk = walkFrom(marker, 0);
    return walk.endsInLoneByte ? marker.first(walk.starts.back()) : marker;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pennaro::fuzzing::FuzzInput input(data, size);
    const int maxLength = input.byte() % 8;
    const QByteArrayView left = input.field();
    const QByteArrayView right = input.field();
    const QByteArrayView subject = input.field(); // a page's text ends at its first zero byte

    TextArray items;
    const int count = extractBetween(subject, left, right, items, maxLength);
    check(count == items.size(), "the count is the number of items");
    const QByteArrayView l = effective(left);
    const QByteArrayView r = effective(right);
    for (const QByteArrayView marker : {left, right}) {
        if (std::any_of(marker.begin(), marker.end(),
                        [](char c) { return QByteArrayView("\\.^$|\n").contains(c); }) ||
            Cp936Codec::decode(escapeMarker(marker)) !=
                escapedAsRead(Cp936Codec::decode(effective(marker))))
            return 0;
    }
    qsizetype cursor = 0;
    for (const Text& item : items) {
        check(!item.contains('\n'), "an item stays on one line", {}, item);
        check(maxLength == 0 || item.size() <= maxLength, "no item is longer than allowed", {},
              item);
        qsizetype at = cursor;
        while (at + l.size() + item.size() + r.size() <= subject.size() &&
               !(sameAt(subject, at, l, true) && subject.sliced(at + l.size()).startsWith(item) &&
                 sameAt(subject, at + l.size() + item.size(), r, true)))
            ++at;
        check(at + l.size() + item.size() + r.size() <= subject.size(),
              "an item stands between the markers, after the previous one", subject.toByteArray(),
              item);
        cursor = at + l.size() + item.size() + r.size();
    }
    return 0;
}
