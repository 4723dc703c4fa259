#include "controls/link_launch.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <memory>
#include <utility>

namespace {

bool IsFilePlaceholder(QChar c) {
    return c == 'u' || c == 'U' || c == 'f' || c == 'F';
}

// Position of the first unescaped bare placeholder, or -1.
qsizetype FindBarePlaceholder(const QString& command) {
    for (qsizetype i = 0; i + 1 < command.size(); ++i) {
        if (command[i] != '%')
            continue;
        if (IsFilePlaceholder(command[i + 1]))
            return i;
        ++i; // "%%" and other field codes are not placeholders
    }
    return -1;
}

// Drops the field codes a desktop file may still hold and turns "%%" into "%".
QString StripFieldCodes(const QString& command) {
    QString out;
    for (qsizetype i = 0; i < command.size(); ++i) {
        if (command[i] == '%' && i + 1 < command.size()) {
            if (command[i + 1] == '%')
                out += '%';
            ++i;
            continue;
        }
        out += command[i];
    }
    return out;
}

QString UnescapeDesktopValue(const QString& value) {
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        out += next == 's'   ? QChar(' ')
               : next == 'n' ? QChar('\n')
               : next == 't' ? QChar('\t')
               : next == 'r' ? QChar('\r')
                             : next;
    }
    return out;
}

} // namespace

QString LaunchFailureReason(int code) {
    switch (code) {
    case 0:
        return "The operating system is out\nof memory or resources.";
    case 2:
        return "The specified file was not found.";
    case 3:
        return "The specified path was not found.";
    case 5:
        return "The operating system denied\naccess to the specified file.";
    case 8:
        return "There was not enough memory to complete the operation.";
    case 11:
        return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26:
        return "A sharing violation occurred. ";
    case 27:
        return "The filename association is\nincomplete or invalid.";
    case 28:
        return "The DDE transaction could not\nbe completed because the request timed out.";
    case 29:
        return "The DDE transaction failed.";
    case 30:
        return "The DDE transaction could not\nbe completed because other DDE transactions\n"
               "were being processed.";
    case 31:
        return "There is no application associated\nwith the given filename extension.";
    case 32:
        return "The specified dynamic-link library was not found.";
    default:
        return QString::asprintf("Unknown Error (%d) occurred.", code);
    }
}

QString LaunchFailureText(int code) {
    return QStringLiteral("Unable to open hyperlink:\n\n") + LaunchFailureReason(code);
}

QString RewriteHandlerCommand(const QString& command, const QString& address) {
    static const QRegularExpression quoted(QStringLiteral("\"%[uUfF]\""));
    QString kept = command;
    const QRegularExpressionMatch match = quoted.match(command);
    if (match.hasMatch()) {
        kept.truncate(match.capturedStart());
    } else if (const qsizetype bare = FindBarePlaceholder(command); bare >= 0) {
        kept.truncate(bare);
    }
    return StripFieldCodes(kept) + ' ' + address;
}

std::optional<QString> DesktopExecLine(const QString& desktopText) {
    bool inEntry = false;
    for (const QString& rawLine : desktopText.split('\n')) {
        const QString line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inEntry = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inEntry || equals < 0 || line.left(equals).trimmed() != QStringLiteral("Exec"))
            continue;
        return UnescapeDesktopValue(line.mid(equals + 1).trimmed());
    }
    return std::nullopt;
}

QString LocateDesktopFile(const QString& desktopId) {
    // An id names a file below an applications folder with its subfolders joined by '-'.
    QStringList candidates = {desktopId};
    QString nested = desktopId;
    for (qsizetype dash = nested.indexOf('-'); dash >= 0; dash = nested.indexOf('-', dash + 1)) {
        nested[dash] = '/';
        candidates << nested;
    }
    for (const QString& folder :
         QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation))
        for (const QString& name : candidates)
            if (QFileInfo(QDir(folder), name).isFile())
                return QDir(folder).filePath(name);
    return {};
}

