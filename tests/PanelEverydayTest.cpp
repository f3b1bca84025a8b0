// The main window used every day without a mouse: the tree's current node
// shows its page, the shortcuts, the tray's state and menu, the Block All
// banner, the shutdown that asks, the user guide in the help window, and the
// window within a small screen.
#include "gui/Clock.h"
#include "os/Clock.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/FilterState.h"
#include "panel/core/PanelCore.h"
#include "panel/dialogs/HelpWindow.h"
#include "panel/widgets/WindowTools.h"
#include "panel/windows/BlockAllBanner.h"
#include "panel/windows/MainForm.h"
#include "panel/windows/TrayIcon.h"

#include "protocol/FirewallMode.h"
#include "protocol/ReviewList.h"
#include "tests/PanelWindowDriver.h"
#include "tests/Sandbox.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QSpinBox>
#include <QMenu>
#include <QPainter>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <cstdlib>

#include <gtest/gtest.h>

using testing_support::Part;
using testing_support::Sandbox;
using testing_support::Tree;
using testing_support::WithModal;
using panel::BlockAllBanner;
using panel::HelpWindow;
using panel::MainForm;
using panel::NavigationTree;
using panel::TrayIcon;

namespace {

constexpr const char* kRules =
    "<APPLICATIONS>"
    "<APPLICATION><EXENAME>ALLOWED</EXENAME><DESCRIPTION>ALLOWED</DESCRIPTION><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>BLOCKED</EXENAME><DESCRIPTION>BLOCKED</DESCRIPTION><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION>"
    "</APPLICATIONS>";

class Everyday : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string errors = sandbox.root + "/errors";
        ::mkdir(errors.c_str(), 0700);
        sandbox.SetSetting("ErrLogs", errors);
        sandbox.SetSetting("LogFileCount", "30");
        sandbox.SetSetting("SecurityMode", "Normal");
        sandbox.SetSetting("VRNFolder", sandbox.root + "/install/");
        sandbox.SetSetting("FirstClose", "0");
        sandbox.SetSetting("SecurityStatus", "1");
        sandbox.WriteRules(kRules);
        form = std::make_unique<MainForm>(core);
        form->Load();
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    void TearDown() override
    {
        form.reset();
        panel::SetUrlOpener(nullptr);
        panel::TheErrorLog().Close();
    }
    TrayIcon* Tray() const { return Part<TrayIcon>(*form); }
    // A learning mode's decision for each of count programs, as the engines list them.
    static void WriteReviewItems(int count)
    {
        for (int program = 0; program < count; ++program) {
            protocol::review::Item item;
            item.time = os::WallTime();
            item.mode = "learn";
            item.address = "127.0.0.2";
            item.remotePort = 443;
            item.localPort = 40000;
            item.permitted = true;
            item.path = "/usr/bin/program" + std::to_string(program);
            ASSERT_TRUE(protocol::review::Append(protocol::review::ListPath(), item));
        }
    }
    BlockAllBanner* Banner() const { return Part<BlockAllBanner>(*form); }
    void Keys(QWidget* to, std::initializer_list<Qt::Key> keys)
    {
        for (const Qt::Key key : keys)
            QTest::keyClick(to, key);
    }

    Sandbox sandbox;
    panel::PanelCore core;
    std::unique_ptr<MainForm> form;
};

// The same window on a clock that moves only when the test moves it.
class EverydayOnTheClock : public Everyday {
protected:
    void SetUp() override
    {
        clock.emplace();
        Everyday::SetUp();
    }
    void TearDown() override
    {
        Everyday::TearDown();
        clock.reset();
    }

    std::optional<gui::ManualClock> clock;
};

}  // namespace

