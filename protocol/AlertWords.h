#pragma once

#include <string_view>

// The words of the conversation between an engine that asks a question and
// the alert program that shows it, for both sides. Lines end in '\n'.
//
// The engine writes the question as "KEY<TAB>VALUE" lines (the value escaped
// as text::EscapeLine does) closed by "end", and may later write
// "press BUTTON" (another alert of its process answered for this one). The
// alert says "alive" at once and every half second, "shown" once the question
// is on screen, and last "answer BUTTON TICKED", followed by " host" (the
// answer applies to the named host only), " timeout" (nobody gave it) or
// " away" (the away setting gave it); to an engine that sent "choices" a
// user's answer is "answer BUTTON 0 for=LENGTH to=SCOPE".
//
// Constants only: the engine builds its question without Qt, and the hook
// links no C++ runtime.
namespace protocol::alert_words {

// The question's keys, engine to alert.
inline constexpr std::string_view kCaption = "caption";
inline constexpr std::string_view kMessage = "message";
inline constexpr std::string_view kCheckBox = "checkbox";
inline constexpr std::string_view kPeer = "peer";
inline constexpr std::string_view kIcon = "icon";
inline constexpr std::string_view kDirection = "direction"; // kIncoming or kOutgoing
inline constexpr std::string_view kHost = "host";           // also an answer's last word
inline constexpr std::string_view kChoices = "choices";     // the minutes of a timed answer
inline constexpr std::string_view kPort = "port";
inline constexpr std::string_view kTimeout = "timeout";     // seconds; also an answer's last word
inline constexpr std::string_view kAway = "away";           // "BUTTON SECONDS"; also an answer's last word
inline constexpr std::string_view kPath = "path";
inline constexpr std::string_view kProgram = "program";
inline constexpr std::string_view kCompany = "company";
inline constexpr std::string_view kProtocol = "protocol";
inline constexpr std::string_view kPid = "pid";
inline constexpr std::string_view kUser = "user";
inline constexpr std::string_view kCommandLine = "cmdline";
inline constexpr std::string_view kParentPid = "parentpid";
inline constexpr std::string_view kParent = "parent";
inline constexpr std::string_view kEncryptedDns = "encrypteddns"; // "1": the peer is an encrypted DNS service
// Repeated: the parent's parent and up, each an executable's path (empty: unreadable).
inline constexpr std::string_view kAncestor = "ancestor";
// The question's last line.
inline constexpr std::string_view kEnd = "end";

inline constexpr std::string_view kIncoming = "incoming";
inline constexpr std::string_view kOutgoing = "outgoing";

// Engine to alert, once the question is whole: "press BUTTON".
inline constexpr std::string_view kPress = "press";

// Alert to engine.
inline constexpr std::string_view kAlive = "alive";
inline constexpr std::string_view kShown = "shown";
inline constexpr std::string_view kAnswer = "answer";

// An answer's length and scope, each in the order of its value on both sides.
inline constexpr std::string_view kFor = "for=";
inline constexpr std::string_view kTo = "to=";
inline constexpr std::string_view kLengths[] = {"once", "process", "timed", "always"};
inline constexpr std::string_view kScopes[] = {"peerport", "host", "port", "any"};

}  // namespace protocol::alert_words
