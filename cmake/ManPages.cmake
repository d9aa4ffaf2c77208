# Manual pages for torvactl and torva-host, made by help2man from the programs' own --help output,
# so the page and the help text cannot disagree. Built with the programs when help2man is there;
# without it the build goes on and says that no manual pages are made.
# Sanitizer builds are for the tests, and a cross build's programs may not run here: neither makes
# manual pages.
if(TORVA_SANITIZE OR TORVA_SANITIZE_THREAD OR CMAKE_CROSSCOMPILING)
  return()
endif()
find_program(TORVA_HELP2MAN help2man)
if(NOT TORVA_HELP2MAN)
  message(STATUS "help2man not found: the manual pages of torvactl and torva-host are not built "
                 "(apt-get install help2man)")
  return()
endif()

set(TORVA_MAN_DIRECTORY ${CMAKE_BINARY_DIR}/man)
set(TORVA_MAN_PAGES)
# torva_man_page(<program target> <one-line description>): <program>.1.gz, compressed as Debian
# installs manual pages (without a time stamp, so the same program gives the same file).
function(torva_man_page program description)
  set(source ${TORVA_MAN_DIRECTORY}/${program}.1)
  set(page ${source}.gz)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TORVA_MAN_DIRECTORY}
    COMMAND ${TORVA_HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
            --name=${description} --output=${source} $<TARGET_FILE:${program}>
    COMMAND gzip -9 -n -f ${source}
    DEPENDS ${program}
    COMMENT "Writing the manual page ${program}.1"
    VERBATIM)
  set(TORVA_MAN_PAGES ${TORVA_MAN_PAGES} ${page} PARENT_SCOPE)
endfunction()

torva_man_page(torvactl "drive Torva USB force-plate amplifiers from the command line")
if(NOT TORVA_DRIVER_ONLY)
  torva_man_page(torva-host "stand-in motion-capture host that runs the Torva plugin")
endif()
add_custom_target(man_pages ALL DEPENDS ${TORVA_MAN_PAGES})
