#pragma once

// The command-line tools' words in the user's language: points text::Tr
// at NAME_LANG.qm (see QmCatalog::LoadForLocale), read when the first text
// is shown, so a tool that shows none pays nothing. The folder is the
// installed one; with folderFromEnvironment, ZEL_TRANSLATIONS_DIR names
// another (tests, a build tree). Call once at start.
namespace text {

void UseToolTranslation(const char* name, bool folderFromEnvironment);

}  // namespace text
