// The control panel in German, as a user of that language meets it: every
// page of the tree, the menus and the dialogs opened from the window. No
// English may be left in them: neither a text the translation has in German
// but the window shows as written, nor a sentence never marked for
// translation (it gives itself away by its small English words).
#include "panel/control/BackstopAlerts.h"
#include "panel/core/BackstopNotice.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/KernelLayer.h"
#include "panel/core/PanelCore.h"
#include "panel/core/RulesStore.h"
#include "panel/dialogs/FirstRunWindow.h"
#include "panel/widgets/WindowTools.h"
#include "panel/windows/MainForm.h"

#include "protocol/LogFiles.h"
#include "tests/PanelWindowDriver.h"
#include "tests/Sandbox.h"
#include "text/Translate.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QRegularExpression>
#include <QTextDocument>
#include <QTranslator>
#include <QTreeWidget>
#include <QXmlStreamReader>

#include <ctime>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>

using testing_support::Sandbox;
using testing_support::WithModal;
using panel::MainForm;
using panel::NavigationTree;

namespace {

// Names chosen without English words, so that only the panel's own texts can
// be caught.
constexpr const char* kRules =
    "<APPLICATIONS>"
    "<APPLICATION><EXENAME>CURL</EXENAME><DESCRIPTION>curl</DESCRIPTION><APPPATH>/usr/bin/curl</APPPATH>"
    "<INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF><RULES>"
    "<RULE><RULENAME>Web</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE>"
    "<ENABLE>1</ENABLE><PORTS><PORT><NUMBER>443</NUMBER><HOSTS><HOST>*.debian.org</HOST></HOSTS></PORT></PORTS></RULE>"
    "<RULE><RULENAME>Mail</RULENAME><DIRECTION>INCOMING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE>"
    "<ENABLE>1</ENABLE></RULE></RULES></APPLICATION>"
    "<APPLICATION><EXENAME>SSH</EXENAME><DESCRIPTION>ssh</DESCRIPTION><APPPATH>/usr/bin/ssh</APPPATH>"
    "<INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>SSHD</EXENAME><DESCRIPTION>sshd</DESCRIPTION><ISSERVICE>1</ISSERVICE>"
    "<INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><INDEF>ASK</INDEF>"
    "<OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "</APPLICATIONS>";

std::string Record(const char* path, const char* name, int direction, int permission, int port, const char* reason)
{
    return std::string("<DATE>08.12.2026</DATE><TIME>09:30:00</TIME><EXEPATH>") + path + "</EXEPATH><APPLICATION>" + name
        + "</APPLICATION><PROTOCOL>1</PROTOCOL><DIRECTION>" + std::to_string(direction)
        + "</DIRECTION><IP>10.0.0.9</IP><LOCALPORT>" + std::to_string(direction == 0 ? port : 0) + "</LOCALPORT><REMOTEPORT>"
        + std::to_string(direction == 0 ? 40000 : port) + "</REMOTEPORT><PERMISSION>" + std::to_string(permission)
        + "</PERMISSION><SERVICE>0</SERVICE><REASON>" + reason + "</REASON>\r\n";
}

// The English texts the German file translates differently, read from it.
std::set<QString> TranslatedSources()
{
    QFile file(ZEL_SOURCE_DIR "/translations/zel_de.ts");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    std::set<QString> sources;
    QXmlStreamReader xml(&file);
    QString source;
    bool numerus = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"message") {
            numerus = xml.attributes().value("numerus") == u"yes";
        } else if (xml.name() == u"source") {
            source = xml.readElementText();
        } else if (xml.name() == u"translation" && !numerus) {
            const QString german = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            if (!german.isEmpty() && german != source)
                sources.insert(QString(source).remove('&'));
        }
    }
    return sources;
}

// Where a text was met, and the text.
using Seen = std::map<QString, QString>;

void Add(Seen& seen, const QString& where, QString text)
{
    if (Qt::mightBeRichText(text)) {
        QTextDocument document;
        document.setHtml(text);
        text = document.toPlainText();
    }
    text = text.remove('&').trimmed();
    if (!text.isEmpty())
        seen.emplace(text, where);
}

