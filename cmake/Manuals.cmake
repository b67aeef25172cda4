# Man pages: man/NAME.1.in, with the parts kestrow and brimlet share
# (man/shared-*.roff) put in, become ${PROJECT_BINARY_DIR}/man/NAME.1.
include(GNUInstallDirs)

set(MANUAL_DATE "2026-12-07")  # the date of the pages' last change
set(DOC_DIR ${CMAKE_INSTALL_FULL_DOCDIR})
# Every man/NAME.1.in is a page.
file(GLOB _manual_sources RELATIVE ${PROJECT_SOURCE_DIR}/man CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/man/*.1.in)
string(REPLACE ".1.in" "" MANUAL_PAGES "${_manual_sources}")

set(_manual_dir ${PROJECT_SOURCE_DIR}/man)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${_manual_dir}/shared-options.roff ${_manual_dir}/shared-sections.roff
  ${_manual_dir}/shared-troubleshooting.roff)

# Reads a shared fragment and fills in the variables of the page at hand.
function(_read_fragment name out)
  file(READ ${_manual_dir}/${name}.roff text)
  string(CONFIGURE "${text}" text @ONLY)
  string(REGEX REPLACE "\n$" "" text "${text}")  # the page has the line end
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(_make_manual page)
  set(TOOL ${page})
  if(page STREQUAL "kestrow")
    set(PORT_DEFAULT "Default: none, which makes kestrow search for the R/W (see\n.BR \"PORT SEARCH\" ).")
    set(BAUD_NOTE ".\\\" The search sets its own rates.")
  else()
    set(PORT_DEFAULT "Default\n.B COM1\n.RB ( /dev/ttyS0\non Linux).")
    set(BAUD_NOTE "Not listed in the usage text.")
  endif()
  _read_fragment(shared-options SHARED_OPTIONS)
  _read_fragment(shared-sections SHARED_SECTIONS)
  _read_fragment(shared-troubleshooting SHARED_TROUBLESHOOTING)
  configure_file(${_manual_dir}/${page}.1.in ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
endfunction()

foreach(page IN LISTS MANUAL_PAGES)
  _make_manual(${page})
endforeach()
