#pragma once

#include <cstddef>
#include <cstdint>

// A translation as Qt's lrelease compiles it (.qm), read without Qt: it
// answers what QTranslator::translate answers, for the programs that must
// not carry Qt (the command-line tools, zel-run, zel-backstop). Part of the
// platform core: no C++ runtime, nothing allocated. Every read is checked
// against the file's end, so a damaged file answers "no translation".
namespace text {

class QmCatalog {
public:
    QmCatalog() = default;
    ~QmCatalog();
    QmCatalog(const QmCatalog&) = delete;
    QmCatalog& operator=(const QmCatalog&) = delete;

    // The file mapped and its blocks found; false (the catalog empty) when
    // it cannot be read or is not a translation.
    bool Load(const char* path);
    // The same over bytes the caller keeps unchanged while the catalog lives.
    bool Use(const unsigned char* data, size_t size);
    // FOLDER/NAME_LANG.qm for the user's language: the locale of messages
    // as gettext orders the variables (LC_ALL, LC_MESSAGES, LANG), the
    // languages in LANGUAGE first unless that locale is C; de_DE.UTF-8 is
    // looked for as de_DE, then de.
    bool LoadForLocale(const char* folder, const char* name);
    bool Empty() const { return hashes_ == nullptr; }

    // The translation of text in context (with disambiguation, else without
    // it, as Qt looks), in the plural form that suits n when n >= 0, as
    // UTF-8 into out the way snprintf writes: returns its length (whole in
    // out when less than size), or -1 when the catalog has none.
    long Find(const char* context, const char* text, const char* disambiguation, int n, char* out,
              size_t size) const;

    // The folder the translations are installed in.
    static const char* InstalledFolder();

private:
    void Clear();
    bool ContextKnown(const char* context) const;
    unsigned PluralForm(int n) const;
    long Message(uint32_t offset, const char* context, const char* text, const char* disambiguation,
                 unsigned form, char* out, size_t size) const;

    void* mapped_ = nullptr;
    size_t mappedSize_ = 0;
    const unsigned char* contexts_ = nullptr;
    const unsigned char* hashes_ = nullptr;
    const unsigned char* messages_ = nullptr;
    const unsigned char* plurals_ = nullptr;
    uint32_t contextsSize_ = 0;
    uint32_t hashesSize_ = 0;
    uint32_t messagesSize_ = 0;
    uint32_t pluralsSize_ = 0;
};

// Calls fn with each language the user wants messages in, most wanted
// first, until it returns true: the languages of LANGUAGE, then the locale of
// messages (the first of LC_ALL, LC_MESSAGES and LANG that is set), each as
// de_DE, then de; none for the C and POSIX locales, which mean the texts as
// written. True when fn returned true.
bool ForEachMessageLanguage(bool (*fn)(const char* language, void* context), void* context);

}  // namespace text
