# Checks that no dependency points from a lower layer up to a higher one. Each folder below may use
# only the folders (or single headers) listed with it:
#  - includes: every #include "folder/..." of its sources;
#  - link-time references, given the build tree (BUILD): a symbol an object of the folder needs must
#    not be defined only by objects of folders it may not use (a lower library that links only
#    because a higher one is linked with it).
# The runtime's libraries, given the build tree: each links exactly the libraries listed with it, and
# every symbol its file needs that a library of the project defines is defined by itself or by a
# library below it, as the linker resolves it (so the core needs no platform symbol, and a front end
# none of another).
# Run as a test: cmake -DROOT=... [-DBUILD=... -DNM=...] -P layering.cmake
cmake_minimum_required(VERSION 3.22)
set(core contract,formats,runtime/core)
set(layers
  "contract:contract"
  "app:contract,app"
  "formats:contract,formats"
  "runtime/core:${core}"
  "runtime/platform:${core},runtime/platform"
  "runtime/frontends:${core},runtime/frontends"
  "runtime/host:${core},runtime/frontends,runtime/platform/platform.h,runtime/host"
  "launcher:contract,formats,launcher"
  # The product chooses its platform's steps through platform.h alone, never the platform's internals.
  "product:contract,app,${core},runtime/frontends,runtime/host,runtime/platform/platform.h,launcher,product"
  "tools:contract,app,${core},runtime/frontends,runtime/host,runtime/platform/platform.h,launcher,product,tools")

# Whether PATH lies in one of the folders or is one of the files of ALLOWED.
function(rt_allowed path allowed out)
  set(ok FALSE)
  foreach(a IN LISTS allowed)
    string(LENGTH "${a}/" n)
    string(SUBSTRING "${path}" 0 ${n} head)
    if(head STREQUAL "${a}/" OR path STREQUAL a)
      set(ok TRUE)
    endif()
  endforeach()
  set(${out} ${ok} PARENT_SCOPE)
endfunction()

# The layer a path of the source tree belongs to (its longest listed folder), or nothing.
function(rt_layer_of path out)
  set(found "")
  foreach(layer IN LISTS layers)
    string(REGEX REPLACE ":.*" "" folder "${layer}")
    string(LENGTH "${folder}" n)
    string(LENGTH "${found}" m)
    if("${path}/" MATCHES "^${folder}/" AND n GREATER m)
      set(found "${folder}")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(failures "")
foreach(layer IN LISTS layers)
  string(REPLACE ":" ";" parts "${layer}")
  list(GET parts 0 folder)
  list(GET parts 1 allowed)
  string(REPLACE "," ";" allowed "${allowed}")
  # At link time, a header allowed grants its folder's symbols (platform.h: the platform's).
  set(link_allowed_${folder} "")
  foreach(a IN LISTS allowed)
    rt_layer_of("${a}" a_layer)
    list(APPEND link_allowed_${folder} "${a_layer}")
  endforeach()
  file(GLOB_RECURSE sources "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp" "${ROOT}/${folder}/*.S" "${ROOT}/${folder}/*.def"
       "${ROOT}/${folder}/*.in")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^#[ \t]*include[ \t]+\"[^\"]+/[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" path "${line}")
      rt_allowed("${path}" "${allowed}" ok)
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

