# Install-time step: writes the systemd user unit with the program's path under the prefix being
# installed to, then installs it where the user manager looks for units shipped with programs.
# Expects QUORVEL_UNIT_TEMPLATE, QUORVEL_UNIT_OUTPUT and QUORVEL_BINDIR (relative to the prefix).

if(IS_ABSOLUTE "${QUORVEL_BINDIR}")
  set(bindir "${QUORVEL_BINDIR}")
else()
  set(bindir "${CMAKE_INSTALL_PREFIX}/${QUORVEL_BINDIR}")
endif()
configure_file("${QUORVEL_UNIT_TEMPLATE}" "${QUORVEL_UNIT_OUTPUT}" @ONLY)
file(INSTALL "${QUORVEL_UNIT_OUTPUT}" DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user"
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# Written afresh by every install, so that an install run as root leaves no file of its own in
# the build folder.
file(REMOVE "${QUORVEL_UNIT_OUTPUT}")
