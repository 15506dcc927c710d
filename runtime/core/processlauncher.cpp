#include "runtime/core/processlauncher.h"

#include "runtime/core/cp936codec.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <string>
#else
#include <QProcess>
#include <QStringList>
#endif

namespace pennaro {

#ifdef Q_OS_WIN

bool launchCommand(const TextArray& programAndArguments, bool wait) {
    if (programAndArguments.isEmpty())
        return false;
    // The system splits the line itself and finds the program by its usual search rules.
    std::wstring commandLine = Cp936Codec::decode(programAndArguments.join(' ')).toStdWString();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    if (wait)
        WaitForSingleObject(process.hProcess, INFINITE);
    else
        WaitForInputIdle(process.hProcess, 1000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

TextArray fileManagerCommand(const Text& directory) {
    return {"explorer.exe", directory};
}

#else

bool launchCommand(const TextArray& programAndArguments, bool wait) {
    if (programAndArguments.isEmpty() || programAndArguments.front().isEmpty())
        return false;
    const QString program = Cp936Codec::decode(programAndArguments.front());
    QStringList arguments;
    arguments.reserve(programAndArguments.size() - 1);
    for (qsizetype i = 1; i < programAndArguments.size(); ++i)
        arguments.append(Cp936Codec::decode(programAndArguments[i]));
    if (!wait)
        return QProcess::startDetached(program, arguments);

    QProcess process;
    // Output goes where ours goes, as for a detached program; input is empty, so that a program
    // that reads it cannot keep us waiting.
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(-1))
        return false;
    process.waitForFinished(-1);
    return true;
}

TextArray fileManagerCommand(const Text& directory) {
    return {"xdg-open", directory};
}

#endif

} // namespace pennaro
