# Run at installation (cmake --install, cpack): the session's start-up files
# for the prefix installed to, naming that prefix's zel-session. Expects
# ZEL_PKG_DIR, ZEL_SESSION_DATA and ZEL_SESSION_STAGE.
#
# The generator goes where systemd looks for it under /usr and /usr/local
# (<prefix>/lib/systemd/user-environment-generators). Xsession reads only
# /etc/X11/Xsession.d: an installation for the machine (/usr, /usr/local)
# puts its file there, any other prefix keeps it under <prefix>/etc, unused.
set(program "${CMAKE_INSTALL_PREFIX}/${ZEL_PKG_DIR}/zel-session")
if(program MATCHES "['\n]")
  message(FATAL_ERROR "the installation folder ${program} cannot be named in a start-up file")
endif()
set(SESSION_PROGRAM "${program}")
# Xsession runs its program as an unquoted word list: a folder name that
# would split or expand keeps the program from starting through zel-session.
if(program MATCHES "[ \t*?[\"$`\\]")
  set(SESSION_WRAP ": # the installation folder's name cannot stand in the session's command")
else()
  set(SESSION_WRAP "if [ -n \"$STARTUP\" ]; then STARTUP=\"${program} --run $STARTUP\"; fi")
endif()
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR CMAKE_INSTALL_PREFIX STREQUAL "/usr/local")
  set(xsession_dir "/etc/X11/Xsession.d")
else()
  set(xsession_dir "${CMAKE_INSTALL_PREFIX}/etc/X11/Xsession.d")
endif()
configure_file("${ZEL_SESSION_DATA}/generator.in" "${ZEL_SESSION_STAGE}/60-korvel-firewall" @ONLY)
configure_file("${ZEL_SESSION_DATA}/xsession.in" "${ZEL_SESSION_STAGE}/85korvel-firewall" @ONLY)
file(INSTALL "${ZEL_SESSION_STAGE}/60-korvel-firewall"
  DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user-environment-generators"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(INSTALL "${ZEL_SESSION_STAGE}/85korvel-firewall" DESTINATION "${xsession_dir}"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
