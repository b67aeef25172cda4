# cmake -DGROFF=... -DPAGE=x.1 -DTEXT=x.txt -P RenderManual.cmake
# Formats a man page as plain ASCII text with Windows line ends.
execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${PAGE}
  OUTPUT_VARIABLE text RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "groff failed on ${PAGE}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT} "${text}")
