// Which language the program chooses, and the panel in each language: every caption in the
// chosen language, and every caption fitting its control at the panel's font.
#include "app/about_box.h"
#include "app/entry_dialogs.h"
#include "app/instrument_dlg.h"
#include "app/language.h"
#include "app/status_line.h"
#include "app/translation.h"
#include "audio/sim/simulated_bench.h"
#include "tests/support/alert_recorder.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct ChoiceCase {
    std::vector<std::string> arguments;
    std::map<std::string, std::string> env;
    Language expected;
};

TEST(Language, CommandLineThenLocaleVariablesInOrder) {
    const auto zh = Language::Chinese, en = Language::English;
    const ChoiceCase cases[] = {
        {{}, {}, zh}, // nothing set: the C locale
        {{}, {{"LANG", "en_US.UTF-8"}}, en},
        {{}, {{"LANG", "de_DE.UTF-8"}}, en},
        {{}, {{"LANG", "zh_CN.UTF-8"}}, zh},
        {{}, {{"LANG", "zh_TW"}}, zh},
        {{}, {{"LANG", "C"}}, zh},
        {{}, {{"LANG", "C.UTF-8"}}, zh},
        {{}, {{"LANG", "POSIX"}}, zh},
        {{}, {{"LC_MESSAGES", "en_GB.UTF-8"}, {"LANG", "zh_CN.UTF-8"}}, en},
        {{}, {{"LC_ALL", "zh_CN.UTF-8"}, {"LC_MESSAGES", "en_GB"}, {"LANG", "en_US"}}, zh},
        {{}, {{"LANGUAGE", "en_US:zh_CN"}, {"LC_ALL", "zh_CN.UTF-8"}}, en},
        {{}, {{"LANGUAGE", "zh_CN:en"}, {"LANG", "en_US.UTF-8"}}, zh},
        // Empty counts as unset.
        {{}, {{"LANGUAGE", ""}, {"LC_ALL", ""}, {"LANG", "en_US.UTF-8"}}, en},
        {{"--lang", "en"}, {{"LANG", "zh_CN.UTF-8"}}, en},
        {{"--lang=en"}, {}, en},
        {{"--device", "hw:1", "--lang", "zh"}, {{"LANGUAGE", "en"}, {"LANG", "en_US.UTF-8"}}, zh},
        // After "--" nothing is an option.
        {{"--", "--lang", "en"}, {}, zh},
    };
    for (const ChoiceCase& c : cases) {
        std::vector<char*> argv;
        for (const std::string& a : c.arguments) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        const auto env = [&c](const char* name) -> const char* {
            const auto it = c.env.find(name);
            return it == c.env.end() ? nullptr : it->second.c_str();
        };
        const auto name = FindLangArgument(argv);
        const std::optional<Language> fromCommandLine = name ? LanguageByName(*name) : std::nullopt;
        ASSERT_EQ(name.has_value(), fromCommandLine.has_value());
        const std::string where = (c.arguments.empty() ? "" : c.arguments.back()) + " " +
                                  (c.env.empty() ? "" : c.env.begin()->second);
        EXPECT_EQ(ChooseLanguage(fromCommandLine, env), c.expected) << where;
    }
}

TEST(Language, UnknownLanguageIsRefused) {
    std::string lang = "--lang", fr = "fr";
    std::vector<char*> argv = {lang.data(), fr.data()};
    EXPECT_FALSE(SetUpLanguage(argv));
    argv.pop_back(); // --lang without a value
    EXPECT_FALSE(SetUpLanguage(argv));
}

const QRegularExpression& Chinese() {
    static const QRegularExpression han(QStringLiteral("\\p{Han}"));
    return han;
}

// The command line's help is written before the application exists: a selected catalogue
// answers at once, the widgets see it only once it is applied.
TEST(Language, SelectedCatalogueAnswersBeforeItIsApplied) {
    const char* source = "示波器工作方式";
    ASSERT_TRUE(SelectLanguage(Language::English));
    EXPECT_FALSE(TranslateText("PanelGroupBox", source).contains(Chinese()));
    EXPECT_EQ(QCoreApplication::translate("PanelGroupBox", source), source);
    ApplySelectedLanguage();
    EXPECT_EQ(QCoreApplication::translate("PanelGroupBox", source),
              TranslateText("PanelGroupBox", source));
    ASSERT_TRUE(InstallTranslation(Language::Chinese));
    EXPECT_EQ(TranslateText("PanelGroupBox", source), source);
    EXPECT_EQ(QCoreApplication::translate("PanelGroupBox", source), source);
}

bool HasCaption(const ControlSpec& c) {
    return *c.caption != '\0' && c.kind != ControlKind::Link;
}

