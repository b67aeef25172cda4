# What `cmake --install` puts where. A program joins by adding its target
# name to INSTALLED_PROGRAMS (and its page as man/NAME.1.in).
include(GNUInstallDirs)

# Windows users get a flat folder: the programs, the manual as text, the
# licence. Set on for a Linux build to check that layout.
option(WINDOWS_LAYOUT "Install in the layout of the Windows zip" ${WIN32})

set(INSTALLED_PROGRAMS kestrow brimlet rwsim rwreport rwstation)
set(DOC_FILES README.md LICENSE CHANGELOG.md docs/event-log.md docs/station-example.plan
  docs/station-status.md docs/station-status.schema.json)
# rwstation --listen for a lab: Prometheus's scrape configuration, the alert
# rules and their tests, kept together in a folder of their own.
set(PROMETHEUS_FILES docs/prometheus/README.md docs/prometheus/prometheus.yml
  docs/prometheus/rules.yml docs/prometheus/rules.test.yml)
if(TARGET rwsim)
  list(APPEND DOC_FILES docs/rwsim.md)
endif()
# A page is installed with its program (rwsim is not built for Windows).
set(INSTALLED_PAGES)
foreach(page IN LISTS MANUAL_PAGES)
  if(TARGET ${page})
    list(APPEND INSTALLED_PAGES ${page})
  endif()
endforeach()

if(WINDOWS_LAYOUT)
  set(PROGRAM_DESTINATION .)
  set(DOC_DESTINATION .)
  set(MANUAL_DESTINATION manual)
else()
  set(PROGRAM_DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(DOC_DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(MANUAL_DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

foreach(program IN LISTS INSTALLED_PROGRAMS)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${PROGRAM_DESTINATION})
  endif()
endforeach()

foreach(file IN LISTS DOC_FILES)
  get_filename_component(name ${file} NAME)
  if(WINDOWS_LAYOUT AND name STREQUAL "LICENSE")
    set(name LICENSE.txt)
  endif()
  install(FILES ${file} DESTINATION ${DOC_DESTINATION} RENAME ${name})
endforeach()
install(FILES ${PROMETHEUS_FILES} DESTINATION ${DOC_DESTINATION}/prometheus)

if(WINDOWS_LAYOUT)
  # The manual as plain text, formatted from the man pages at build time.
  find_program(GROFF_PROGRAM groff REQUIRED)
  set(manual_texts)
  foreach(page IN LISTS INSTALLED_PAGES)
    set(text ${PROJECT_BINARY_DIR}/man/${page}.txt)
    add_custom_command(OUTPUT ${text}
      COMMAND ${CMAKE_COMMAND} -DGROFF=${GROFF_PROGRAM} -DPAGE=${PROJECT_BINARY_DIR}/man/${page}.1
        -DTEXT=${text} -P ${PROJECT_SOURCE_DIR}/cmake/RenderManual.cmake
      DEPENDS ${PROJECT_BINARY_DIR}/man/${page}.1 ${PROJECT_SOURCE_DIR}/cmake/RenderManual.cmake
      VERBATIM)
    list(APPEND manual_texts ${text})
  endforeach()
  add_custom_target(manual_text ALL DEPENDS ${manual_texts})
  install(FILES ${manual_texts} DESTINATION ${MANUAL_DESTINATION})
else()
  foreach(page IN LISTS INSTALLED_PAGES)
    install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1 DESTINATION ${MANUAL_DESTINATION})
  endforeach()
  # One completion file serves all programs; bash-completion looks it up by
  # the name of the command being completed.
  foreach(program kestrow brimlet rwsim rwreport rwstation)
    install(FILES completion/kestrow.bash RENAME ${program}
      DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  endforeach()
endif()