# Link-time references: the objects of the build tree, each by the folder of its source. CMake keeps
# an object at SUBDIR/CMakeFiles/TARGET.dir/PATH.o for the source SUBDIR/PATH ("__" standing for "..").
if(BUILD AND NM)
  # The image's service entry points are the contract's (contract/services.def): the application
  # calls them, and whichever host runs it defines them (the image's stubs, the direct host).
  file(STRINGS "${ROOT}/contract/services.def" services REGEX "^[A-Z_]*SERVICE\\(")
  foreach(service IN LISTS services)
    string(REGEX REPLACE "^[A-Z_]*SERVICE\\(0x[0-9A-Fa-f]+, *([A-Za-z0-9_]+).*" "\\1" name "${service}")
    set(defined_in_${name} contract)
  endforeach()
  # What the image's freestanding code has in place of the C library defines no symbol of the
  # project's own.
  set(system_stand_ins "app/compiler_support.cpp")
  file(GLOB_RECURSE objects "${BUILD}/*.o" "${BUILD}/*.obj")
  set(layered_objects "")
  foreach(object IN LISTS objects)
    file(RELATIVE_PATH rel "${BUILD}" "${object}")
    if(NOT rel MATCHES "^(.*/)?CMakeFiles/[^/]+\\.dir/(.*)\\.(o|obj)$")
      continue()
    endif()
    set(source "${CMAKE_MATCH_1}${CMAKE_MATCH_2}")
    string(REPLACE "__/" "../" source "${source}")
    get_filename_component(source "${ROOT}/${source}" ABSOLUTE)
    file(RELATIVE_PATH source "${ROOT}" "${source}")
    string(REGEX REPLACE "^generated/" "" source "${source}") # a generated source of its folder
    rt_layer_of("${source}" layer)
    if(layer STREQUAL "" OR source IN_LIST system_stand_ins)
      continue() # tests, benchmarks, sources of other projects
    endif()
    execute_process(COMMAND ${NM} -P ${object} OUTPUT_VARIABLE symbols ERROR_QUIET RESULT_VARIABLE failed)
    if(failed)
      string(APPEND failures "  ${source}: ${NM} cannot read ${object}\n")
      continue()
    endif()
    string(REPLACE "\n" ";" symbols "${symbols}")
    list(REMOVE_DUPLICATES symbols)
    foreach(entry IN LISTS symbols)
      if(NOT entry MATCHES "^([^ ]+) ([A-Za-z]) ")
        continue()
      endif()
      set(name "${CMAKE_MATCH_1}")
      set(type "${CMAKE_MATCH_2}")
      if(type STREQUAL "U")
        list(APPEND needs_${layer} "${name}")
        list(APPEND needed_by_${name} "${source}")
      elseif(type MATCHES "^[A-MO-TV-Zui]$") # defined and global (weak and unique ones included)
        list(APPEND defined_in_${name} "${layer}")
      endif()
    endforeach()
    list(APPEND layered_objects "${layer}")
  endforeach()
  if(layered_objects STREQUAL "")
    string(APPEND failures "  no object of the layers found in ${BUILD}\n")
  endif()
  list(REMOVE_DUPLICATES layered_objects)
  foreach(layer IN LISTS layered_objects)
    list(REMOVE_DUPLICATES needs_${layer})
    foreach(symbol IN LISTS needs_${layer})
      if(NOT DEFINED defined_in_${symbol})
        continue() # from a system library, or known
      endif()
      set(below FALSE)
      foreach(where IN LISTS defined_in_${symbol})
        if(where IN_LIST link_allowed_${layer})
          set(below TRUE)
        endif()
      endforeach()
      if(NOT below)
        set(users "")
        foreach(user IN LISTS needed_by_${symbol})
          rt_layer_of("${user}" user_layer)
          if(user_layer STREQUAL layer)
            list(APPEND users "${user}")
          endif()
        endforeach()
        list(REMOVE_DUPLICATES users)
        list(GET defined_in_${symbol} 0 where)
        string(REPLACE ";" ", " users "${users}")
        string(APPEND failures "  ${users} needs ${symbol}, defined only in ${where}\n")
      endif()
    endforeach()
  endforeach()
endif()

# The runtime's libraries and the ones each may link (library-graph.txt, which runtime/CMakeLists.txt
# writes: NAME|FILE|LINKS). Only the Qt window links Qt.
set(library_links
  "rt_formats:rt_options"
  "rtcore_core:rt_formats"
  "rtcore_platform:rtcore_core"
  "rtcore_frontend:rtcore_core"
  "rtcore_host:rtcore_frontend,rtcore_platform"
  "rtcore_report:rtcore_frontend"
  "rtcore_tui:rtcore_frontend"
  "rtcore_watch:rtcore_tui"
  "rtcore_qt:rt_options,(rtcore_frontend)"
  "rtcore_win32:rtcore_frontend")
