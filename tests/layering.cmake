# Checks that no include points from a lower layer up to a higher one: each folder below may
# include only from the folders listed with it. Run as a test: cmake -DROOT=... -P layering.cmake
set(layers
  "contract:contract"
  "app:contract,app"
  "formats:contract,formats"
  "runtime/core:contract,formats,runtime/core"
  "runtime/platform:contract,formats,runtime/core,runtime/platform"
  "runtime/frontends:contract,formats,runtime/core,runtime/frontends"
  "launcher:contract,formats,launcher")
set(failures "")
foreach(layer IN LISTS layers)
  string(REPLACE ":" ";" parts "${layer}")
  list(GET parts 0 folder)
  list(GET parts 1 allowed)
  string(REPLACE "," ";" allowed "${allowed}")
  file(GLOB_RECURSE sources "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp" "${ROOT}/${folder}/*.S" "${ROOT}/${folder}/*.def")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^#[ \t]*include[ \t]+\"[^\"]+/[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" path "${line}")
      set(ok FALSE)
      foreach(a IN LISTS allowed)
        string(LENGTH "${a}/" n)
        string(SUBSTRING "${path}" 0 ${n} head)
        if(head STREQUAL "${a}/")
          set(ok TRUE)
        endif()
      endforeach()
      # A path relative to the including file's folder stays inside it.
      get_filename_component(dir "${source}" DIRECTORY)
      if(NOT ok AND EXISTS "${dir}/${path}" AND NOT path MATCHES "\\.\\.")
        set(ok TRUE)
      endif()
      if(NOT ok)
        file(RELATIVE_PATH rel "${ROOT}" "${source}")
        string(APPEND failures "  ${rel} includes ${path}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "Includes that point to a higher layer:\n${failures}")
endif()
message(STATUS "Every include points to its own layer or a lower one")
