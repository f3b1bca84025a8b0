# Run at installation of the backstop's component (cmake --install
# --component backstop, cpack): its units and polkit policy for the prefix
# installed to, naming that prefix's zel-backstop and zel-admin. Expects
# ZEL_PKG_DIR, ZEL_SBIN_DIR, ZEL_BACKSTOP_DATA and ZEL_BACKSTOP_STAGE.
#
# The units go where systemd looks under /usr and /usr/local
# (<prefix>/lib/systemd/system); polkit reads its actions from
# /usr/share/polkit-1/actions only: an installation into another prefix keeps
# the policy under <prefix>/share, and the set-up script puts it in place.
set(ZEL_SBIN "${CMAKE_INSTALL_PREFIX}/${ZEL_SBIN_DIR}")
set(ZEL_ADMIN "${CMAKE_INSTALL_PREFIX}/${ZEL_PKG_DIR}/zel-admin")
if(ZEL_ADMIN MATCHES "[\n<>&\" ]")
  message(FATAL_ERROR "the installation folder ${ZEL_ADMIN} cannot be named in a unit or policy")
endif()
foreach(unit zel-backstop@.service zel-backstop-services.service)
  configure_file("${ZEL_BACKSTOP_DATA}/${unit}.in" "${ZEL_BACKSTOP_STAGE}/${unit}" @ONLY)
  file(INSTALL "${ZEL_BACKSTOP_STAGE}/${unit}" DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
configure_file("${ZEL_BACKSTOP_DATA}/org.tessary.firewall.policy.in" "${ZEL_BACKSTOP_STAGE}/org.tessary.firewall.policy"
  @ONLY)
file(INSTALL "${ZEL_BACKSTOP_STAGE}/org.tessary.firewall.policy"
  DESTINATION "${CMAKE_INSTALL_PREFIX}/share/polkit-1/actions" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
