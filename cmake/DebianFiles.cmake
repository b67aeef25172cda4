# Run by CPack after it has installed into its staging folder and before it
# builds the .deb: adds what Debian requires of every package, and compresses
# the man pages and the changelog as Debian does.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root ${CPACK_TEMPORARY_INSTALL_DIRECTORY})
set(doc ${root}/usr/share/doc/${CPACK_PACKAGE_NAME})
if(NOT IS_DIRECTORY ${doc})
  message(FATAL_ERROR "no ${doc}: was the package configured with the prefix /usr?")
endif()

function(gzip_file file)
  execute_process(COMMAND gzip -9nf ${file} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${file}")
  endif()
endfunction()

# The licence in Debian's machine-readable copyright format.
file(READ ${CPACK_KESTROW_SOURCE_DIR}/LICENSE licence)
string(REGEX REPLACE "^MIT License\n\nCopyright \\(c\\) [^\n]*\n\n" "" licence "${licence}")
string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" licence "${licence}")
file(WRITE ${doc}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}

Files: *
Copyright: 2026 The kestrow authors
License: Expat
 ${licence}")

# A native package's changelog, in Debian's format, pointing to the project's.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${doc}/changelog
"${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Release ${CPACK_PACKAGE_VERSION}; see /usr/share/doc/${CPACK_PACKAGE_NAME}/CHANGELOG.md.

 -- ${CPACK_PACKAGE_CONTACT}  ${date}
")
gzip_file(${doc}/changelog)

file(GLOB pages ${root}/usr/share/man/man1/*.1)
foreach(page IN LISTS pages)
  gzip_file(${page})
endforeach()