TEST(FilterState, SaysWhatTheFirewallDoes)
{
    using panel::Filtering;
    struct Case {
        std::optional<int> level;
        bool custom;
        bool blockAll;
        bool stopped;
        Filtering filtering;
        const char* levelName;
        const char* tip;
    };
    const Case cases[] = {
        {0, false, false, false, Filtering::kAtLevel, "High", "Korvel Firewall\nFiltering at level High"},
        {1, false, false, false, Filtering::kAtLevel, "Normal", "Korvel Firewall\nFiltering at level Normal"},
        {2, false, false, false, Filtering::kAtLevel, "Low", "Korvel Firewall\nFiltering at level Low"},
        {std::nullopt, true, false, false, Filtering::kAtLevel, "Custom", "Korvel Firewall\nFiltering at level Custom"},
        // The rules file unreadable: no level is known, and none is made up.
        {std::nullopt, false, false, false, Filtering::kAtLevel, "unknown", "Korvel Firewall\nFiltering at level unknown"},
        {7, false, false, false, Filtering::kAtLevel, "unknown", "Korvel Firewall\nFiltering at level unknown"},
        {1, false, true, false, Filtering::kBlockAll, "Normal", "Korvel Firewall\nBlock All: every connection is blocked"},
        // Shutting down wins over everything else.
        {1, false, true, true, Filtering::kStopped, "Normal", "Korvel Firewall\nNot filtering: shut down"},
        {0, false, false, true, Filtering::kStopped, "High", "Korvel Firewall\nNot filtering: shut down"},
    };
    for (const Case& c : cases) {
        panel::SecurityDisplay display;
        display.level = c.level;
        display.custom = c.custom;
        display.blockAll = c.blockAll;
        const panel::FilterState state = panel::DescribeFiltering(display, c.stopped);
        EXPECT_EQ(state.filtering, c.filtering) << c.tip;
        EXPECT_EQ(state.level, c.levelName) << c.tip;
        EXPECT_EQ(state.tip, c.tip);
    }
    // The mode, while filtering at a level; learning that ran out is asking.
    using protocol::mode::Mode;
    const std::time_t now = 1'800'000'000;
    const struct {
        Mode stored;
        std::time_t learnUntil;
        bool blockAll;
        Mode shown;
        const char* tipStart; // the whole tip, but for a date
    } modes[] = {
        {Mode::kAsk, 0, false, Mode::kAsk, "Korvel Firewall\nFiltering at level Normal"},
        {Mode::kQuietAllow, 0, false, Mode::kQuietAllow, "Korvel Firewall\nFiltering at level Normal\nQuiet mode: allowing"},
        {Mode::kQuietBlock, 0, false, Mode::kQuietBlock, "Korvel Firewall\nFiltering at level Normal\nQuiet mode: blocking"},
        {Mode::kQuietBlock, 0, true, Mode::kQuietBlock, "Korvel Firewall\nBlock All: every connection is blocked"},
        {Mode::kLearn, now + 3600, false, Mode::kLearn, "Korvel Firewall\nFiltering at level Normal\nLearning until "},
        {Mode::kLearn, now - 1, false, Mode::kAsk, "Korvel Firewall\nFiltering at level Normal"},
    };
    for (const auto& c : modes) {
        panel::SecurityDisplay display;
        display.level = 1;
        display.blockAll = c.blockAll;
        protocol::mode::State stored;
        stored.mode = c.stored;
        stored.learnUntil = c.learnUntil;
        const panel::FilterState state = panel::DescribeFiltering(display, false, stored, now);
        EXPECT_EQ(state.mode, c.shown) << c.tipStart;
        EXPECT_EQ(state.tip.substr(0, std::string(c.tipStart).size()), c.tipStart);
        EXPECT_EQ(state.tip.size() > std::string(c.tipStart).size(), c.shown == Mode::kLearn) << state.tip;
    }
}

