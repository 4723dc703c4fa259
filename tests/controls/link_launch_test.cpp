// Opening an address without a browser: the failure words, the registered command's rewriting,
// desktop files, and the result codes of real processes.
#include "controls/link_launch.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

namespace {

struct ReasonCase {
    int code;
    const char* reason;
};

class FailureText : public ::testing::TestWithParam<ReasonCase> {};

TEST_P(FailureText, HeadingThenTheReason) {
    EXPECT_EQ(LaunchFailureText(GetParam().code).toStdString(),
              std::string("Unable to open hyperlink:\n\n") + GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FailureText,
    ::testing::Values(
        ReasonCase{0, "The operating system is out\nof memory or resources."},
        ReasonCase{2, "The specified file was not found."},
        ReasonCase{3, "The specified path was not found."},
        ReasonCase{5, "The operating system denied\naccess to the specified file."},
        ReasonCase{8, "There was not enough memory to complete the operation."},
        ReasonCase{11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        ReasonCase{26, "A sharing violation occurred. "},
        ReasonCase{27, "The filename association is\nincomplete or invalid."},
        ReasonCase{28,
                   "The DDE transaction could not\nbe completed because the request timed out."},
        ReasonCase{29, "The DDE transaction failed."},
        ReasonCase{30, "The DDE transaction could not\nbe completed because other DDE "
                       "transactions\nwere being processed."},
        ReasonCase{31, "There is no application associated\nwith the given filename extension."},
        ReasonCase{32, "The specified dynamic-link library was not found."},
        ReasonCase{7, "Unknown Error (7) occurred."},
        ReasonCase{-4, "Unknown Error (-4) occurred."},
        ReasonCase{33, "Unknown Error (33) occurred."}));

struct RewriteCase {
    const char* command;
    const char* expected;
};

class HandlerCommand : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(HandlerCommand, AddressTakesThePlaceholdersPlace) {
    EXPECT_EQ(RewriteHandlerCommand(GetParam().command, "https://b.example/").toStdString(),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, HandlerCommand,
    ::testing::Values(
        // Cut at the quote: the blank before it stays, and one more comes with the address.
        RewriteCase{"/usr/bin/browser --new-window \"%u\"",
                    "/usr/bin/browser --new-window  https://b.example/"},
        RewriteCase{"/usr/bin/browser", "/usr/bin/browser https://b.example/"},
        RewriteCase{"browser %U", "browser  https://b.example/"},
        RewriteCase{"browser %f --tail %u", "browser  https://b.example/"},
        // The quoted placeholder wins even when a bare one comes first.
        RewriteCase{"browser %u -x \"%F\"", "browser  -x  https://b.example/"},
        // "%%u" is a literal "%u", not a placeholder; other field codes go.
        RewriteCase{"run --pct=100%%u %i", "run --pct=100%u  https://b.example/"}));

TEST(DesktopFile, ExecOfTheDesktopEntryGroupUnescaped) {
    const char* text = "[Desktop Action new]\nExec=wrong %u\n"
                       "[Desktop Entry]\nName=Browser\nExec = /opt/b\\sdir/browser \"%u\"\n"
                       "Exec=second\n";
    EXPECT_EQ(DesktopExecLine(text).value_or("none").toStdString(), "/opt/b dir/browser \"%u\"");
    EXPECT_FALSE(DesktopExecLine("[Desktop Entry]\nName=X\n[Other]\nExec=x\n").has_value());
}

TEST(DesktopFile, LocatedInTheDataHomeIncludingSubfolderIds) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    ASSERT_TRUE(QDir(home.path()).mkpath("applications/vendor"));
    QFile file(home.filePath("applications/vendor/web.desktop"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(LocateDesktopFile("vendor-web.desktop"), file.fileName());
    EXPECT_TRUE(LocateDesktopFile("tavrin-no-such-handler.desktop").isEmpty());
    qunsetenv("XDG_DATA_HOME");
}

TEST(LaunchCodes, ProgramsThatCannotStart) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile plain(dir.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(CheckProgram("tavrin-no-such-program"), kLaunchFileNotFound);
    EXPECT_EQ(CheckProgram(dir.filePath("missing")), kLaunchFileNotFound);
    EXPECT_EQ(CheckProgram(dir.filePath("no/such/dir/prog")), kLaunchPathNotFound);
    EXPECT_EQ(CheckProgram(plain.fileName()), kLaunchAccessDenied);
    EXPECT_EQ(CheckProgram(dir.path()), kLaunchAccessDenied);
    EXPECT_EQ(CheckProgram("sh"), 0);
    EXPECT_EQ(RunCommandLine(plain.fileName() + " https://x"), kLaunchAccessDenied);
    EXPECT_EQ(RunCommandLine(""), kLaunchFileNotFound);
}

// The code StartOpener reports, waiting for it through the event loop; -1 when none comes.
int OpenerCode(const QString& program, const QStringList& arguments, int waitMs) {
    int code = -1;
    StartOpener(program, arguments, waitMs, [&code](int c) { code = c; });
    return QTest::qWaitFor([&] { return code != -1; }, 10000) ? code : -1;
}

TEST(LaunchCodes, OpenerExitStatusesAndTimeout) {
    const auto exitWith = [](int status) {
        return OpenerCode("sh", {"-c", QString("exit %1").arg(status)}, 10000);
    };
    EXPECT_EQ(exitWith(0), kLaunchSucceeded);
    EXPECT_EQ(exitWith(2), kLaunchFileNotFound);
    EXPECT_EQ(exitWith(3), kLaunchNoAssociation);
    EXPECT_EQ(exitWith(4), kLaunchAssociationInvalid);
    EXPECT_EQ(OpenerCode("sh", {"-c", "kill -9 $$"}, 10000), kLaunchAssociationInvalid);
    // An opener still running with its browser has done its part.
    EXPECT_EQ(OpenerCode("sleep", {"0.3"}, 50), kLaunchSucceeded);
    QTest::qWait(600); // let it end so the process object goes with it
    EXPECT_EQ(OpenerCode("tavrin-no-such-opener", {}, 50), kLaunchFileNotFound);

    // Executable, but exec fails: its interpreter is missing.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile script(dir.filePath("opener"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/tavrin/no/such/interpreter\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_EQ(OpenerCode(script.fileName(), {}, 10000), kLaunchOutOfResources);
}

// The outcome comes from the event loop, never inside the call; a program that cannot start
// at all is known before it returns.
TEST(LaunchCodes, OpenerAnswersOnceAndNeverBeforeReturning) {
    std::vector<int> codes;
    StartOpener("sh", {"-c", "exit 3"}, 10000, [&codes](int c) { codes.push_back(c); });
    EXPECT_TRUE(codes.empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !codes.empty(); }, 10000));
    EXPECT_EQ(codes, std::vector<int>{kLaunchNoAssociation});

    // Counted as started after the wait; its failing end afterwards changes nothing.
    codes.clear();
    StartOpener("sh", {"-c", "sleep 0.3; exit 4"}, 50, [&codes](int c) { codes.push_back(c); });
    QTest::qWait(800);
    EXPECT_EQ(codes, std::vector<int>{kLaunchSucceeded});

    codes.clear();
    StartOpener("tavrin-no-such-opener", {}, 50, [&codes](int c) { codes.push_back(c); });
    EXPECT_EQ(codes, std::vector<int>{kLaunchFileNotFound});
}

} // namespace
