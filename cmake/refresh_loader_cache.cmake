# Run at the end of "cmake --install" with QP_LIBDIR set to the library folder
# (relative to the prefix, or absolute).
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  return()
endif()
if(IS_ABSOLUTE "${QP_LIBDIR}")
  set(libdir "${QP_LIBDIR}")
else()
  set(libdir "${CMAKE_INSTALL_PREFIX}/${QP_LIBDIR}")
endif()
file(REAL_PATH "${libdir}" libdir_real)

find_program(QP_LDCONFIG ldconfig PATHS /sbin /usr/sbin NO_CACHE)
if(NOT QP_LDCONFIG)
  message(STATUS "No ldconfig found: programs find libqpmailer in ${libdir} through LD_LIBRARY_PATH or an rpath")
  return()
endif()

# The folders the loader searches, as "ldconfig -v" lists them (without
# touching the cache), compared by their real paths.
execute_process(COMMAND "${QP_LDCONFIG}" -v -N -X
  OUTPUT_VARIABLE listing ERROR_QUIET RESULT_VARIABLE status)
set(known FALSE)
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  if(line MATCHES "^(/[^:]*):")
    file(REAL_PATH "${CMAKE_MATCH_1}" folder)
    if(folder STREQUAL libdir_real)
      set(known TRUE)
    endif()
  endif()
endforeach()

if(NOT known)
  message(STATUS "${libdir} is not searched by the dynamic loader. Programs built with "
    "pkg-config find libqpmailer.so.1 with LD_LIBRARY_PATH=${libdir}, when linked with "
    "-Wl,-rpath,${libdir}, or for every program after: "
    "echo ${libdir} > /etc/ld.so.conf.d/quillpost.conf && ldconfig "
    "(programs built with CMake's find_package carry the path themselves)")
  return()
endif()

execute_process(COMMAND "${QP_LDCONFIG}" RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
if(status EQUAL 0)
  message(STATUS "Refreshed the dynamic loader's cache (ldconfig)")
else()
  message(STATUS "Could not refresh the dynamic loader's cache: run 'sudo ldconfig' so that "
    "programs find libqpmailer.so.1 in ${libdir}")
endif()
