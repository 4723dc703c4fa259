# Run by CTest: cmake -DLUPDATE= -DLRELEASE= -DTS= -DSOURCES= -DWORK= -P check_translations.cmake
# Works on a copy so the catalogue in the repository stays as it is.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
get_filename_component(name ${TS} NAME)
file(COPY_FILE ${TS} ${WORK}/${name})
execute_process(COMMAND ${LUPDATE} -locations none -no-obsolete ${SOURCES} -ts ${WORK}/${name}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "lupdate failed:\n${out}${err}")
endif()
message(STATUS "lupdate: ${out}")
execute_process(COMMAND ${LRELEASE} ${WORK}/${name} -qm ${WORK}/check.qm
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "lrelease: ${out}${err}")
if(NOT status EQUAL 0 OR NOT out MATCHES "finished and 0 unfinished" OR out MATCHES "untranslated")
    message(FATAL_ERROR "${name} leaves texts untranslated; run the update_translations target "
        "and translate the new entries")
endif()