void Collect(QWidget* window, Seen& seen)
{
    const QString top = window->objectName();
    Add(seen, top + " title", window->windowTitle());
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window))
            continue;
        const QString where = top + "/" + widget->objectName();
        Add(seen, where + " tip", widget->toolTip());
        if (auto* label = qobject_cast<QLabel*>(widget))
            Add(seen, where, label->text());
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            Add(seen, where, button->text());
        if (auto* group = qobject_cast<QGroupBox*>(widget))
            Add(seen, where, group->title());
        if (auto* edit = qobject_cast<QLineEdit*>(widget))
            Add(seen, where + " placeholder", edit->placeholderText());
        if (auto* combo = qobject_cast<QComboBox*>(widget))
            for (int i = 0; i < combo->count(); ++i)
                Add(seen, where, combo->itemText(i));
        if (auto* list = qobject_cast<QListWidget*>(widget))
            for (int i = 0; i < list->count(); ++i)
                Add(seen, where, list->item(i)->text());
        if (auto* tree = qobject_cast<QTreeWidget*>(widget)) {
            for (int column = 0; column < tree->columnCount(); ++column)
                Add(seen, where + " header", tree->headerItem()->text(column));
            for (QTreeWidgetItemIterator it(tree); *it; ++it)
                for (int column = 0; column < tree->columnCount(); ++column) {
                    Add(seen, where, (*it)->text(column));
                    Add(seen, where + " tip", (*it)->toolTip(column));
                }
        }
    }
    for (QAction* action : window->findChildren<QAction*>()) {
        Add(seen, top + "/" + action->objectName(), action->text());
        Add(seen, top + "/" + action->objectName() + " tip", action->toolTip());
    }
    for (QMenu* menu : window->findChildren<QMenu*>())
        Add(seen, top + "/" + menu->objectName() + " menu", menu->title());
}

class German : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(own.load(QLocale(QLocale::German, QLocale::Germany), "zel", "_", ":/translations"));
        QCoreApplication::installTranslator(&own);
        translator = &own;
        text::SetTranslator([](const char* context, const char* text, const char* disambiguation, int n) {
            QString result = translator->translate(context, text, disambiguation, n);
            if (result.isEmpty())
                result = QString::fromUtf8(text);
            return text::WithCount(result.toStdString(), n);
        });
        sandbox.InstallPanel("http 80\r\nhttps 443\r\n");
        sandbox.WriteRules(kRules);
        testing_support::WriteText(protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr)),
                                   Record("/usr/bin/curl", "CURL", 1, 1, 443, "answer") + Record("/usr/sbin/sshd", "SSHD", 0, 0, 22, "default")
                                       + Record("/usr/bin/curl", "CURL", 1, 0, 25, "rule") + Record("/usr/bin/ssh", "SSH", 0, 1, 22, "peer"));
        panel::SetMessageSink([this](const QString& text) { seen.emplace(text, "message"); });
        form = std::make_unique<MainForm>(core);
        form->Load();
        form->show();
    }
    void TearDown() override
    {
        form.reset();
        panel::SetMessageSink(nullptr);
        text::SetTranslator(nullptr);
        QCoreApplication::removeTranslator(&own);
        panel::TheErrorLog().Close();
    }

    static inline QTranslator* translator = nullptr;
    QTranslator own;
    Sandbox sandbox;
    panel::PanelCore core;
    std::unique_ptr<MainForm> form;
    Seen seen;
};

}  // namespace

TEST_F(German, NoEnglishIsLeftInTheWindows)
{
    NavigationTree* tree = testing_support::Tree(*form);
    // The tree is built again as pages change: each node is found anew by its place.
    const auto nodeAt = [tree](int index) {
        QTreeWidgetItemIterator it(tree);
        for (int i = 0; *it && i < index; ++i)
            ++it;
        return *it;
    };
    int visited = 0;
    for (; visited < 60 && nodeAt(visited); ++visited) {
        QTreeWidgetItem* node = nodeAt(visited);
        tree->setCurrentItem(node);
        emit tree->itemClicked(node, 0);
        Collect(form.get(), seen);
        // The advanced window of each program that has one.
        if (auto* advanced = form->findChild<QAbstractButton*>("CmdAdvanced"); advanced && advanced->isVisible())
            WithModal([&] { advanced->click(); }, [&](QDialog* dialog) {
                Collect(dialog, seen);
                if (auto* add = dialog->findChild<QAbstractButton*>("AddRuleBtn"))
                    WithModal([&] { add->click(); }, [&](QDialog* editor) { Collect(editor, seen); });
            });
        // The host lists' page asks for a new list in a dialog of its own.
        if (auto* add = form->findChild<QAbstractButton*>("HostListAddButton"); add && add->isVisible())
            WithModal([&] { add->click(); }, [&](QDialog* dialog) { Collect(dialog, seen); });
    }
    EXPECT_GE(visited, 10);
    WithModal([&] { form->findChild<QAction*>("ToolsSet")->trigger(); }, [&](QDialog* dialog) { Collect(dialog, seen); });
    WithModal([&] { form->findChild<QAction*>("AddNewApp")->trigger(); }, [&](QDialog* dialog) { Collect(dialog, seen); });
    panel::FirstRunInput first;
    first.openTerminal = [] { return std::string(); };
    panel::FirstRunWindow welcome(first, form.get());
    Collect(&welcome, seen);

    const std::set<QString> translated = TranslatedSources();
    ASSERT_GT(translated.size(), 300u);
    // Words of English sentences that German never uses.
    static const QRegularExpression english(
        "\\b(the|and|of|is|are|to|with|for|from|this|your|you|its|will|cannot|every|when|only|rules?|programs?|"
        "allow(ed)?|block(ed)?|incoming|outgoing|settings|connections?|network|add|delete|edit|show|today|used)\\b",
        QRegularExpression::CaseInsensitiveOption);
    static const std::set<QString> names = {"Korvel Personal FireWall", "Korvel Firewall", "SYSTEM SETTINGS"};
    int checked = 0;
    for (const auto& [text, where] : seen) {
        if (names.count(text))
            continue;
        ++checked;
        EXPECT_FALSE(translated.count(text)) << "shown untranslated at " << where.toStdString() << ": " << text.toStdString();
        EXPECT_FALSE(english.match(text).hasMatch()) << "English at " << where.toStdString() << ": " << text.toStdString();
    }
    EXPECT_GT(checked, 150);
}

