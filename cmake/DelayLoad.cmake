# The system libraries that are not among Windows' known DLLs (version,
# wininet, crypt32, comctl32, msimg32, wtsapi32, wintrust): imported, they would be
# looked for in the program's own folder before anything in the program ran,
# and the program is usually started from a browser's download folder. They
# are delay-loaded instead: resolved at their first call, after the program
# restricted its search, from the system folder by full path (the program's
# own delay-load helper in src/base/SystemLibrary.cpp).
#
# zelto_delay_import_libraries(out lib...) makes, at configure time, a
# delay-import library per MinGW import library (its exports read with nm,
# then dlltool --output-delaylib; for 32-bit Windows tools/make_delay_library.py,
# since the 32-bit linker drops dlltool's thunks) and sets out to their paths.
function(zelto_delay_import_libraries out)
  set(prefix ${ZELTO_MINGW_ARCH}-w64-mingw32)
  find_program(ZELTO_NM NAMES ${prefix}-nm REQUIRED)
  find_program(ZELTO_DLLTOOL NAMES ${prefix}-dlltool REQUIRED)
  set(folder ${CMAKE_BINARY_DIR}/delayload)
  file(MAKE_DIRECTORY ${folder})
  set(libs)
  set(made_imports)   # the import libraries before this one (32-bit: their functions are theirs)
  foreach(name ${ARGN})
    find_library(ZELTO_IMPORT_${name} NAMES lib${name}.a REQUIRED)
    set(delay ${folder}/lib${name}_delay.a)
    if(ZELTO_MINGW_ARCH STREQUAL "i686")
      set(delay ${folder}/lib${name}_delay32.a)
      find_program(ZELTO_AS NAMES ${prefix}-as REQUIRED)
      find_program(ZELTO_AR NAMES ${prefix}-ar REQUIRED)
      find_program(ZELTO_PYTHON3 NAMES python3 REQUIRED)
      set(maker ${CMAKE_SOURCE_DIR}/tools/make_delay_library.py)
      set(skips)
      foreach(made ${made_imports})
        list(APPEND skips --skip ${made})
      endforeach()
      if(NOT EXISTS ${delay} OR ${ZELTO_IMPORT_${name}} IS_NEWER_THAN ${delay} OR ${maker} IS_NEWER_THAN ${delay})
        string(TOUPPER ${name} upper)
        execute_process(COMMAND ${ZELTO_PYTHON3} ${maker} --nm ${ZELTO_NM} --as ${ZELTO_AS} --ar ${ZELTO_AR}
                                --lib ${ZELTO_IMPORT_${name}} --dll ${upper}.dll --out ${delay} ${skips}
                        RESULT_VARIABLE failed)
        if(failed)
          message(FATAL_ERROR "tools/make_delay_library.py could not make ${delay}")
        endif()
      endif()
      list(APPEND libs ${delay})
      list(APPEND made_imports ${ZELTO_IMPORT_${name}})
      continue()
    endif()
    if(NOT EXISTS ${delay} OR ${ZELTO_IMPORT_${name}} IS_NEWER_THAN ${delay})
      execute_process(COMMAND ${ZELTO_NM} -g ${ZELTO_IMPORT_${name}} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR "${ZELTO_NM} could not read ${ZELTO_IMPORT_${name}}")
      endif()
      # "__imp_Name" (x86_64) or "__imp__Name@bytes" (i686): the exports.
      string(REGEX MATCHALL " I __imp__?[A-Za-z0-9_@]+" found "${symbols}")
      set(exports)
      foreach(symbol ${found})
        string(REGEX REPLACE "^ I __imp_" "" symbol "${symbol}")
        if(ZELTO_MINGW_ARCH STREQUAL "i686")
          string(REGEX REPLACE "^_" "" symbol "${symbol}")
        endif()
        list(APPEND exports ${symbol})
      endforeach()
      list(REMOVE_DUPLICATES exports)
      list(JOIN exports "\n" body)
      string(TOUPPER ${name} upper)
      file(WRITE ${folder}/${name}.def "LIBRARY ${upper}.dll\nEXPORTS\n${body}\n")
      set(kill)
      if(ZELTO_MINGW_ARCH STREQUAL "i686")
        set(kill -k)
      endif()
      execute_process(COMMAND ${ZELTO_DLLTOOL} -d ${folder}/${name}.def -D ${upper}.dll -y ${delay} ${kill}
                      RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR "${ZELTO_DLLTOOL} could not make ${delay}")
      endif()
    endif()
    list(APPEND libs ${delay})
  endforeach()
  set(${out} ${libs} PARENT_SCOPE)
endfunction()
