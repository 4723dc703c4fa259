// The link label: defaults at preparation, fitting to its text, clicks with a fake launcher,
// its colours on screen, and the hand cursor.
#include "controls/hand_cursor.h"
#include "controls/link_label.h"
#include "tests/support/alert_recorder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <vector>

namespace {

TEST(FitRectToText, CentredShrinksEvenlyTruncatingOddDifferences) {
    const QRect rect(100, 50, 200, 20);
    EXPECT_EQ(FitRectToText(rect, {170, 20}, Qt::AlignHCenter | Qt::AlignTop),
              QRect(115, 50, 170, 20));
    EXPECT_EQ(FitRectToText(rect, {169, 20}, Qt::AlignHCenter | Qt::AlignTop),
              QRect(115, 50, 170, 20));
    // A wider text grows it, the odd pixel again lost to truncation toward zero.
    EXPECT_EQ(FitRectToText(rect, {231, 20}, Qt::AlignHCenter | Qt::AlignTop),
              QRect(85, 50, 230, 20));
}

TEST(FitRectToText, LeftRightAndVerticalRules) {
    const QRect rect(10, 20, 60, 30);
    EXPECT_EQ(FitRectToText(rect, {40, 13}, Qt::AlignLeft | Qt::AlignTop), QRect(10, 20, 40, 13));
    EXPECT_EQ(FitRectToText(rect, {40, 13}, Qt::AlignRight | Qt::AlignTop), QRect(30, 20, 40, 13));
    EXPECT_EQ(FitRectToText(rect, {40, 13}, Qt::AlignLeft | Qt::AlignVCenter),
              QRect(10, 28, 40, 14));
    EXPECT_EQ(FitRectToText(rect, {40, 41}, Qt::AlignLeft | Qt::AlignVCenter),
              QRect(10, 15, 40, 40));
}

// A launcher whose every step is scripted and recorded.
struct FakeLauncher {
    int systemCode = 2;
    int queryCode = 2;
    QString registered = "/usr/bin/browser -n \"%u\"";
    int runCode = kLaunchSucceeded;
    std::vector<QString> opened, ran;
    int beeps = 0;

    CLinkLauncher Make() {
        CLinkLauncher l;
        l.m_openWithSystem = [this](const QString& a, LaunchDone done) {
            opened.push_back(a);
            done(systemCode);
        };
        l.m_queryHtmlCommand = [this](QString& c) {
            c = registered;
            return queryCode;
        };
        l.m_runCommand = [this](const QString& c) {
            ran.push_back(c);
            return runCode;
        };
        l.m_beep = [this] { ++beeps; };
        return l;
    }
};

struct Label {
    explicit Label(const QString& caption) : label(caption) {
        label.m_launcher = fake.Make();
        label.setGeometry(20, 30, 300, 40);
    }
    void Click() { QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(2, 2)); }
    FakeLauncher fake;
    CAlertRecorder boxes;
    CLinkLabel label;
};

TEST(LinkLabelPrepare, EmptyAddressTakesTheCaptionAndEmptyCaptionTheAddress) {
    Label named("Brenmark");
    named.label.m_cursor = QCursor(Qt::WaitCursor);
    named.label.PreSubclassWindow();
    EXPECT_EQ(named.label.Address(), "Brenmark");
    EXPECT_EQ(named.label.toolTip(), "Brenmark");
    EXPECT_EQ(named.label.m_cursor.shape(), Qt::ArrowCursor);

    Label blank("");
    blank.label.SetAddress("https://b.example/");
    blank.label.PreSubclassWindow();
    EXPECT_EQ(blank.label.text(), "https://b.example/");
    EXPECT_EQ(blank.label.toolTip(), "https://b.example/");
}

TEST(LinkLabelPrepare, FitsToTheTextKeepingItsTopLeftCorner) {
    Label link("Brenmark");
    link.label.PreSubclassWindow();
    const QSize text = QFontMetrics(link.label.font()).size(Qt::TextSingleLine, "Brenmark");
    EXPECT_EQ(link.label.geometry(), QRect(QPoint(20, 30), text));
    link.label.SetAddress("https://b.example/");
    EXPECT_EQ(link.label.geometry(), QRect(QPoint(20, 30), text));
    EXPECT_EQ(link.label.toolTip(), "https://b.example/");
}

TEST(LinkLabelClick, SystemOpenerSucceedsWithoutTheFallback) {
    Label link("Brenmark");
    link.label.PreSubclassWindow();
    link.label.SetAddress("https://b.example/");
    link.fake.systemCode = 42;
    link.Click();
    EXPECT_EQ(link.fake.opened, std::vector<QString>{"https://b.example/"});
    EXPECT_TRUE(link.fake.ran.empty());
    EXPECT_TRUE(link.label.Opened());
    EXPECT_EQ(link.label.TextColor(), QColor(85, 26, 139));
    EXPECT_EQ(link.fake.beeps, 0);
    EXPECT_EQ(link.boxes.Count(), 0u);
}

