#pragma once

#include "runtime/core/textdefs.h"

#include <QString>

namespace pennaro::bench {

// The saved listing pages, as the server sends them (UTF-8).
struct Page {
    QString name;
    QByteArray bytes;
};
const QList<Page>& pages();

// A list of other names in the list's code page, at least `bytes` long and cut at a line
// break: the same text the peer script builds.
Text fillerList(qsizetype bytes);

} // namespace pennaro::bench
