# What a Windows program built against Qt needs beside it to start on a plain Windows: the
# DLLs it and its plugins load, found by reading their imports with the mingw objdump among
# Qt's and the compiler's DLLs (nothing listed by hand); the platform plugin and the style
# plugin in their folders; and Qt's Russian translations. Used twice: after each build, so
# that the programs run (under Wine) from the build folder, and by the install rules, so that
# the installer carries the same set.
#
# quorvex_install_windows_runtime(DESTINATION PROGRAMS...) with these variables set:
#   QUORVEX_QT_PREFIX          the Qt built for mingw-w64
#   QUORVEX_RUNTIME_SEARCH     folders holding the compiler's run-time DLLs
#   QUORVEX_OBJDUMP            the mingw objdump
#   QUORVEX_QT_TRANSLATION     qtbase_ru.qm
#   QUORVEX_DLL_INDEX          a scratch folder for the search
# As a script: cmake -DDESTINATION=... -DPROGRAMS=a.exe;b.exe -D... -P WindowsRuntime.cmake

function(quorvex_install_windows_runtime destination)
  set(programs ${ARGN})
  set(plugins
      ${QUORVEX_QT_PREFIX}/plugins/platforms/qwindows.dll
      ${QUORVEX_QT_PREFIX}/plugins/styles/qwindowsvistastyle.dll)
  # The test programs of the build folder also use the offscreen platform.
  if(QUORVEX_WITH_OFFSCREEN)
    list(APPEND plugins ${QUORVEX_QT_PREFIX}/plugins/platforms/qoffscreen.dll)
  endif()
  set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM "windows+pe")
  set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL "objdump")
  set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${QUORVEX_OBJDUMP}")
  # Windows finds DLLs whatever the case of their names, and the imports name them in any
  # case (QT6CORE.dll, Qt6Core.dll); the build machine's file system does not. So the search
  # goes through an index of lower-case links, and each link found leads back to its file.
  set(index "${QUORVEX_DLL_INDEX}")
  file(REMOVE_RECURSE "${index}")
  file(MAKE_DIRECTORY "${index}")
  foreach(folder ${QUORVEX_QT_PREFIX}/bin ${QUORVEX_RUNTIME_SEARCH})
    file(GLOB dlls "${folder}/*.dll")
    foreach(dll IN LISTS dlls)
      get_filename_component(name "${dll}" NAME)
      string(TOLOWER "${name}" lower)
      if(NOT EXISTS "${index}/${lower}")
        file(CREATE_LINK "${dll}" "${index}/${lower}" SYMBOLIC)
      endif()
    endforeach()
  endforeach()
  file(GET_RUNTIME_DEPENDENCIES
       EXECUTABLES ${programs}
       MODULES ${plugins}
       DIRECTORIES "${index}"
       RESOLVED_DEPENDENCIES_VAR found
       UNRESOLVED_DEPENDENCIES_VAR unresolved
       # The API sets are names of the system's own, never files.
       PRE_EXCLUDE_REGEXES "^api-ms-" "^ext-ms-")
  # What is not found beside Qt or the compiler is the system's own (kernel32.dll, user32.dll,
  # ...). Qt's and the compiler's DLLs must all be found.
  foreach(name IN LISTS unresolved)
    if(name MATCHES "^(qt6|lib)")
      message(FATAL_ERROR "${name}, which the programs need, is in none of: "
                          "${QUORVEX_QT_PREFIX}/bin ${QUORVEX_RUNTIME_SEARCH}")
    endif()
  endforeach()
  set(resolved)
  foreach(link IN LISTS found)
    file(REAL_PATH "${link}" dll)
    list(APPEND resolved "${dll}")
  endforeach()
  list(REMOVE_DUPLICATES resolved)
  file(INSTALL ${resolved} DESTINATION "${destination}")
  foreach(plugin IN LISTS plugins)
    get_filename_component(folder "${plugin}" DIRECTORY)
    get_filename_component(folder "${folder}" NAME)
    file(INSTALL "${plugin}" DESTINATION "${destination}/${folder}")
  endforeach()
  file(INSTALL "${QUORVEX_QT_TRANSLATION}" DESTINATION "${destination}/translations")
endfunction()

# At configure time: where the pieces come from, found once.
macro(quorvex_find_windows_runtime)
  # Cached, so that the install rules (made in another folder's scope) see them too.
  set(QUORVEX_QT_PREFIX "${QT6_INSTALL_PREFIX}" CACHE INTERNAL "the Qt for mingw-w64")
  set(search)
  foreach(dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(folder "${found}" DIRECTORY)
    list(APPEND search "${folder}")
  endforeach()
  set(QUORVEX_RUNTIME_SEARCH "${search}" CACHE INTERNAL "the compiler's run-time DLLs")
  find_program(QUORVEX_OBJDUMP NAMES x86_64-w64-mingw32-objdump objdump REQUIRED)
  # The translations are the same file on every platform: the build machine's Qt has them.
  find_file(QUORVEX_QT_TRANSLATION qtbase_ru.qm
            PATHS ${QT_HOST_PATH}/share/qt6/translations /usr/share/qt6/translations
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
endmacro()

# After each build of `target`, what it needs lands beside it in the build folder.
function(quorvex_windows_runtime_beside target)
  add_custom_command(
    TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DDESTINATION=$<TARGET_FILE_DIR:${target}>
            -DPROGRAMS=$<TARGET_FILE:${target}> -DQUORVEX_QT_PREFIX=${QUORVEX_QT_PREFIX}
            "-DQUORVEX_RUNTIME_SEARCH=${QUORVEX_RUNTIME_SEARCH}"
            -DQUORVEX_OBJDUMP=${QUORVEX_OBJDUMP}
            -DQUORVEX_QT_TRANSLATION=${QUORVEX_QT_TRANSLATION} -DQUORVEX_WITH_OFFSCREEN=ON
            -DQUORVEX_DLL_INDEX=${CMAKE_CURRENT_BINARY_DIR}/${target}-dll-index
            -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    VERBATIM)
endfunction()

# The install rules: the same set beside the installed programs in `destination`.
function(quorvex_install_windows_runtime_of destination)
  set(programs)
  foreach(target ${ARGN})
    list(APPEND programs "$<TARGET_FILE:${target}>")
  endforeach()
  install(CODE "
    set(QUORVEX_QT_PREFIX \"${QUORVEX_QT_PREFIX}\")
    set(QUORVEX_RUNTIME_SEARCH \"${QUORVEX_RUNTIME_SEARCH}\")
    set(QUORVEX_OBJDUMP \"${QUORVEX_OBJDUMP}\")
    set(QUORVEX_QT_TRANSLATION \"${QUORVEX_QT_TRANSLATION}\")
    set(QUORVEX_DLL_INDEX \"${CMAKE_BINARY_DIR}/install-dll-index\")
    include(\"${CMAKE_CURRENT_FUNCTION_LIST_FILE}\")
    quorvex_install_windows_runtime(\"\${CMAKE_INSTALL_PREFIX}/${destination}\" \"${programs}\")
  ")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED DESTINATION)
  quorvex_install_windows_runtime("${DESTINATION}" ${PROGRAMS})
endif()
