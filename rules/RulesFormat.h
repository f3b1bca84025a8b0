#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The rules file: written by the control panel, read by every engine. The
// words below are the file's vocabulary; both sides use these and no copy.
namespace rules::rules_format {

// No reader takes a rules file larger than this, or of more elements, and
// the panel writes none: such a file is refused whole (left as it is, never
// cut, never replaced). A file of 5,000 programs with a few rules each is
// about 3 MB and 120,000 elements. What a reader builds follows the
// elements more than the bytes (an empty element of 4 bytes costs the
// document parser and the rules model about 280 bytes), so both are
// bounded: reading a file within the limits takes the panel under 200 MB.
inline constexpr size_t kMaxRulesFileBytes = 32u << 20;
// Counted by rules_file::Markup: every '<' that opens anything but an end
// tag (elements, comments, declarations) and every '=' (attributes).
inline constexpr size_t kMaxRulesFileElements = 250000;

// Elements, in the order the control panel writes them.
inline constexpr const char* kApplications = "APPLICATIONS";
inline constexpr const char* kApplication = "APPLICATION";
inline constexpr const char* kExeName = "EXENAME";
inline constexpr const char* kDescription = "DESCRIPTION";
inline constexpr const char* kAppPath = "APPPATH";
// "1": the entry applies only to the program at APPPATH, not to every
// program of its name. Readers predating it pass over it and apply the
// entry by name, as they always did.
inline constexpr const char* kByPath = "BYPATH";
// The content check of an entry bound to its path: "sha256:" and the file's
// digest in hex. A program whose file differs is asked where the entry would
// permit (its blocks stay), until an answer accepts the new file.
inline constexpr const char* kFileHash = "FILEHASH";
// Optional: the entry applies to its program only when that program was
// started by this parent: the parent's name as ProgramName gives it, or its
// path (starting with '/') for the parent at that path alone. Such an entry's
// EXENAME is LimitedEntryName: no program's name holds a '/' past the
// escape's "./", so a reader that predates PARENT never takes the entry for a
// program's own and never permits more than the file says.
inline constexpr const char* kParent = "PARENT";
inline constexpr const char* kIsService = "ISSERVICE";
// "1" in a program's own entry: the user's host lists are not applied to
// that program, its own rules decide. Never read on "ANY": a mark there
// would switch the lists off for every program unseen. Readers predating it
// pass over it and apply the lists, which only refuses more, as does a
// writer predating it, which drops it when it writes the file back.
inline constexpr const char* kIgnoreLists = "IGNORELISTS";
inline constexpr const char* kInDef = "INDEF";
inline constexpr const char* kOutDef = "OUTDEF";
inline constexpr const char* kRules = "RULES";
inline constexpr const char* kRule = "RULE";
inline constexpr const char* kRuleName = "RULENAME";
inline constexpr const char* kDirection = "DIRECTION";
inline constexpr const char* kPermission = "PERMISSION";
inline constexpr const char* kState = "STATE";
inline constexpr const char* kEnable = "ENABLE";
inline constexpr const char* kPorts = "PORTS";
inline constexpr const char* kPort = "PORT";
inline constexpr const char* kAlias = "ALIAS";
inline constexpr const char* kNumber = "NUMBER";
// The addresses of a PORT, each IP item an address, a range "first-last" or
// a prefix "address/length" of IPv4 or IPv6 (rules/AddressRange.h).
// Readers that predate IPv6 and prefixes read only IPv4 addresses and ranges,
// and an item they cannot read adds nothing for them.
inline constexpr const char* kIps = "IPS";
inline constexpr const char* kIp = "IP";
// Optional, in a PORT without IPS: IP items of a denying or asking port
// among which are some that older readers cannot read. Those readers take
// such a port as every address (they deny or ask more, never permit more);
// newer ones read its items as those of IPS. A permitting port keeps all its
// items in IPS, where older readers skip what they cannot read.
inline constexpr const char* kAddresses = "ADDRESSES";
// Optional, after IPS in a PORT: the host names the entry covers (outgoing
// rules only). Readers that predate them read the port by NUMBER and IPS;
// the panel writes such ports so that those never permit more: a permitting
// port gets an address range that covers nothing (kNoAddress), a denying one
// has no IPS beside its hosts.
inline constexpr const char* kHosts = "HOSTS";
inline constexpr const char* kHost = "HOST";
inline constexpr const char* kNoAddress = "255.255.255.255-0.0.0.0";
// Optional, in an APPLICATION after RULES: answers the user gave for a time,
// each an ANSWER of DIRECTION, PERMISSION, UNTIL (its end, in seconds since
// 1970 UTC), NUMBER (0: every port) and at most one IP or HOST (none: every
// peer). They answer only the questions of the rules (what would be asked)
// and nothing once UNTIL has passed. Readers that predate them never look
// here (they read RULES' children as rules): to them a timed answer is
// nothing, so it can never permit more, nor for longer.
inline constexpr const char* kTimed = "TIMED";
inline constexpr const char* kAnswer = "ANSWER";
inline constexpr const char* kUntil = "UNTIL";

// Words of the values.
inline constexpr const char* kPermit = "PERMIT";
inline constexpr const char* kAsk = "ASK";
inline constexpr const char* kDeny = "DENY";
inline constexpr const char* kIncoming = "INCOMING";
inline constexpr const char* kOutgoing = "OUTGOING";
// The general application, whose entry applies to every program, and the
// description it is shown by.
inline constexpr const char* kGeneralApp = "ANY";
inline constexpr const char* kGeneralAppDescription = "SYSTEM SETTINGS";

// The rules document written when no usable rules file exists: the general
// application "ANY" with its defaults and five rules, on one line.
inline constexpr const char* kDefaultRulesDocument =
    "<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION>"
    "<ISSERVICE>0</ISSERVICE><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF><RULES>"
    "<RULE><RULENAME>dhcp permit</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION>"
    "<STATE>1</STATE><ENABLE>0</ENABLE><PORTS><PORT><NUMBER>67</NUMBER><IPS><IP>255.255.255.255</IP></IPS></PORT>"
    "</PORTS></RULE>"
    "<RULE><RULENAME>DHCP Incoming</RULENAME><DIRECTION>INCOMING</DIRECTION><PERMISSION>PERMIT</PERMISSION>"
    "<STATE>1</STATE><ENABLE>0</ENABLE><PORTS><PORT><ALIAS>dhcp</ALIAS><NUMBER>68</NUMBER></PORT></PORTS></RULE>"
    "<RULE><RULENAME>dns</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION>"
    "<STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><ALIAS>dns</ALIAS><NUMBER>53</NUMBER></PORT></PORTS></RULE>"
    "<RULE><RULENAME>Web</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION>"
    "<STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><ALIAS>HTTP</ALIAS><NUMBER>80</NUMBER></PORT></PORTS></RULE>"
    "<RULE><RULENAME>Mail permission</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION>"
    "<STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><ALIAS>mail</ALIAS><NUMBER>25</NUMBER></PORT>"
    "<PORT><ALIAS>POP3</ALIAS><NUMBER>110</NUMBER></PORT></PORTS></RULE>"
    "</RULES></APPLICATION></APPLICATIONS>\n";

// Names and paths of programs in the file. A program's EXENAME is its
// upper-cased file name, as the engine names its carrier, unless that name
// cannot stand in the file as it is: a program whose file name reads "any"
// (the general application's name), a name of blanks alone (which a
// reader takes for no name) and a name that is not UTF-8 or holds a
// control character are written escaped, as "./" followed by the name with
// '%', each control character and each byte outside UTF-8 as %XX (upper-case
// hexadecimal). A file name never holds '/', so an escaped name never
// equals a plain one, and files written before keep their meaning.
std::string ProgramName(std::string_view fileName);
// The upper-cased file name an EXENAME stands for: an escaped name decoded,
// any other text as it is.
std::string FileNameOfProgram(std::string_view programName);
// Whether the entry named entryName applies to the program named
// programName (as ProgramName gives it): its own entry, the general
// application's, or its own as a panel wrote it before names were escaped.
bool EntryApplies(std::string_view entryName, std::string_view programName);
// The name an entry is known by, from its EXENAME as written: the general
// application's name and every plain name as they are; a name an older
// panel wrote raw (not UTF-8, or holding a control character) as
// ProgramName writes it now where it was a program's name, and as a text
// XML carries where it was none. An entry applies to the same programs under
// either name, so that a file written back with it means what it meant.
std::string EntryName(std::string_view written);

// The EXENAME of programName's entry limited to parent (a name or a path):
// "GIT-REMOTE-HTTPS/GIT", "GIT-REMOTE-HTTPS//usr/bin/git".
std::string LimitedEntryName(std::string_view programName, std::string_view parent);
// Whether entryName is LimitedEntryName(programName, parent).
bool IsLimitedEntryName(std::string_view entryName, std::string_view programName, std::string_view parent);
// The program's name in a LimitedEntryName; empty for any other name.
std::string_view LimitedProgramName(std::string_view entryName);

// An APPPATH: the path as it is when it is UTF-8 without control characters
// (every path written before), otherwise a "file://" URL of it with those
// bytes and '%' as %XX. PathOfText undoes it; a text that is no such URL is
// the path itself.
std::string PathText(std::string_view path);
std::string PathOfText(std::string_view text);

// Any other text (descriptions, rule and port names, addresses, host names)
// as XML can carry it: bytes outside UTF-8 and control characters other
// than tab and line breaks become U+FFFD. No text that held them meant
// anything to a reader but words to show, and none can come to mean more.
std::string XmlSafeText(std::string_view text);

// A copy's file name such as "SETUP (2).EXE" names the program SETUP.EXE:
// when the file part holds " (" with a "." after it, the text from " (" up to
// the "." is removed.
std::string CleanCarrierPath(std::string path);

// The upper-cased file part: the name the rules and the update string use,
// escaped where the rules file needs it (ProgramName).
std::string CarrierExeName(std::string_view exePath);

}  // namespace rules::rules_format
