#pragma once

#include <QByteArrayView>

#include <vector>

// Plain walks over the list's texts, written from their rules for the fuzz targets to compare
// with: a byte of 0x80 or above starts a two-byte character, and ASCII letters fold only when
// asked.
namespace pennaro::fuzzing {

inline bool highByte(char c) {
    return static_cast<unsigned char>(c) >= 0x80;
}

inline char folded(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `sought` stands at byte `at` of `text`.
inline bool sameAt(QByteArrayView text, qsizetype at, QByteArrayView sought, bool fold) {
    if (at < 0 || text.size() - at < sought.size())
        return false;
    for (qsizetype k = 0; k < sought.size(); ++k) {
        const char a = text[at + k];
        const char b = sought[k];
        if (fold ? folded(a) != folded(b) : a != b)
            return false;
    }
    return true;
}

// Where the walk from `from` stands: the starts of the characters, and whether the text ends in
// a lone high byte.
struct Walk {
    std::vector<qsizetype> starts;
    bool endsInLoneByte = false;
};

inline Walk walkFrom(QByteArrayView text, qsizetype from) {
    Walk walk;
    qsizetype at = from;
    while (at < text.size()) {
        walk.starts.push_back(at);
        if (highByte(text[at]) && at + 1 == text.size()) {
            walk.endsInLoneByte = true;
            break;
        }
        at += highByte(text[at]) ? 2 : 1;
    }
    return walk;
}

} // namespace pennaro::fuzzing
