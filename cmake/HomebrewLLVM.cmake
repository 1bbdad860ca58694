# Toolchain for the fuzz targets on macOS: Homebrew's clang, which has
# libFuzzer (Apple's clang has not). Found through `brew --prefix llvm`.
find_program(ORLUNE_BREW brew)
if(ORLUNE_BREW)
    execute_process(COMMAND "${ORLUNE_BREW}" --prefix llvm
                    OUTPUT_VARIABLE ORLUNE_LLVM_PREFIX OUTPUT_STRIP_TRAILING_WHITESPACE
                    ERROR_QUIET)
endif()
if(NOT ORLUNE_LLVM_PREFIX OR NOT EXISTS "${ORLUNE_LLVM_PREFIX}/bin/clang++")
    message(FATAL_ERROR "Homebrew's llvm is needed for the fuzz targets (scripts/bootstrap.sh installs it)")
endif()
set(CMAKE_C_COMPILER "${ORLUNE_LLVM_PREFIX}/bin/clang")
set(CMAKE_CXX_COMPILER "${ORLUNE_LLVM_PREFIX}/bin/clang++")
# Its own libc++, which matches its headers (the system's may be older), with
# the libunwind it is built against (Homebrew's caveats for llvm name both).
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-L${ORLUNE_LLVM_PREFIX}/lib/c++ -Wl,-rpath,${ORLUNE_LLVM_PREFIX}/lib/c++ \
-L${ORLUNE_LLVM_PREFIX}/lib/unwind -lunwind -Wl,-rpath,${ORLUNE_LLVM_PREFIX}/lib/unwind")
