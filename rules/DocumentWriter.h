#pragma once

#include "rules/Document.h"

#include <string>

namespace rules {

// The document as the rules file holds it: one line, the applications in
// the model's order, each element in the order the control panel has
// always written them, and nothing that was missing made up, so that the
// engine reads back what it read (a rule without STATE still lacks it).
// Every text goes in as XML carries it: a name or a path that cannot is
// escaped (rules_format), and in any other text bytes outside UTF-8 and
// control characters become U+FFFD, or a blank where a reader takes them
// for one (around numbers, addresses and host names).
std::string WriteDocument(const Document& document);

}  // namespace rules
