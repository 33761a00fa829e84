# The Debian package: `cmake --build build --target package` makes quorvel_<version>_amd64.deb
# from what `cmake --install` installs, with the dependencies read off the shared libraries the
# program links (dpkg-shlibdeps, from dpkg-dev).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "The Quorvel developers")
set(CPACK_PACKAGE_CONTACT "The Quorvel developers <developers@quorvel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "SOCKS proxy that puts your music into your OSCAR IM profile")
# Lines stay under 80 columns, as Debian's tools show them unwrapped.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Quorvel sits on your own machine between a classic OSCAR (AIM) instant-\n"
  "messaging client and its server, as a SOCKS4 proxy on 127.0.0.1 port 3131.\n"
  "It relays everything and fills the tokens of your profile and away message\n"
  "(artist, song, play status, times) with what your MPRIS media player plays,\n"
  "sending them again on a timer so that they follow the music. An instant\n"
  "message typed as .a followed by a text sets an away message; .b clears it.\n"
  "It keeps an event log, lives in the notification area, and can run without\n"
  "a window as a systemd user service.")

# No revision: the file is quorvel_<version>_<arch>.deb, a native package.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)

# The same modes whatever the umask of whoever builds the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

include(CPack)
