# The program's Windows resources (icon, manifest, version, the event log's message table), for
# the program and for the test that reads them back from a built executable.
find_program(BUNKMERE_WINDMC NAMES ${TOOLCHAIN_PREFIX}-windmc x86_64-w64-mingw32-windmc windmc
             REQUIRED)
function(bunkmere_add_windows_resources target)
  set(BUNKMERE_APP_DIR ${PROJECT_SOURCE_DIR}/app)
  set(events ${CMAKE_CURRENT_BINARY_DIR}/${target}_events)
  set(BUNKMERE_EVENTS_BIN ${events}/BunkmereEvents.bin)
  add_custom_command(
    OUTPUT ${BUNKMERE_EVENTS_BIN}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${events}
    COMMAND ${BUNKMERE_WINDMC} -h ${events} -r ${events} ${BUNKMERE_APP_DIR}/BunkmereEvents.mc
    DEPENDS ${BUNKMERE_APP_DIR}/BunkmereEvents.mc
    COMMENT "Compiling the event log's message table for ${target}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_Bunkmere.rc)
  configure_file(${BUNKMERE_APP_DIR}/Bunkmere.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc} ${BUNKMERE_EVENTS_BIN})
  # windres does not see through to the files the script names; rebuild when they change.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
    "${BUNKMERE_APP_DIR}/Bunkmere.ico;${BUNKMERE_APP_DIR}/Bunkmere.manifest;${BUNKMERE_EVENTS_BIN}")
endfunction()
