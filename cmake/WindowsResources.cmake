# The program's Windows resources (icon, manifest, version), for the program and for the test
# that reads them back from a built executable.
function(bunkmere_add_windows_resources target)
  set(BUNKMERE_APP_DIR ${PROJECT_SOURCE_DIR}/app)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_Bunkmere.rc)
  configure_file(${BUNKMERE_APP_DIR}/Bunkmere.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # windres does not see through to the files the script names; rebuild when they change.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
    "${BUNKMERE_APP_DIR}/Bunkmere.ico;${BUNKMERE_APP_DIR}/Bunkmere.manifest")
endfunction()
