#pragma once

#include "rules/Document.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The rules file as JSON, for zel-rules export and import: every field of
// the rules model, so that a document exported and imported again is the
// same document. Fields the file lacks are left out (null is taken alike).
//   {"applications": [{"name": "FIREFOX-ESR", "description": "...",
//     "path": "/usr/bin/firefox-esr", "service": false,
//     "incoming": "DENY", "outgoing": "ASK",
//     "rules": [{"name": "Web", "direction": "OUTGOING", "permission": "PERMIT",
//       "enabled": true, "listed": true,
//       "ports": [{"port": "443", "alias": "https",
//                  "addresses": ["192.0.2.1", "10.0.0.0/8"], "hosts": ["*.example.org"]}]}],
//     "timed": [{"direction": "OUTGOING", "permission": "PERMIT", "until": 1800003600,
//                "port": 443, "host": "api.example.org"}]}]}
namespace tools::rules_json {

std::string Export(const rules::Document& document);

// The document, or nullopt with the first fault in problem (where it is and
// what is wrong): text that is no JSON, a field of the wrong kind or unknown,
// a word other than the file's, a port that is no number up to 65535, an
// address or a host pattern the engine cannot read, an application without
// a name a program has (or ANY), two entries of one program, a rule that
// lacks what the engine must read, an answer for a time that ends further
// from now (seconds since 1970) than the longest one allowed.
std::optional<rules::Document> Import(std::string_view text, std::string& problem, int64_t now);

}  // namespace tools::rules_json
