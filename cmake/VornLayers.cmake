# The client code as static libraries, one per layer, each linking only the layer below it:
# <prefix>platform (Source/platform) <- <prefix>core (Source/core/<room>) <- <prefix>requests
# (the send side of Source/links: the request builders, which include only core headers) <-
# <prefix>links (the rest of Source/links: sockets, framing, decompression, receivers). The
# client library builds them as vornplatform, vorncore, vornrequests and vornlinks; the
# simulator library takes the first three only. The fuzz targets build them again with their
# instrumentation under another prefix.
#
# vorn_add_layers(<prefix> [COMPILE_OPTIONS <option>...])
#   COMPILE_OPTIONS are PUBLIC on the platform layer, so every layer and every user of one is
#   compiled with them.

find_package(Threads REQUIRED)

# The version block (core/util/Version.h), made from the project's version at configure time.
set(VORN_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/Source/core/util/Version.h.in
               ${VORN_GENERATED_DIR}/core/util/Version.h @ONLY)

function(vorn_add_layers prefix)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "COMPILE_OPTIONS")
  set(source ${PROJECT_SOURCE_DIR}/Source)

  file(GLOB platform_sources CONFIGURE_DEPENDS ${source}/platform/*.cpp)
  file(GLOB core_sources CONFIGURE_DEPENDS ${source}/core/*/*.cpp)
  file(GLOB links_sources CONFIGURE_DEPENDS ${source}/links/*.cpp)
  set(requests_sources)
  foreach(unit HostRequests LoginRequest LogOn OrderRequests OrderThrottle PriceRequests
               StrategyRequests WholesaleRequests FixedField)
    list(APPEND requests_sources ${source}/links/${unit}.cpp)
  endforeach()
  list(REMOVE_ITEM links_sources ${requests_sources})

  # Threads, events, clocks, files, module paths, dynamic loading, sockets. Every layer includes
  # by the path below Source ("platform/Thread.h", "core/util/Text.h", "links/Connection.h").
  add_library(${prefix}platform STATIC ${platform_sources})
  target_include_directories(${prefix}platform PUBLIC ${source})
  target_compile_options(${prefix}platform PUBLIC ${arg_COMPILE_OPTIONS})
  # Its headers hold std::threads; only DynamicLibrary.cpp loads libraries.
  target_link_libraries(${prefix}platform PUBLIC Threads::Threads PRIVATE ${CMAKE_DL_LIBS})

  # The client core. Its headers use the interface's records; the version block is generated.
  add_library(${prefix}core STATIC ${core_sources})
  target_include_directories(${prefix}core PUBLIC ${PROJECT_SOURCE_DIR}/include
                                                  ${VORN_GENERATED_DIR})
  # The password encryption loads the stand-in library by the name and entry point its header
  # declares.
  target_include_directories(${prefix}core PRIVATE ${PROJECT_SOURCE_DIR}/ravelink)
  target_link_libraries(${prefix}core PUBLIC ${prefix}platform)

  # The requests the client sends, and the logon that builds one.
  add_library(${prefix}requests STATIC ${requests_sources})
  target_link_libraries(${prefix}requests PUBLIC ${prefix}core)

  # The server links: sockets, framing, decompression, the wire messages and their receivers.
  add_library(${prefix}links STATIC ${links_sources})
  target_link_libraries(${prefix}links PUBLIC ${prefix}requests)
  # The SSL socket loads the stand-in library's TLS entry points by the names its header declares.
  target_include_directories(${prefix}links PUBLIC ${PROJECT_SOURCE_DIR}/ravelink)

  # Every layer ends up in a shared library.
  set_target_properties(${prefix}platform ${prefix}core ${prefix}requests ${prefix}links
                        PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# Proof that a layer needs nothing above it: each whole layer, with the layers below it, linked
# into a shared object that may leave no symbol undefined. A call into a higher layer made
# without its header (through a declaration of its own) fails the build here, not at the first
# program that happens to pull that object in. The objects are never loaded.
function(vorn_check_layer_closure prefix)
  set(empty ${CMAKE_CURRENT_BINARY_DIR}/LayerClosure.cpp)
  file(CONFIGURE OUTPUT ${empty} CONTENT "// The layer's objects come from its archive.\n")
  foreach(layer platform core requests links)
    set(target ${prefix}${layer}_closure)
    add_library(${target} SHARED ${empty})
    target_link_libraries(${target} PRIVATE -Wl,--whole-archive ${prefix}${layer}
                                            -Wl,--no-whole-archive)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endforeach()
endfunction()