// A rules file that cannot be read: the window says why in German, the
// error log (a stored file) in the words it always had.
// The kernel backstop's notices and questions, both ways, and its state with
// what the kernel lacks, which zel-backstop says in English.
TEST_F(German, KernelBackstopIsSpokenOfInTheLanguage)
{
    const auto incoming = panel::ParseBackstopNotice("asked-in 10.0.0.9 8080 /srv/server");
    ASSERT_TRUE(incoming);
    EXPECT_EQ(incoming->summary, "Nachgefragt, nicht unter der Firewall: 10.0.0.9 an /srv/server auf Port 8080");
    const engine::AlertTexts in = panel::BackstopAlerts::TextsFor(*incoming);
    EXPECT_FALSE(in.outgoing);
    EXPECT_EQ(in.message, "/srv/server versucht ohne die Firewall, eine eingehende Verbindung von 10.0.0.9 über Port "
                          "8080 anzunehmen. Sie bleibt blockiert, bis Sie entscheiden; Ihre Antwort gilt für diese "
                          "Adresse und diesen Port.");
    EXPECT_EQ(in.checkBox, "Meine Entscheidung auf den gesamten eingehenden Verkehr von SERVER anwenden");
    const engine::AlertTexts out = panel::BackstopAlerts::TextsFor(*panel::ParseBackstopNotice("asked fd00::2 53 dig"));
    EXPECT_TRUE(out.outgoing);
    EXPECT_NE(out.message.find("ausgehende Verbindung zu fd00::2 über Port 53"), std::string::npos) << out.message;
    const std::string lacks = panel::KernelLayerText(
        {panel::KernelLayerState::Kind::kCannotHold, "no cgroup v2 hierarchy is mounted; the kernel has no type information (BTF)"});
    EXPECT_TRUE(lacks.starts_with("Der Kernel-Rückhalt kann auf diesem Kernel nicht laufen (keine cgroup-v2-Hierarchie "
                                  "ist eingehängt; der Kernel hat keine Typinformationen (BTF)):")) << lacks;
    // The tray's and status line's word when it stops.
    EXPECT_EQ(panel::KernelLayerEventTitle(), "Kernel-Rückhalt");
    EXPECT_TRUE(panel::KernelLayerEventText(panel::KernelLayerWatch::Event::kStopped).starts_with("Der Kernel-Rückhalt wurde beendet"));
}

TEST_F(German, AnUnreadableRulesFileIsExplainedInTheLanguageAndLoggedAsWritten)
{
    const std::string fifo = sandbox.root + "/Rules.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    panel::RulesStore store;
    const panel::RulesStore::LoadResult loaded = store.Load(fifo);
    EXPECT_EQ(loaded.outcome, panel::RulesStore::LoadOutcome::kUnreadable);
    EXPECT_NE(loaded.problem.find("keine gewöhnliche Datei"), std::string::npos) << loaded.problem;
    panel::TheErrorLog().Close();
    std::string logged;
    for (const std::string& name : testing_support::FolderEntries(sandbox.logs))
        logged += testing_support::ReadText(sandbox.logs + "/" + name);
    EXPECT_NE(logged.find("it is not a regular file"), std::string::npos) << logged;
    EXPECT_EQ(logged.find("gewöhnliche"), std::string::npos);
}
