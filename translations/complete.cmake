# Every text the windows pass through Qt's translator has its English translation: lupdate reads
# the sources into a copy of each .ts file, and lrelease counts the texts left unfinished.
foreach(program IN LISTS PROGRAMS)
  set(copy ${WORK}/${program}_en.ts)
  file(MAKE_DIRECTORY ${WORK})
  file(COPY_FILE ${SOURCE_DIR}/${program}_en.ts ${copy})
  execute_process(COMMAND ${CMAKE_COMMAND} -DIN_FILE=${BINARY_DIR}/.lupdate/${program}_project.cmake
                          -DOUT_FILE=${WORK}/${program}_project.json -P ${GENERATE_PROJECT}
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${LUPDATE} -project ${WORK}/${program}_project.json -ts ${copy}
                          -locations none -no-obsolete -source-language de
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${LRELEASE} ${copy} -qm ${WORK}/${program}_en.qm
                  OUTPUT_VARIABLE counts COMMAND_ERROR_IS_FATAL ANY)
  if(NOT counts MATCHES "finished and 0 unfinished" OR counts MATCHES "untranslated")
    message(FATAL_ERROR "${program}_en.ts lacks translations: ${counts}"
                        "(cmake --build --preset dev --target update_translations, then "
                        "translate what is unfinished in translations/${program}_en.ts)")
  endif()
endforeach()
