#pragma once

#include "runtime/core/cp936codec.h"

#include <QByteArray>

#include <ostream>

// Failure messages show a text as its characters and its bytes.
inline void PrintTo(const QByteArray& text, std::ostream* os) {
    *os << '"' << pennaro::Cp936Codec::decode(text).toUtf8().toStdString() << "\" ["
        << text.toHex(' ').toStdString() << ']';
}