TEST(LinkLabelClick, FallsBackToTheRegisteredCommand) {
    Label link("Brenmark");
    link.label.SetAddress("https://b.example/");
    link.fake.queryCode = 0;
    link.Click();
    EXPECT_EQ(link.fake.ran, std::vector<QString>{"/usr/bin/browser -n  https://b.example/"});
    EXPECT_TRUE(link.label.Opened());

    // A failing command reports its own code, not the opener's.
    link.fake.runCode = 5;
    link.Click();
    EXPECT_FALSE(link.label.Opened());
    ASSERT_EQ(link.boxes.Count(), 1u);
    EXPECT_EQ(link.boxes.Texts()[0], LaunchFailureText(5).toStdString());
}

TEST(LinkLabelClick, NoHandlerReportsTheOpenersCodeAfterABeep) {
    Label link("Brenmark");
    link.fake.systemCode = 26;
    link.fake.queryCode = kLaunchNoAssociation;
    link.Click();
    EXPECT_TRUE(link.fake.ran.empty());
    EXPECT_EQ(link.fake.beeps, 1);
    ASSERT_EQ(link.boxes.Count(), 1u);
    const Alert box = link.boxes.Alerts()[0];
    EXPECT_EQ(box.text, "Unable to open hyperlink:\n\nA sharing violation occurred. ");
    EXPECT_EQ(box.caption, QCoreApplication::applicationName().toStdString());
    EXPECT_EQ(box.icon, AlertIcon::Warning);
    EXPECT_EQ(link.label.TextColor(), QColor(0, 0, 238));
}

// xdg-open replaced, through PATH, by a script of the test's own that writes its process id
// and then runs `body`; the real launcher otherwise, with the text/html handler scripted.
struct ScriptedOpener {
    explicit ScriptedOpener(const QString& body) : oldPath(qgetenv("PATH")) {
        QFile script(dir.filePath("xdg-open"));
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(
            ("#!/bin/sh\necho $$ > '" + dir.filePath("pid") + "'\n" + body + "\n").toLocal8Bit());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", dir.path().toLocal8Bit() + ":" + oldPath);
    }
    ~ScriptedOpener() {
        // An opener still running is ended here, and its end waited for, so it touches no
        // later test.
        if (const pid_t opener = Pid(); opener > 0 && ::kill(opener, SIGKILL) == 0) {
            EXPECT_TRUE(QTest::qWaitFor([opener] { return ::kill(opener, 0) != 0; }, 5000));
        }
        qputenv("PATH", oldPath);
    }
    pid_t Pid() const {
        QFile file(dir.filePath("pid"));
        return file.open(QIODevice::ReadOnly) ? pid_t(file.readAll().trimmed().toInt()) : 0;
    }
    CLinkLauncher Launcher(int openerWaitMs, int* beeps) const {
        CLinkLauncher launcher = CLinkLauncher::System(openerWaitMs);
        launcher.m_queryHtmlCommand = [](QString&) { return kLaunchNoAssociation; };
        launcher.m_beep = [beeps] { ++*beeps; };
        return launcher;
    }

    QTemporaryDir dir;
    QByteArray oldPath;
};

// An opener that stays in the foreground for 10 s, as xdg-open does with the browser it
// started: the click returns at once, the panel's events go on, and once the wait is over the
// link counts as opened. The opener's end, even a crash, comes too late to change that.
TEST(LinkLabelClick, OpenerThatStaysLeavesTheGuiThreadResponsive) {
    ScriptedOpener opener("exec sleep 10");
    Label link("Brenmark");
    int beeps = 0;
    link.label.m_launcher = opener.Launcher(400, &beeps);
    int ticks = 0, ticksWhenOpened = -1;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        ++ticks;
        if (ticksWhenOpened < 0 && link.label.Opened())
            ticksWhenOpened = ticks;
    });
    heartbeat.start(5);

    link.Click();
    EXPECT_FALSE(link.label.Opened()) << "the click waited for the opener";
    EXPECT_EQ(ticks, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticksWhenOpened > 0; }, 10000));
    EXPECT_GT(ticksWhenOpened, 1) << "no event ran while the opener was pending";
    ASSERT_TRUE(QTest::qWaitFor([&] { return opener.Pid() > 0; }, 5000));
    EXPECT_EQ(::kill(opener.Pid(), 0), 0) << "the opener is still running";
    EXPECT_EQ(link.boxes.Count(), 0u);

    ::kill(opener.Pid(), SIGKILL);
    QTest::qWait(300);
    EXPECT_TRUE(link.label.Opened());
    EXPECT_EQ(link.boxes.Count(), 0u);
    EXPECT_EQ(beeps, 0);
}

