if(TORVA_SANITIZE AND TORVA_SANITIZE_THREAD)
  message(FATAL_ERROR "TORVA_SANITIZE and TORVA_SANITIZE_THREAD cannot be combined")
endif()
if(TORVA_BUILD_FUZZ AND (TORVA_SANITIZE OR TORVA_SANITIZE_THREAD))
  message(FATAL_ERROR "TORVA_BUILD_FUZZ brings its own sanitizers; configure it in a build of its own")
endif()
if(TORVA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TORVA_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  # GCC warns that ThreadSanitizer does not model std::atomic_thread_fence, which Boost.Asio puts
  # around each handler it runs; the live server runs its handlers on its one thread and takes
  # work from others through Asio's locked queue, which the tool does see.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-tsan)
  endif()
endif()
# Under the sanitizers' instrumentation GCC's flow analysis reports members of Boost.Optional and
# std::function inside Boost.Beast, Boost.PropertyTree and <regex> as maybe uninitialised; the
# normal build, without the instrumentation, keeps the warning as an error for all code.
if((TORVA_SANITIZE OR TORVA_SANITIZE_THREAD) AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wno-maybe-uninitialized)
endif()
# The fuzz build: every library the targets link is instrumented for libFuzzer's coverage and
# checked by ASan and UBSan; only the fuzz targets themselves link libFuzzer (tests/fuzz).
if(TORVA_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TORVA_BUILD_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