int CheckProgram(const QString& program) {
    if (program.isEmpty())
        return kLaunchFileNotFound;
    if (!program.contains('/'))
        return QStandardPaths::findExecutable(program).isEmpty() ? kLaunchFileNotFound : 0;
    const QFileInfo info(program);
    if (!info.exists())
        return QFileInfo(info.absolutePath()).isDir() ? kLaunchFileNotFound : kLaunchPathNotFound;
    if (info.isDir() || !info.isExecutable())
        return kLaunchAccessDenied;
    return 0;
}

int OpenerExitCode(int exitStatus) {
    switch (exitStatus) {
    case 0:
        return kLaunchSucceeded;
    case 2:
        return kLaunchFileNotFound;
    case 3:
        return kLaunchNoAssociation;
    default:
        return kLaunchAssociationInvalid;
    }
}

void StartOpener(const QString& program, const QStringList& arguments, int waitMs,
                 LaunchDone done) {
    if (const int code = CheckProgram(program)) {
        done(code);
        return;
    }
    // Owned by the application, not the label: an opener outlives a closed panel.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    // One answer per opener, from whichever comes first: its end, its failure to start, or the
    // end of the wait.
    auto pending = std::make_shared<LaunchDone>(std::move(done));
    const auto answer = [pending](int code) {
        if (*pending) {
            const LaunchDone once = std::exchange(*pending, nullptr);
            once(code);
        }
    };
    auto* wait = new QTimer(process);
    wait->setSingleShot(true);
    // Still in the foreground with the browser it started: that counts as opened. The process
    // object stays until the opener ends, so nothing is killed.
    QObject::connect(wait, &QTimer::timeout, process, [answer] { answer(kLaunchSucceeded); });
    QObject::connect(process, &QProcess::finished, process,
                     [process, answer](int exitCode, QProcess::ExitStatus status) {
                         answer(status == QProcess::NormalExit ? OpenerExitCode(exitCode)
                                                               : kLaunchAssociationInvalid);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, answer](QProcess::ProcessError error) {
                         // A crash also ends in finished, which answers for it.
                         if (error == QProcess::FailedToStart) {
                             answer(kLaunchOutOfResources);
                             process->deleteLater();
                         }
                     });
    process->start(program, arguments);
    wait->start(waitMs);
}

int RunCommandLine(const QString& commandLine) {
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return kLaunchFileNotFound;
    const QString program = arguments.takeFirst();
    if (const int code = CheckProgram(program))
        return code;
    return QProcess::startDetached(program, arguments) ? kLaunchSucceeded : kLaunchOutOfResources;
}

int QueryHtmlHandler(QString& command) {
    const QString tool = QStringLiteral("xdg-mime");
    if (const int code = CheckProgram(tool))
        return code;
    QProcess query;
    query.start(tool, {"query", "default", "text/html"});
    if (!query.waitForFinished(kOpenerWaitMs) || query.exitStatus() != QProcess::NormalExit ||
        query.exitCode() != 0)
        return kLaunchNoAssociation;
    // One desktop id, though some versions list several separated by ';'.
    const QString id =
        QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed().section(';', 0, 0);
    if (id.isEmpty())
        return kLaunchNoAssociation;
    const QString path = LocateDesktopFile(id);
    if (path.isEmpty())
        return kLaunchFileNotFound;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return kLaunchAccessDenied;
    const std::optional<QString> exec = DesktopExecLine(QString::fromUtf8(file.readAll()));
    if (!exec || exec->trimmed().isEmpty())
        return kLaunchAssociationInvalid;
    command = *exec;
    return 0;
}

CLinkLauncher CLinkLauncher::System(int openerWaitMs) {
    CLinkLauncher launcher;
    launcher.m_openWithSystem = [openerWaitMs](const QString& address, LaunchDone done) {
        StartOpener(QStringLiteral("xdg-open"), {address}, openerWaitMs, std::move(done));
    };
    launcher.m_queryHtmlCommand = QueryHtmlHandler;
    launcher.m_runCommand = RunCommandLine;
    launcher.m_beep = [] { QApplication::beep(); };
    return launcher;
}
