# Exports the sample database into a fresh folder, makes a colour picture 16
# grays there, and shows the tools' own output, bare, each run after a line
# that says where, and at the end a line that says what came of it.
# cmake -DTAVO=... -DTAVO_GRAY=... -DSAMPLE=... -DPICTURE=... -DOUT=... -DROOT=... -P run_demo.cmake
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
file(COPY "${SAMPLE}" "${PICTURE}" DESTINATION "${OUT}")
file(RELATIVE_PATH where "${ROOT}" "${OUT}")
get_filename_component(sample "${SAMPLE}" NAME)
get_filename_component(picture "${PICTURE}" NAME)
foreach(step IN ITEMS "tavo;${TAVO};${sample}" "tavo-gray;${TAVO_GRAY};${picture}")
  list(GET step 0 name)
  list(GET step 1 program)
  list(GET step 2 input)
  message(STATUS "In ${where}: ${name} ${input}")
  execute_process(COMMAND "${program}" "${input}" WORKING_DIRECTORY "${OUT}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name} ended with status ${status}")
  endif()
endforeach()
file(GLOB pictures RELATIVE "${OUT}" "${OUT}/*.bmp")
list(LENGTH pictures count)
message(STATUS "${count} BMP files are now in ${where}")
