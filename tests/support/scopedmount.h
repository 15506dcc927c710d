#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <string>

#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

namespace pennaro::testing {

// Gives the process a mount table of its own that shares nothing with the system's, so what a
// test mounts is seen by no other process and goes away with this one, however it ends.
// Returns why that failed (for instance without the right to mount), empty once it is done.
inline std::string enterPrivateMountNamespace() {
    static const std::string failure = []() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0)
            return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("making / private: ") + std::strerror(errno);
        // Some sandboxes allow the namespace but no tmpfs in it.
        QByteArray probe =
            QFile::encodeName(QDir::tempPath() + QStringLiteral("/pennaro-mount-probe-XXXXXX"));
        if (::mkdtemp(probe.data()) == nullptr)
            return std::string("making a directory to mount on: ") + std::strerror(errno);
        const bool mounted =
            ::mount("pennaro-test", probe.constData(), "tmpfs", 0, "size=4096") == 0;
        const int error = errno;
        if (mounted)
            ::umount2(probe.constData(), MNT_DETACH);
        ::rmdir(probe.constData());
        if (!mounted)
            return std::string("mounting a tmpfs: ") + std::strerror(error);
        return {};
    }();
    return failure;
}

// A file system mounted over a directory until the object goes or unmount() is called. Each
// call returns why it failed, empty on success.
class ScopedMount final {
public:
    ScopedMount() = default;
    ~ScopedMount() { unmount(); }
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

    // A fresh, empty tmpfs of `bytes` (rounded up to whole pages), with room for `inodes` files
    // and directories (itself included) when that is above zero.
    std::string mountTmpfs(const QString& directory, qint64 bytes, qint64 inodes = 0) {
        const QByteArray target = QFile::encodeName(directory);
        QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
        if (inodes > 0)
            options += ",nr_inodes=" + QByteArray::number(inodes);
        if (::mount("pennaro-test", target.constData(), "tmpfs", 0, options.constData()) != 0)
            return failure("mounting a tmpfs on ", target);
        m_target = target;
        m_options = options;
        return {};
    }

    // The directory itself, as it is, but read-only.
    std::string bindReadOnly(const QString& directory) {
        const QByteArray target = QFile::encodeName(directory);
        if (::mount(target.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0)
            return failure("binding ", target);
        m_target = target;
        m_options.clear();
        if (::mount(nullptr, target.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                    nullptr) != 0)
            return failure("making read-only ", target);
        return {};
    }

    // What is mounted stays, read-only from now on.
    std::string remountReadOnly() {
        if (m_target.isEmpty())
            return "nothing mounted";
        if (::mount(nullptr, m_target.constData(), nullptr, MS_REMOUNT | MS_RDONLY,
                    m_options.isEmpty() ? nullptr : m_options.constData()) != 0)
            return failure("remounting read-only ", m_target);
        return {};
    }

    std::string unmount() {
        if (m_target.isEmpty())
            return {};
        // A lazy unmount when something still uses it: the mount is gone from the tree either way.
        if (::umount2(m_target.constData(), 0) != 0 &&
            ::umount2(m_target.constData(), MNT_DETACH) != 0)
            return failure("unmounting ", m_target);
        m_target.clear();
        return {};
    }

private:
    static std::string failure(const char* what, const QByteArray& target) {
        const int error = errno;
        return what + target.toStdString() + ": " + std::strerror(error);
    }

    QByteArray m_target;
    QByteArray m_options;
};

} // namespace pennaro::testing
