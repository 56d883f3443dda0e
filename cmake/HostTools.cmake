# Native programs that the Windows test builds need on the host: the modem-line shim and the
# pty relay (tests/support), and the stimulator simulator (tools/pulsyn-sim).
# They are built with the host compiler in projects of their own inside this build tree.
#
# Sets QUOR_MODEM_SHIM (the shim for this build's Wine loader, for LD_PRELOAD; the two copies
# are QUOR_MODEM_SHIM64 and QUOR_MODEM_SHIM32), QUOR_HOST_PTYLINK and QUOR_HOST_SIM; the
# targets quor_host_support and quor_host_sim build them.
include_guard(GLOBAL)
include(ExternalProject)

set(QUOR_HOST_DIR ${CMAKE_BINARY_DIR}/host)
set(host_args -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=cc -DCMAKE_CXX_COMPILER=c++)
if(CMAKE_COMPILE_WARNING_AS_ERROR)
  list(APPEND host_args -DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
endif()

ExternalProject_Add(quor_host_support
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/tests/support
  BINARY_DIR ${QUOR_HOST_DIR}/support
  CMAKE_ARGS ${host_args}
  BUILD_COMMAND ${CMAKE_COMMAND} --build . -j 1
  INSTALL_COMMAND ""
  BUILD_ALWAYS TRUE)
set(QUOR_MODEM_SHIM64 ${QUOR_HOST_DIR}/support/libquor_modemshim64.so)
set(QUOR_MODEM_SHIM32 ${QUOR_HOST_DIR}/support/libquor_modemshim32.so)
# The copy that this build's Wine loader takes (the other one would only be skipped).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QUOR_MODEM_SHIM ${QUOR_MODEM_SHIM64})
else()
  set(QUOR_MODEM_SHIM ${QUOR_MODEM_SHIM32})
endif()
set(QUOR_HOST_PTYLINK ${QUOR_HOST_DIR}/support/ptylink)

ExternalProject_Add(quor_host_sim
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${QUOR_HOST_DIR}/native
  # Configured as a whole native tree; only the simulator is built.
  CMAKE_ARGS ${host_args}
  BUILD_COMMAND ${CMAKE_COMMAND} --build . --target pulsyn-sim -j 1
  INSTALL_COMMAND ""
  BUILD_ALWAYS TRUE)
set(QUOR_HOST_SIM ${QUOR_HOST_DIR}/native/tools/pulsyn-sim/pulsyn-sim)
