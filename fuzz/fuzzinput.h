#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace pennaro::fuzzing {

// Reads a fuzz input as a few option bytes followed by fields that zero bytes separate: no
// text of the program holds a zero byte, so the fields are texts as the program sees them.
class FuzzInput final {
public:
    FuzzInput(const uint8_t* data, size_t size)
        : m_rest(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)) {}

    // The next byte, 0 once the input is used up.
    quint8 byte() {
        if (m_rest.isEmpty())
            return 0;
        const auto value = static_cast<quint8>(m_rest.front());
        m_rest = m_rest.sliced(1);
        return value;
    }

    // Up to the next zero byte, or the rest of the input when none is left.
    QByteArrayView field() {
        const qsizetype end = m_rest.indexOf('\0');
        if (end < 0) {
            const QByteArrayView all = m_rest;
            m_rest = {};
            return all;
        }
        const QByteArrayView part = m_rest.first(end);
        m_rest = m_rest.sliced(end + 1);
        return part;
    }

    QByteArrayView rest() const { return m_rest; }

private:
    QByteArrayView m_rest;
};

// Ends the run as a finding, with what was expected and what came.
[[noreturn]] inline void fail(const char* what, const QByteArray& expected = {},
                              const QByteArray& actual = {}) {
    std::fprintf(stderr, "property broken: %s\n  expected: %s\n  actual:   %s\n", what,
                 expected.toHex(' ').constData(), actual.toHex(' ').constData());
    std::abort();
}

inline void check(bool holds, const char* what, const QByteArray& expected = {},
                  const QByteArray& actual = {}) {
    if (!holds)
        fail(what, expected, actual);
}

} // namespace pennaro::fuzzing