// Arrow keys alone: every node they reach shows its page at once.
TEST_F(Everyday, ArrowKeysInTheTreeShowThePageOfTheCurrentNode)
{
    NavigationTree* tree = Tree(*form);
    tree->setFocus();
    tree->setCurrentItem(tree->SystemNode());
    // System settings, Protection, Applications, Allowed Applications, ALLOWED.
    Keys(tree, {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down});
    EXPECT_EQ(core.Selected().view, panel::Selection::View::kApplication);
    EXPECT_EQ(core.Selected().application, "ALLOWED");
    Keys(tree, {Qt::Key_Down, Qt::Key_Down});
    EXPECT_EQ(core.Selected().application, "BLOCKED");
    // The last nodes are the Connections, the Host lists and the Review
    // pages; the one above them the last log.
    QTest::keyClick(tree, Qt::Key_End);
    EXPECT_TRUE(form->findChild<QWidget*>("ReviewView")->isVisible());
    QTest::keyClick(tree, Qt::Key_Up);
    EXPECT_TRUE(form->findChild<QWidget*>("HostListsView")->isVisible());
    EXPECT_FALSE(form->findChild<QWidget*>("ReviewView")->isVisible());
    QTest::keyClick(tree, Qt::Key_Up);
    EXPECT_TRUE(form->findChild<QWidget*>("ConnectionsView")->isVisible());
    EXPECT_FALSE(form->findChild<QWidget*>("HostListsView")->isVisible());
    QTest::keyClick(tree, Qt::Key_Up);
    EXPECT_EQ(core.Selected().view, panel::Selection::View::kLog);
    EXPECT_EQ(core.Selected().logKey, "Log4");
    QTest::keyClick(tree, Qt::Key_Home);
    EXPECT_EQ(core.Selected().view, panel::Selection::View::kSystem);
}

