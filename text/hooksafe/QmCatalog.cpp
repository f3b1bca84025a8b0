#include "text/hooksafe/QmCatalog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace text {

namespace {

constexpr unsigned char kMagic[16] = {0x3c, 0xb8, 0x64, 0x18, 0xca, 0xef, 0x9c, 0x95,
                                      0xcd, 0x21, 0x1c, 0xbf, 0x60, 0xa1, 0xbd, 0xdd};
// Larger than any translation of a program's words: a bound on what is mapped.
constexpr size_t kMaxFileSize = 64u << 20;

enum Block : unsigned char { kContexts = 0x2f, kHashes = 0x42, kMessages = 0x69, kPluralRules = 0x88 };
enum Tag : unsigned char {
    kEnd = 1,
    kTranslation = 3,
    kObsolete1 = 5,
    kSourceText = 6,
    kContext = 7,
    kComment = 8,
};
// The plural rules' byte code: a comparison of n (or n mod 10, n mod 100,
// its leading group of three digits) with operands, joined by AND and OR;
// the first rule that holds picks the form, none the last form.
enum Rule : unsigned char {
    kEqual = 0x01,
    kLess = 0x02,
    kLessOrEqual = 0x03,
    kBetween = 0x04,
    kNot = 0x08,
    kMod10 = 0x10,
    kMod100 = 0x20,
    kLead1000 = 0x40,
    kOperatorMask = 0x07,
    kAnd = 0xfd,
    kOr = 0xfe,
    kNewRule = 0xff,
};

uint32_t Read32(const unsigned char* at)
{
    return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
}
unsigned Read16(const unsigned char* at) { return unsigned(at[0]) << 8 | at[1]; }

// The hash lrelease sorts messages by (ELF's), over the text and the
// disambiguation one after the other.
uint32_t HashOf(const char* text, const char* disambiguation)
{
    uint32_t h = 0;
    for (const char* part : {text, disambiguation})
        for (const unsigned char* k = reinterpret_cast<const unsigned char*>(part); *k; ++k) {
            h = (h << 4) + *k;
            const uint32_t g = h & 0xf0000000u;
            if (g)
                h ^= g >> 24;
            h &= ~g;
        }
    return h ? h : 1;
}

// A stored name against a wanted one; a stored name may end in its NUL.
bool Matches(const unsigned char* found, uint32_t length, const char* wanted)
{
    if (length > 0 && found[length - 1] == '\0')
        --length;
    return std::strlen(wanted) == length && std::memcmp(found, wanted, length) == 0;
}

bool ValidRules(const unsigned char* rules, uint32_t size)
{
    if (size == 0)
        return true;
    uint32_t at = 0;
    for (;;) {
        const unsigned char op = rules[at];
        if (op & 0x80)
            return false;
        const unsigned operands = (op & kOperatorMask) == kBetween ? 2 : 1;
        if ((op & kOperatorMask) == 0 || (op & kOperatorMask) > kBetween || size - at - 1 < operands)
            return false;
        at += 1 + operands;
        if (at == size)
            return true;
        if (rules[at] != kAnd && rules[at] != kOr && rules[at] != kNewRule)
            return false;
        if (++at == size)
            return false;
    }
}

// UTF-16 big-endian as UTF-8 into out (snprintf's way); a lone surrogate
// becomes U+FFFD.
long Utf8Of(const unsigned char* utf16, uint32_t bytes, char* out, size_t size)
{
    size_t length = 0;
    const auto put = [&](unsigned char c) {
        if (length + 1 < size)
            out[length] = static_cast<char>(c);
        ++length;
    };
    for (uint32_t i = 0; i + 1 < bytes; i += 2) {
        uint32_t c = Read16(utf16 + i);
        const uint32_t next = i + 3 < bytes ? Read16(utf16 + i + 2) : 0;
        if (c >= 0xd800 && c < 0xdc00 && next >= 0xdc00 && next < 0xe000) {
            c = 0x10000 + ((c - 0xd800) << 10) + (next - 0xdc00);
            i += 2;
        } else if (c >= 0xd800 && c < 0xe000) {
            c = 0xfffd;
        }
        if (c < 0x80) {
            put(static_cast<unsigned char>(c));
        } else if (c < 0x800) {
            put(static_cast<unsigned char>(0xc0 | c >> 6));
            put(static_cast<unsigned char>(0x80 | (c & 0x3f)));
        } else if (c < 0x10000) {
            put(static_cast<unsigned char>(0xe0 | c >> 12));
            put(static_cast<unsigned char>(0x80 | (c >> 6 & 0x3f)));
            put(static_cast<unsigned char>(0x80 | (c & 0x3f)));
        } else {
            put(static_cast<unsigned char>(0xf0 | c >> 18));
            put(static_cast<unsigned char>(0x80 | (c >> 12 & 0x3f)));
            put(static_cast<unsigned char>(0x80 | (c >> 6 & 0x3f)));
            put(static_cast<unsigned char>(0x80 | (c & 0x3f)));
        }
    }
    if (size > 0)
        out[length < size ? length : size - 1] = '\0';
    return static_cast<long>(length);
}

// "de_DE.UTF-8@euro" as "de_DE" into out; false for C and POSIX, which are
// English, and for anything but letters, digits, '_' and '-': the name
// becomes part of a path.
bool LanguageOf(const char* locale, size_t length, char* out, size_t size)
{
    const size_t name = std::strcspn(locale, ".@:");
    length = name < length ? name : length;
    if (length == 0 || length >= size || (length == 1 && locale[0] == 'C') ||
        (length == 5 && std::strncmp(locale, "POSIX", 5) == 0))
        return false;
    for (size_t i = 0; i < length; ++i) {
        const char c = locale[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
            return false;
    }
    std::memcpy(out, locale, length);
    out[length] = '\0';
    return true;
}

}  // namespace

QmCatalog::~QmCatalog() { Clear(); }

void QmCatalog::Clear()
{
    if (mapped_)
        ::munmap(mapped_, mappedSize_);
    mapped_ = nullptr;
    mappedSize_ = 0;
    contexts_ = hashes_ = messages_ = plurals_ = nullptr;
    contextsSize_ = hashesSize_ = messagesSize_ = pluralsSize_ = 0;
}

bool QmCatalog::Load(const char* path)
{
    Clear();
    // Non-blocking: a FIFO in its place must not hold the program up.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info {};
    void* data = MAP_FAILED;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 && size_t(info.st_size) <= kMaxFileSize)
        data = ::mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (data == MAP_FAILED)
        return false;
    if (!Use(static_cast<const unsigned char*>(data), size_t(info.st_size))) {
        ::munmap(data, size_t(info.st_size));
        return false;
    }
    mapped_ = data;
    mappedSize_ = size_t(info.st_size);
    return true;
}

