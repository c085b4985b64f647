# Exports the sample database into a fresh folder and shows the tool's own
# output, bare, between a line that says where and a line that says what came
# of it. cmake -DTAVO=... -DSAMPLE=... -DOUT=... -DROOT=... -P run_demo.cmake
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
file(COPY "${SAMPLE}" DESTINATION "${OUT}")
get_filename_component(name "${SAMPLE}" NAME)
file(RELATIVE_PATH where "${ROOT}" "${OUT}")
message(STATUS "In ${where}: tavo ${name}")
execute_process(COMMAND "${TAVO}" "${name}" WORKING_DIRECTORY "${OUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "tavo ended with status ${status}")
endif()
file(GLOB pictures RELATIVE "${OUT}" "${OUT}/*.bmp")
list(LENGTH pictures count)
message(STATUS "${count} BMP files are now in ${where}")
