#pragma once

#include "os/Files.h"
#include "rules/Document.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace panel {

// The control panel's copy of the rules file: the rules model (rules/) read
// from it and written back to it whole.

class RulesStore {
public:
    enum class LoadOutcome {
        kLoaded,      // the file's applications
        kCreated,     // there was none: the default document, written and loaded
        kReplacedBad, // read whole, it did not parse: kept aside, the defaults written and loaded
        kUnreadable,  // not read (or no default could be written): nothing changed
    };
    struct LoadResult {
        LoadOutcome outcome = LoadOutcome::kUnreadable;
        std::string problem; // why it was not loaded as it was, in words
    };
    // Replaces the rules held with the file's. A file that is missing or is
    // read whole and does not parse is replaced by the default document, and
    // loaded from it; one that does not parse is kept beside it first, as
    // "<file>.bad" (or "<file>.bad.N" when that is taken; for a link, beside
    // the file it leads to, which the defaults then replace). A file that
    // cannot be read (rules_file::Status) is left alone with the rules held
    // as they were, and saving is refused until a load succeeds. What the
    // engine does not read as the file looks (rules::Document::Problems) is
    // written to the error log.
    LoadResult Load(const std::string& path);
    // Why the rules file could not be read at the last load; empty when it was.
    const std::string& ReadProblem() const { return readProblem_; }
    // Loads from text, as Load does from a file; false when it does not parse.
    bool LoadText(std::string_view document);

    // Writes the whole document, its applications in their order. The file
    // is replaced at once (a reader sees the old or the new file), keeping
    // its permissions, and a link stays a link; false when it could not be
    // (the old file is then left as it was), when the last load could not
    // read the file, or when the document would be larger than the format's
    // limit.
    //
    // A file changed by another writer (zel-rules, an editor) since it was
    // last loaded or saved here is not written over: the entries changed
    // here since then are put into the file's document, which becomes the
    // one held; changedOutside (when given) gets the names of the entries
    // the other writer changed, for the engines to be told. An entry both
    // changed gets the changes of both, part by part; where both changed
    // one part the other writer's stays and the entry is named in the error
    // log, for the user to make the change again. Writers that
    // save through a store take turns (a lock file beside the file, waited
    // for turnWaitMs at most: false when another holds it longer); a file
    // another program puts in place during the save itself is found in the
    // replaced file and taken in the same way, and the save written again.
    bool Save(const std::string& path, std::vector<std::string>* changedOutside = nullptr);
    int turnWaitMs = 5000;
    // Called between the look at the file and its replacement; tests act
    // there as another writer would.
    std::function<void()> beforeReplace;
    // The document Save writes.
    std::string Text() const;

    rules::Document& Document() { return document_; }
    const rules::Document& Document() const { return document_; }
    // The entry named exactly name (a program's name, or "ANY" for the
    // system settings); nullptr when there is none.
    rules::Application* Find(std::string_view name) { return document_.Find(name); }
    const rules::Application* Find(std::string_view name) const { return document_.Find(name); }

private:
    // Puts the entries changed here since the file was last known into
    // outside (the file's document now), which the store then holds; the
    // names of the entries whose change here had to give way.
    std::vector<std::string> TakeOutsideDocument(rules::Document outside);
    void KnowFile(const std::string& path);

    // The document as the file last held it here, and the file's stamp then.
    rules::Document onFile_;
    os::FileStamp onFileStamp_;
    bool onFileKnown_ = false;

    rules::Document document_;
    std::string readProblem_;
};

// The description a program's entry gets: never one the system settings are
// known by ("ANY", "SYSTEM SETTINGS", in any case) or none, so that a look-up
// by description cannot take one for the other; the program's name stands
// for it then.
std::string ProgramDescription(std::string_view description, std::string_view programName);

// Binds an entry the panel makes to its program's file, so that a program of
// the same name elsewhere is another program: its name becomes the one the
// engine gives the file at its path. The path must be as the engine sees the
// program run (a process's executable, or RealFilePath of a chosen file). A
// path that is not absolute leaves the entry as it is, known by its name.
void BindToPath(rules::Application& application);
// The file path leads to, without links or "..": the path a program started
// from it runs as. path itself when it cannot be resolved (gone).
std::string RealFilePath(const std::string& path);

}  // namespace panel
