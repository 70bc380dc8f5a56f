# What windeployqt would put beside the Windows program (Debian has none for
# mingw): Qt's DLLs, the platform plugin in platforms/, the style plugin in
# styles/, and the mingw runtime Qt's DLLs link against. The program and our
# own DLLs link the runtime in (cmake/mingw-w64.cmake); Qt's do not.
#
# Beside them in the build tree, for the window tests only: Qt6Test.dll and
# the minimal platform (wine needs it, offscreen hangs there). The package
# leaves both out (scripts/windows.sh package).
set(KORVAL_QT_DLLS Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll)
set(KORVAL_QT_PLUGINS platforms/qwindows.dll styles/qwindowsvistastyle.dll)
set(KORVAL_RUNTIME_DLLS libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)

# The posix flavour of the runtime: the one whose threads Qt was built with.
set(_runtime_dirs /usr/lib/gcc/${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32/12-posix
  /usr/${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32/lib)
set(_copies)
foreach(_dll IN LISTS KORVAL_RUNTIME_DLLS)
  find_file(_found_${_dll} ${_dll} PATHS ${_runtime_dirs} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT _found_${_dll})
    message(FATAL_ERROR "${_dll} not found in ${_runtime_dirs}")
  endif()
  list(APPEND _copies ${_found_${_dll}}=${_dll})
endforeach()
foreach(_dll IN LISTS KORVAL_QT_DLLS ITEMS Qt6Test.dll)
  list(APPEND _copies ${KORVAL_QT_PREFIX}/bin/${_dll}=${_dll})
endforeach()
foreach(_plugin IN LISTS KORVAL_QT_PLUGINS ITEMS platforms/qminimal.dll)
  list(APPEND _copies ${KORVAL_QT_PREFIX}/plugins/${_plugin}=${_plugin})
endforeach()

set(_outputs)
foreach(_copy IN LISTS _copies)
  string(REPLACE "=" ";" _pair ${_copy})
  list(GET _pair 0 _from)
  list(GET _pair 1 _to)
  set(_to ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${_to})
  add_custom_command(OUTPUT ${_to} COMMAND ${CMAKE_COMMAND} -E copy ${_from} ${_to}
    DEPENDS ${_from} VERBATIM)
  list(APPEND _outputs ${_to})
endforeach()
add_custom_target(deploy_qt ALL DEPENDS ${_outputs})