// The panel built after the language was put into effect, as the program starts it.
class PanelInLanguage {
public:
    explicit PanelInLanguage(Language language) {
        EXPECT_TRUE(InstallTranslation(language));
        SelectWaveBackend("sim");
        // The panel reads the calibration file at start: this test's folder, not the user's.
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        m_panel = std::make_unique<CInstrumentDlg>();
        m_panel->OnInitDialog();
    }
    ~PanelInLanguage() {
        m_panel.reset();
        qunsetenv("XDG_CONFIG_HOME");
        SelectWaveBackend(nullptr);
        InstallTranslation(Language::Chinese); // the other tests read the Chinese texts
    }

    const CInstrumentDlg& Panel() const { return *m_panel; }
    CInstrumentDlg& Panel() { return *m_panel; }
    QWidget* Control(const ControlSpec& c) const {
        return c.id == kNoId ? m_panel->Widgets().Static(QString::fromUtf8(c.caption))
                             : m_panel->Widgets().Widget(c.id);
    }

private:
    QTemporaryDir m_config;
    std::unique_ptr<CInstrumentDlg> m_panel;
};

QString ShownCaption(const QWidget* widget) {
    if (auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return button->text();
    }
    if (auto* box = qobject_cast<const QGroupBox*>(widget)) {
        return box->title();
    }
    if (auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    return {};
}

// The strip's word while an analyser holds the card, format and all, in English.
TEST(Language, TheCardLentIsSaidInEnglish) {
    PanelInLanguage panel(Language::English);
    ASSERT_EQ(panel.Panel().LendCard({96000, SampleFormat::S24}), CardLoan::Lent);
    const QString text = panel.Panel().StatusLine()->Text();
    EXPECT_TRUE(
        text.startsWith(QStringLiteral("The analyser is using the sound card at 96 kHz/24-bit | ")))
        << text.toStdString();
    panel.Panel().ReturnCard();
}

struct LocaleCase {
    const char* lang;
    Language expected;
};

class PanelUnderLocale : public testing::TestWithParam<LocaleCase> {};

TEST_P(PanelUnderLocale, EveryCaptionInTheLocalesLanguage) {
    const auto env = [](const char* name) -> const char* {
        return std::string_view(name) == "LANG" ? GetParam().lang : nullptr;
    };
    const Language language = ChooseLanguage(std::nullopt, env);
    ASSERT_EQ(language, GetParam().expected);
    PanelInLanguage panel(language);
    for (const ControlSpec& c : PanelControls()) {
        if (!HasCaption(c)) {
            continue;
        }
        QWidget* widget = panel.Control(c);
        ASSERT_NE(widget, nullptr) << c.caption;
        const QString source = QString::fromUtf8(c.caption);
        const QString shown = ShownCaption(widget);
        if (language == Language::Chinese || !source.contains(Chinese())) {
            EXPECT_EQ(shown, source) << c.id;
        } else {
            // An English word in place of every caption that has Chinese words.
            EXPECT_FALSE(shown.contains(Chinese()))
                << c.caption << " shows " << shown.toStdString();
            EXPECT_FALSE(shown.trimmed().isEmpty()) << c.caption;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, PanelUnderLocale,
                         testing::Values(LocaleCase{"en_US.UTF-8", Language::English},
                                         LocaleCase{"zh_CN.UTF-8", Language::Chinese},
                                         LocaleCase{"C", Language::Chinese}),
                         [](const testing::TestParamInfo<LocaleCase>& info) {
                             return std::string(info.param.lang == std::string_view("C") ? "C"
                                                : info.param.lang[0] == 'e'              ? "en_US"
                                                                                         : "zh_CN");
                         });

struct MenuItemCase {
    Language language;
    const char* text;
};

class AnalyserMenuItem : public testing::TestWithParam<MenuItemCase> {};

TEST_P(AnalyserMenuItem, IsInThePanelsMenuInItsLanguage) {
    PanelInLanguage panel(GetParam().language);
    QStringList items;
    for (const QAction* action : panel.Panel().SystemMenu()->actions()) {
        items << action->text();
    }
    EXPECT_TRUE(items.contains(QString::fromUtf8(GetParam().text)))
        << items.join(QStringLiteral(" | ")).toStdString();
}

INSTANTIATE_TEST_SUITE_P(FrequencyResponse, AnalyserMenuItem,
                         testing::Values(MenuItemCase{Language::Chinese, "频率响应…"},
                                         MenuItemCase{Language::English, "Frequency response…"}),
                         [](const testing::TestParamInfo<MenuItemCase>& info) {
                             const bool english = info.param.language == Language::English;
                             return std::string(english ? "English" : "Chinese");
                         });

// Room for text inside the control, in pixels, as the style lays the control out at its
// template rectangle; -1 for a control without text.
int TextRoom(const QWidget* widget, const QRect& rect) {
    const QStyle* style = widget->style();
    if (auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.rect = rect;
        option.text = button->text();
        return style->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
    }
    if (auto* box = qobject_cast<const QGroupBox*>(widget)) {
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.rect = rect;
        option.text = box->title();
        option.textAlignment = box->alignment();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        // The title starts where the style puts it and must end inside the frame.
        const QRect label =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
        const QRect frame =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, box);
        return frame.right() - label.left();
    }
    if (auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->contentsRect().width() - 2 * label->margin() - std::max(label->indent(), 0);
    }
    return -1;
}

// Template captions that already overflow their rectangles by a pixel or two at this font (the
// dB steps in 21-unit radios, the frequency meter's labels). They are the program's own texts
// and stay as they are; their English, where they have one, must fit.
bool OverflowsInTheTemplate(const ControlSpec& c, const QString& shown) {
    static const char* const kKnown[] = {"-12dB", "-18dB", "-24dB", "-30dB", "X1频率", "X2频率"};
    return shown == QString::fromUtf8(c.caption) &&
           std::any_of(std::begin(kKnown), std::end(kKnown),
                       [&c](const char* known) { return std::string_view(known) == c.caption; });
}

int TextWidth(const QWidget* widget, const QString& text) {
    return QFontMetrics(widget->font()).horizontalAdvance(text);
}

class CaptionFit : public testing::TestWithParam<Language> {};

TEST_P(CaptionFit, EveryCaptionFitsItsControlAtThePanelsFont) {
    PanelInLanguage panel(GetParam());
    for (const ControlSpec& c : PanelControls()) {
        if (!HasCaption(c)) {
            continue;
        }
        QWidget* widget = panel.Control(c);
        ASSERT_NE(widget, nullptr) << c.caption;
        const PixelRect px = DialogUnitsToPixels(c.rect);
        const QString caption = ShownCaption(widget);
        if (OverflowsInTheTemplate(c, caption)) {
            continue;
        }
        const int width = TextWidth(widget, caption);
        const int room = TextRoom(widget, QRect(0, 0, px.width, px.height));
        EXPECT_LE(width, room) << c.id << " \"" << caption.toStdString() << "\" needs " << width
                               << " px, has " << room;
    }
    // RECORD's captions while and after recording.
    const ControlSpec* record = FindPanelControl(ctl::kRecord);
    const PixelRect px = DialogUnitsToPixels(record->rect);
    QWidget* toggle = panel.Control(*record);
    for (const char* source : {"Recording", "Record"}) {
        const QString caption = QCoreApplication::translate("CInstrumentDlg", source);
        EXPECT_LE(TextWidth(toggle, caption), TextRoom(toggle, QRect(0, 0, px.width, px.height)))
            << caption.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, CaptionFit,
                         testing::Values(Language::Chinese, Language::English),
                         [](const testing::TestParamInfo<Language>& info) {
                             return info.param == Language::Chinese ? "Chinese" : "English";
                         });

// The small dialogs' texts wrap inside their labels: none may need more lines than its label
// shows, and every button caption must fit its button.
TEST_P(CaptionFit, DialogTextsFitTheirLabelsAndButtons) {
    EXPECT_TRUE(InstallTranslation(GetParam()));
    CAboutBox about;
    CFreqDlg freq;
    CRefDlg ref;
    for (QDialog* dialog : std::initializer_list<QDialog*>{&about, &freq, &ref}) {
        for (const QLabel* label : dialog->findChildren<QLabel*>()) {
            if (label->text().isEmpty()) {
                continue; // the icon
            }
            // The templates give a one-line text a little less than a line's height, so lines
            // are counted: as many as the label holds whole, and at least one.
            const QFontMetrics metrics(label->font());
            const QRect room = label->contentsRect();
            const QRect needed = metrics.boundingRect(QRect(0, 0, room.width(), 1000),
                                                      Qt::TextWordWrap, label->text());
            const int spacing = metrics.lineSpacing();
            const int lines = (needed.height() + spacing / 2) / spacing;
            EXPECT_LE(lines, std::max(1, room.height() / spacing)) << label->text().toStdString();
            EXPECT_LE(needed.width(), room.width()) << label->text().toStdString();
        }
        for (const QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
            EXPECT_LE(TextWidth(button, button->text()), TextRoom(button, button->rect()))
                << button->text().toStdString();
        }
    }
    InstallTranslation(Language::Chinese);
}

// A refused entry is explained in the chosen language.
TEST(Language, EntryRefusalsInEnglish) {
    ASSERT_TRUE(InstallTranslation(Language::English));
    {
        CAlertRecorder alerts;
        CFreqDlg freq;
        CRefDlg ref;
        for (CEntryDialog* dialog : std::initializer_list<CEntryDialog*>{&freq, &ref}) {
            dialog->show();
            dialog->Edit()->setText(QStringLiteral("-1"));
            dialog->OkButton()->click();
        }
        ASSERT_EQ(alerts.Count(), 2u);
        for (const Alert& alert : alerts.Alerts()) {
            EXPECT_FALSE(QString::fromStdString(alert.text).contains(Chinese())) << alert.text;
        }
    }
    InstallTranslation(Language::Chinese);
}

} // namespace
