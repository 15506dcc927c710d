// searchText, substituteText and stripBlanks against plain walks written from their rules:
// a byte of 0x80 or above starts a two-byte character, matches begin only where the walk
// stands, and ASCII letters fold only when asked.
#include "fuzz/fuzzinput.h"
#include "fuzz/referencewalk.h"
#include "runtime/core/textservices.h"

#include <optional>

using namespace pennaro;
using pennaro::fuzzing::check;
using namespace pennaro::fuzzing;

namespace {

qsizetype startOffsetOf(std::optional<int> position) {
    return position && *position > 1 ? *position - 1 : 0;
}

int referenceSearch(QByteArrayView text, QByteArrayView sought, std::optional<int> position,
                    bool fold) {
    const qsizetype from = startOffsetOf(position);
    if (from >= text.size() && from > 0)
        return -1;
    if (sought.isEmpty())
        return text.size() - from >= 1 ? 1 : -1;
    for (const qsizetype at : walkFrom(text, from).starts) {
        if (sameAt(text, at, sought, fold))
            return static_cast<int>(at + 1);
    }
    return -1;
}

QByteArray referenceSubstitute(QByteArrayView text, QByteArrayView sought,
                               QByteArrayView replacement, std::optional<int> position,
                               std::optional<int> count, bool caseSensitive) {
    const qsizetype from = startOffsetOf(position);
    const int limit = count && *count >= 0 ? *count : -1;
    if (text.isEmpty() || sought.isEmpty() || from >= text.size() || limit == 0)
        return text.toByteArray();
    QByteArray out = text.first(from).toByteArray();
    qsizetype at = from;
    int made = 0;
    while (at < text.size() && text.size() - at >= sought.size()) {
        if (sameAt(text, at, sought, !caseSensitive)) {
            out += replacement;
            at += sought.size();
            if (++made == limit)
                break;
            continue;
        }
        const qsizetype width = highByte(text[at]) ? 2 : 1;
        if (at + width <= text.size())
            out += text.sliced(at, width);
        at += width;
    }
    if (at < text.size())
        out += text.sliced(at);
    return out;
}

QByteArray referenceStrip(QByteArrayView text) {
    const Walk walk = walkFrom(text, 0);
    auto blank = [&](qsizetype at) {
        return text[at] == ' ' ||
               (at + 1 < text.size() && text[at] == '\xA1' && text[at + 1] == '\xA1');
    };
    std::vector<qsizetype> kept = walk.starts;
    qsizetype end = text.size();
    if (walk.endsInLoneByte) {
        end = kept.back();
        kept.pop_back();
    }
    std::size_t first = 0;
    while (first < kept.size() && blank(kept[first]))
        ++first;
    std::size_t last = kept.size();
    if (!walk.endsInLoneByte) {
        while (last > first && blank(kept[last - 1]))
            --last;
        end = last < kept.size() ? kept[last] : text.size();
    }
    if (first == kept.size() || first >= last)
        return {};
    return text.sliced(kept[first], end - kept[first]).toByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pennaro::fuzzing::FuzzInput input(data, size);
    const quint8 flags = input.byte();
    const auto position = static_cast<qint8>(input.byte());
    const auto count = static_cast<qint8>(input.byte());
    const QByteArrayView text = input.field();
    const QByteArrayView sought = input.field();
    const QByteArrayView replacement = input.field();

    const std::optional<int> start = flags & 1 ? std::optional<int>(position) : std::nullopt;
    const std::optional<int> limit = flags & 2 ? std::optional<int>(count) : std::nullopt;
    const bool fold = flags & 4;
    const std::optional<QByteArrayView> with =
        flags & 8 ? std::optional<QByteArrayView>(replacement) : std::nullopt;

    const int found = searchText(text, sought, start, fold);
    const int expectedPosition = referenceSearch(text, sought, start, fold);
    check(found == expectedPosition, "searchText", QByteArray::number(expectedPosition),
          QByteArray::number(found));

    const QByteArray expected =
        referenceSubstitute(text, sought, with.value_or(QByteArrayView()), start, limit, fold);
    const Text substituted = substituteText(text, sought, with, start, limit, fold);
    check(substituted == expected, "substituteText", expected, substituted);

    const QByteArray stripped = referenceStrip(text);
    const Text strippedByUs = stripBlanks(text);
    check(strippedByUs == stripped, "stripBlanks", stripped, strippedByUs);
    return 0;
}
