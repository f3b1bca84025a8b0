#pragma once

namespace backstop {

// The machine's rules for the system services (root's programs and the
// system users'): a rules file of the usual format, root's, whose service
// entries (ISSERVICE 1) and general settings apply.
inline constexpr const char* kServicesRulesPath = "/etc/korvel/Rules.xml";

// What is shipped, and what stands for the file while there is none: every
// service permitted, both ways, and recorded, so that installing never
// breaks a machine (its resolver, DHCP, time, package manager). The
// administrator may turn the general settings to Block or Ask.
inline constexpr const char* kServicesRulesDocument =
    "<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION>"
    "<ISSERVICE>1</ISSERVICE><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF><RULES></RULES></APPLICATION>"
    "</APPLICATIONS>\n";

}  // namespace backstop
