#include "panel/core/HostListDownload.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace panel {

namespace {

constexpr size_t kMaxValidator = 256; // an ETag or date longer than this is not kept

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size()
        && std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return std::tolower(uint8_t(a)) == std::tolower(uint8_t(b)); });
}

// A header's value as it may go back into a request header and the
// settings: printable ASCII only, blanks around it removed, bounded.
std::string CleanValue(std::string_view value)
{
    std::string clean;
    for (char c : value)
        if (uint8_t(c) >= 0x20 && uint8_t(c) < 0x7f)
            clean += c;
    const size_t first = clean.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    clean = clean.substr(first, clean.find_last_not_of(' ') - first + 1);
    return clean.size() <= kMaxValidator ? clean : std::string();
}

struct Transfer {
    DownloadResult* result;
    size_t maxBytes;
    bool tooLarge = false;
};

size_t TakeBody(char* data, size_t size, size_t count, void* context)
{
    auto* transfer = static_cast<Transfer*>(context);
    const size_t bytes = size * count;
    if (bytes > transfer->maxBytes - transfer->result->body.size()) {
        transfer->tooLarge = true;
        return 0; // ends the transfer
    }
    transfer->result->body.append(data, bytes);
    return bytes;
}

size_t TakeHeader(char* data, size_t size, size_t count, void* context)
{
    auto* result = static_cast<DownloadResult*>(context);
    const std::string_view line(data, size * count);
    // Each response of a redirect's chain starts with its status line: only
    // the last one's validators describe the body.
    if (StartsWithNoCase(line, "HTTP/")) {
        result->etag.clear();
        result->lastModified.clear();
    } else if (StartsWithNoCase(line, "ETag:")) {
        result->etag = CleanValue(line.substr(5));
    } else if (StartsWithNoCase(line, "Last-Modified:")) {
        result->lastModified = CleanValue(line.substr(14));
    }
    return size * count;
}

std::string OneLine(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](char c) { return uint8_t(c) < 0x20; }, ' ');
    return text;
}

struct Easy {
    CURL* handle = curl_easy_init();
    curl_slist* headers = nullptr;
    ~Easy()
    {
        curl_slist_free_all(headers);
        if (handle)
            curl_easy_cleanup(handle);
    }
};

}  // namespace

bool IsDownloadAddress(std::string_view source)
{
    return StartsWithNoCase(source, "http://") || StartsWithNoCase(source, "https://");
}

bool HasScheme(std::string_view source)
{
    const size_t colon = source.find("://");
    return colon != std::string_view::npos && colon > 0
        && std::all_of(source.begin(), source.begin() + long(colon),
                       [](char c) { return std::isalnum(uint8_t(c)) || c == '+' || c == '-' || c == '.'; });
}

DownloadResult Download(const DownloadRequest& request, const DownloadLimits& limits)
{
    static std::once_flag started;
    std::call_once(started, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    DownloadResult result;
    if (!IsDownloadAddress(request.url)) {
        result.error = "only http and https addresses are fetched";
        return result;
    }
    Easy easy;
    if (!easy.handle) {
        result.error = "the download could not be started";
        return result;
    }
    CURL* curl = easy.handle;
    Transfer transfer {&result, limits.maxBytes};
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // Neither the first address nor a redirect may lead anywhere but http
    // and https: not to a file, not to another protocol's server.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, limits.maxRedirects);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connectMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.totalMs);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.maxBytes));
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Tessary host lists");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, TakeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, TakeHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result);
    if (!limits.localAddress.empty()) {
        const std::string local = "host!" + limits.localAddress;
        curl_easy_setopt(curl, CURLOPT_INTERFACE, local.c_str());
    }
    const std::string etag = CleanValue(request.etag);
    const std::string lastModified = CleanValue(request.lastModified);
    if (!etag.empty())
        easy.headers = curl_slist_append(easy.headers, ("If-None-Match: " + etag).c_str());
    if (!lastModified.empty())
        easy.headers = curl_slist_append(easy.headers, ("If-Modified-Since: " + lastModified).c_str());
    if (easy.headers)
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, easy.headers);

    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        result.error = "the list is larger than " + std::to_string(limits.maxBytes >> 20) + " MB";
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
        result.error = "no answer in time (" + OneLine(errorText[0] ? errorText : curl_easy_strerror(code)) + ")";
    } else if (code == CURLE_UNSUPPORTED_PROTOCOL) {
        result.error = "led to an address other than http or https";
    } else if (code != CURLE_OK) {
        result.error = OneLine(errorText[0] ? errorText : curl_easy_strerror(code));
    } else if (status == 304 && (!etag.empty() || !lastModified.empty())) {
        result.outcome = DownloadResult::Outcome::kUnchanged;
    } else if (status == 200) {
        result.outcome = DownloadResult::Outcome::kNew;
    } else {
        result.error = "the server answered HTTP " + std::to_string(status);
    }
    if (result.outcome == DownloadResult::Outcome::kFailed)
        result.body.clear();
    return result;
}

}  // namespace panel
