# Checks that every C and C++ source follows the project's .clang-format. Run as a test:
# cmake -DROOT=... -DCLANG_FORMAT=... -P style.cmake
set(folders contract app formats runtime launcher product tools tests bench)
set(sources "")
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE found "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.c" "${ROOT}/${folder}/*.cpp")
  list(APPEND sources ${found})
endforeach()
execute_process(COMMAND "${CLANG_FORMAT}" --dry-run --Werror --style=file ${sources}
                WORKING_DIRECTORY "${ROOT}" RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  string(REGEX MATCHALL "[^\n]*: error: [^\n]*" lines "${errors}")
  list(LENGTH lines count)
  string(REPLACE ";" "\n" lines "${lines}")
  message(FATAL_ERROR "${count} places do not follow .clang-format (run clang-format -i on them):\n${lines}")
endif()