bool QmCatalog::Use(const unsigned char* data, size_t size)
{
    Clear();
    if (!data || size < sizeof kMagic || size > kMaxFileSize || std::memcmp(data, kMagic, sizeof kMagic) != 0)
        return false;
    // Blocks: a tag byte, a 32-bit length, the bytes; one running past the
    // end spoils the whole file, as for Qt.
    for (size_t at = sizeof kMagic; size - at > 5;) {
        const unsigned char tag = data[at];
        const uint32_t length = Read32(data + at + 1);
        at += 5;
        if (tag == 0 || length == 0)
            break;
        if (length > size - at) {
            contexts_ = hashes_ = messages_ = plurals_ = nullptr;
            return false;
        }
        const unsigned char* block = data + at;
        if (tag == kContexts)
            contexts_ = block, contextsSize_ = length;
        else if (tag == kHashes)
            hashes_ = block, hashesSize_ = length;
        else if (tag == kMessages)
            messages_ = block, messagesSize_ = length;
        else if (tag == kPluralRules)
            plurals_ = block, pluralsSize_ = length;
        at += length;
    }
    if (!ValidRules(plurals_, pluralsSize_) || !hashes_ || hashesSize_ < 8 || !messages_) {
        contexts_ = hashes_ = messages_ = plurals_ = nullptr;
        contextsSize_ = hashesSize_ = messagesSize_ = pluralsSize_ = 0;
        return false;
    }
    return true;
}

bool ForEachMessageLanguage(bool (*fn)(const char* language, void* context), void* context)
{
    const char* locale = nullptr;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(variable); value && *value) {
            locale = value;
            break;
        }
    char language[64];
    if (!locale || !LanguageOf(locale, std::strlen(locale), language, sizeof language))
        return false;
    const char* languages = std::getenv("LANGUAGE");
    // The languages of LANGUAGE in order, then the locale's own.
    for (const char* entry = languages ? languages : "";; ) {
        const size_t length = std::strcspn(entry, ":");
        char wanted[64];
        const bool last = length == 0 && *entry == '\0';
        if (last ? std::snprintf(wanted, sizeof wanted, "%s", language) > 0
                 : LanguageOf(entry, length, wanted, sizeof wanted)) {
            // de_DE, then de.
            for (size_t cut = std::strlen(wanted); cut > 0;) {
                wanted[cut] = '\0';
                if (fn(wanted, context))
                    return true;
                const char* underscore = static_cast<const char*>(::memrchr(wanted, '_', cut));
                cut = underscore ? size_t(underscore - wanted) : 0;
            }
        }
        if (last)
            return false;
        entry += length;
        entry += *entry == ':';
    }
}

bool QmCatalog::LoadForLocale(const char* folder, const char* name)
{
    Clear();
    struct Wanted {
        QmCatalog* catalog;
        const char* folder;
        const char* name;
    } wanted {this, folder, name};
    return ForEachMessageLanguage(
        [](const char* language, void* context) {
            const auto& [catalog, where, program] = *static_cast<Wanted*>(context);
            char path[4096];
            const int n = std::snprintf(path, sizeof path, "%s/%s_%s.qm", where, program, language);
            return n > 0 && size_t(n) < sizeof path && catalog->Load(path);
        },
        &wanted);
}

