# Makes one manual page from a program's own --help and --version, so the
# page lists exactly the options and exit statuses the program does.
#   cmake -DHELP2MAN=... -DPROGRAM=... -DINCLUDE=... -DOUTPUT=... -P ManPage.cmake
# help2man leaves the "Exit status:" list of --help as a subsection of
# DESCRIPTION; it is made the page's EXIT STATUS section here.
foreach(variable HELP2MAN PROGRAM INCLUDE OUTPUT)
  if(NOT ${variable})
    message(FATAL_ERROR "ManPage.cmake: ${variable} not given")
  endif()
endforeach()

set(ENV{LC_ALL} C.UTF-8)
# A sanitized build must not fail its --help over leaks at exit.
set(ENV{ASAN_OPTIONS} detect_leaks=0)
execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1 --include=${INCLUDE} ${PROGRAM}
  OUTPUT_VARIABLE page
  ERROR_VARIABLE errors
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${PROGRAM}: ${errors}")
endif()

# The list ends at the next paragraph or section; it moves, whole, to an
# EXIT STATUS section of its own where the section it stood in ends.
set(heading "\n.SS \"Exit status:\"\n")
string(FIND "${page}" "${heading}" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${PROGRAM} --help lists no \"Exit status:\"; its manual page would have no EXIT STATUS")
endif()
string(LENGTH "${heading}" heading_length)
math(EXPR body_start "${start} + ${heading_length}")
string(SUBSTRING "${page}" 0 ${start} before)
string(SUBSTRING "${page}" ${body_start} -1 rest)
string(LENGTH "${rest}" end)
foreach(marker "\n.PP\n" "\n.SH " "\n.SS ")
  string(FIND "${rest}" "${marker}" position)
  if(NOT position EQUAL -1 AND position LESS end)
    set(end ${position})
  endif()
endforeach()
string(LENGTH "${rest}" rest_length)
if(end LESS rest_length)
  math(EXPR end "${end} + 1")
endif()
string(SUBSTRING "${rest}" 0 ${end} statuses)
string(SUBSTRING "${rest}" ${end} -1 after)
string(FIND "\n${after}" "\n.SH " section_end)
if(section_end EQUAL -1)
  string(LENGTH "${after}" section_end)
endif()
string(SUBSTRING "${after}" 0 ${section_end} section_rest)
string(SUBSTRING "${after}" ${section_end} -1 later_sections)
file(WRITE ${OUTPUT}
  "${before}\n${section_rest}.SH \"EXIT STATUS\"\n${statuses}${later_sections}")
