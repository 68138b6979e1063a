# The fast build of the shipped binaries: the engine sources once more per
# word size, compiled with the fast flags into zorvan_fast / zorvan_fast32.
# Every part is an option (see CMakeLists.txt) so that its gain can be
# measured on its own with tools/speed_compare.sh.
#
# Profile-guided optimisation (ZORVAN_PGO, off by default) is trained during
# the build: an instrumented bench (zorvan-bench-train, -fprofile-generate)
# searches the bench positions and leaves its profile in pgo/64 (pgo/32), from
# which the fast library is then compiled with -fprofile-use. A failed training run (no qemu-i386, say) leaves
# no profile, and the fast library is built with the other flags only.

set(ZORVAN_FAST_FLAGS "")
set(ZORVAN_FAST_LINK_FLAGS "")
if(ZORVAN_O3)
  # After the Release -O2 on the command line, so this one wins; at the link
  # too, where link-time optimisation compiles the program once more.
  list(APPEND ZORVAN_FAST_FLAGS -O3)
  list(APPEND ZORVAN_FAST_LINK_FLAGS -O3)
endif()
if(ZORVAN_NO_PIE)
  # Absolute addresses for the engine record's tables: one instruction less
  # per indexed access, and on 32-bit x86 no register held for the GOT.
  list(APPEND ZORVAN_FAST_FLAGS -fno-pie)
  list(APPEND ZORVAN_FAST_LINK_FLAGS -no-pie)
endif()
if(ZORVAN_NATIVE)
  list(APPEND ZORVAN_FAST_FLAGS -march=native)
endif()

set(ZORVAN_FAST_LTO OFF)
if(ZORVAN_LTO)
  include(CheckIPOSupported)
  check_ipo_supported(RESULT ZORVAN_IPO_OK OUTPUT ZORVAN_IPO_MESSAGE LANGUAGES CXX)
  if(ZORVAN_IPO_OK)
    set(ZORVAN_FAST_LTO ON)
  else()
    message(WARNING "no link-time optimisation: ${ZORVAN_IPO_MESSAGE}")
  endif()
endif()

# Fast flags for a shipped executable (its own source and its link).
function(zorvan_shipped_setup target bits)
  target_compile_options(${target} PRIVATE ${ZORVAN_FAST_FLAGS})
  target_link_options(${target} PRIVATE ${ZORVAN_FAST_LINK_FLAGS})
  if(ZORVAN_FAST_LTO)
    set_target_properties(${target} PROPERTIES INTERPROCEDURAL_OPTIMIZATION ON)
  endif()
endfunction()

function(zorvan_fast_library suffix bits wrapper)
  set(fast zorvan_fast${suffix})
  add_library(${fast} STATIC ${ZORVAN_ENGINE_SOURCES})
  zorvan_target_setup(${fast} ${bits})
  zorvan_shipped_setup(${fast} ${bits})
  if(bits EQUAL 32)
    target_link_libraries(${fast} PUBLIC -pthread)
  else()
    target_link_libraries(${fast} PUBLIC Threads::Threads)
  endif()
  if(NOT ZORVAN_PGO)
    return()
  endif()

  # The instrumented twin: same sources and flags (no LTO: the profile is read
  # before link-time optimisation anyway). Both libraries name their profile
  # files from one folder: the compiler identifies a file-local function's
  # profile partly by that name, so the two must agree for the profile to match.
  set(train zorvan_train${suffix})
  set(profile ${CMAKE_BINARY_DIR}/pgo/${bits})
  add_library(${train} STATIC ${ZORVAN_ENGINE_SOURCES})
  zorvan_target_setup(${train} ${bits})
  target_compile_options(${train} PRIVATE ${ZORVAN_FAST_FLAGS} -fprofile-generate
                                          -dumpdir ${profile}/)
  target_link_libraries(${train} PUBLIC ${ZORVAN_FAST_LINK_FLAGS} -fprofile-generate)
  if(bits EQUAL 32)
    target_link_libraries(${train} PUBLIC -pthread)
  else()
    target_link_libraries(${train} PUBLIC Threads::Threads)
  endif()
  add_executable(zorvan-bench-train${suffix} tools/bench.cpp)
  zorvan_target_setup(zorvan-bench-train${suffix} ${bits})
  target_link_libraries(zorvan-bench-train${suffix} PRIVATE ${train})

  set(stamp ${profile}/trained.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/pgo_train.sh
            ${stamp} ${profile} ${CMAKE_BINARY_DIR}/CMakeFiles/${fast}.dir
            ${CMAKE_SOURCE_DIR}/tools/bench_positions.txt
            ${wrapper} $<TARGET_FILE:zorvan-bench-train${suffix}>
    DEPENDS zorvan-bench-train${suffix} ${CMAKE_SOURCE_DIR}/tools/bench_positions.txt
            ${CMAKE_SOURCE_DIR}/scripts/pgo_train.sh
    COMMENT "Training the ${bits}-bit profile on the bench"
    VERBATIM)
  add_custom_target(zorvan_pgo_train${suffix} DEPENDS ${stamp})
  add_dependencies(${fast} zorvan_pgo_train${suffix})
  # Code the bench never runs (the protocol, the clock) keeps its normal
  # optimisation instead of being optimised for size. Missing counts of a
  # function (one the compiler treats differently with a profile at hand)
  # carry no warning option, so the fast library keeps warnings as warnings;
  # the engine library, built from the same sources with the same warning
  # flags, still turns every warning of the code into an error.
  target_compile_options(${fast} PRIVATE -fprofile-use -fprofile-partial-training
                                         -dumpdir ${profile}/ -Wno-missing-profile -Wno-error)
endfunction()

# Profile files are named by source file name alone.
set(ZORVAN_SOURCE_NAMES "")
foreach(src ${ZORVAN_ENGINE_SOURCES})
  get_filename_component(name ${src} NAME)
  list(APPEND ZORVAN_SOURCE_NAMES ${name})
endforeach()
list(LENGTH ZORVAN_SOURCE_NAMES ZORVAN_SOURCE_COUNT)
list(REMOVE_DUPLICATES ZORVAN_SOURCE_NAMES)
list(LENGTH ZORVAN_SOURCE_NAMES ZORVAN_UNIQUE_COUNT)
if(ZORVAN_PGO AND NOT ZORVAN_SOURCE_COUNT EQUAL ZORVAN_UNIQUE_COUNT)
  message(WARNING "two engine sources share a file name: no profile-guided optimisation")
  set(ZORVAN_PGO OFF)
endif()

zorvan_fast_library("" 64 "")
set(ZORVAN_SHIPPED_LIB zorvan_fast)
if(ZORVAN_BUILD_32)
  zorvan_fast_library(32 32 qemu-i386)
  set(ZORVAN_SHIPPED_LIB32 zorvan_fast32)
endif()
