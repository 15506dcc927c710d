#pragma once

#include "tests/support/testfiles.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

namespace pennaro::testing {

// A stand-in for the file manager that a successful save opens: an `xdg-open` put first on
// PATH for the rest of the process, which notes each of its arguments on a line of its own.
class FakeFileManager final {
public:
    // False when the stand-in could not be put in place.
    bool install() {
        if (!m_bin.isValid())
            return false;
        m_log = m_bin.filePath(u"launched.log"_qs);
        const QString script = m_bin.filePath(u"xdg-open"_qs);
        if (!writeFile(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '" +
                                   QFile::encodeName(m_log) + "'\n"))
            return false;
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(m_bin.path()) + ":" + qgetenv("PATH"));
        return true;
    }

    // Forgets earlier starts.
    void reset() const { QFile::remove(m_log); }

    bool started() const { return QFile::exists(m_log); }

    // The arguments of the starts so far. The stand-in runs detached, so this gives it up to
    // two seconds to write.
    QStringList launched() const {
        for (int i = 0; i < 100; ++i) {
            if (started()) {
                const QStringList lines =
                    QString::fromUtf8(readFile(m_log)).split(u'\n', Qt::SkipEmptyParts);
                if (!lines.isEmpty())
                    return lines;
            }
            QTest::qWait(20);
        }
        return {};
    }

private:
    QTemporaryDir m_bin;
    QString m_log;
};

} // namespace pennaro::testing