// An opener that fails after a while: its box comes when it ends, after the click returned.
TEST(LinkLabelClick, OpenerThatFailsLaterShowsTheBoxWhenItEnds) {
    ScriptedOpener opener("sleep 0.2; exit 3");
    Label link("Brenmark");
    int beeps = 0;
    link.label.m_launcher = opener.Launcher(10000, &beeps);
    link.Click();
    EXPECT_EQ(link.boxes.Count(), 0u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.boxes.Count() > 0; }, 10000));
    EXPECT_EQ(link.boxes.Texts(), std::vector<std::string>{LaunchFailureText(31).toStdString()});
    EXPECT_EQ(beeps, 1);
    EXPECT_FALSE(link.label.Opened());
}

// The label closed before its opener answered: the answer goes nowhere.
TEST(LinkLabelClick, LabelGoneBeforeTheOpenerEnds) {
    ScriptedOpener opener("sleep 0.2; exit 3");
    int beeps = 0;
    CAlertRecorder boxes;
    {
        CLinkLabel label("Brenmark");
        label.m_launcher = opener.Launcher(10000, &beeps);
        label.setGeometry(0, 0, 100, 20);
        QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(2, 2));
    }
    QTest::qWait(600);
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(beeps, 0);
}

QImage OnScreen(QWidget& widget) {
    return widget.screen()
        ->grabWindow(widget.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

int CountColour(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == colour.rgb();
    return count;
}

TEST(LinkLabelClick, ColoursOnScreenAfterSuccessThenFailure) {
    const QColor blue(0, 0, 238), purple(85, 26, 139);
    Label link("Brenmark");
    link.label.PreSubclassWindow();
    link.label.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&link.label));
    QApplication::processEvents();
    // The underline alone gives a row of pixels in the exact text colour.
    EXPECT_GT(CountColour(OnScreen(link.label), blue), link.label.width() / 2);
    EXPECT_EQ(CountColour(OnScreen(link.label), purple), 0);

    link.fake.systemCode = 33;
    link.Click();
    QApplication::processEvents();
    EXPECT_GT(CountColour(OnScreen(link.label), purple), link.label.width() / 2);
    EXPECT_EQ(CountColour(OnScreen(link.label), blue), 0);

    // A failed click forgets the opened state but leaves the picture until the next paint.
    link.fake.systemCode = 2;
    link.Click();
    QApplication::processEvents();
    EXPECT_FALSE(link.label.Opened());
    EXPECT_GT(CountColour(OnScreen(link.label), purple), link.label.width() / 2);
    link.label.repaint();
    EXPECT_GT(CountColour(OnScreen(link.label), blue), link.label.width() / 2);
    EXPECT_EQ(CountColour(OnScreen(link.label), purple), 0);
}

TEST(LinkLabelCursor, OwnersCursorShowsWhenThePointerEnters) {
    Label link("Brenmark");
    link.label.PreSubclassWindow();
    link.label.m_cursor = HandCursor();
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(21, 31));
    QApplication::sendEvent(&link.label, &enter);
    EXPECT_EQ(link.label.cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(link.label.cursor().hotSpot(), QPoint(0, 0));
}

TEST(HandCursorImage, WhiteHandOutlinedInBlackWithTheFingertipOnTop) {
    const CursorPixels p = HandCursorPixels();
    int white = 0, topRow = 0;
    for (int y = 0; y < kHandCursorSize; ++y) {
        for (int x = 0; x < kHandCursorSize; ++x) {
            topRow += y == 0 && p[y][x] == kCursorBlack;
            if (p[y][x] != kCursorWhite)
                continue;
            ++white;
            // Every white pixel is enclosed: its four neighbours are inside the image and
            // white or black, never clear.
            const int dx[] = {1, -1, 0, 0}, dy[] = {0, 0, 1, -1};
            for (int k = 0; k < 4; ++k) {
                const int nx = x + dx[k], ny = y + dy[k];
                ASSERT_TRUE(nx >= 0 && ny >= 0 && nx < kHandCursorSize && ny < kHandCursorSize);
                EXPECT_NE(p[ny][nx], kCursorClear) << x << "," << y;
            }
        }
    }
    EXPECT_GT(white, 150);
    EXPECT_GT(topRow, 0);
    // The tip is the finger's width only: a raised finger, not the top of a fist.
    EXPECT_LE(topRow, 4);

    const QImage bits = HandCursor().bitmap().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage mask = HandCursor().mask().toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < kHandCursorSize; ++y) {
        for (int x = 0; x < kHandCursorSize; ++x) {
            EXPECT_EQ(mask.pixel(x, y) == qRgb(0, 0, 0), p[y][x] != kCursorClear) << x << "," << y;
            if (p[y][x] != kCursorClear) {
                EXPECT_EQ(bits.pixel(x, y) == qRgb(0, 0, 0), p[y][x] == kCursorBlack);
            }
        }
    }
}

} // namespace
