#pragma once

#include "rules/Document.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

namespace rules {

// Reads the rules file into the model, as every reader reads it: the
// document element's children are the applications, whatever their names;
// within them every element is found by its name, in any order, and where
// one occurs more than once the first counts. An element's text is its
// first run of text. What lacks what it must hold (an application without
// EXENAME, a rule without STATE, a port without NUMBER, text where a rule or
// a port belongs) is kept so, that a document written back from the model
// means to the engine what it read.
//
// The applications are read one at a time, so that a reader that needs a
// few of them (the engine needs a program's own and "ANY") pays for the
// others no more than their names.
class DocumentReader {
public:
    // Parses text; false when it is no XML document or has no element
    // (Problem() says why, with the place).
    bool Parse(std::string_view text);
    const std::string& Problem() const { return problem_; }

    size_t Count() const { return applications_.size(); }
    // The name of the application at index as rules_format::EntryName gives
    // it; nullopt when it has none.
    std::optional<std::string> NameAt(size_t index) const;
    Application At(size_t index) const;
    Document Whole() const;

private:
    pugi::xml_document xml_;
    std::vector<pugi::xml_node> applications_;
    std::string problem_;
};

// A whole document; nullopt (problem says why, when given) when it does not parse.
std::optional<Document> ReadDocument(std::string_view text, std::string* problem = nullptr);
// One application from its element's text alone (as the engine keeps it
// while reading piece by piece); nullopt when it does not parse.
std::optional<Application> ReadApplication(std::string_view elementText);

}  // namespace rules