TEST_F(Everyday, BlockAllByShortcutShowsTheBannerAndTheTrayAndTheBannerTurnsItOff)
{
    ASSERT_TRUE(Tray());
    EXPECT_EQ(Tray()->State().filtering, panel::Filtering::kAtLevel);
    EXPECT_EQ(Tray()->State().tip, "Korvel Firewall\nFiltering at level High");
    EXPECT_FALSE(Banner()->isVisible());

    QTest::keyClick(form.get(), Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(core.Settings().SecurityStatus, "0");
    EXPECT_TRUE(Banner()->isVisible());
    EXPECT_EQ(Tray()->State().filtering, panel::Filtering::kBlockAll);
    EXPECT_TRUE(Tray()->Menu()->findChild<QAction*>("BlockAllMnu")->isChecked());
    EXPECT_TRUE(form->findChild<QAction*>("BlockAll")->isChecked());

    Part<QPushButton>(*form, "BlockAllOff")->click();
    EXPECT_EQ(core.Settings().SecurityStatus, "1");
    EXPECT_FALSE(Banner()->isVisible());
    EXPECT_FALSE(form->findChild<QAction*>("BlockAll")->isChecked());
    EXPECT_EQ(Tray()->State().filtering, panel::Filtering::kAtLevel);

    // From the tray's menu, both ways.
    QAction* trayBlockAll = Tray()->Menu()->findChild<QAction*>("BlockAllMnu");
    trayBlockAll->trigger();
    EXPECT_EQ(core.Settings().SecurityStatus, "0");
    EXPECT_TRUE(form->findChild<QAction*>("BlockAll")->isChecked());
    EXPECT_TRUE(Banner()->isVisible());
    trayBlockAll->trigger();
    EXPECT_EQ(core.Settings().SecurityStatus, "1");
    EXPECT_FALSE(Banner()->isVisible());
}

TEST_F(Everyday, TrayIconDiffersBetweenTheStates)
{
    const auto image = [this](panel::Filtering filtering) { return Tray()->StateIcon(filtering).pixmap(32).toImage(); };
    EXPECT_NE(image(panel::Filtering::kAtLevel), image(panel::Filtering::kBlockAll));
    EXPECT_NE(image(panel::Filtering::kAtLevel), image(panel::Filtering::kStopped));
    EXPECT_NE(image(panel::Filtering::kBlockAll), image(panel::Filtering::kStopped));
    // A mode that does not ask has a badge of its own.
    using protocol::mode::Mode;
    const auto badged = [this](Mode mode) { return Tray()->StateIcon(panel::Filtering::kAtLevel, mode).pixmap(32).toImage(); };
    EXPECT_EQ(badged(Mode::kAsk), image(panel::Filtering::kAtLevel));
    EXPECT_NE(badged(Mode::kQuietAllow), image(panel::Filtering::kAtLevel));
    EXPECT_NE(badged(Mode::kQuietAllow), badged(Mode::kQuietBlock));
    EXPECT_NE(badged(Mode::kQuietBlock), badged(Mode::kLearn));
    EXPECT_NE(badged(Mode::kLearn), badged(Mode::kQuietAllow));
    if (const char* folder = std::getenv("ZEL_PICTURES")) {
        QImage row(4 * 32, 32, QImage::Format_ARGB32);
        row.fill(QColor(51, 51, 51));
        QPainter painter(&row);
        int x = 0;
        for (const Mode mode : {Mode::kAsk, Mode::kQuietAllow, Mode::kQuietBlock, Mode::kLearn}) {
            painter.drawPixmap(x + 5, 5, Tray()->StateIcon(panel::Filtering::kAtLevel, mode).pixmap(22));
            x += 32;
        }
        painter.end();
        EXPECT_TRUE(row.scaled(row.size() * 2).save(QString(folder) + "/tray-modes.png"));
    }
    // For the documentation: the three side by side at the tray's size (the
    // last is seen only while the panel shuts down).
    if (const char* folder = std::getenv("ZEL_PICTURES")) {
        QImage row(3 * 32, 32, QImage::Format_ARGB32);
        row.fill(QColor(51, 51, 51));
        QPainter painter(&row);
        int x = 0;
        for (const auto state : {panel::Filtering::kAtLevel, panel::Filtering::kBlockAll, panel::Filtering::kStopped}) {
            painter.drawPixmap(x + 5, 5, Tray()->StateIcon(state).pixmap(22));
            x += 32;
        }
        painter.end();
        EXPECT_TRUE(row.scaled(row.size() * 2).save(QString(folder) + "/tray-states.png"));
    }
}

TEST_F(Everyday, TrayLevelMenuSetsThePresetAndShowsIt)
{
    QMenu* levels = Tray()->Menu()->findChild<QMenu*>("LevelMnu");
    ASSERT_TRUE(levels);
    EXPECT_TRUE(levels->findChild<QAction*>("LevelMnu0")->isChecked()); // DENY incoming: High
    levels->findChild<QAction*>("LevelMnu2")->trigger();
    EXPECT_EQ(core.GeneralDefault(rules::Direction::kIncoming), rules::Permission::kPermit);
    EXPECT_EQ(Tray()->State().tip, "Korvel Firewall\nFiltering at level Low");
    EXPECT_TRUE(levels->findChild<QAction*>("LevelMnu2")->isChecked());
    EXPECT_FALSE(levels->findChild<QAction*>("LevelMnu0")->isChecked());
    // Written to the rules file, for the engines.
    sandbox.WriteRules(kRules);
    panel::PanelCore reread;
    reread.LoadSettings(0);
    reread.LoadRules();
    EXPECT_EQ(core.Rules().Find("ANY")->incoming, rules::Permission::kPermit);
}

// The mode from the tray's menu and from the options; learning that runs out
// asks again and says so once, with the number of programs to review.
TEST_F(EverydayOnTheClock, TheModeIsChosenInTheTrayAndTheOptionsAndTheEndOfLearningIsToldOnce)
{
    using protocol::mode::Mode;
    QMenu* modes = Tray()->Menu()->findChild<QMenu*>("ModeMnu");
    ASSERT_TRUE(modes);
    const auto item = [modes](int index) { return modes->findChild<QAction*>(QString("ModeMnu%1").arg(index)); };
    EXPECT_TRUE(item(0)->isChecked());
    item(2)->trigger();
    EXPECT_EQ(protocol::mode::Read().mode, Mode::kQuietBlock);
    EXPECT_EQ(Tray()->State().tip, "Korvel Firewall\nFiltering at level High\nQuiet mode: blocking");
    EXPECT_TRUE(item(2)->isChecked());
    if (const char* folder = std::getenv("ZEL_PICTURES")) {
        modes->adjustSize();
        EXPECT_TRUE(modes->grab().save(QString(folder) + "/tray-mode-menu.png"));
    }
    EXPECT_FALSE(item(0)->isChecked());
    item(3)->trigger();
    const protocol::mode::State learning = protocol::mode::Read();
    EXPECT_EQ(learning.mode, Mode::kLearn);
    EXPECT_EQ(learning.learnUntil, os::WallTime() + 7 * 24 * 3600);

    // The options show the days left; OK alone does not make learning last
    // longer, another count of days does, from now.
    const auto options = [this](const std::function<void(QComboBox*, QSpinBox*)>& change) {
        return WithModal([this] { form->findChild<QAction*>("ToolsSet")->trigger(); }, [&](QDialog* dialog) {
            auto* mode = dialog->findChild<QComboBox*>("ModeCombo");
            auto* days = dialog->findChild<QSpinBox*>("LearnDays");
            ASSERT_TRUE(mode && days);
            change(mode, days);
            dialog->findChild<QAbstractButton*>("OkBtn")->click();
        });
    };
    clock->Advance(3 * 1000);
    ASSERT_TRUE(options([](QComboBox* mode, QSpinBox* days) {
        EXPECT_EQ(mode->currentIndex(), 3);
        EXPECT_EQ(days->value(), 7);
        EXPECT_TRUE(days->isEnabled());
    }));
    EXPECT_EQ(protocol::mode::Read().learnUntil, learning.learnUntil);
    ASSERT_TRUE(options([](QComboBox*, QSpinBox* days) { days->setValue(2); }));
    EXPECT_EQ(protocol::mode::Read().learnUntil, os::WallTime() + 2 * 24 * 3600);
    EXPECT_EQ(Tray()->State().mode, Mode::kLearn);

    // Learning ends within the half minute; two programs wait to be reviewed.
    WriteReviewItems(2);
    ASSERT_TRUE(protocol::mode::Write({Mode::kLearn, os::WallTime() + 10}));
    const int toldBefore = Tray()->BalloonsTold();
    clock->Advance(31 * 1000);
    EXPECT_EQ(protocol::mode::Read().mode, Mode::kAsk);
    EXPECT_EQ(Tray()->State().tip, "Korvel Firewall\nFiltering at level High");
    EXPECT_TRUE(item(0)->isChecked());
    EXPECT_EQ(Tray()->BalloonsTold(), toldBefore + 1);
    EXPECT_EQ(Tray()->LastBalloon(), "Learning ended: 2 programs to review");
    clock->Advance(31 * 1000);
    EXPECT_EQ(Tray()->BalloonsTold(), toldBefore + 1);
}

TEST_F(Everyday, ShutDownAsksAndCancelKeepsFiltering)
{
    QAction* shutDown = Tray()->Menu()->findChild<QAction*>("ExitMnu");
    ASSERT_TRUE(WithModal([&] { shutDown->trigger(); }, [&](QDialog* question) {
        EXPECT_EQ(question->objectName(), "ShutDownQuestion");
        // Escape is Cancel, and so is Return: the safe answer is the default.
        QTest::keyClick(question, Qt::Key_Return);
    }));
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(Tray()->State().filtering, panel::Filtering::kAtLevel);

    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    limit.start(5000);
    QTimer::singleShot(0, shutDown, [&] {
        WithModal([&] { shutDown->trigger(); }, [](QDialog* question) {
            question->findChild<QPushButton*>("ShutDownYes")->click();
        });
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_EQ(Tray()->State().filtering, panel::Filtering::kStopped);
    EXPECT_EQ(Tray()->State().tip, "Korvel Firewall\nNot filtering: shut down");
}

TEST_F(Everyday, F1ShowsTheUserGuideInThePanelsOwnWindow)
{
    // A browser would show the guide's Markdown as text: none is asked.
    QStringList opened;
    panel::SetUrlOpener([&](const QUrl& url) {
        opened << url.toString();
        return true;
    });
    QTest::keyClick(form.get(), Qt::Key_F1);
    EXPECT_TRUE(opened.isEmpty()) << opened.join(' ').toStdString();
    auto* help = form->findChild<HelpWindow*>("HelpWindow");
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->isVisible());
    // Beside the test program nothing is installed: the window says which page it looked for.
    const QString shown = help->findChild<QTextBrowser*>("HelpPage")->toPlainText();
    EXPECT_TRUE(shown.contains("/share/tessary/help/user-guide.md")) << shown.toStdString();
    // A second F1 brings the same window forward.
    QTest::keyClick(form.get(), Qt::Key_F1);
    EXPECT_EQ(form->findChildren<HelpWindow*>().size(), 1);
    help->close();
    panel::SetUrlOpener(nullptr);
}

// Each guide as the help window shows it: Markdown with every picture it
// names, none wider than the page; a link to a heading of another page
// followed inside the window and scrolled to, Back returning; a link to
// the web left to the desktop's browser.
// On a dark page whose palette keeps the default dark blue, the guide's
// links still read (once they did not show); and Enter with no link chosen
// goes nowhere (Back took it, as the window's default button).
TEST(HelpWindowGuides, LinksReadOnADarkPageAndEnterGoesNowhere)
{
    const QPalette before = QApplication::palette();
    QPalette dark = before;
    dark.setColor(QPalette::Base, QColor(35, 38, 41));
    dark.setColor(QPalette::Text, QColor(239, 240, 241));
    dark.setColor(QPalette::Link, QColor(16, 18, 155));
    QApplication::setPalette(dark);
    {
        HelpWindow window(QString(ZEL_SOURCE_DIR "/docs/user-guide.md"), nullptr);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        auto* page = window.findChild<QTextBrowser*>("HelpPage");
        ASSERT_TRUE(page);
        int links = 0;
        for (QTextBlock block = page->document()->begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it)
                if (const QTextCharFormat format = it.fragment().charFormat(); format.isAnchor() && !format.anchorHref().isEmpty()) {
                    ++links;
                    EXPECT_GE(panel::Contrast(format.foreground().color(), dark.color(QPalette::Base)), 3.0)
                        << format.anchorHref().toStdString();
                }
        EXPECT_GE(links, 10);
        for (auto* button : window.findChildren<QPushButton*>())
            EXPECT_FALSE(button->autoDefault() || button->isDefault()) << button->text().toStdString();
    }
    QApplication::setPalette(before);
}

TEST(HelpWindowGuides, PicturesFitAndLinksAreFollowedInsideTheWindow)
{
    QStringList opened;
    panel::SetUrlOpener([&](const QUrl& url) {
        opened << url.toString();
        return true;
    });
    for (const char* guide : {"docs/user-guide.md", "docs/de/user-guide.md"}) {
        SCOPED_TRACE(guide);
        const QUrl start = QUrl::fromLocalFile(QString(ZEL_SOURCE_DIR "/") + guide);
        HelpWindow window(start.toLocalFile(), nullptr);
        window.resize(640, 560);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        auto* page = window.findChild<QTextBrowser*>("HelpPage");
        ASSERT_TRUE(page);
        ASSERT_EQ(page->sourceType(), QTextDocument::MarkdownResource);

        const auto pictures = [&] {
            std::vector<std::pair<int, int>> shownAndNatural;
            for (QTextBlock block = page->document()->begin(); block.isValid(); block = block.next())
                for (auto it = block.begin(); !it.atEnd(); ++it)
                    if (const QTextCharFormat format = it.fragment().charFormat(); format.isImageFormat()) {
                        const QTextImageFormat picture = format.toImageFormat();
                        const QPixmap natural =
                            page->document()->resource(QTextDocument::ImageResource, QUrl(picture.name())).value<QPixmap>();
                        EXPECT_FALSE(natural.isNull()) << picture.name().toStdString();
                        const int shown = picture.hasProperty(QTextFormat::ImageWidth) ? qRound(picture.width()) : natural.width();
                        shownAndNatural.emplace_back(shown, natural.width());
                    }
            return shownAndNatural;
        };
        const int room = page->viewport()->width();
        const auto fitted = pictures();
        EXPECT_GE(fitted.size(), 10u);
        bool narrowed = false;
        for (const auto& [shown, natural] : fitted) {
            EXPECT_LE(shown, room);
            narrowed = narrowed || shown < natural;
        }
        EXPECT_TRUE(narrowed) << "no screenshot wider than a 640-pixel window";
        // Wide enough, every picture is shown at its own size again.
        window.resize(1600, 900);
        for (const auto& [shown, natural] : pictures())
            EXPECT_EQ(shown, std::min(natural, page->viewport()->width()));

        // Every heading of this page a link names, and each other page once
        // (a heading of it where a link names one): leaving the page and
        // coming Back loads it again, which is what takes the time.
        QStringList hrefs;
        for (QTextBlock block = page->document()->begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it)
                if (const QString href = it.fragment().charFormat().anchorHref(); !href.isEmpty() && !hrefs.contains(href))
                    hrefs << href;
        std::vector<QUrl> links;
        QStringList otherPages;
        for (const bool withHeading : {true, false})
            for (const QUrl link : hrefs) {
                const QString other = link.adjusted(QUrl::RemoveFragment).toString();
                if (other.isEmpty() ? withHeading : link.hasFragment() == withHeading && !otherPages.contains(other)) {
                    links.push_back(link);
                    if (!other.isEmpty())
                        otherPages << other;
                }
            }
        EXPECT_GE(links.size(), 8u);
        EXPECT_GE(otherPages.size(), 3);
        window.resize(640, 560);
        auto* back = window.findChild<QPushButton*>("HelpBack");
        ASSERT_TRUE(back);
        bool scrolledToAHeading = false;
        for (const QUrl& link : links) {
            SCOPED_TRACE(link.toString().toStdString());
            emit page->anchorClicked(link);
            ASSERT_EQ(page->source(), start.resolved(link));
            if (link.hasFragment()) {
                QTextBlock heading;
                for (QTextBlock block = page->document()->begin(); block.isValid() && !heading.isValid(); block = block.next())
                    if (block.blockFormat().headingLevel() > 0
                        && block.begin().fragment().charFormat().anchorNames().contains(link.fragment()))
                        heading = block;
                ASSERT_TRUE(heading.isValid()) << "no heading has the anchor";
                const double top = page->document()->documentLayout()->blockBoundingRect(heading).top();
                const int at = page->verticalScrollBar()->value();
                // At the top of the window, unless the page ends before it could be.
                EXPECT_TRUE(std::abs(at - top) < 30 || at == page->verticalScrollBar()->maximum()) << at << " " << top;
                scrolledToAHeading = scrolledToAHeading || at > 0;
            }
            ASSERT_TRUE(back->isEnabled());
            back->click();
            ASSERT_EQ(page->source().adjusted(QUrl::RemoveFragment), start);
        }
        EXPECT_TRUE(scrolledToAHeading);
        emit page->anchorClicked(QUrl("https://tessary.org/"));
        EXPECT_EQ(page->source().adjusted(QUrl::RemoveFragment), start);
    }
    EXPECT_EQ(opened, QStringList({"https://tessary.org/", "https://tessary.org/"}));
    panel::SetUrlOpener(nullptr);
}

TEST_F(Everyday, ShortcutsAddAndFindInLogs)
{
    ASSERT_TRUE(WithModal([&] { QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier); },
                          [](QDialog* wizard) { EXPECT_EQ(wizard->objectName(), "CreateNewApp_Step1"); }));
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(core.Selected().view, panel::Selection::View::kLog);
    EXPECT_EQ(Tree(*form)->currentItem(), Tree(*form)->LogNode("Log4"));
}

TEST_F(Everyday, ToolbarCannotBeHiddenAndIsReachedByTab)
{
    auto* bar = form->findChild<QToolBar*>("MainToolBar");
    ASSERT_TRUE(bar);
    EXPECT_FALSE(bar->toggleViewAction()->isVisible());
    EXPECT_EQ(bar->contextMenuPolicy(), Qt::PreventContextMenu);
    QWidget* add = bar->widgetForAction(form->findChild<QAction*>("App"));
    ASSERT_TRUE(add);
    EXPECT_TRUE(add->focusPolicy() & Qt::TabFocus);
}

// However large the parts would like to be, the window fits the screen and
// opens on it: what does not fit scrolls.
TEST_F(Everyday, WindowFitsTheScreen)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(form->minimumSizeHint().width(), area.width());
    EXPECT_LE(form->minimumSizeHint().height(), area.height());
    EXPECT_LE(form->width(), area.width());
    EXPECT_LE(form->height(), area.height());
    EXPECT_TRUE(area.contains(form->geometry().topLeft()));
}
