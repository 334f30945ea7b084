# Runs a copy of a test program alone in an empty folder, with that folder as the working
# directory: what it finds there must come from inside the program.
# cmake -DPROGRAM=... -DFOLDER=... -DFILTER=... -P run_copied_program.cmake
file(REMOVE_RECURSE ${FOLDER})
file(MAKE_DIRECTORY ${FOLDER})
get_filename_component(name ${PROGRAM} NAME)
file(COPY ${PROGRAM} DESTINATION ${FOLDER})
execute_process(COMMAND ${FOLDER}/${name} --gtest_filter=${FILTER} WORKING_DIRECTORY ${FOLDER}
                RESULT_VARIABLE status)
file(REMOVE_RECURSE ${FOLDER})
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${name} in an empty folder: ${status}")
endif()