if(BUILD AND NM AND EXISTS "${BUILD}/library-graph.txt")
  file(STRINGS "${BUILD}/library-graph.txt" graph)
  set(libraries "")
  # A library in parentheses is below it but not linked: a module takes it from the library that
  # loads it.
  foreach(entry IN LISTS library_links)
    string(REGEX REPLACE ":.*" "" name "${entry}")
    string(REGEX REPLACE "^[^:]*:" "" below "${entry}")
    string(REPLACE "," ";" below "${below}")
    set(allowed_links_${name} "")
    set(below_${name} "")
    foreach(b IN LISTS below)
      if(b MATCHES "^\\((.*)\\)$")
        list(APPEND below_${name} "${CMAKE_MATCH_1}")
      else()
        list(APPEND allowed_links_${name} "${b}")
        list(APPEND below_${name} "${b}")
      endif()
    endforeach()
  endforeach()
  foreach(line IN LISTS graph)
    string(REPLACE "|" ";" fields "${line}")
    list(GET fields 0 name)
    list(GET fields 1 file_${name})
    list(SUBLIST fields 2 -1 links)
    list(APPEND libraries ${name})
    if(NOT DEFINED allowed_links_${name})
      string(APPEND failures "  ${name}: a library the layering test does not know\n")
      continue()
    endif()
    # What it links of the project's own, and whether anything but the Qt window links Qt.
    set(own "")
    foreach(link IN LISTS links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      if(link MATCHES "^rt")
        list(APPEND own "${link}")
      elseif(link MATCHES "Qt" AND NOT name STREQUAL "rtcore_qt")
        string(APPEND failures "  ${name} links ${link}: only rtcore_qt may link Qt\n")
      endif()
    endforeach()
    if(NOT own STREQUAL allowed_links_${name})
      string(REPLACE ";" ", " own "${own}")
      string(REPLACE ";" ", " want "${allowed_links_${name}}")
      string(APPEND failures "  ${name} links ${own}; it should link ${want}\n")
    endif()
  endforeach()
  # The symbols each library's file defines and needs.
  foreach(name IN LISTS libraries)
    execute_process(COMMAND ${NM} -P -g "${file_${name}}" OUTPUT_VARIABLE symbols ERROR_QUIET RESULT_VARIABLE failed)
    if(failed)
      string(APPEND failures "  ${name}: ${NM} cannot read ${file_${name}}\n")
      continue()
    endif()
    string(REPLACE "\n" ";" symbols "${symbols}")
    set(lib_needs_${name} "")
    foreach(entry IN LISTS symbols)
      if(entry MATCHES "^([^ ]+) U ")
        list(APPEND lib_needs_${name} "${CMAKE_MATCH_1}")
      elseif(entry MATCHES "^([^ :]+) [A-TV-Zui] ")
        list(APPEND lib_defines_${CMAKE_MATCH_1} "${name}")
      endif()
    endforeach()
    list(REMOVE_DUPLICATES lib_needs_${name})
  endforeach()
  # The libraries below one, following the links.
  foreach(name IN LISTS libraries)
    set(reach "${name}")
    set(pending "${below_${name}}")
    while(pending)
      list(POP_FRONT pending next)
      if(NOT next IN_LIST reach)
        list(APPEND reach "${next}")
        list(APPEND pending ${below_${next}})
      endif()
    endwhile()
    foreach(symbol IN LISTS lib_needs_${name})
      if(NOT DEFINED lib_defines_${symbol})
        continue() # from a system library
      endif()
      set(found FALSE)
      foreach(where IN LISTS lib_defines_${symbol})
        if(where IN_LIST reach)
          set(found TRUE)
        endif()
      endforeach()
      if(NOT found)
        list(GET lib_defines_${symbol} 0 where)
        string(APPEND failures "  ${name} needs ${symbol}, defined only in ${where}, which it may not link\n")
      endif()
    endforeach()
  endforeach()
elseif(BUILD AND NM)
  string(APPEND failures "  no library-graph.txt in ${BUILD}\n")
endif()

if(failures)
  message(FATAL_ERROR "Dependencies that point to a higher layer:\n${failures}")
endif()
message(STATUS "Every include, link-time reference and library link points to its own layer or a lower one")
