# CPack: a .deb on Linux, a .zip of the Windows build (WINDOWS_LAYOUT).
set(CPACK_PACKAGE_NAME kestrow)
set(CPACK_PACKAGE_VENDOR "The kestrow authors")
set(CPACK_PACKAGE_CONTACT "The kestrow authors <kestrow@example.org>" CACHE STRING
  "Maintainer of the packages, name and address")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "test tools for contactless card readers/writers on serial ports")
set(CPACK_PACKAGE_DESCRIPTION "\
kestrow and brimlet measure how reliably a contactless card reader/writer
attached to a serial port finds a card: they poll it again and again, print
one mark per attempt and success rates per block and per run, and append each
run's figures to a result file, so that positions, distances and units can be
compared.
kestrow drives readers/writers that protect their commands with Triple-DES
(mutual authentication and sealed messages), brimlet plain ones. rwsim
simulates both kinds on a pseudo-terminal, with card schedules, fault
injection and a frame trace. rwstation runs one tool per reader for many
readers at once, with one live view and one verdict.
Licence: MIT.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

if(WINDOWS_LAYOUT)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # Only a Windows build is named for Windows; a native build in this layout
  # (for checking it) keeps the system's name.
  if(WIN32)
    set(CPACK_SYSTEM_NAME windows-${CMAKE_SYSTEM_PROCESSOR})
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # libc6, libstdc++6, libgcc-s1 as linked
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
  # Debian's copyright and changelog files and compressed man pages are made
  # in the staging folder, so that a plain install stays as it is.
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianFiles.cmake)
  set(CPACK_KESTROW_SOURCE_DIR ${PROJECT_SOURCE_DIR})
endif()

include(CPack)