bool QmCatalog::ContextKnown(const char* context) const
{
    // A hash table of 16-bit offsets into a list of names, each a length
    // byte and the bytes, a zero length ending a bucket.
    if (!contexts_)
        return true;
    if (contextsSize_ < 2)
        return false;
    const unsigned buckets = Read16(contexts_);
    if (buckets == 0 || 2 + 2 * size_t(buckets) > contextsSize_)
        return false;
    const unsigned offset = Read16(contexts_ + 2 + 2 * (HashOf(context, "") % buckets));
    if (offset == 0)
        return false;
    for (size_t at = 2 + 2 * size_t(buckets) + 2 * size_t(offset); at < contextsSize_;) {
        const unsigned length = contexts_[at++];
        if (length == 0 || length > contextsSize_ - at)
            return false;
        if (Matches(contexts_ + at, length, context))
            return true;
        at += length;
    }
    return false;
}

unsigned QmCatalog::PluralForm(int n) const
{
    // The rules were checked at load: each comparison has its operands.
    unsigned form = 0;
    uint32_t i = 0;
    if (pluralsSize_ == 0)
        return 0;
    for (;;) {
        bool anyHolds = false;
        for (;;) {
            bool allHold = true;
            for (;;) {
                const unsigned char op = plurals_[i++];
                int left = n;
                if (op & kMod10)
                    left %= 10;
                else if (op & kMod100)
                    left %= 100;
                else if (op & kLead1000)
                    while (left >= 1000)
                        left /= 1000;
                const int right = plurals_[i++];
                bool holds = false;
                switch (op & kOperatorMask) {
                case kEqual: holds = left == right; break;
                case kLess: holds = left < right; break;
                case kLessOrEqual: holds = left <= right; break;
                default: {
                    const int top = plurals_[i++];
                    holds = left >= right && left <= top;
                    break;
                }
                }
                allHold = allHold && ((op & kNot) ? !holds : holds);
                if (i == pluralsSize_ || plurals_[i] != kAnd)
                    break;
                ++i;
            }
            anyHolds = anyHolds || allHold;
            if (i == pluralsSize_ || plurals_[i] != kOr)
                break;
            ++i;
        }
        if (anyHolds)
            return form;
        ++form;
        if (i == pluralsSize_)
            return form;
        ++i;
    }
}

long QmCatalog::Message(uint32_t offset, const char* context, const char* text, const char* disambiguation,
                        unsigned form, char* out, size_t size) const
{
    const unsigned char* chosen = nullptr;
    uint32_t chosenLength = 0;
    for (uint32_t at = offset;;) {
        if (at >= messagesSize_)
            return -1;
        const unsigned char tag = messages_[at++];
        if (tag == kEnd)
            break;
        if (tag == kObsolete1) {
            at += 4;
            continue;
        }
        if (tag != kTranslation && tag != kSourceText && tag != kContext && tag != kComment)
            return -1;
        if (messagesSize_ - at < 4)
            return -1;
        const uint32_t length = Read32(messages_ + at);
        at += 4;
        // A translation has whole UTF-16 units (Qt's null one, 0xffffffff, has none).
        if ((tag == kTranslation && (length & 1)) || length > messagesSize_ - at)
            return -1;
        const unsigned char* bytes = messages_ + at;
        at += length;
        // The forms of a plural come in order; the first is the singular.
        if (tag == kTranslation && form-- == 0)
            chosen = bytes, chosenLength = length;
        else if (tag == kSourceText && !Matches(bytes, length, text))
            return -1;
        else if (tag == kContext && !Matches(bytes, length, context))
            return -1;
        else if (tag == kComment) {
            // As Qt reads it: an empty stored disambiguation is tested on the
            // byte after it.
            const unsigned char first = bytes < messages_ + messagesSize_ ? *bytes : 0;
            if (first && !Matches(bytes, length, disambiguation))
                return -1;
        }
    }
    return chosen ? Utf8Of(chosen, chosenLength, out, size) : -1;
}

long QmCatalog::Find(const char* context, const char* text, const char* disambiguation, int n, char* out,
                     size_t size) const
{
    context = context ? context : "";
    text = text ? text : "";
    disambiguation = disambiguation ? disambiguation : "";
    if (!hashes_ || !ContextKnown(context))
        return -1;
    const unsigned form = n >= 0 ? PluralForm(n) : 0;
    const size_t entries = hashesSize_ / 8;
    for (;;) {
        // Entries are (hash, offset) pairs sorted by hash: the first with
        // this hash, then each after it with the same.
        const uint32_t hash = HashOf(text, disambiguation);
        size_t low = 0;
        size_t high = entries;
        while (low < high) {
            const size_t middle = low + (high - low) / 2;
            if (Read32(hashes_ + 8 * middle) < hash)
                low = middle + 1;
            else
                high = middle;
        }
        for (size_t i = low; i < entries && Read32(hashes_ + 8 * i) == hash; ++i) {
            const long length = Message(Read32(hashes_ + 8 * i + 4), context, text, disambiguation, form, out, size);
            if (length >= 0)
                return length;
        }
        if (!*disambiguation)
            return -1;
        disambiguation = "";
    }
}

const char* QmCatalog::InstalledFolder() { return ZEL_TRANSLATIONS_DIR; }

}  // namespace text
