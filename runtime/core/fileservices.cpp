#include "runtime/core/fileservices.h"

#include "runtime/core/cp936codec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace pennaro {

namespace {

QString executableDirectory() {
#ifdef Q_OS_LINUX
    // Known without a QCoreApplication, and with links resolved.
    const QString executable = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    if (!executable.isEmpty())
        return QFileInfo(executable).absolutePath();
#endif
    return QCoreApplication::applicationDirPath();
}

#ifdef Q_OS_UNIX
// Makes the rename itself durable; the new content already is.
void syncDirectoryOf(const QString& filePath) {
    const QByteArray directory = QFile::encodeName(QFileInfo(filePath).absolutePath());
    const int fd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}
#endif

} // namespace

Text programDirectory() {
    QString directory = QDir::toNativeSeparators(executableDirectory());
    while (directory.endsWith(QDir::separator()))
        directory.chop(1);
    return Cp936Codec::encode(directory);
}

Text listFilePath() {
    return programDirectory() + QDir::separator().toLatin1() + "tieba.txt";
}

Bytes loadFileBytes(const Text& path) {
    if (path.isEmpty())
        return Bytes();
    const QString name = Cp936Codec::decode(path);
    if (QFileInfo(name).isDir())
        return Bytes();
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return Bytes();
    return file.readAll();
}

bool storeFileBytes(const Text& path, std::initializer_list<QByteArrayView> parts) {
    if (path.isEmpty())
        return false;
    const QString name = Cp936Codec::decode(path);
    // The owner's write bit decides, also for a user whom the system lets write anyway.
    const QFileInfo existing(name);
    if (existing.exists() && !existing.permissions().testFlag(QFileDevice::WriteOwner))
        return false;

    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (QByteArrayView part : parts) {
        if (!part.isEmpty() && file.write(part.data(), part.size()) != part.size()) {
            file.cancelWriting();
            return false;
        }
    }
    if (!file.flush()) {
        file.cancelWriting();
        return false;
    }
#ifdef Q_OS_UNIX
    // QSaveFile syncs too but ignores a failure, which would leave a damaged file in place.
    if (::fsync(file.handle()) != 0) {
        file.cancelWriting();
        return false;
    }
#endif
    if (!file.commit())
        return false;
#ifdef Q_OS_UNIX
    syncDirectoryOf(QFileInfo(name).canonicalFilePath());
#endif
    return true;
}

} // namespace pennaro
