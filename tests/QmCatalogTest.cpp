// The Qt-free reader of compiled translations against Qt's own QTranslator
// on the same files (the tools' German one, and a small Russian one with
// three plural forms and a table of contexts); damaged files; the choice of
// the file by the locale's variables.
#include "text/hooksafe/QmCatalog.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTranslator>
#include <QXmlStreamReader>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Key {
    std::string context;
    std::string source;
    std::string disambiguation;
};

// Every message of a translation source, as lupdate wrote it.
std::vector<Key> MessagesOf(const char* tsPath)
{
    QFile file(QString::fromUtf8(tsPath));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << tsPath;
    std::vector<Key> keys;
    QXmlStreamReader xml(&file);
    std::string context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"name")
            context = xml.readElementText().toStdString();
        else if (xml.name() == u"message")
            keys.push_back({context, {}, {}});
        else if (xml.name() == u"source")
            keys.back().source = xml.readElementText().toStdString();
        else if (xml.name() == u"comment")
            keys.back().disambiguation = xml.readElementText().toStdString();
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return keys;
}

std::vector<unsigned char> Bytes(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::optional<std::string> Answer(const text::QmCatalog& catalog, const Key& key, const char* disambiguation, int n)
{
    char out[4096];
    const long length = catalog.Find(key.context.c_str(), key.source.c_str(), disambiguation, n, out, sizeof out);
    if (length < 0)
        return std::nullopt;
    EXPECT_LT(size_t(length), sizeof out);
    return std::string(out, size_t(length));
}

std::optional<std::string> QtAnswer(const QTranslator& qt, const Key& key, const char* disambiguation, int n)
{
    const QString answer = qt.translate(key.context.c_str(), key.source.c_str(), disambiguation, n);
    if (answer.isNull())
        return std::nullopt;
    return answer.toStdString();
}

struct Translation {
    const char* ts;
    const char* qm;
};

class QmCatalogAgainstQt : public testing::TestWithParam<Translation> {};

// Every message, with its own disambiguation, another one and none, for n
// from -1 (no plural) to 25, and keys that are not there: the same answer
// (or the same lack of one) as QTranslator's.
TEST_P(QmCatalogAgainstQt, AnswersAsQTranslator)
{
    const std::vector<unsigned char> bytes = Bytes(GetParam().qm);
    ASSERT_GT(bytes.size(), 16u);
    QTranslator qt;
    ASSERT_TRUE(qt.load(bytes.data(), int(bytes.size())));
    text::QmCatalog catalog;
    ASSERT_TRUE(catalog.Load(GetParam().qm));
    std::vector<Key> keys = MessagesOf(GetParam().ts);
    ASSERT_FALSE(keys.empty());
    const size_t real = keys.size();
    keys.push_back({"no such context", keys[0].source, ""});
    keys.push_back({keys[0].context, "no such text", ""});
    keys.push_back({keys[0].context + "x", keys[0].source, ""});
    keys.push_back({"", "", ""});
    for (size_t i = 0; i < keys.size(); ++i)
        for (const char* disambiguation : {keys[i].disambiguation.c_str(), "", "no such disambiguation"})
            for (int n = -1; n <= 25; ++n) {
                const auto answer = Answer(catalog, keys[i], disambiguation, n);
                ASSERT_EQ(answer, QtAnswer(qt, keys[i], disambiguation, n))
                    << keys[i].context << " / " << keys[i].source << " / " << disambiguation << " / " << n;
                // What the file holds is found (the Russian one leaves one
                // text unfinished), the made-up keys are not. (With n, a
                // text without plurals has only the form for one.)
                if (disambiguation == keys[i].disambiguation.c_str() && n == -1) {
                    EXPECT_EQ(answer.has_value(), i < real && keys[i].source != "Unfinished")
                        << keys[i].context << " / " << keys[i].source << " / " << n;
                }
            }
}

INSTANTIATE_TEST_SUITE_P(Files, QmCatalogAgainstQt,
                         testing::Values(Translation {TOOLS_TS, TOOLS_QM}, Translation {RUSSIAN_TS, RUSSIAN_QM}),
                         [](const testing::TestParamInfo<Translation>& param) {
                             return std::string(param.param.qm == std::string(TOOLS_QM) ? "ToolsGerman" : "Russian");
                         });

TEST(QmCatalog, PluralFormsAndCharactersBeyondTheBasicPlane)
{
    text::QmCatalog catalog;
    ASSERT_TRUE(catalog.Load(RUSSIAN_QM));
    const Key files {"files", "%n file(s) copied", ""};
    const struct {
        int n;
        const char* form;
    } cases[] = {
        {1, "скопирован %n файл"},    {21, "скопирован %n файл"},   {2, "скопировано %n файла"},
        {4, "скопировано %n файла"},  {22, "скопировано %n файла"}, {0, "скопировано %n файлов"},
        {5, "скопировано %n файлов"}, {11, "скопировано %n файлов"}, {12, "скопировано %n файлов"},
        {111, "скопировано %n файлов"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Answer(catalog, files, nullptr, c.n), c.form) << c.n;
    EXPECT_EQ(Answer(catalog, {"smile", "Smile", ""}, nullptr, -1), "Улыбка \xf0\x9f\x98\x80");
    EXPECT_EQ(Answer(catalog, {"files", "Open", ""}, "state", -1), "Открыт");
    EXPECT_EQ(Answer(catalog, {"smile", "Close", ""}, nullptr, -1), "Закройте");
    EXPECT_EQ(Answer(catalog, {"files", "Unfinished", ""}, nullptr, -1), std::nullopt);
}

// As snprintf: the whole length told, as much as fits written, ended.
TEST(QmCatalog, WritesAsSnprintfDoes)
{
    text::QmCatalog catalog;
    ASSERT_TRUE(catalog.Load(RUSSIAN_QM));
    const std::string whole = "Закрыть";
    for (size_t size : {size_t(0), size_t(1), size_t(4), whole.size(), whole.size() + 1}) {
        std::string out(size + 1, '#');
        EXPECT_EQ(catalog.Find("files", "Close", nullptr, -1, out.data(), size), long(whole.size()));
        if (size > 0) {
            EXPECT_EQ(std::string(out.c_str()), whole.substr(0, size - 1)) << size;
        }
        EXPECT_EQ(out[size], '#') << "written past the size " << size;
    }
}

// The offset and end of the block of messages, where a changed byte may
// change a translation's text without anything to tell it by.
std::pair<size_t, size_t> MessagesBlock(const std::vector<unsigned char>& bytes)
{
    for (size_t at = 16; at + 5 <= bytes.size();) {
        const size_t length = size_t(bytes[at + 1]) << 24 | size_t(bytes[at + 2]) << 16 | size_t(bytes[at + 3]) << 8 | bytes[at + 4];
        if (bytes[at] == 0x69)
            return {at + 5, at + 5 + length};
        at += 5 + length;
    }
    return {0, 0};
}

// Every truncation and every byte flipped, each over a copy of exactly that
// size (so that a sanitizer sees any read past it): never a crash; a cut
// file answers what the whole one does or nothing; a changed byte outside
// the messages gives nothing or one of the text's own forms.
TEST(QmCatalog, DamagedFilesAnswerNothingWrong)
{
    for (const Translation& translation : {Translation {TOOLS_TS, TOOLS_QM}, Translation {RUSSIAN_TS, RUSSIAN_QM}}) {
        const std::vector<unsigned char> whole = Bytes(translation.qm);
        const std::vector<Key> keys = MessagesOf(translation.ts);
        text::QmCatalog intact;
        ASSERT_TRUE(intact.Use(whole.data(), whole.size()));
        std::vector<std::vector<std::optional<std::string>>> expected;
        for (const Key& key : keys) {
            expected.emplace_back();
            for (int n : {-1, 0, 1, 2, 3, 5})
                expected.back().push_back(Answer(intact, key, key.disambiguation.c_str(), n));
        }
        // The keys of the same text (under any disambiguation), found once.
        std::vector<std::vector<size_t>> sameText(keys.size());
        for (size_t k = 0; k < keys.size(); ++k)
            for (size_t other = 0; other < keys.size(); ++other)
                if (keys[other].context == keys[k].context && keys[other].source == keys[k].source)
                    sameText[k].push_back(other);
        const auto check = [&](const std::vector<unsigned char>& bytes, bool mayChangeText, size_t where) {
            text::QmCatalog catalog;
            catalog.Use(bytes.data(), bytes.size());
            for (size_t k = 0; k < keys.size(); ++k) {
                for (int n : {-1, 0, 1, 2, 3, 5}) {
                    const auto answer = Answer(catalog, keys[k], keys[k].disambiguation.c_str(), n);
                    bool known = !answer || mayChangeText;
                    // A form of this text under any disambiguation: a key not found
                    // with its own is looked up without it, as by Qt.
                    for (size_t other : sameText[k])
                        for (const auto& form : expected[other])
                            known = known || answer == form;
                    ASSERT_TRUE(known) << translation.qm << " damaged at " << where << ": " << keys[k].source << " -> " << *answer;
                }
            }
        };
        for (size_t length = 0; length < whole.size(); ++length)
            check(std::vector<unsigned char>(whole.begin(), whole.begin() + long(length)), false, length);
        const auto [messagesStart, messagesEnd] = MessagesBlock(whole);
        ASSERT_LT(messagesStart, messagesEnd);
        for (size_t at = 0; at < whole.size(); ++at)
            for (unsigned char mask : {0x01, 0x80, 0xff}) {
                std::vector<unsigned char> flipped = whole;
                flipped[at] ^= mask;
                check(flipped, at >= messagesStart && at < messagesEnd, at);
            }
    }
}

// The file the locale's variables choose, as gettext orders them.
TEST(QmCatalog, ChoosesByTheLocale)
{
    const struct {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        const char* language;
        bool german;
    } cases[] = {
        {nullptr, nullptr, "de_DE.UTF-8", nullptr, true},
        {nullptr, nullptr, "de", nullptr, true},
        {nullptr, nullptr, "de_AT.ISO-8859-1@euro", nullptr, true},
        {nullptr, nullptr, nullptr, nullptr, false},
        {nullptr, nullptr, "C", nullptr, false},
        {nullptr, nullptr, "C.UTF-8", nullptr, false},
        {nullptr, nullptr, "POSIX", nullptr, false},
        {nullptr, nullptr, "fr_FR.UTF-8", nullptr, false},
        {"C", nullptr, "de_DE.UTF-8", nullptr, false},
        {"", nullptr, "de_DE.UTF-8", nullptr, true},
        {nullptr, "de_CH.UTF-8", "C", nullptr, true},
        {"de_DE.UTF-8", "C", "C", nullptr, true},
        {nullptr, "C", "de_DE.UTF-8", nullptr, false},
        {nullptr, nullptr, "fr_FR.UTF-8", "fr:de", true},
        {nullptr, nullptr, "fr_FR.UTF-8", "fr::de_DE", true},
        {nullptr, nullptr, "fr_FR.UTF-8", "fr:it", false},
        // LANGUAGE is not read for the C locale (gettext's rule).
        {nullptr, nullptr, "C", "de", false},
        {nullptr, nullptr, "de_DE.UTF-8", "fr", true},
        // A name is part of a path: only a language's letters make one.
        {nullptr, nullptr, "de/../de", nullptr, false},
        {nullptr, nullptr, "fr_FR.UTF-8", "../tools/../de", false},
    };
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"};
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names)
        saved.push_back(std::getenv(name) ? std::optional<std::string>(std::getenv(name)) : std::nullopt);
    for (const auto& c : cases) {
        const char* values[] = {c.lcAll, c.lcMessages, c.lang, c.language};
        for (int i = 0; i < 4; ++i)
            values[i] ? ::setenv(names[i], values[i], 1) : ::unsetenv(names[i]);
        text::QmCatalog catalog;
        EXPECT_EQ(catalog.LoadForLocale(TRANSLATIONS_DIR, "zel-tools"), c.german)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-") << " " << (c.lang ? c.lang : "-")
            << " " << (c.language ? c.language : "-");
        EXPECT_EQ(catalog.Empty(), !c.german);
    }
    for (int i = 0; i < 4; ++i)
        saved[i] ? ::setenv(names[i], saved[i]->c_str(), 1) : ::unsetenv(names[i]);
    text::QmCatalog missing;
    EXPECT_FALSE(missing.Load(TRANSLATIONS_DIR "/no-such_de.qm"));
    // A FIFO in a translation's place does not hold the program up.
    char folder[] = "/tmp/qm-fifo-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::string fifo = std::string(folder) + "/zel-tools_de.qm";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(missing.Load(fifo.c_str()));
    ::unlink(fifo.c_str());
    ::rmdir(folder);
    EXPECT_FALSE(missing.Load(TOOLS_TS)); // not a compiled translation
}

}  // namespace
