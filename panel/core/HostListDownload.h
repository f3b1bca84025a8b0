#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A host list fetched from its address: http or https only, redirects too,
// with the validators of the copy kept (a 304 keeps it), every wait and
// the body bounded. What a server sends is hostile until the parser has
// read it.
namespace panel {

struct DownloadLimits {
    long connectMs = 15'000;
    long totalMs = 120'000;     // the whole transfer, redirects included
    size_t maxBytes = 64u << 20; // of the body, decompressed; more fails the download
    long maxRedirects = 5;
    std::string localAddress;    // the source address to bind; empty: the system's choice
};

struct DownloadRequest {
    std::string url;
    std::string etag;         // of the copy kept: sent as If-None-Match
    std::string lastModified; // sent as If-Modified-Since
};

struct DownloadResult {
    enum class Outcome { kNew, kUnchanged, kFailed };
    Outcome outcome = Outcome::kFailed;
    std::string body;
    std::string etag; // the new copy's validators, control characters removed
    std::string lastModified;
    std::string error; // why, one line, with kFailed
};

// Whether source names a download (http:// or https://, any case) rather than a file.
bool IsDownloadAddress(std::string_view source);
// Whether source has a scheme ("word://") at all.
bool HasScheme(std::string_view source);

DownloadResult Download(const DownloadRequest& request, const DownloadLimits& limits = {});

}  // namespace panel
