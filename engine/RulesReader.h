#pragma once

#include <functional>
#include <string_view>
#include <sys/types.h>

namespace rules {
class DocumentReader;
struct Document;
}  // namespace rules

namespace engine {

class RuleTable;
struct ProgramIdentity;

// Reads the defaults and entries of the applications that apply to the
// program (rules::Application::AppliesTo: its own and "ANY")
// into table, in document order. Returns 1 when an application with an
// incoming default ended the reading, else 0. An element that lacks what it
// must hold never ends the reading: an application without a name applies
// to no program, and a rule or a port is read as rules::MeaningOf says (a
// broken denial still denies). The reader's applications that do not apply
// are looked at by their names alone.
int ReadRulesDocument(const rules::DocumentReader& document, RuleTable& table, ProgramIdentity program);
int ReadRulesDocument(const rules::Document& document, RuleTable& table, ProgramIdentity program);

// The same, piece by piece: the document's structure is checked as it goes
// by, and only the two applications that concern the program are built in
// memory, so that a carrier's cost follows its own rules rather than the size
// of the file. Anything outside the plain shape the control panel writes
// (attributes, declarations, CDATA, text beside elements, non-ASCII names)
// answers kUnusual, and the caller reads the document whole instead: the
// two readings always agree. table is changed only when the answer is kRead.
enum class StreamOutcome { kRead, kUnusual };
struct StreamResult {
    StreamOutcome outcome = StreamOutcome::kUnusual;
    int stopped = 0; // what ReadRulesDocument would return
};
// source fills its buffer with up to size bytes: the count read, 0 at the
// end, negative on an error.
using RulesSource = std::function<ssize_t(char* buffer, size_t size)>;
StreamResult ReadRulesStream(const RulesSource& source, RuleTable& table, ProgramIdentity program);

}  // namespace engine
