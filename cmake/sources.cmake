# Driver sources by folder: every .cpp of driver/, n2/ and n2open/ and the
# exchange belongs to the driver; the serial port comes in one file per
# platform and CMake picks the one for the target.
file(GLOB ZAMKT_CORE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/driver/*.cpp
  ${CMAKE_SOURCE_DIR}/n2/*.cpp
  ${CMAKE_SOURCE_DIR}/n2open/*.cpp
  ${CMAKE_SOURCE_DIR}/serial/exchange.cpp)
if(WIN32)
  set(ZAMKT_PLATFORM_SOURCES ${CMAKE_SOURCE_DIR}/serial/port_win32.cpp)
else()
  set(ZAMKT_PLATFORM_SOURCES ${CMAKE_SOURCE_DIR}/serial/port_posix.cpp)
endif()
