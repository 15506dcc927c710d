#include "bench/benchdata.h"

#include "runtime/core/cp936codec.h"

#include <QDir>
#include <QFile>

namespace pennaro::bench {

const QList<Page>& pages() {
    static const QList<Page> loaded = [] {
        QList<Page> result;
        const QDir dir(QStringLiteral(PENNARO_FIXTURE_PAGES));
        for (const QString& name : dir.entryList({u"*.html"_qs}, QDir::Files, QDir::Name)) {
            QFile file(dir.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                result.append({name.chopped(5), file.readAll()});
        }
        return result;
    }();
    return loaded;
}

Text fillerList(qsizetype bytes) {
    // Mirrors bench/peer.py: " @" + name, five to a line.
    const QString stems[] = {u"user"_qs, u"用户"_qs, u"吧友_"_qs, u"贴吧用户_aD"_qs, u"Lol玩家"_qs};
    Text list;
    QString line;
    for (int i = 0; list.size() < bytes; ++i) {
        line += u" @"_qs + stems[i % 5] + QString::number(i * 7919 % 1000003);
        if (i % 5 == 4) {
            list += Cp936Codec::encode(line + u"\r\n"_qs);
            line.clear();
        }
    }
    return list;
}

} // namespace pennaro::bench
